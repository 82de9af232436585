"""The spline of degree p through waypoints, with given end derivatives."""

from __future__ import annotations

import math
from typing import Optional, Sequence

import numpy as np
import numpy.typing as npt

from .. import _planning
from .._factory import _check_order, _integer, _require_finite, _trajectory, _vector
from ..defdatastruct import Trajectory1d
from ._arguments import check_degree


def interpolate(
    times: npt.ArrayLike,
    values: npt.ArrayLike,
    p: int = 5,
    start: Sequence[float] = (0.0, 0.0),
    stop: Sequence[float] = (0.0, 0.0),
    order: int = 0,
) -> Trajectory1d:
    """A new trajectory of degree `p` through every waypoint ``(times[i], values[i])``.

    `start` and `stop` are the derivatives of orders 1, 2, ... at the first and at the last time
    (the defaults, with p = 5, give a rest-to-rest profile: velocity and acceleration zero at
    both ends); together they number p - 1. The knots are the first time p + 1 times, each
    interior time once and the last time p + 1 times. The banded collocation system is solved in
    the kernel in O(m p^2) for m waypoints. `order` is the derivative order the result describes.

    Raises ValueError for p < 1 (or above the kernel's maximum degree), `times` and `values` of
    different lengths, fewer than 2 waypoints, times that are not finite or not strictly
    increasing, values or end derivatives that are not finite, a number of end conditions other
    than p - 1, and waypoints the system cannot be solved for in floating point (the result
    would miss a waypoint beyond rounding: end conditions piled up at one end make the system
    ill-conditioned as waypoints are added); TypeError for arguments of the wrong kind.
    """
    p = _integer(p, "p")
    order = _integer(order, "order")
    _check_order(order)
    if p < 1:
        raise ValueError(f"the degree 'p' must be at least 1, got {p}")
    check_degree(p)
    t = _vector(times, "times")
    v = _vector(values, "values")
    if t.size != v.size:
        raise ValueError(
            f"'times' and 'values' must have the same length, got {t.size} and {v.size}"
        )
    if t.size < 2:
        raise ValueError(f"at least 2 waypoints are needed, got {t.size}")
    head = _vector(start, "start")
    tail = _vector(stop, "stop")
    if head.size + tail.size != p - 1:
        raise ValueError(
            f"a degree-{p} interpolant needs p - 1 = {p - 1} end conditions, got "
            f"{head.size} in 'start' and {tail.size} in 'stop'"
        )
    knots = np.empty(t.size + 2 * p)
    coefs = np.empty(t.size + p - 1)
    try:
        # The kernel checks the times and the values itself, in one pass; the checks below say
        # which one is wrong only when it refuses.
        largest_value, largest_coef = _planning.interpolate(t, v, p, head, tail, knots, coefs)
    except ValueError:
        _check_data(t, v, head, tail)
        raise  # the data are sound: the system cannot be solved in floating point
    missed = _largest_miss(t, v, p, knots, coefs, head, tail, largest_value, largest_coef)
    if missed is not None:
        raise ValueError(
            f"the interpolant is too ill-conditioned to compute in floating point: it misses "
            f"waypoint {missed} by more than rounding (balance the end conditions between "
            "'start' and 'stop', or use fewer waypoints)"
        )
    # Finite coefficients (the kernel refuses any other result) on knots built from finite,
    # strictly increasing times: a trajectory as they stand.
    return _trajectory(knots, coefs, p, order)


def _check_data(
    t: npt.NDArray[np.float64],
    v: npt.NDArray[np.float64],
    head: npt.NDArray[np.float64],
    tail: npt.NDArray[np.float64],
) -> None:
    _require_finite(t, "times")
    steps = np.flatnonzero(np.diff(t) <= 0)
    if steps.size:
        i = int(steps[0]) + 1
        raise ValueError(
            f"'times' must be strictly increasing: times[{i}] = {t[i]} <= times[{i - 1}] = {t[i - 1]}"
        )
    _require_finite(v, "values")
    _require_finite(head, "start")
    _require_finite(tail, "stop")


# A solved interpolant must reproduce the waypoints to this relative accuracy. The solve is
# backward stable, but end conditions piled up at one end make the system's condition grow
# exponentially with the number of waypoints: the result then has huge coefficients whose
# values cancel, and it no longer passes through the waypoints at all.
WAYPOINT_TOLERANCE = 1e-9
EPS = float(np.finfo(np.float64).eps)


def _end_scale(derivative: float, span: float, order: int) -> float:
    """|derivative| * span**order, the size of the value change an end derivative makes over
    the duration: 0 for a zero derivative however long the duration, inf past the range."""
    if derivative == 0.0:
        return 0.0
    try:
        return abs(derivative) * span**order
    except OverflowError:
        return math.inf


def _largest_miss(
    t: npt.NDArray[np.float64],
    v: npt.NDArray[np.float64],
    p: int,
    knots: npt.NDArray[np.float64],
    coefs: npt.NDArray[np.float64],
    head: npt.NDArray[np.float64],
    tail: npt.NDArray[np.float64],
    largest_value: float,
    largest_coef: float,
) -> Optional[int]:
    """The index of the waypoint the interpolant misses worst, if it misses one beyond rounding
    of the data's scale (the values, and the end derivatives times the duration's powers).
    largest_value and largest_coef are the largest magnitudes in v and in coefs."""
    span = float(t[-1] - t[0])
    # The end conditions number p - 1 at most: plain floats beat array operations here.
    ends = [_end_scale(float(d), span, i + 1) for e in (head, tail) for i, d in enumerate(e)]
    scale = max([largest_value, *ends])
    # The miss is at most the solve's residual plus the rounding of evaluation, both a small
    # multiple of eps times the largest coefficient (convex combinations, p levels; the band's
    # growth factor with row exchanges is bounded by 2^(kl + ku), covered by the factor 100).
    # Below that bound, which well-posed waypoints meet by orders of magnitude, nothing can miss.
    if 100.0 * 3 * p * EPS * largest_coef <= WAYPOINT_TOLERANCE * scale:
        return None
    at = np.empty(t.size)
    _planning.derivatives(knots, coefs, p, t, 0, 0, at)
    miss = np.abs(at - v)
    worst = int(np.argmax(miss))
    return worst if not miss[worst] <= WAYPOINT_TOLERANCE * scale else None
