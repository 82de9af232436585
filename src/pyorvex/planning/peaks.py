"""Exact extrema of a trajectory's derivatives: per span, the critical points of the polynomial
piece and both sides of every knot, never sampling."""

from __future__ import annotations

from typing import Any, NamedTuple, Sequence, Tuple

import numpy as np
import numpy.typing as npt

from . import _kernel
from ._arguments import Spline, order_of, spline_of


class Extrema(NamedTuple):
    """Least and greatest value of a derivative over the whole domain, and where they are taken
    (the earliest time on ties); for a multi-axis motion, arrays of one entry per axis."""

    tmin: Any
    vmin: Any
    tmax: Any
    vmax: Any


class Peak(NamedTuple):
    """The largest absolute value of a derivative (signed) and where it is taken; for a
    multi-axis motion, arrays of one entry per axis."""

    time: Any
    value: Any


def extrema_table(s: Spline, nus: Sequence[int]) -> npt.NDArray[np.float64]:
    """(tmin, vmin, tmax, vmax) of every axis's derivative of each order, shape (len(nus), dof,
    4), in one call of the kernel. Every order above p is the same zero derivative; the kernel
    takes orders as C ints."""
    out = np.empty((len(nus), s.dof, 4))
    orders = np.array([min(nu, s.p + 1) for nu in nus], dtype=np.float64)
    _kernel.extrema(s.knots, s.cpts, s.dof, s.p, orders, out.reshape(-1))
    return out


def peaks_of(
    table: npt.NDArray[np.float64],
) -> Tuple[npt.NDArray[np.float64], npt.NDArray[np.float64]]:
    """(time, value) of the peaks in an extrema table, of its shape but the last axis. On a tie
    between a least and a greatest value of the same size, the earlier time."""
    tmin, vmin, tmax, vmax = (table[..., i] for i in range(4))
    top = (np.abs(vmax) > np.abs(vmin)) | ((np.abs(vmax) == np.abs(vmin)) & (tmax <= tmin))
    return np.where(top, tmax, tmin), np.where(top, vmax, vmin)


def spline_extrema(s: Spline, nu: int) -> Extrema:
    e = extrema_table(s, [nu])[0]
    if s.axes:
        return Extrema(*(np.array(e[:, i]) for i in range(4)))
    return Extrema(*(float(v) for v in e[0]))


def spline_peak(s: Spline, nu: int) -> Peak:
    """On a tie between a least and a greatest value of the same size, the earlier time."""
    time, value = peaks_of(extrema_table(s, [nu])[0])
    if s.axes:
        return Peak(time, value)
    return Peak(float(time[0]), float(value[0]))


def extrema(traj: Any, nu: int = 0) -> Extrema:
    """Least and greatest value of the derivative of order `nu` of `traj` over its whole domain.

    Exact to rounding: on each span, the polynomial piece's values at both span ends (so both
    sides of every knot) and at every root of its derivative inside the span. A derivative of
    an order above the degree is zero: both extrema are then 0 at the start of the domain. For a
    multi-axis motion (:class:`~pyorvex.TrajectoryNd`) each field is an array of one entry per
    axis.

    Raises TypeError for a `traj` that is not a Trajectory1d or a TrajectoryNd, or a `nu` that
    is not an integer; ValueError for a negative `nu`, an empty trajectory, knots or control
    points that are not finite, or a degree above the maximum the kernel supports.
    """
    direct = _kernel.extrema_direct(traj, nu, False)  # usual arguments, else NotImplemented
    if direct is not NotImplemented:
        return Extrema(*direct)
    nu = order_of(nu, "nu")
    return spline_extrema(spline_of(traj), nu)


def peak(traj: Any, nu: int = 1) -> Peak:
    """Where the derivative of order `nu` (default: 1) of `traj` is largest in absolute value,
    and that value, signed (arrays of one entry per axis for a multi-axis motion). On a tie
    between a least and a greatest value of the same size, the earlier time. Errors as for
    :func:`extrema`."""
    direct = _kernel.extrema_direct(traj, nu, True)
    if direct is not NotImplemented:
        return Peak(*direct)
    nu = order_of(nu, "nu")
    return spline_peak(spline_of(traj), nu)
