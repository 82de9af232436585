"""Retiming: the axes of one motion stretched (or compressed) in time by one common factor, so
that velocity, acceleration and jerk limits hold on every axis and the binding one holds with
equality."""

from __future__ import annotations

import math
from typing import Any, List, NamedTuple, Optional, Sequence, Tuple, Union, overload

import numpy as np
import numpy.typing as npt

from .._factory import make_trajectory
from ..defdatastruct import Trajectory1d
from ..plot import quantity
from . import _kernel
from ._arguments import Spline, multiaxis_type, positive, spline_of

# The quantities a limit can be put on, by the order of the derivative of the path they are.
LIMITED = (("velocity", 1), ("acceleration", 2), ("jerk", 3))

# A number for every axis, or one per axis.
LimitArg = Union[float, Sequence[float], npt.NDArray[np.float64], None]


class Limit(NamedTuple):
    """A limit on the quantity of order q: one value per axis of the motion."""

    name: str
    q: int
    values: npt.NDArray[np.float64]


def limit_values(value: Any, name: str, count: int) -> npt.NDArray[np.float64]:
    """A positive number (infinity allowed) for every one of `count` axes, or one per axis."""
    if np.ndim(value) == 0:
        return np.full(count, positive(value, name))
    try:
        values = [positive(v, name) for v in value]
    except TypeError:
        raise TypeError(
            f"'{name}' must be a real number or one per axis, got {type(value).__name__}"
        ) from None
    if len(values) != count:
        raise ValueError(
            f"'{name}' must be one number or one per axis: {count} of them, got {len(values)}"
        )
    return np.array(values)


def limits_given(
    velocity: LimitArg, acceleration: LimitArg, jerk: LimitArg, count: int = 1
) -> List[Limit]:
    """Every limit given, for `count` axes: each a positive number (infinity allowed) for all
    axes or a sequence of one per axis."""
    given = [
        Limit(name, q, limit_values(value, name, count))
        for (name, q), value in zip(LIMITED, (velocity, acceleration, jerk))
        if value is not None
    ]
    if not given:
        raise ValueError("no limit given: give velocity, acceleration or jerk")
    return given


class Axes(NamedTuple):
    """The checked data of what is retimed: its splines (a multi-axis motion is one of dof
    columns), their names in messages, and the form of the result."""

    splines: List[Spline]
    names: List[str]
    single: bool

    @property
    def width(self) -> int:
        """The number of axes in all."""
        return sum(s.dof for s in self.splines)


def axes_of(trajs: object) -> Axes:
    """The checked data of one trajectory, one multi-axis motion or a sequence of trajectories."""
    if isinstance(trajs, Trajectory1d) or isinstance(trajs, multiaxis_type()):
        return Axes([spline_of(trajs, "trajs")], ["trajs"], True)
    try:
        items = list(trajs)  # type: ignore[call-overload]
    except TypeError:
        raise TypeError(
            "'trajs' must be a Trajectory1d, a TrajectoryNd or a sequence of Trajectory1d, got "
            f"{type(trajs).__name__}"
        ) from None
    if not items:
        raise ValueError("'trajs' holds no trajectory")
    names = [f"trajs[{i}]" for i in range(len(items))]
    splines = [spline_of(a, n) for a, n in zip(items, names)]
    for s, n in zip(splines, names):
        if s.axes:
            raise TypeError(f"'{n}' must be a Trajectory1d, got TrajectoryNd")
    return Axes(splines, names, False)


def check_applies(s: Spline, axis: str, name: str, q: int) -> None:
    if q < s.order:
        raise ValueError(
            f"a {name} limit does not apply to {axis}: it describes the {quantity(s.order)} "
            f"(order {s.order}), a quantity above the {name}"
        )


def ratios(s: Spline, limits: Sequence[Limit], first: int) -> List[Tuple[float, bool]]:
    """For each limit, the largest |peak| / limit over the axes of s (its limits from axis
    `first` on) and whether some |peak| is over its limit: the kernel searches only the pieces
    that could change either."""
    out = []
    for limit in limits:
        out.append(
            _kernel.peak_ratio(
                s.knots, s.cpts, s.dof, s.p, limit.q - s.order, limit.values[first : first + s.dof]
            )
        )
    return out


def stretch_for(ratio: float, q: int) -> float:
    """ratio ** (1 / q): the stretch that brings peaks of order q that are `ratio` times their
    limits to them (inf past the range of floating point)."""
    try:
        return ratio ** (1.0 / q)
    except OverflowError:
        return math.inf


def needed(peaks: npt.NDArray[np.float64], limits: npt.NDArray[np.float64], q: int) -> float:
    """The largest of (|peak| / limit) ** (1 / q): the stretch that brings the peaks to their
    limits (inf past the range of floating point)."""
    with np.errstate(over="ignore", divide="ignore", invalid="ignore"):
        ratio = float(np.max(np.abs(peaks) / limits))
    return stretch_for(ratio, q)


def check_limits(axes: Axes, limits: Sequence[Limit]) -> None:
    for s, name in zip(axes.splines, axes.names):
        for limit in limits:
            check_applies(s, name, limit.name, limit.q)


def scale_of(axes: Axes, limits: Sequence[Limit]) -> float:
    """k = max over axes and limits of (peak / limit) ** (1 / q), in exact arithmetic."""
    check_limits(axes, limits)
    k, first = 0.0, 0
    for s in axes.splines:
        for (ratio, _), limit in zip(ratios(s, limits, first), limits):
            k = max(k, stretch_for(ratio, limit.q))
        first += s.dof
    if k == 0.0:
        raise ValueError(
            "no time scale makes a limit bind: every limited quantity is zero on every axis "
            "or its limit is infinite"
        )
    if not math.isfinite(k):
        raise ValueError("the time scale the limits ask for is too large to represent")
    return k


def stretched(s: Spline, k: float) -> Any:
    """s with time stretched by k about its start: the knots spread by k, and the values of a
    trajectory of order o (the o-th derivative of its path) scaled by k ** -o."""
    try:
        factor = k ** (-s.order)
    except OverflowError:
        factor = math.inf
    with np.errstate(over="ignore", invalid="ignore"):
        cpts = s.cpts * factor
    if not (math.isfinite(factor) and np.all(np.isfinite(cpts))):
        raise ValueError(f"time stretched by {k} leaves the range of floating point")
    cls: Any = multiaxis_type() if s.axes else Trajectory1d
    if s.axes:
        traj = cls._from_arrays(s.knots, cpts.reshape(-1, s.dof), s.p, s.order)
    else:
        traj = make_trajectory(s.knots, cpts, s.p, s.order)
    try:
        cls.hscale(traj, k)
    except (ValueError, OverflowError):
        raise ValueError(f"time stretched by {k} leaves the range of floating point") from None
    if not np.all(np.isfinite(cls.get_knotvector_asarray(traj))):
        raise ValueError(f"time stretched by {k} leaves the range of floating point")
    return traj


# Attempts at a factor whose rounded result holds every limit: each one past the first adds the
# stretch still missing and a margin that doubles, from one rounding unit.
_ATTEMPTS = 64


def _result_spline(traj: Any, s: Spline) -> Spline:
    """The data of a stretched axis, read back for the check of its peaks (finite by
    construction: stretched refuses anything else)."""
    cls: Any = multiaxis_type() if s.axes else Trajectory1d
    cpts = np.array(cls.get_cpts_asarray(traj)).reshape(-1)
    return s._replace(knots=np.array(cls.get_knotvector_asarray(traj)), cpts=cpts)


# The first factor tried is the exact one grown by this many units of rounding: the rounding of
# the stretched knots and control points moves a peak by a few units, so that the first result
# usually holds every limit already, with the binding one as close as that.
_HEADROOM = 8


def settle(
    axes: Axes, limits: Sequence[Limit], exact: Optional[float] = None
) -> Tuple[float, List[Any]]:
    """The factor k and the stretched axes, on which every limit holds as computed.

    The exact factor brings the binding peak to its limit in exact arithmetic; the stretched
    knots and control points are rounded, which leaves a peak a few units of rounding over it,
    and far more on a time axis far from zero (a start at 1.7e9 s keeps fewer digits of every
    knot difference). So each result is checked on its exact peaks and stretched a little more
    until every limit holds. `exact`, when the caller has the peaks already, is the factor
    scale_of would find."""
    k = (scale_of(axes, limits) if exact is None else exact) * (1.0 + _HEADROOM * 2.0**-53)
    margin = 2.0**-52
    for _ in range(_ATTEMPTS):
        out = [stretched(s, k) for s in axes.splines]
        worst, first = 1.0, 0
        for t, s in zip(out, axes.splines):
            for (ratio, over), limit in zip(ratios(_result_spline(t, s), limits, first), limits):
                if over:
                    worst = max(worst, stretch_for(ratio, limit.q), 1.0 + margin)
            first += s.dof
        if worst == 1.0:
            return k, out
        k *= worst * (1.0 + margin)
        margin *= 2.0
        if not math.isfinite(k):
            break
    raise ValueError("the time scale the limits ask for is too large to represent")


def time_scale(
    trajs: Any,
    velocity: LimitArg = None,
    acceleration: LimitArg = None,
    jerk: LimitArg = None,
) -> float:
    """The factor k by which :func:`retime` stretches time: the smallest that makes every given
    limit hold on every axis as computed (k > 1 slows the motion down, k < 1 speeds it up).
    Errors as for :func:`retime`."""
    axes = axes_of(trajs)
    return settle(axes, limits_given(velocity, acceleration, jerk, axes.width))[0]


@overload
def retime(
    trajs: Trajectory1d,
    velocity: LimitArg = ...,
    acceleration: LimitArg = ...,
    jerk: LimitArg = ...,
) -> Trajectory1d: ...
@overload
def retime(
    trajs: Sequence[Trajectory1d],
    velocity: LimitArg = ...,
    acceleration: LimitArg = ...,
    jerk: LimitArg = ...,
) -> List[Trajectory1d]: ...
@overload
def retime(
    trajs: Any,
    velocity: LimitArg = ...,
    acceleration: LimitArg = ...,
    jerk: LimitArg = ...,
) -> Any: ...
def retime(
    trajs: Any,
    velocity: LimitArg = None,
    acceleration: LimitArg = None,
    jerk: LimitArg = None,
) -> Any:
    """New trajectories stretched (or compressed) in time by one common factor k.

    k is the largest over the axes and the given limits of (peak / limit) ** (1 / q), q the
    order of the limited quantity (velocity 1, acceleration 2, jerk 3): after retiming the
    binding limit holds with equality and every other one holds. The result's exact peaks are
    checked as computed: where rounding of the stretched knots (a time axis far from zero) left
    a peak over its limit, k grows by the little that is missing, so every limit holds on the
    result and the binding one is reached as closely as the time axis allows.

    `trajs` is one trajectory, a multi-axis motion (:class:`~pyorvex.TrajectoryNd`) or a
    sequence of trajectories, the axes of one motion (one common k keeps them in step); every
    axis keeps its start. Each limit is one number for every axis or a sequence of one per axis.
    A trajectory of `order` o describes the o-th derivative of its path: its values scale by
    k ** -o, and the quantity of order o + nu is its nu-th derivative.

    Returns one new trajectory (or motion) for one, a list of them for a sequence. The inputs
    are not changed.

    Raises ValueError when no limit is given, a limit is not positive or not one per axis, a
    limit is on a quantity below a trajectory's order, every limited quantity is zero (or its
    limit infinite), the factor is too large to represent, or a trajectory is empty or not
    finite; TypeError for arguments of the wrong kind.
    """
    axes = axes_of(trajs)
    out = settle(axes, limits_given(velocity, acceleration, jerk, axes.width))[1]
    return out[0] if axes.single else out
