"""Retiming: the axes of one motion stretched (or compressed) in time by one common factor, so
that velocity, acceleration and jerk limits hold on every axis and the binding one holds with
equality."""

from __future__ import annotations

import math
from typing import Any, List, NamedTuple, Optional, Sequence, Tuple, Union, overload

import numpy as np
import numpy.typing as npt

from .._factory import build_trajectory, make_trajectory
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
    if isinstance(value, np.ndarray) and value.dtype.kind == "f" and value.shape == (count,):
        # The usual inputs, checked as a whole (NaN fails it); anything else is checked value by
        # value below, for the message that names what is wrong.
        given = value.astype(np.float64)
        if np.all(given > 0.0):
            return given
    elif type(value) in (list, tuple) and len(value) == count:
        if all(type(v) is float or type(v) is int for v in value):
            given = np.array(value, dtype=np.float64)
            if (given > 0.0).all():
                return given
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


class _Settling:
    """One spline's part in a settle: its limits as the kernel takes them (dof per limit, in the
    order of the limits) and the arrays its stretched data go into."""

    def __init__(self, s: Spline, limits: Sequence[Limit], first: int) -> None:
        self.s = s
        self.bounds = np.concatenate([lim.values[first : first + s.dof] for lim in limits])
        self.knots = np.empty_like(s.knots)
        self.cpts = np.empty_like(s.cpts)

    def run(self, qs: npt.NDArray[np.float64], exact: float, start: float) -> Tuple[float, float]:
        """(exact, k) of the kernel's settle from `start` (0: a little above exact; negative:
        exact alone)."""
        s = self.s
        exact, k, fits = _kernel.settle(
            s.knots,
            s.cpts,
            s.dof,
            s.p,
            s.order,
            qs,
            self.bounds,
            exact,
            start,
            self.knots,
            self.cpts,
        )
        if not fits:
            raise ValueError(f"time stretched by {k} leaves the range of floating point")
        return exact, k

    def result(self) -> Any:
        s = self.s
        if s.axes:
            return multiaxis_type()._from_arrays(
                self.knots, self.cpts.reshape(-1, s.dof), s.p, s.order
            )
        return build_trajectory(self.knots, self.cpts, s.p, s.order)


def _check_exact(k: float) -> None:
    if k == 0.0:
        raise ValueError(
            "no time scale makes a limit bind: every limited quantity is zero on every axis "
            "or its limit is infinite"
        )
    if not math.isfinite(k):
        raise ValueError("the time scale the limits ask for is too large to represent")


def settle(
    axes: Axes, limits: Sequence[Limit], exact: Optional[float] = None
) -> Tuple[float, List[Any]]:
    """The factor k and the stretched axes, on which every limit holds as computed.

    The exact factor, max over axes and limits of (peak / limit) ** (1 / q), brings the binding
    peak to its limit in exact arithmetic; the stretched knots and control points are rounded,
    which leaves a peak a few units of rounding over it, and far more on a time axis far from
    zero (a start at 1.7e9 s keeps fewer digits of every knot difference). So the kernel checks
    each result on its exact peaks and stretches a little more until every limit holds, all in
    one call for each spline. Splines that settle on different factors are settled again from
    the largest, until one factor holds on all. `exact`, when the caller has the peaks already,
    is the exact factor."""
    check_limits(axes, limits)
    qs = np.array([lim.q for lim in limits], dtype=np.float64)
    parts, first = [], 0
    for s in axes.splines:
        parts.append(_Settling(s, limits, first))
        first += s.dof
    # 0 has one spline's call compute its exact factor; several splines share the largest.
    e = 0.0 if exact is None else exact
    if len(parts) > 1 and exact is None:
        e = max(part.run(qs, 0.0, -1.0)[0] for part in parts)
    if e != 0.0:
        _check_exact(e)
    k, settled = 0.0, [False] * len(parts)
    for _ in range(_ROUNDS * len(parts)):
        if all(settled):
            return k, [part.result() for part in parts]
        i = settled.index(False)
        e, k_i = parts[i].run(qs, e, k)
        _check_exact(e)
        if not math.isfinite(k_i):
            break
        if k_i != k:  # a larger factor: the other splines are settled on it again
            k, settled = k_i, [False] * len(parts)
        settled[i] = True
    raise ValueError("the time scale the limits ask for is too large to represent")


# The rounds of settling the splines of one motion on a common factor, each spline's: a round
# that needs a larger factor than the others found sends them back to it.
_ROUNDS = 64


def time_scale(
    trajs: Any,
    velocity: LimitArg = None,
    acceleration: LimitArg = None,
    jerk: LimitArg = None,
) -> float:
    """The factor k by which :func:`retime` stretches time: the smallest that makes every given
    limit hold on every axis as computed (k > 1 slows the motion down, k < 1 speeds it up).
    Errors as for :func:`retime`."""
    direct = _kernel.retime_direct(trajs, velocity, acceleration, jerk, True)
    if direct is not NotImplemented:
        return float(direct)
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
    # One trajectory or motion with usual limits runs in the kernel from end to end; anything
    # else (or a refusal, to be worded) takes the checked path below.
    direct = _kernel.retime_direct(trajs, velocity, acceleration, jerk, False)
    if direct is not NotImplemented:
        return direct
    axes = axes_of(trajs)
    out = settle(axes, limits_given(velocity, acceleration, jerk, axes.width))[1]
    return out[0] if axes.single else out
