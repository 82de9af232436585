"""Retiming: the axes of one motion stretched (or compressed) in time by one common factor, so
that velocity, acceleration and jerk limits hold and the binding one holds with equality."""

from __future__ import annotations

import math
from typing import List, Optional, Sequence, Tuple, Union, overload

import numpy as np

from .._factory import make_trajectory
from ..defdatastruct import Trajectory1d
from ..plot import quantity
from ._arguments import Spline, positive, spline_of
from .peaks import spline_peak

# The quantities a limit can be put on, by the order of the derivative of the path they are.
LIMITED = (("velocity", 1), ("acceleration", 2), ("jerk", 3))

Limit = Tuple[str, int, float]


def limits_given(
    velocity: Optional[float], acceleration: Optional[float], jerk: Optional[float]
) -> List[Limit]:
    """(name, order, limit) of every limit given: each a positive number (infinity allowed)."""
    given = [
        (name, q, positive(value, name))
        for (name, q), value in zip(LIMITED, (velocity, acceleration, jerk))
        if value is not None
    ]
    if not given:
        raise ValueError("no limit given: give velocity, acceleration or jerk")
    return given


def axes_of(trajs: object) -> List[Spline]:
    """The checked data of one trajectory or of each of a sequence of them."""
    if isinstance(trajs, Trajectory1d):
        return [spline_of(trajs, "trajs")]
    try:
        axes = list(trajs)  # type: ignore[call-overload]
    except TypeError:
        raise TypeError(
            f"'trajs' must be a Trajectory1d or a sequence of them, got {type(trajs).__name__}"
        ) from None
    if not axes:
        raise ValueError("'trajs' holds no trajectory")
    return [spline_of(a, f"trajs[{i}]") for i, a in enumerate(axes)]


def check_applies(s: Spline, axis: str, name: str, q: int) -> None:
    if q < s.order:
        raise ValueError(
            f"a {name} limit does not apply to {axis}: it describes the {quantity(s.order)} "
            f"(order {s.order}), a quantity above the {name}"
        )


def _needed(peak: float, limit: float, q: int) -> float:
    """(|peak| / limit) ** (1 / q): the stretch that brings a peak to its limit (inf past the
    range of floating point)."""
    try:
        return (abs(peak) / limit) ** (1.0 / q)
    except OverflowError:
        return math.inf


def scale_of(axes: Sequence[Spline], limits: Sequence[Limit], single: bool) -> float:
    """k = max over axes and limits of (peak / limit) ** (1 / q), in exact arithmetic."""
    k = 0.0
    for i, s in enumerate(axes):
        for name, q, limit in limits:
            check_applies(s, "trajs" if single else f"trajs[{i}]", name, q)
            k = max(k, _needed(spline_peak(s, q - s.order).value, limit, q))
    if k == 0.0:
        raise ValueError(
            "no time scale makes a limit bind: every limited quantity is zero on every axis "
            "or its limit is infinite"
        )
    if not math.isfinite(k):
        raise ValueError("the time scale the limits ask for is too large to represent")
    return k


def stretched(s: Spline, k: float) -> Trajectory1d:
    """s with time stretched by k about its start: the knots spread by k, and the values of a
    trajectory of order o (the o-th derivative of its path) scaled by k ** -o."""
    try:
        factor = k ** (-s.order)
    except OverflowError:
        factor = math.inf
    cpts = s.cpts * factor
    if not (math.isfinite(factor) and np.all(np.isfinite(cpts))):
        raise ValueError(f"time stretched by {k} leaves the range of floating point")
    traj = make_trajectory(s.knots, cpts, s.p, s.order)
    try:
        Trajectory1d.hscale(traj, k)
    except (ValueError, OverflowError):
        raise ValueError(f"time stretched by {k} leaves the range of floating point") from None
    if not np.all(np.isfinite(Trajectory1d.get_knotvector_asarray(traj))):
        raise ValueError(f"time stretched by {k} leaves the range of floating point")
    return traj


# Attempts at a factor whose rounded result holds every limit: each one past the first adds the
# stretch still missing and a margin that doubles, from one rounding unit.
_ATTEMPTS = 64


def settle(axes: Sequence[Spline], limits: Sequence[Limit], single: bool) -> Tuple[float, list]:
    """The factor k and the stretched axes, on which every limit holds as computed.

    The exact factor brings the binding peak to its limit in exact arithmetic; the stretched
    knots and control points are rounded, which leaves a peak a few units of rounding over it,
    and far more on a time axis far from zero (a start at 1.7e9 s keeps fewer digits of every
    knot difference). So each result is checked on its exact peaks and stretched a little more
    until every limit holds."""
    k = scale_of(axes, limits, single)
    margin = 2.0**-52
    for _ in range(_ATTEMPTS):
        out = [stretched(s, k) for s in axes]
        worst = 1.0
        for traj, s in zip(out, axes):
            r = spline_of(traj)
            for _, q, limit in limits:
                peak = abs(spline_peak(r, q - s.order).value)
                if peak > limit:
                    worst = max(worst, _needed(peak, limit, q), 1.0 + margin)
        if worst == 1.0:
            return k, out
        k *= worst * (1.0 + margin)
        margin *= 2.0
        if not math.isfinite(k):
            break
    raise ValueError("the time scale the limits ask for is too large to represent")


def time_scale(
    trajs: Union[Trajectory1d, Sequence[Trajectory1d]],
    velocity: Optional[float] = None,
    acceleration: Optional[float] = None,
    jerk: Optional[float] = None,
) -> float:
    """The factor k by which :func:`retime` stretches time: the smallest that makes every given
    limit hold on every axis as computed (k > 1 slows the motion down, k < 1 speeds it up).
    Errors as for :func:`retime`."""
    limits = limits_given(velocity, acceleration, jerk)
    return settle(axes_of(trajs), limits, isinstance(trajs, Trajectory1d))[0]


@overload
def retime(
    trajs: Trajectory1d,
    velocity: Optional[float] = ...,
    acceleration: Optional[float] = ...,
    jerk: Optional[float] = ...,
) -> Trajectory1d: ...
@overload
def retime(
    trajs: Sequence[Trajectory1d],
    velocity: Optional[float] = ...,
    acceleration: Optional[float] = ...,
    jerk: Optional[float] = ...,
) -> List[Trajectory1d]: ...
def retime(
    trajs: Union[Trajectory1d, Sequence[Trajectory1d]],
    velocity: Optional[float] = None,
    acceleration: Optional[float] = None,
    jerk: Optional[float] = None,
) -> Union[Trajectory1d, List[Trajectory1d]]:
    """New trajectories stretched (or compressed) in time by one common factor k.

    k is the largest over the axes and the given limits of (peak / limit) ** (1 / q), q the
    order of the limited quantity (velocity 1, acceleration 2, jerk 3): after retiming the
    binding limit holds with equality and every other one holds. The result's exact peaks are
    checked as computed: where rounding of the stretched knots (a time axis far from zero) left a
    peak over its limit, k grows by the little that is missing, so every limit holds on the
    result and the binding one is reached as closely as the time axis allows. `trajs` is one trajectory or a
    sequence of them, the axes of one motion (one common k keeps them in step); every axis keeps
    its start. A trajectory of `order` o describes the o-th derivative of its path: its values
    scale by k ** -o, and the quantity of order o + nu is its nu-th derivative.

    Returns one new trajectory for one trajectory, a list of them for a sequence. The inputs are
    not changed.

    Raises ValueError when no limit is given, a limit is not positive, a limit is on a quantity
    below a trajectory's order, every limited quantity is zero (or its limit infinite), the factor
    is too large to represent, or a trajectory is empty or not finite; TypeError for arguments of
    the wrong kind.
    """
    limits = limits_given(velocity, acceleration, jerk)
    single = isinstance(trajs, Trajectory1d)
    out = settle(axes_of(trajs), limits, single)[1]
    return out[0] if single else out
