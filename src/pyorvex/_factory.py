"""Building a Trajectory1d from arrays."""

from __future__ import annotations

import operator

import numpy as np


def make_trajectory(knots, cpts, p, order=0):
    """Build a trajectory from its knot vector and control points.

    Parameters
    ----------
    knots : array_like
        The knot vector: ``len(cpts) + p + 1`` non-decreasing finite values; the domain is
        ``[knots[0], knots[-1]]``, which must not be empty.
    cpts : array_like
        The control points (at least one).
    p : int
        Degree of the B-spline, non-negative.
    order : int, optional
        Derivative order the trajectory describes: 0 position (default), 1 velocity,
        2 acceleration, 3 jerk, ...

    Returns
    -------
    Trajectory1d
        A new trajectory that owns copies of the two arrays.

    Raises
    ------
    TypeError
        ``p`` or ``order`` is not an integer.
    ValueError
        Arrays of the wrong shape or size, knots that decrease or are not finite, an empty
        domain, a negative degree or order.
    """
    from .defdatastruct import Trajectory1d

    p = _integer(p, "p")
    order = _integer(order, "order")
    if p < 0:
        raise ValueError(f"the degree 'p' must be non-negative, got {p}")
    if order < 0:
        raise ValueError(f"'order' must be non-negative, got {order}")
    knots = _vector(knots, "knots")
    cpts = _vector(cpts, "cpts")
    if cpts.size == 0:
        raise ValueError("'cpts' must hold at least one control point")
    if knots.size != cpts.size + p + 1:
        raise ValueError(
            f"a degree-{p} trajectory with {cpts.size} control points needs "
            f"{cpts.size + p + 1} knots, got {knots.size}"
        )
    if not np.all(np.isfinite(knots)):
        raise ValueError("'knots' must be finite")
    if np.any(np.diff(knots) < 0):
        raise ValueError("'knots' must be non-decreasing")
    if not knots[0] < knots[-1]:
        raise ValueError("the domain [knots[0], knots[-1]] must not be empty")
    traj = Trajectory1d()
    traj._dset_data(knots.tobytes(), cpts.tobytes(), p, cpts.size - 1, order, True)
    return traj


def _integer(value, name):
    try:
        return operator.index(value)
    except TypeError:
        raise TypeError(f"'{name}' must be an integer, got {type(value).__name__}") from None


def _vector(values, name):
    arr = np.asarray(values, dtype=np.float64)
    if arr.ndim != 1:
        raise ValueError(f"'{name}' must be one-dimensional, got {arr.ndim} dimensions")
    return np.ascontiguousarray(arr)
