"""The spline of degree p through waypoints, with given end derivatives."""

from __future__ import annotations

from typing import Any, Sequence

import numpy as np
import numpy.typing as npt

from .._checks import check_order, integer, private_array, require_finite, vector
from .._factory import build_trajectory
from . import _kernel
from ._arguments import check_degree, multiaxis_type


def interpolate(
    times: npt.ArrayLike,
    values: npt.ArrayLike,
    p: int = 5,
    start: Sequence[float] = (0.0, 0.0),
    stop: Sequence[float] = (0.0, 0.0),
    order: int = 0,
) -> Any:
    """A new trajectory of degree `p` through every waypoint ``(times[i], values[i])``.

    `values` of shape (m, dof) gives a multi-axis :class:`~pyorvex.TrajectoryNd`: one
    factorisation of the collocation system serves every axis, and each axis is checked against
    its own data; `start` and `stop` then hold a number per order for every axis, or rows of
    dof (row d - 1 the derivatives of order d).

    `start` and `stop` are the derivatives of orders 1, 2, ... at the first and at the last time
    (the defaults, with p = 5, give a rest-to-rest profile: velocity and acceleration zero at
    both ends); together they number p - 1. The knots are the first time p + 1 times, each
    interior time once and the last time p + 1 times. The banded collocation system is solved in
    the kernel in O(m p^2) for m waypoints, and the result is accepted only when its error bound
    (from the residual and an estimate of the system's condition) is within 1e-9 of the data's
    scale: it then passes through every waypoint, meets every end condition and is accurate
    between the waypoints to that tolerance. A long solve answers Ctrl-C. `order` is the
    derivative order the result describes.

    Raises ValueError for p < 1 (or above the kernel's maximum degree), `times` and `values` of
    different lengths, fewer than 2 waypoints, times that are not finite or not strictly
    increasing, values or end derivatives that are not finite, a number of end conditions other
    than p - 1, and waypoints whose interpolant cannot be computed to that accuracy in floating
    point (end conditions piled up at one end, or a high degree, make the system
    ill-conditioned); TypeError for arguments of the wrong kind.
    """
    # Float64 arrays and end derivatives as numbers run in the kernel from end to end, on its
    # own copies; anything else (or a refusal, to be worded) takes the checked path below.
    direct = _kernel.interpolate_direct(times, values, p, start, stop, order, TOLERANCE)
    if direct is not NotImplemented:
        return direct
    p = integer(p, "p")
    order = integer(order, "order")
    check_order(order)
    if p < 1:
        raise ValueError(f"the degree 'p' must be at least 1, got {p}")
    check_degree(p)
    # Private copies: another thread may rewrite the caller's arrays meanwhile.
    t = np.array(vector(times, "times"))
    v = private_array(values, "values", 2)
    axes = v.ndim == 2
    dof = v.shape[1] if axes else 1
    if axes and dof == 0:
        raise ValueError(f"'values' must hold at least one axis, got shape {v.shape}")
    if t.size != v.shape[0]:
        raise ValueError(
            f"'times' and 'values' must have the same length, got {t.size} and {v.shape[0]}"
        )
    if t.size < 2:
        raise ValueError(f"at least 2 waypoints are needed, got {t.size}")
    head = _end_conditions(start, "start", dof, axes)
    tail = _end_conditions(stop, "stop", dof, axes)
    if head.shape[0] + tail.shape[0] != p - 1:
        raise ValueError(
            f"a degree-{p} interpolant needs p - 1 = {p - 1} end conditions, got "
            f"{head.shape[0]} in 'start' and {tail.shape[0]} in 'stop'"
        )
    knots = np.empty(t.size + 2 * p)
    coefs = np.empty((t.size + p - 1, dof)) if axes else np.empty(t.size + p - 1)
    try:
        # The kernel checks the data itself, in one pass over its own copy of them, and bounds
        # the error of the result on every axis; the checks below say which argument is wrong
        # only when it refuses one.
        _kernel.interpolate(
            t,
            v.reshape(-1),
            dof,
            p,
            head.reshape(-1),
            tail.reshape(-1),
            knots,
            coefs.reshape(-1),
            TOLERANCE,
        )
    except ValueError:
        _check_data(t, v, head, tail)
        raise  # the data are sound: the result cannot be computed accurately
    # Finite coefficients (the kernel refuses any other result) on knots built from finite,
    # strictly increasing times: a trajectory as they stand.
    if axes:
        return multiaxis_type()._from_arrays(knots, coefs, p, order)
    return build_trajectory(knots, coefs, p, order)


def _end_conditions(
    values: npt.ArrayLike, name: str, dof: int, axes: bool
) -> npt.NDArray[np.float64]:
    """End derivatives as rows of dof, row d - 1 the derivative of order d: a sequence of numbers
    is each order's value on every axis; rows of dof give each axis its own."""
    e = private_array(values, name, 2 if axes else 1)
    if e.ndim == 1:
        rows = np.empty((e.size, dof))
        rows[:] = e[:, None]
        return rows
    if e.shape[1] != dof:
        raise ValueError(
            f"'{name}' must hold one end derivative per axis in each row: {dof} columns, "
            f"got shape {e.shape}"
        )
    return e


def _check_data(
    t: npt.NDArray[np.float64],
    v: npt.NDArray[np.float64],
    head: npt.NDArray[np.float64],
    tail: npt.NDArray[np.float64],
) -> None:
    require_finite(t, "times")
    steps = np.flatnonzero(np.diff(t) <= 0)
    if steps.size:
        i = int(steps[0]) + 1
        raise ValueError(
            f"'times' must be strictly increasing: times[{i}] = {t[i]} <= times[{i - 1}] = {t[i - 1]}"
        )
    require_finite(v.reshape(-1), "values")
    require_finite(head.reshape(-1), "start")
    require_finite(tail.reshape(-1), "stop")


# The result passes through every waypoint, meets every end condition and is accurate between
# the waypoints to this fraction of the data's scale (the largest |value|, and the change each
# end derivative makes over its end's first interval), or the call refuses it.
TOLERANCE = 1e-9
