"""Exact extrema of a trajectory's derivatives: per span, the critical points of the polynomial
piece and both sides of every knot, never sampling."""

from __future__ import annotations

from typing import NamedTuple

from ..defdatastruct import Trajectory1d
from . import _kernel
from ._arguments import Spline, order_of, spline_of


class Extrema(NamedTuple):
    """Least and greatest value of a derivative over the whole domain, and where they are taken
    (the earliest time on ties)."""

    tmin: float
    vmin: float
    tmax: float
    vmax: float


class Peak(NamedTuple):
    """The largest absolute value of a derivative (signed) and where it is taken."""

    time: float
    value: float


def spline_extrema(s: Spline, nu: int) -> Extrema:
    # Every order above p is the same zero derivative; the kernel takes orders as a C int.
    return Extrema(*_kernel.extrema(s.knots, s.cpts, s.p, min(nu, s.p + 1)))


def spline_peak(s: Spline, nu: int) -> Peak:
    """On a tie between a least and a greatest value of the same size, the earlier time."""
    e = spline_extrema(s, nu)
    if abs(e.vmax) > abs(e.vmin) or (abs(e.vmax) == abs(e.vmin) and e.tmax <= e.tmin):
        return Peak(e.tmax, e.vmax)
    return Peak(e.tmin, e.vmin)


def extrema(traj: Trajectory1d, nu: int = 0) -> Extrema:
    """Least and greatest value of the derivative of order `nu` of `traj` over its whole domain.

    Exact to rounding: on each span, the polynomial piece's values at both span ends (so both
    sides of every knot) and at every root of its derivative inside the span. A derivative of
    an order above the degree is zero: both extrema are then 0 at the start of the domain.

    Raises TypeError for a `traj` that is not a Trajectory1d or a `nu` that is not an integer;
    ValueError for a negative `nu`, an empty trajectory, knots or control points that are not
    finite, or a degree above the maximum the kernel supports.
    """
    nu = order_of(nu, "nu")
    return spline_extrema(spline_of(traj), nu)


def peak(traj: Trajectory1d, nu: int = 1) -> Peak:
    """Where the derivative of order `nu` (default: 1) of `traj` is largest in absolute value,
    and that value, signed. On a tie between a least and a greatest value of the same size, the
    earlier time. Errors as for :func:`extrema`."""
    nu = order_of(nu, "nu")
    return spline_peak(spline_of(traj), nu)
