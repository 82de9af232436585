"""The shortest motion along a path that also keeps a jerk limit.

A motion within velocity and acceleration limits alone changes its acceleration in steps, an
infinite jerk. The kernel's plan under the velocity and acceleration limits (scaled by fv and fa)
is averaged over a sliding window of length tau, which turns each step into a ramp of duration
tau; on a straight line with the right fv, fa and tau this is exactly the time-optimal
seven-phase profile. Elsewhere no closed form holds, so the three are searched (a pattern search
on their logarithms, each trial one plan and one exact measure of its peaks) for the shortest
motion once one common time scale brings its binding peak to its limit."""

from __future__ import annotations

import math
from typing import List, Optional, Tuple

import numpy as np
import numpy.typing as npt

from . import _kernel
from ._arguments import Spline

# Each pass of the search moves by this factor on one of fv, fa, tau, until no move shortens the
# motion; then the next, finer factor. Far from the optimum the coarse ones move fast; the last
# leaves the duration within a fraction of a percent of the search's optimum.
_STEPS = (0.5, 0.75, 0.9, 0.97, 0.99)
# The search's grid: a coarse one finds the factors, the caller's grid plans with them.
_SEARCH_GRID = 64
# Velocity and acceleration below this share of their peaks count as rest at a path's ends.
_REST = 1e-9
_SCAN = (1.0, 0.7, 0.5, 0.35, 0.25, 0.18, 0.12, 0.08, 0.05)
# The window is searched between these multiples of the first guess (the longest ramp the
# acceleration limits ask: a_j / j_j).
_TAU_RANGE = (1e-3, 1e3)
# Order of continuity the plan needs wherever the motion passes at speed: a jump of the path's
# second derivative there would jump the acceleration.
_SMOOTH = 2
_QS = np.array([1.0, 2.0, 3.0])

Trial = Tuple[float, Optional[Spline]]


class _Search:
    """The trials of one path: the plan's arrays, sized once, and the best motion met."""

    def __init__(
        self,
        s: Spline,
        limits: Tuple[npt.NDArray[np.float64], ...],
        grid: int,
    ) -> None:
        self.s, self.limits, self.grid = s, limits, grid
        segments, nknots, ncoefs = _kernel.optimal_size(s.knots, s.p, s.dof, grid)
        _, kmax, cmax = _kernel.smooth_size(len(s.knots), s.p, s.dof, segments)
        self.plan_knots, self.plan_coefs = np.empty(nknots), np.empty(ncoefs)
        self.profile = np.empty(2 * (segments + 1))
        self.shrink = np.ones(segments)
        self.out_knots, self.out_coefs = np.empty(kmax), np.empty(cmax)
        self.bounds = np.concatenate(limits)
        self.tau0 = float(np.max(limits[1] / limits[2]))
        self.memo: dict = {}

    def motion(self, fv: float, fa: float, ft: float) -> Spline:
        """The averaged plan of limits (fv v, fa a) and window ft fa tau0: raises ValueError
        when the kernel refuses it."""
        s, (v, a, _) = self.s, self.limits
        _kernel.retime_optimal(
            s.knots, s.cpts, s.dof, s.p, fv * v, fa * a, self.shrink, self.grid,
            np.zeros(2), self.plan_knots, self.plan_coefs, self.profile, _SMOOTH,
        )  # fmt: skip
        tau = ft * fa * self.tau0
        pieces, _ = _kernel.smooth_time(
            s.knots, s.cpts, s.dof, s.p, self.profile, tau, self.out_knots, self.out_coefs
        )
        d = 5 * s.p
        rows = pieces * d + 1
        return Spline(
            self.out_knots[: rows + d + 1].copy(),
            self.out_coefs[: rows * s.dof].copy(),
            d,
            0,
            s.dof,
            s.axes,
        )

    def duration(self, m: Spline) -> float:
        """The motion's duration once one time scale brings its binding peak to its limit."""
        exact = _kernel.settle(
            m.knots, m.cpts, m.dof, m.p, 0, _QS, self.bounds, 0.0, -1.0,
            np.empty_like(m.knots), np.empty_like(m.cpts),
        )[0]  # fmt: skip
        span = float(m.knots[-1] - m.knots[0])
        return span * exact if exact > 0.0 and math.isfinite(exact) else math.inf

    def trial(self, x: Tuple[float, float, float]) -> Trial:
        key = tuple(round(math.log(f), 9) for f in x)
        if key not in self.memo:
            try:
                m = self.motion(*x)
                self.memo[key] = (self.duration(m), m)
            except ValueError:
                self.memo[key] = (math.inf, None)
        return self.memo[key]


def _moves(x: Tuple[float, float, float], step: float) -> List[Tuple[float, float, float]]:
    """The neighbours of x one step away on each of its three factors, within their bounds."""
    out = []
    for i in range(3):
        for f in (step, 1.0 / step):
            y = list(x)
            y[i] *= f
            hi = 1.0 if i < 2 else _TAU_RANGE[1]
            lo = 1e-6 if i < 2 else _TAU_RANGE[0]
            y[i] = min(max(y[i], lo), hi)
            if y[i] != x[i]:
                out.append((y[0], y[1], y[2]))
    return out


def _search(search: _Search) -> Tuple[Tuple[float, float, float], Trial]:
    """The factors of the shortest motion found, and it."""
    x = (1.0, 1.0, 1.0)
    # The first trial's refusal is the path's own (a corner of the plan, a path that stands
    # still): it is the caller's error, not a point of the search.
    first = search.motion(*x)
    best: Trial = (search.duration(first), first)
    search.memo[(0.0, 0.0, 0.0)] = best
    # The search starts from the best of a scan over the peak speed, each with the acceleration
    # a ramp of duration tau can reach from it (a_j at most sqrt(v_j j_j), as on a line): a
    # short move wants a low peak speed, far from where the velocity limit alone puts it (the
    # scan's shares are of the peak speed the first trial reaches).
    v, a, j = search.limits
    reach = _kernel.peak_ratio(first.knots, first.cpts, first.dof, first.p, 1, v)[0]
    for share in _SCAN:
        fv = min(1.0, max(share * reach, 1e-6))
        y = (fv, min(1.0, float(np.min(np.sqrt(fv * v * j) / a))), 1.0)
        t = search.trial(y)
        if t[0] < best[0]:
            x, best = y, t
    for step in _STEPS:
        moved = True
        while moved:
            moved = False
            for y in _moves(x, step):
                t = search.trial(y)
                if t[0] < best[0]:
                    x, best, moved = y, t, True
                    break
    return x, best


def _at_rest(s: Spline) -> bool:
    """Whether the path's own velocity and acceleration vanish at both ends (to rounding)."""
    ends = np.array([s.knots[0], s.knots[-1]])
    flat = np.empty(2 * 2 * s.dof)
    _kernel.derivatives(s.knots, s.cpts, s.dof, s.p, ends, 1, 2, flat)
    out = flat.reshape(2, 2 * s.dof)
    ones = np.ones(s.dof)
    for nu in (1, 2):
        scale = _kernel.peak_ratio(s.knots, s.cpts, s.dof, s.p, nu, ones)[0]
        if not np.all(np.abs(out[nu - 1]) <= _REST * scale):
            return False
    return True


def plan_with_jerk(s: Spline, limits: Tuple[npt.NDArray[np.float64], ...], grid: int) -> Spline:
    """The shortest motion found, not yet brought to its limits (its binding peak is at its
    limit only after the caller's common time scale). The factors are searched on a coarse grid
    and planned once more on the caller's; a path that starts and ends at rest in its own
    parameter is also a candidate as it stands (its time stretched uniformly), which wins
    where the jerk limit dominates along a curved path."""
    coarse = _Search(s, limits, min(grid, _SEARCH_GRID))
    x, best = _search(coarse)
    if grid > _SEARCH_GRID:
        fine = _Search(s, limits, grid).trial(x)
        if fine[0] <= best[0]:
            best = fine
    if s.p >= 3 and _at_rest(s):
        own = coarse.duration(s)
        if own < best[0]:
            best = (own, s)
    if best[1] is None or not math.isfinite(best[0]):
        raise ValueError("no time scale brings the motion within its limits")
    return best[1]
