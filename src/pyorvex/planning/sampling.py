"""Values and derivatives at many abscissae in one pass over the spans."""

from __future__ import annotations

import math
import os
from typing import Any, List, Sequence, Tuple, Union, overload

import numpy as np
import numpy.typing as npt

from .._checks import vector
from ..defdatastruct import Trajectory1d
from . import _kernel
from ._arguments import Spline, finite_positive, order_of, spline_of

# A control-rate grid ends exactly at the stop when the stop is this close to a tick (in ticks):
# 0.7 s at 1 kHz is 700 ticks, though 0.7 / 0.001 is 699.9999999999999.
TICK_TOLERANCE = 1e-3


def _shape(s: Spline, rows: int, m: int) -> Tuple[int, ...]:
    """Rows of m values; of m rows of dof for a multi-axis motion."""
    return (rows, m, s.dof) if s.axes else (rows, m)


def _rows(s: Spline, x: npt.NDArray[np.float64], first: int, last: int) -> npt.NDArray[np.float64]:
    """Rows of the derivatives of orders first..last at x. Orders above the degree are zero: the
    kernel, which takes orders as C ints, computes (and checks x for) the others only; x is in
    the domain by construction when every order asked for is above the degree."""
    top = min(last, s.p)
    if first > top:
        return np.zeros(_shape(s, last - first + 1, x.size), dtype=np.float64)
    # The kernel writes every entry of its rows: only the rows above the degree need zeroing.
    out = np.empty(_shape(s, last - first + 1, x.size), dtype=np.float64)
    out[top - first + 1 :] = 0.0
    rows = out[: top - first + 1].reshape(-1)
    _kernel.derivatives(s.knots, s.cpts, s.dof, s.p, x, first, top, rows)
    return out


def _picked(s: Spline, x: npt.NDArray[np.float64], orders: List[int]) -> npt.NDArray[np.float64]:
    """One row per order asked for, in the order given: the kernel computes the orders up to the
    degree that are asked for (one pass), the others are zeros, and no row is allocated that
    was not asked for."""
    computed = [q for q in orders if q <= s.p]
    if not computed:
        return np.zeros(_shape(s, len(orders), x.size), dtype=np.float64)
    first, top = min(computed), max(computed)
    rows = _rows(s, x, first, top)
    if len(orders) == top - first + 1 and orders == list(range(first, top + 1)):
        return rows
    out = np.zeros(_shape(s, len(orders), x.size), dtype=np.float64)
    for i, q in enumerate(orders):
        if q <= s.p:
            out[i] = rows[q - first]
    return out


def derivatives(traj: Any, x: npt.ArrayLike, nu_max: int) -> npt.NDArray[np.float64]:
    """The value and the first `nu_max` derivatives of `traj` at the abscissae `x` (any order),
    in one pass: an array of shape ``(nu_max + 1, len(x))`` whose row nu holds the derivative of
    order nu; for a multi-axis motion, shape ``(nu_max + 1, len(x), dof)``.

    Raises TypeError for a `traj` that is not a Trajectory1d, an `x` of non-real values or a
    `nu_max` that is not an integer; ValueError for an `x` that is not one-dimensional, an
    abscissa outside the domain (or NaN), a negative `nu_max`, or a trajectory that is empty,
    not finite or of a degree above the kernel's maximum.
    """
    nu_max = order_of(nu_max, "nu_max")
    xs = vector(x, "x")
    return _rows(spline_of(traj), xs, 0, nu_max)


def _memory() -> float:
    """The machine's physical memory in bytes (inf where the system does not say)."""
    try:
        return float(os.sysconf("SC_PHYS_PAGES") * os.sysconf("SC_PAGE_SIZE"))
    except (AttributeError, OSError, ValueError):
        return math.inf


def grid(start: float, stop: float, dt: float, rows: int = 1) -> npt.NDArray[np.float64]:
    """start + i * dt up to stop; the last tick is stop itself when stop lies within
    TICK_TOLERANCE ticks of it (rounding in start + i * dt never passes the stop otherwise).
    Refuses a dt too fine for the doubles of the time axis there (the ticks would not be
    distinct times) and a grid whose samples, `rows` values a tick and the time, would not fit
    in the machine's memory, before allocating it."""
    # Four units of the coarsest rounding on the domain: start + i * dt then rounds to distinct,
    # increasing times (each of the two roundings moves a tick by half a unit at most).
    resolution = float(np.spacing(max(abs(start), abs(stop))))
    if dt < 4.0 * resolution:
        raise ValueError(
            f"'dt' = {dt} is finer than the time axis resolves on [{start}, {stop}] (doubles "
            f"there are {resolution} apart): the ticks would not be distinct times"
        )
    ticks = (stop - start) / dt
    if not ticks < 2.0**53 or (ticks + 1.0) * 8.0 * (rows + 1) > _memory():
        raise ValueError(
            f"'dt' = {dt} makes {ticks + 1.0:.3g} ticks on [{start}, {stop}]: the samples "
            "would not fit in memory"
        )
    nearest = round(ticks)
    on_tick = abs(ticks - nearest) <= TICK_TOLERANCE
    count = (nearest if on_tick else math.floor(ticks)) + 1
    times: npt.NDArray[np.float64] = start + np.arange(count, dtype=np.float64) * dt
    if on_tick and count > 1:  # a domain narrower than a tick keeps its one sample at start
        times[-1] = stop
    return times


def orders_of(nu: object) -> Tuple[List[int], bool]:
    """The derivative orders asked for, and whether one integer asked for them."""
    if (
        isinstance(nu, (str, bytes))
        or not isinstance(nu, (Sequence, np.ndarray))
        or np.ndim(nu) == 0
    ):
        return [order_of(nu, "nu")], True
    orders = [order_of(q, f"nu[{i}]") for i, q in enumerate(nu)]
    if not orders:
        raise ValueError("'nu' holds no derivative order")
    return orders, False


@overload
def sample(
    traj: Trajectory1d, dt: float, nu: int = ...
) -> Tuple[npt.NDArray[np.float64], npt.NDArray[np.float64]]: ...
@overload
def sample(
    traj: Trajectory1d, dt: float, nu: Sequence[int]
) -> Tuple[npt.NDArray[np.float64], npt.NDArray[np.float64]]: ...
def sample(
    traj: Any, dt: float, nu: Union[int, Sequence[int]] = 0
) -> Tuple[npt.NDArray[np.float64], npt.NDArray[np.float64]]:
    """`(times, values)` of `traj` on a control-rate grid: times ``start + i * dt`` up to the
    stop, the last one exactly `stop` when the stop lies within dt / 1000 of a tick.

    `nu` an integer gives the derivative of that order as a 1-D array; a sequence of orders gives
    one row per order (in the order given), all computed in one pass over the spans. A
    multi-axis motion gives (ticks, dof) for one order and (len(nu), ticks, dof) for several.

    Raises ValueError for a `dt` that is not positive and finite, finer than the doubles of the
    time axis resolve there, or so fine that the samples would not fit in memory (refused before
    anything is allocated), a negative order, an empty
    sequence of orders, or a trajectory that is empty, not finite or of a degree above the
    kernel's maximum; TypeError for arguments of the wrong kind.
    """
    step = finite_positive(dt, "dt")
    orders, single = orders_of(nu)
    s = spline_of(traj)
    computed = {q for q in orders if q <= s.p}
    times = grid(float(s.knots[0]), float(s.knots[-1]), step, (len(orders) + len(computed)) * s.dof)
    rows = _picked(s, times, orders)
    return times, rows[0] if single else rows
