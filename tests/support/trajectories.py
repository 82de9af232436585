"""Trajectories for the tests, built through the pickle-state loader (no kernel involved), random
clamped splines, and read-backs of what a trajectory holds."""

import numpy as np

from pyorvex.defdatastruct import Trajectory1d


def f64(values):
    return np.ascontiguousarray(values, dtype=np.float64)


def trajectory(knots, cpts, p, order=0, owner=True, cls=Trajectory1d):
    """A trajectory of class cls over copies of the two arrays; n is len(cpts) - 1."""
    knots, cpts = f64(knots), f64(cpts)
    t = cls()
    t._dset_data(knots.tobytes(), cpts.tobytes(), p, cpts.size - 1, order, owner)
    return t


def cubic(order=0, owner=True, cls=Trajectory1d):
    """A cubic on [0, 2] with six control points."""
    return trajectory(
        [0, 0, 0, 0, 0.5, 1.5, 2, 2, 2, 2], [1.0, -2.0, 0.25, 3.5, 1e-3, 7.0], 3, order, owner, cls
    )


def clamped_knots(interior, p, a=0.0, b=1.0):
    return np.concatenate([[a] * (p + 1), np.sort(interior), [b] * (p + 1)])


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
    return clamped_knots(inner, p, start, stop), rng.uniform(-2.0, 2.0, n + 1)


def random_traj(rng, p, n=None, start=0.0, stop=1.0, order=0, repeat=False, cls=Trajectory1d):
    """(trajectory, knots, cpts) of a random clamped spline (see random_clamped)."""
    knots, cpts = random_clamped(rng, p, n, start, stop, repeat)
    return trajectory(knots, cpts, p, order, cls=cls), knots, cpts


def varied(n_cpts, p=3, seed=0, order=0, owner=True, cls=Trajectory1d):
    """A clamped trajectory on [0, 10] with random control points of widely varied magnitude."""
    rng = np.random.default_rng(seed)
    knots = clamped_knots(rng.uniform(0.0, 10.0, n_cpts - p - 1), p, 0.0, 10.0)
    cpts = rng.normal(size=n_cpts) * 10.0 ** rng.integers(-6, 6, n_cpts)
    return trajectory(knots, cpts, p, order, owner, cls)


def abscissae(rng, knots, count=40):
    """Increasing abscissae over the whole closed domain: both ends, every distinct knot and
    random points in between."""
    a, b = knots[0], knots[-1]
    return np.unique(np.r_[a, b, knots, rng.uniform(a, b, count)])


def grid(t, count=201):
    return np.linspace(t.start, t.stop, count)


def knots_of(t):
    return np.frombuffer(t._sget_knotvector(), dtype=np.float64).copy()


def cpts_of(t):
    return np.frombuffer(t._sget_cpts(), dtype=np.float64).copy()


def arrays(t):
    return knots_of(t), cpts_of(t)


def state(t):
    """Everything a trajectory holds, for before/after comparisons."""
    return (t.p, t.n, t.order, t._sget_knotvector(), t._sget_cpts())
