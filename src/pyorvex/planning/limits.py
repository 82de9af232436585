"""The report of a motion's peaks against velocity, acceleration and jerk limits: what the
command line prints, computed here."""

from __future__ import annotations

from typing import Any, List, NamedTuple, Optional, Tuple

from ..plot import quantity
from ._arguments import spline_of
from .peaks import extrema_table, peaks_of
from .retiming import LIMITED, Axes, LimitArg, check_applies, limits_given, settle


class LimitRow(NamedTuple):
    """One quantity of one axis: its peak (signed) and when, its limit and whether it holds
    (None where no limit was given). axis is None for a one-axis trajectory."""

    quantity: str
    axis: Optional[int]
    peak: float
    time: float
    limit: Optional[float]
    holds: Optional[bool]


class LimitsReport(NamedTuple):
    """Every row, the factor k by which :func:`retime` would stretch time (None, with the
    reason, when none makes a limit bind or it is beyond floating point; None without a reason
    when no limit was given), and whether every limit holds. With velocity and acceleration
    limits on a path of positions, also the duration of :func:`retime_optimal`'s motion along
    the same path (None, with the reason, when it has none)."""

    rows: List[LimitRow]
    k: Optional[float]
    no_k: Optional[str]
    holds: bool
    optimal: Optional[float] = None
    no_optimal: Optional[str] = None
    uniform: Optional[float] = None  # the duration after retime's stretch by k

    def text(self) -> str:
        """The report as the command line prints it: a table, then the line of k."""
        axes = any(r.axis is not None for r in self.rows)
        table: List[Tuple[str, ...]] = [
            ("quantity", *(("axis",) if axes else ()), "peak", "time", "limit", "holds")
        ]
        for r in self.rows:
            verdict = "-" if r.holds is None else "yes" if r.holds else "NO"
            limit = "-" if r.limit is None else repr(r.limit)
            where = (str(r.axis),) if axes else ()
            table.append((r.quantity, *where, repr(r.peak), repr(r.time), limit, verdict))
        widths = [max(len(row[i]) for row in table) for i in range(len(table[0]))]
        lines = ["  ".join(c.ljust(w) for c, w in zip(row, widths)).rstrip() for row in table]
        if self.k is not None:
            lines.append(
                f"k = {self.k!r} (retime stretches time by this factor; every limit then holds)"
            )
        elif self.no_k is not None:
            lines.append(f"k: none ({self.no_k})")
        if self.optimal is not None:
            against = "" if self.uniform is None else f"; retime's lasts {self.uniform!r} s"
            lines.append(
                f"time-optimal along the same path: {self.optimal!r} s (retime_optimal{against})"
            )
        elif self.no_optimal is not None:
            lines.append(f"time-optimal: none ({self.no_optimal})")
        return "\n".join(lines)


def limits_report(
    traj: Any,
    velocity: LimitArg = None,
    acceleration: LimitArg = None,
    jerk: LimitArg = None,
) -> LimitsReport:
    """The peaks of velocity, acceleration and jerk of a trajectory or a multi-axis motion (those
    at or above its order, per axis), exact, with their times; with limits (a number for all
    axes or one per axis), whether each holds and the factor k that :func:`retime` would
    stretch time by. Raises ValueError for a limit on a quantity below the trajectory's order,
    for a trajectory that has no velocity, acceleration or jerk, and as :func:`retime` for bad
    limits or trajectories."""
    s = spline_of(traj, "traj")
    given = any(v is not None for v in (velocity, acceleration, jerk))
    limits = limits_given(velocity, acceleration, jerk, s.dof) if given else []
    for limit in limits:
        check_applies(s, "the trajectory", limit.name, limit.q)
    shown = [(name, q) for name, q in LIMITED if q >= s.order]
    if not shown:
        raise ValueError(
            f"it describes the {quantity(s.order)} (order {s.order}): "
            "it has no velocity, acceleration or jerk"
        )
    asked = {limit.q: limit.values for limit in limits}
    times, values = peaks_of(extrema_table(s, [q - s.order for _, q in shown]))
    rows = []
    for j, (name, q) in enumerate(shown):
        for c in range(s.dof):
            bound = None if q not in asked else float(asked[q][c])
            holds = None if bound is None else bool(abs(values[j, c]) <= bound)
            axis = c if s.axes else None
            rows.append(LimitRow(name, axis, float(values[j, c]), float(times[j, c]), bound, holds))
    k: Optional[float] = None
    no_k: Optional[str] = None
    if limits:
        try:
            k = settle(Axes([s], ["the trajectory"], True), limits)[0]
        except ValueError as exc:
            # A profile at rest (or infinite limits) has no binding factor, and a factor may
            # overflow: the verdicts still stand.
            no_k = str(exc)
    optimal: Optional[float] = None
    no_optimal: Optional[str] = None
    if velocity is not None and acceleration is not None and s.order == 0:
        from .optimal import retime_optimal

        try:
            motion = retime_optimal(traj, velocity, acceleration, jerk)
            optimal = float(motion.stop - motion.start)
        except (ValueError, NotImplementedError) as exc:
            no_optimal = str(exc)
    span = float(s.knots[-s.p - 1] - s.knots[s.p])
    uniform = None if k is None else k * span
    holds = all(r.holds is not False for r in rows)
    return LimitsReport(rows, k, no_k, holds, optimal, no_optimal, uniform)
