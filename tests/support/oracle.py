"""The independent evaluator: scipy's B-splines over the same knots and control points."""

import bisect
from fractions import Fraction

import numpy as np
from scipy.interpolate import BSpline

from support.trajectories import arrays


def spline(knots, cpts, p, extrapolate=True):
    """scipy's spline on the arrays.

    An end knot repeated more than p + 1 times carries basis functions that vanish everywhere;
    they are dropped first, since scipy would take the right end from such an empty span.
    """
    knots, cpts = np.asarray(knots, dtype=np.float64), np.asarray(cpts, dtype=np.float64)
    while cpts.size > 1 and knots[p + 1] == knots[0]:
        knots, cpts = knots[1:], cpts[1:]
    while cpts.size > 1 and knots[-p - 2] == knots[-1]:
        knots, cpts = knots[:-1], cpts[:-1]
    return BSpline(knots, cpts, p, extrapolate=extrapolate)


def of(t, extrapolate=True):
    """The trajectory t as a scipy spline."""
    return spline(*arrays(t), t.p, extrapolate)


def values(t, x):
    """The curve at x in [start, stop] (NaN outside)."""
    return of(t, extrapolate=False)(np.asarray(x, dtype=np.float64))


def exact(knots, cpts, p, x):
    """The clamped spline at x in rational arithmetic: de Boor's recursion on the span holding x
    (the last one at the right end), every operation exact."""
    t = [Fraction(v) for v in knots]
    x = Fraction(x)
    k = min(max(bisect.bisect_right(t, x) - 1, p), len(cpts) - 1)
    d = [Fraction(c) for c in cpts[k - p : k + 1]]
    for r in range(1, p + 1):
        for j in range(p, r - 1, -1):
            a = (x - t[j + k - p]) / (t[j + 1 + k - r] - t[j + k - p])
            d[j] = (1 - a) * d[j - 1] + a * d[j]
    return d[p]
