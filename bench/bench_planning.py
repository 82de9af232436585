"""The planning toolkit against what a user would write with scipy.interpolate.

    PYTHONPATH=<package dir> python3 bench/bench_planning.py

- interpolate(): a quintic through 10,000 waypoints at rest at both ends, against
  make_interp_spline with the same end conditions;
- extrema(traj, 2): least and greatest acceleration of a quintic with 10,000 control points,
  against the roots of the third derivative of scipy's piecewise polynomial and the second
  derivative evaluated there and at the breakpoints;
- derivatives(traj, x, 2): value, velocity and acceleration of a quintic with 1,000 control
  points at 1e6 sorted abscissae in one call, against the three calls t(x), t(x, 1), t(x, 2);
- the six-axis job: interpolate 8 waypoints x 6 joints, retime to per-joint limits (time of
  the two calls), then sample position, velocity and acceleration at 1 kHz, against scipy's
  vector BSpline evaluated for the three orders;
- small calls: interpolate of 8 waypoints, peak and sample of an 11 s axis against their kernel
  routines alone (the ratio is kernel time / call time: 0.5 is the call at twice the kernel).

Before timing, each pair of contenders is checked to give the same answer. Each pair is then
timed in alternation, so that both see the same load on the machine; a time is the best of a
batch of calls, the figures shown are medians over the repeats and a ratio (reference time /
pyorvex time, above 1 when pyorvex is faster) is the median of the ratios of the pairs. The goal
column gives the ratio aimed for. Nothing is asserted: this is a measurement, not a test.
"""

import statistics
import timeit

import numpy as np
import scipy.interpolate as si

from pyorvex.defdatastruct import Trajectory1d
from pyorvex.planning import derivatives, extrema, interpolate, retime, sample, to_scipy

P = 5
REPEATS = 11
AT_REST = [(1, 0.0), (2, 0.0)]


def clamped(n, p, rng):
    """A clamped spline with n control points on [0, 1]."""
    inner = np.sort(rng.uniform(0.0, 1.0, n - p - 1))
    knots = np.r_[[0.0] * (p + 1), inner, [1.0] * (p + 1)]
    cpts = rng.uniform(-1.0, 1.0, n)
    t = Trajectory1d()
    t._dset_data(knots.tobytes(), cpts.tobytes(), p, n - 1, 0, True)
    return t


def per_call(fn, number):
    return min(timeit.repeat(fn, number=number, repeat=3)) / number


def duration(seconds):
    return f"{seconds * 1e3:.3f} ms" if seconds >= 1e-3 else f"{seconds * 1e6:.2f} us"


def compare(case, theirs_name, theirs, ours, goal):
    """theirs / ours, the two timed in alternation."""
    number = max(1, timeit.Timer(ours).autorange()[0] // 4)
    pairs = [(per_call(theirs, number), per_call(ours, number)) for _ in range(REPEATS)]
    t_theirs = statistics.median(s for s, _ in pairs)
    t_ours = statistics.median(o for _, o in pairs)
    ratio = statistics.median(s / o for s, o in pairs)
    print(
        f"{case:<34} {duration(t_ours):>11}   {theirs_name:<22} {duration(t_theirs):>11}"
        f"   ratio {ratio:6.2f}   goal {goal}",
        flush=True,
    )


def agree(case, ours, theirs, rtol):
    """Reports (and does not assert) the largest relative difference."""
    ours, theirs = np.asarray(ours, dtype=float), np.asarray(theirs, dtype=float)
    scale = max(np.max(np.abs(theirs)), np.finfo(float).tiny)
    diff = float(np.max(np.abs(ours - theirs))) / scale
    verdict = "agree" if diff <= rtol else "DISAGREE"
    print(f"  {case}: {verdict} (largest difference {diff:.1e} of the scale, allowed {rtol:g})")


def scipy_extrema(bspline, nu):
    """(tmin, vmin, tmax, vmax) of the nu-th derivative: the candidates are the roots of the
    next derivative and the breakpoints (both ends of every piece)."""
    pp = si.PPoly.from_spline(bspline)
    d = pp.derivative(nu)
    roots = d.derivative().roots(extrapolate=False)
    x = np.concatenate((roots[np.isfinite(roots)], pp.x))
    v = d(x)
    lo, hi = np.argmin(v), np.argmax(v)
    return x[lo], v[lo], x[hi], v[hi]


def bench_interpolate(rng):
    m = 10_000
    times = np.cumsum(rng.uniform(0.5, 1.5, m))
    values = rng.uniform(-1.0, 1.0, m)
    traj = interpolate(times, values, p=P)
    ref = si.make_interp_spline(times, values, k=P, bc_type=(AT_REST, AT_REST))
    agree(
        "control points against make_interp_spline",
        traj.get_cpts_asarray(),
        ref.c[: traj.get_cpts_asarray().size],
        1e-9,
    )
    compare(
        f"interpolate(), m = {m:,}, p = {P}",
        "make_interp_spline",
        lambda: si.make_interp_spline(times, values, k=P, bc_type=(AT_REST, AT_REST)),
        lambda: interpolate(times, values, p=P),
        ">= 5",
    )


def bench_extrema(rng):
    n = 10_000
    traj = clamped(n, P, rng)
    bspline = to_scipy(traj)
    ours, theirs = extrema(traj, 2), scipy_extrema(bspline, 2)
    agree("vmin, vmax against PPoly roots", (ours.vmin, ours.vmax), (theirs[1], theirs[3]), 1e-9)
    agree("tmin, tmax against PPoly roots", (ours.tmin, ours.tmax), (theirs[0], theirs[2]), 1e-9)
    compare(
        f"extrema(traj, 2), n = {n:,}, p = {P}",
        "PPoly roots + eval",
        lambda: scipy_extrema(bspline, 2),
        lambda: extrema(traj, 2),
        ">= 10",
    )


def bench_derivatives(rng):
    n, m = 1_000, 1_000_000
    traj = clamped(n, P, rng)
    x = np.linspace(0.0, 1.0, m)

    def three_calls():
        return traj(x), traj(x, 1), traj(x, 2)

    agree("rows against t(x), t(x, 1), t(x, 2)", derivatives(traj, x, 2), three_calls(), 1e-12)
    # The goal is at most 0.6 of the time of the three calls.
    compare(
        f"derivatives(traj, x, 2), n = {n:,}",
        "t(x), t(x, 1), t(x, 2)",
        three_calls,
        lambda: derivatives(traj, x, 2),
        ">= 1.67",
    )


def bench_six_axis(rng):
    """The six-axis job: 8 waypoints x 6 joints at rest at both ends, per-joint velocity and
    acceleration limits, position, velocity and acceleration sampled at 1 kHz."""
    times = np.cumsum(rng.uniform(0.5, 1.5, 8))
    values = rng.uniform(-2.0, 2.0, (8, 6))
    vmax, amax = rng.uniform(1.0, 3.0, 6), rng.uniform(4.0, 9.0, 6)

    def plan():
        return retime(interpolate(times, values), velocity=vmax, acceleration=amax)

    motion = plan()
    ticks = sample(motion, 0.001, [0, 1, 2])[0]
    spline = to_scipy(motion)
    rows = sample(motion, 0.001, [0, 1, 2])[1]
    ref = np.stack([spline(ticks, nu) for nu in range(3)])
    agree("six-axis samples against scipy's vector BSpline", rows, ref, 1e-12)
    t_plan = statistics.median(per_call(plan, 200) for _ in range(REPEATS))
    print(f"{'six-axis plan (interpolate+retime)':<34} {duration(t_plan):>11}   goal <= 25 us")
    compare(
        f"six-axis sample, {ticks.size:,} ticks",
        "BSpline(t, nu), nu<3",
        lambda: [spline(ticks, nu) for nu in range(3)],
        lambda: sample(motion, 0.001, [0, 1, 2]),
        5.0,
    )
    t_tick = statistics.median(
        per_call(lambda: sample(motion, 0.001, [0, 1, 2]), 20) for _ in range(REPEATS)
    )
    print(f"  per tick: {t_tick / ticks.size * 1e9:.1f} ns (goal <= 30 ns)")


def bench_small_calls(rng):
    """Each public function against its kernel routine alone on a small input: the cost of the
    checks and the result objects around it (goal: at most 2x)."""
    from pyorvex.planning import _kernel, peak

    times = np.cumsum(rng.uniform(0.5, 1.5, 8))
    values = rng.uniform(-2.0, 2.0, 8)
    traj = interpolate(times, values)
    knots = np.array(traj.get_knotvector_asarray())
    cpts = np.array(traj.get_cpts_asarray())
    knots_out, coefs_out = np.empty(knots.size), np.empty(cpts.size)
    start, stop = np.zeros(2), np.zeros(2)
    table, orders = np.empty(4), np.array([1.0])
    slow = retime(traj, velocity=0.2)  # an axis of about 11 s
    ticks = sample(slow, 0.001)[0]
    rows = np.empty(ticks.size)
    cases = [
        (
            "interpolate, 8 waypoints",
            lambda: interpolate(times, values),
            lambda: _kernel.interpolate(
                times, values, 1, P, start, stop, knots_out, coefs_out, 1e-9
            ),
        ),
        (
            "peak(traj, 1)",
            lambda: peak(traj, 1),
            lambda: _kernel.extrema(knots, cpts, 1, P, orders, table),
        ),
        (
            f"sample, {ticks.size:,} ticks",
            lambda: sample(slow, 0.001),
            lambda: _kernel.derivatives(
                np.array(slow.get_knotvector_asarray()),
                np.array(slow.get_cpts_asarray()),
                1,
                P,
                ticks,
                0,
                0,
                rows,
            ),
        ),
    ]
    for case, ours, kernel in cases:
        compare(case, "kernel routine alone", kernel, ours, "<= 2x kernel (ratio >= 0.5)")


def main():
    rng = np.random.default_rng(11)
    print(f"{'operation':<34} {'pyorvex':>11}   {'reference':<22} {'time':>11}")
    bench_interpolate(rng)
    bench_extrema(rng)
    bench_derivatives(rng)
    bench_six_axis(rng)
    bench_small_calls(rng)


if __name__ == "__main__":
    main()
