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


def scale_of(axes: Sequence[Spline], limits: Sequence[Limit], single: bool) -> float:
    """k = max over axes and limits of (peak / limit) ** (1 / q)."""
    k = 0.0
    for i, s in enumerate(axes):
        for name, q, limit in limits:
            check_applies(s, "trajs" if single else f"trajs[{i}]", name, q)
            k = max(k, (abs(spline_peak(s, q - s.order).value) / limit) ** (1.0 / q))
    if k == 0.0:
        raise ValueError(
            "no time scale makes a limit bind: every limited quantity is zero on every axis "
            "or its limit is infinite"
        )
    if not math.isfinite(k):
        raise ValueError("the time scale the limits ask for is too large to represent")
    return k


def time_scale(
    trajs: Union[Trajectory1d, Sequence[Trajectory1d]],
    velocity: Optional[float] = None,
    acceleration: Optional[float] = None,
    jerk: Optional[float] = None,
) -> float:
    """The factor k by which :func:`retime` stretches time: the smallest that makes every given
    limit hold on every axis (k > 1 slows the motion down, k < 1 speeds it up). Errors as for
    :func:`retime`."""
    limits = limits_given(velocity, acceleration, jerk)
    return scale_of(axes_of(trajs), limits, isinstance(trajs, Trajectory1d))


def stretched(s: Spline, k: float) -> Trajectory1d:
    """s with time stretched by k about its start: the knots spread by k, and the values of a
    trajectory of order o (the o-th derivative of its path) scaled by k ** -o."""
    traj = make_trajectory(s.knots, s.cpts * k ** (-s.order), s.p, s.order)
    Trajectory1d.hscale(traj, k)
    if not np.all(np.isfinite(Trajectory1d.get_knotvector_asarray(traj))):
        raise ValueError(f"time stretched by {k} leaves the range of floating point")
    return traj


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
    binding limit holds with equality and every other one holds. `trajs` is one trajectory or a
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
    axes = axes_of(trajs)
    k = scale_of(axes, limits, single)
    out = [stretched(s, k) for s in axes]
    return out[0] if single else out
