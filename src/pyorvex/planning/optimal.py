"""The shortest motion along a path under per-axis velocity and acceleration limits: the path
kept exactly, only the speed along it planned."""

from __future__ import annotations

from typing import Any, Optional, Sequence, Tuple, overload

import numpy as np
import numpy.typing as npt

from .._checks import integer
from ..defdatastruct import Trajectory1d
from . import _kernel
from ._arguments import Spline, multiaxis_type, real, spline_of
from .jerk_limit import plan_with_jerk
from .peaks import extrema_table, peaks_of
from .retiming import Axes, Limit, LimitArg, limit_values, needed, settle, stretched

# Grid segments over the path's parameter by default: every knot span gets its share, at least
# one. The duration lost to the grid shrinks with its step (about 1% at this count on the usual
# jobs), the cost grows with it.
GRID = 256

# Peaks above their limits by more than this share are not rounding: the segment that holds one
# is planned again with tighter limits. Rounding (the exact peaks of a spline of degree 2p on
# short spans carry errors up to about 1e-9 on fine grids) is left to the final common time scale.
_OVER = 1e-7
_ROUNDS = 8


def _path_of(path: Any) -> Spline:
    """The path's checked data: one Trajectory1d, or the axes of a motion."""
    nd = multiaxis_type()
    if isinstance(path, Trajectory1d) or isinstance(path, nd):
        s = spline_of(path, "path")
    else:
        try:
            items = list(path)
        except TypeError:
            raise TypeError(
                "'path' must be a Trajectory1d, a TrajectoryNd or a sequence of Trajectory1d, "
                f"got {type(path).__name__}"
            ) from None
        if not items:
            raise ValueError("'path' holds no trajectory")
        for i, item in enumerate(items):
            if not isinstance(item, Trajectory1d):
                raise TypeError(f"'path[{i}]' must be a Trajectory1d, got {type(item).__name__}")
            spline_of(item, f"path[{i}]")
        s = spline_of(nd.from_axes(items), "path")
    if s.order != 0:
        raise ValueError(
            f"'path' must be a path of positions (order 0), got one of order {s.order}"
        )
    if s.p < 1:
        raise ValueError("'path' must be of degree 1 or more: a path of degree 0 does not move")
    return s


def _limits(value: Any, name: str, dof: int) -> npt.NDArray[np.float64]:
    values = limit_values(value, name, dof)
    if not np.all(np.isfinite(values)):
        raise ValueError(f"'{name}' must be finite, got {value!r}")
    return values


def _speeds(speed: Any) -> npt.NDArray[np.float64]:
    try:
        start, stop = speed
    except (TypeError, ValueError):
        raise TypeError(
            f"'speed' must be a pair (start, stop) of path speeds, got {speed!r}"
        ) from None
    out = np.array([real(start, "speed"), real(stop, "speed")])
    if not (np.all(np.isfinite(out)) and np.all(out >= 0.0)):
        raise ValueError(f"'speed' must hold two finite path speeds of 0 or more, got {speed!r}")
    return out


def _grid(grid: Any) -> int:
    g = integer(grid, "grid")
    if not 2 <= g <= 2**24:
        raise ValueError(f"'grid' must be between 2 and 2**24 segments, got {g}")
    return g


def _plan(
    s: Spline,
    limits: Tuple[npt.NDArray[np.float64], npt.NDArray[np.float64]],
    shrink: npt.NDArray[np.float64],
    grid: int,
    speeds: npt.NDArray[np.float64],
    rows: Tuple[int, int],
) -> Tuple[Spline, bool]:
    """The plan, and whether the kernel brought its binding limit to equality already."""
    knots, coefs = np.empty(rows[0]), np.empty(rows[1])
    settled = _kernel.retime_optimal(
        s.knots, s.cpts, s.dof, s.p, limits[0], limits[1], shrink, grid, speeds, knots, coefs
    )[1]
    return Spline(knots, coefs, 2 * s.p, 0, s.dof, s.axes), settled


def _over(result: Spline, limits: Sequence[Limit]) -> Tuple[Optional[Tuple[float, float]], float]:
    """(time, factor) of the peak furthest over its limit beyond rounding, the factor being what
    the limits of its segment must shrink by (None when every peak is within _OVER), and the
    common time scale that brings the binding peak to its limit."""
    table = extrema_table(result, [limit.q for limit in limits])
    times, values = peaks_of(table)
    worst: Optional[Tuple[float, float]] = None
    k = 0.0
    for j, limit in enumerate(limits):
        ratio = np.abs(values[j]) / limit.values
        c = int(np.argmax(ratio))
        k = max(k, needed(values[j], limit.values, limit.q))
        if ratio[c] > 1.0 + _OVER and (worst is None or ratio[c] > 1.0 / worst[1]):
            worst = (float(times[j, c]), 1.0 / float(ratio[c]))
    return worst, k


def _with_jerk(
    s: Spline,
    limits: Tuple[npt.NDArray[np.float64], npt.NDArray[np.float64]],
    jerk: npt.NDArray[np.float64],
    speeds: npt.NDArray[np.float64],
    grid: int,
) -> Any:
    if np.any(speeds > 0.0):
        raise ValueError(
            "with a jerk limit the motion starts and ends at rest: 'speed' must be (0, 0), "
            f"got {tuple(speeds.tolist())}"
        )
    result = plan_with_jerk(s, (limits[0], limits[1], jerk), grid)
    checked = [
        Limit("velocity", 1, limits[0]),
        Limit("acceleration", 2, limits[1]),
        Limit("jerk", 3, jerk),
    ]
    return settle(Axes([result], ["path"], True), checked)[1][0]


@overload
def retime_optimal(
    path: Trajectory1d,
    velocity: LimitArg,
    acceleration: LimitArg,
    jerk: LimitArg = ...,
    *,
    speed: Tuple[float, float] = ...,
    grid: int = ...,
) -> Trajectory1d: ...
@overload
def retime_optimal(
    path: Any,
    velocity: LimitArg,
    acceleration: LimitArg,
    jerk: LimitArg = ...,
    *,
    speed: Tuple[float, float] = ...,
    grid: int = ...,
) -> Any: ...
def retime_optimal(
    path: Any,
    velocity: LimitArg,
    acceleration: LimitArg,
    jerk: LimitArg = None,
    *,
    speed: Tuple[float, float] = (0.0, 0.0),
    grid: int = GRID,
) -> Any:
    """The shortest motion in time along `path` within per-axis velocity and acceleration limits
    (and jerk limits, when given).

    `path` is a :class:`~pyorvex.TrajectoryNd`, a Trajectory1d or a sequence of Trajectory1d
    (joined with :meth:`~pyorvex.TrajectoryNd.from_axes`); its own parameter s is the path
    parameter. The result q(s(t)) follows exactly the same geometric path with s(t)
    non-decreasing, starts at the path's start, has ds/dt = `speed` (start, stop) at its ends (at
    rest by default) and meets every limit on its exact peaks, the binding one with equality
    (less about 1e-10 of it, room for the rounding of the composed derivatives; on a time axis
    far from zero, such as wall-clock seconds, as close as the spacing of its doubles allows).

    The speed along the path is planned on a grid of `grid` segments over s (every knot of the
    path a grid point, every span two segments at least): d2s/dt2 is constant on each segment
    and the limits are imposed on the Bernstein coefficients of every axis's acceleration and
    squared velocity over the whole segment, so they hold between grid points too; the speeds
    are the largest from which the end can still be reached (one backward and one forward
    pass). The greatest peak is then found exactly (the values at grid points, and a search
    only where a segment's coefficients reach above them), and one common time scale brings it
    to its limit. The result is composed exactly, without sampling: a spline of degree 2p whose
    interior grid points are knots of multiplicity 2p - 1 (it is C1 in time). At a knot where the
    path's derivative jumps (a corner) the motion passes at rest. Its peaks are checked as
    computed; where rounding left one over its limit, time is stretched by the little missing.
    A long plan answers Ctrl-C.

    With a `jerk` limit (per axis, like the others) the motion goes from rest to rest: the plan
    within the velocity and acceleration limits, scaled down, is averaged over a sliding window
    in time, which turns each step of its acceleration into a ramp, and the scales and the
    window are searched for the shortest motion once one common time scale brings its binding
    peak to its limit. The result is a spline of degree 5p whose pieces each compose the path
    with a quintic time law, C2 in time wherever the path is; a knot where the path's second
    derivative jumps is passed at rest. A path at rest at both ends in its own parameter (its
    velocity and acceleration) is also a candidate as it stands, its time stretched uniformly.

    Returns a new TrajectoryNd (a Trajectory1d for a Trajectory1d). The path is not changed.

    Raises ValueError for limits that are not positive and finite or not one per axis, end speeds
    that are negative or not finite, a grid outside 2..2**24, an empty or non-finite path, a path
    of order other than 0 or of degree 0, a path that jumps, one that stands still over a stretch
    of its parameter (zero derivative on every axis: no speed there follows from the limits), and
    end speeds that no motion within the limits can meet, and end speeds other than rest with a
    jerk limit; TypeError for arguments of the wrong kind.
    """
    s = _path_of(path)
    limits = (_limits(velocity, "velocity", s.dof), _limits(acceleration, "acceleration", s.dof))
    speeds = _speeds(speed)
    g = _grid(grid)
    if jerk is not None:
        return _with_jerk(s, limits, _limits(jerk, "jerk", s.dof), speeds, g)
    segments, nknots, ncoefs = _kernel.optimal_size(s.knots, s.p, s.dof, g)
    checked = [Limit("velocity", 1, limits[0]), Limit("acceleration", 2, limits[1])]
    shrink = np.ones(segments)
    result, settled = _plan(s, limits, shrink, g, speeds, (nknots, ncoefs))
    for attempt in range(_ROUNDS + 1):
        over, k = _over(result, checked)
        if settled and k <= 1.0:
            # The kernel's time scale left the binding peak just below its limit (by rounding's
            # room), and the peaks as computed confirm it.
            return stretched(result, 1.0)
        if over is None or attempt == _ROUNDS:
            break
        # The segment that holds the peak: the grid points are the result's distinct knots.
        joints = np.unique(result.knots)
        i = min(max(int(np.searchsorted(joints, over[0], side="right")) - 1, 0), segments - 1)
        shrink[i] *= over[1]
        result, settled = _plan(s, limits, shrink, g, speeds, (nknots, ncoefs))
    axes = Axes([result], ["path"], True)
    if np.any(speeds > 0.0):
        # A common time scale would scale the end speeds too, and a motion joined to others must
        # keep them: it only stretches, and only as far as rounding left a peak over its limit.
        if k <= 1.0:
            return stretched(result, 1.0)
    # One common time scale brings the binding peak to its limit (the grid's bounds leave every
    # peak a little below) and absorbs the rounding of the composition.
    return settle(axes, checked, k)[1][0]
