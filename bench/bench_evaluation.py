"""Evaluation speed of pyorvex against scipy.interpolate, side by side in one run.

    PYTHONPATH=<package dir> python3 bench/bench_evaluation.py [--quick]

Every figure is the median of several repeats; the ratio column is scipy time / pyorvex time
(above 1 means pyorvex is faster). The goal column gives the ratio aimed for (or, for the scalar
calls, the time per call). Nothing here is a test: it prints, it never fails.
"""

import argparse
import statistics
import time
import timeit

import numpy as np
import scipy.interpolate as si

from pyorvex.defdatastruct import Trajectory1d


def clamped(n, p, rng):
    """Knots and coefficients of a clamped spline with n control points on [0, 1]."""
    inner = np.sort(rng.uniform(0.0, 1.0, n - p - 1))
    knots = np.r_[[0.0] * (p + 1), inner, [1.0] * (p + 1)]
    return knots, rng.uniform(-1.0, 1.0, n)


def trajectory(knots, cpts, p, order=0):
    t = Trajectory1d()
    t._dset_data(knots.tobytes(), cpts.tobytes(), p, cpts.size - 1, order, True)
    return t


def median_time(fn, repeats, setup=None):
    times = []
    for _ in range(repeats):
        if setup is not None:
            setup()
        start = time.perf_counter()
        fn()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


ROWS = []


def duration(seconds):
    return f"{seconds * 1e3:.3f} ms" if seconds >= 1e-4 else f"{seconds * 1e6:.2f} us"


def row(case, scipy_s, ours_s, goal):
    ratio = scipy_s / ours_s
    ROWS.append((case, scipy_s, ours_s, ratio, goal))
    print(f"{case:<46} {duration(scipy_s):>12} {duration(ours_s):>12} {ratio:>9.1f}x   {goal}",
          flush=True)


def per_call_ns(stmt, names, number):
    timer = timeit.Timer(stmt, globals=names)
    best = [timer.timeit(number) / number for _ in range(5)]
    return statistics.median(best) * 1e9


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true", help="fewer points and repeats")
    args = parser.parse_args()
    m = 200_000 if args.quick else 1_000_000
    repeats = 3 if args.quick else 7
    rng = np.random.default_rng(2024)
    xs = np.sort(rng.uniform(0.0, 1.0, m))
    xs[0], xs[-1] = 0.0, 1.0
    shuffled = rng.permutation(xs)

    print(f"{m} points; medians of {repeats} repeats (fewer for the slowest scipy case)")
    print(f"{'case':<46} {'scipy':>12} {'pyorvex':>12} {'ratio':>10}   goal")

    for p, goals in ((3, ("40x", "15x")), (5, ("60x", "20x"))):
        for n, goal in zip((1_000, 100_000), goals):
            knots, cpts = clamped(n, p, rng)
            spl = si.BSpline(knots, cpts, p)
            t = trajectory(knots, cpts, p)
            work = np.empty_like(xs)
            ours = median_time(lambda: t.ceval(work), repeats, lambda: np.copyto(work, xs))
            theirs = median_time(lambda: spl(xs), repeats)
            row(f"ceval sorted, p={p}, n={n}", theirs, ours, f">= {goal}")

    for n, goal in ((1_000, ">= 25x"), (100_000, ">= 10x")):
        knots, cpts = clamped(n, 3, rng)
        spl = si.BSpline(knots, cpts, 3)
        t = trajectory(knots, cpts, 3)
        row(f"t(x) sorted, p=3, n={n}", median_time(lambda: spl(xs), repeats),
            median_time(lambda: t(xs), repeats), goal)

    for n, goal, scipy_repeats in ((1_000, ">= 1.3x", repeats), (100_000, ">= 50x", 1 if args.quick else 3)):
        knots, cpts = clamped(n, 3, rng)
        spl = si.BSpline(knots, cpts, 3)
        t = trajectory(knots, cpts, 3)
        row(f"t(x) shuffled, p=3, n={n}", median_time(lambda: spl(shuffled), scipy_repeats),
            median_time(lambda: t(shuffled), repeats), goal)

    knots, cpts = clamped(1_000, 3, rng)
    spl = si.BSpline(knots, cpts, 3)
    t = trajectory(knots, cpts, 3)
    for nu in (1, 2):
        row(f"t(x, {nu}) sorted, p=3, n=1000", median_time(lambda: spl(xs, nu), repeats),
            median_time(lambda: t(xs, nu), repeats), ">= 30x")

    # scipy's FITPACK form pads the coefficients to the length of the knot vector.
    tck = (knots, np.r_[cpts, np.zeros(4)], 3)
    # Microsecond operations: per-call medians of timed loops.
    integrable = trajectory(knots, cpts, 3, order=1)
    names = {"si": si, "tck": tck, "t": t, "integrable": integrable}
    row("derivative(), p=3, n=1000 vs splder",
        per_call_ns("si.splder(tck)", names, 2000) * 1e-9,
        per_call_ns("t.derivative()", names, 2000) * 1e-9, ">= 10x")
    row("antiderivative(), p=3, n=1000 vs splantider",
        per_call_ns("si.splantider(tck)", names, 2000) * 1e-9,
        per_call_ns("integrable.antiderivative()", names, 2000) * 1e-9, ">= 15x")

    loops = 200_000
    names = {"t": t, "spl": spl}
    peval_ns = per_call_ns("t.peval(0.37)", names, loops)
    call_ns = per_call_ns("t(0.37)", names, loops)
    spl_ns = per_call_ns("spl(0.37)", names, loops // 20)
    print(f"{'scalar t.peval(0.37), p=3, n=1000':<46} {spl_ns:>9.0f} ns {peval_ns:>9.0f} ns "
          f"{spl_ns / peval_ns:>9.1f}x   <= 150 ns per call")
    print(f"{'scalar t(0.37), p=3, n=1000':<46} {spl_ns:>9.0f} ns {call_ns:>9.0f} ns "
          f"{spl_ns / call_ns:>9.1f}x   <= 300 ns per call")


if __name__ == "__main__":
    main()
