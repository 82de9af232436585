"""Trajectories for the tests: a direct factory and random clamped splines."""

import numpy as np

from pyorvex.defdatastruct import Trajectory1d


def make_traj(knots, cpts, p, order=0, cls=Trajectory1d):
    """A trajectory of class ``cls`` owning copies of the two arrays."""
    knots = np.ascontiguousarray(knots, dtype=np.float64)
    cpts = np.ascontiguousarray(cpts, dtype=np.float64)
    t = cls()
    t._dset_data(knots.tobytes(), cpts.tobytes(), p, cpts.size - 1, order, True)
    return t


def random_clamped(rng, p, n=None, start=0.0, stop=1.0, repeat=False):
    """Knots and control points of a random clamped spline of degree ``p`` on [start, stop].

    ``n`` is the highest control-point index (at least ``p``). With ``repeat`` some interior
    knots are repeated, up to multiplicity ``p`` (the curve stays continuous).
    """
    if n is None:
        n = int(rng.integers(p, p + 12))
    interior = n - p
    inner = np.sort(rng.uniform(start, stop, interior))
    if repeat and interior >= 2 and p >= 1:
        # Copy some values onto their neighbours, never more than p times in a row.
        for i in range(1, interior):
            if rng.random() < 0.4:
                run = 1
                while i - run >= 0 and inner[i - run] == inner[i - 1]:
                    run += 1
                if run < p:
                    inner[i] = inner[i - 1]
        inner = np.sort(inner)
    knots = np.r_[[start] * (p + 1), inner, [stop] * (p + 1)]
    cpts = rng.uniform(-2.0, 2.0, n + 1)
    return knots, cpts


def random_traj(rng, p, n=None, start=0.0, stop=1.0, order=0, repeat=False):
    knots, cpts = random_clamped(rng, p, n, start, stop, repeat)
    return make_traj(knots, cpts, p, order), knots, cpts


def abscissae(rng, knots, count=40):
    """Increasing abscissae over the whole closed domain: both ends, every distinct knot and
    random points in between."""
    a, b = knots[0], knots[-1]
    xs = np.unique(np.r_[a, b, knots, rng.uniform(a, b, count)])
    return xs


def state(t):
    """Everything a trajectory holds, for before/after comparisons."""
    return (t.p, t.n, t.order, t._sget_knotvector(), t._sget_cpts())
