"""Evaluation speed of pyorvex against scipy.interpolate, side by side in one run.

    PYTHONPATH=<package dir> python3 bench/bench_evaluation.py [--quick]

The two libraries are timed in alternation, so that both see the same load on the machine;
the times shown are medians over the repeats and the ratio (scipy time / pyorvex time, above 1
when pyorvex is faster) is the median of the ratios of the pairs. The goal column gives the ratio
aimed for, or for the scalar calls the time per call. Nothing here is a test: it only prints.
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


def once(fn, setup=None):
    if setup is not None:
        setup()
    start = time.perf_counter()
    fn()
    return time.perf_counter() - start


def duration(seconds):
    return f"{seconds * 1e3:.3f} ms" if seconds >= 1e-4 else f"{seconds * 1e6:.2f} us"


def report(case, pairs, goal):
    theirs = statistics.median(s for s, _ in pairs)
    ours = statistics.median(o for _, o in pairs)
    ratio = statistics.median(s / o for s, o in pairs)
    print(
        f"{case:<46} {duration(theirs):>12} {duration(ours):>12} {ratio:>9.1f}x   {goal}",
        flush=True,
    )


def compare(case, scipy_fn, ours_fn, repeats, goal, setup=None, scipy_repeats=None):
    """Alternating runs; the slowest scipy cases may be run fewer times (their median is
    paired with every run of ours)."""
    scipy_repeats = repeats if scipy_repeats is None else scipy_repeats
    pairs = []
    for r in range(repeats):
        theirs = once(scipy_fn) if r < scipy_repeats else pairs[r % scipy_repeats][0]
        pairs.append((theirs, once(ours_fn, setup)))
    report(case, pairs, goal)


def compare_calls(case, scipy_stmt, ours_stmt, names, number, goal):
    scipy_timer = timeit.Timer(scipy_stmt, globals=names)
    ours_timer = timeit.Timer(ours_stmt, globals=names)
    pairs = [
        (scipy_timer.timeit(number) / number, ours_timer.timeit(number) / number) for _ in range(7)
    ]
    report(case, pairs, goal)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true", help="fewer points and repeats")
    args = parser.parse_args()
    m = 200_000 if args.quick else 1_000_000
    repeats = 3 if args.quick else 9
    rng = np.random.default_rng(2024)
    xs = np.sort(rng.uniform(0.0, 1.0, m))
    xs[0], xs[-1] = 0.0, 1.0
    shuffled = rng.permutation(xs)

    print(f"{m} points, {repeats} alternating repeats")
    print(f"{'case':<46} {'scipy':>12} {'pyorvex':>12} {'ratio':>10}   goal")

    work = np.empty_like(xs)
    for p, goals in ((3, (">= 40x", ">= 15x")), (5, (">= 60x", ">= 20x"))):
        for n, goal in zip((1_000, 100_000), goals):
            knots, cpts = clamped(n, p, rng)
            spl, t = si.BSpline(knots, cpts, p), trajectory(knots, cpts, p)
            compare(
                f"t.ceval(x) sorted, p={p}, n={n}",
                lambda: spl(xs),
                lambda: t.ceval(work),
                repeats,
                goal,
                setup=lambda: np.copyto(work, xs),
            )

    for n, goal in ((1_000, ">= 25x"), (100_000, ">= 10x")):
        knots, cpts = clamped(n, 3, rng)
        spl, t = si.BSpline(knots, cpts, 3), trajectory(knots, cpts, 3)
        compare(f"t(x) sorted, p=3, n={n}", lambda: spl(xs), lambda: t(xs), repeats, goal)

    for n, goal, slow in ((1_000, ">= 1.3x", repeats), (100_000, ">= 50x", 1 if args.quick else 3)):
        knots, cpts = clamped(n, 3, rng)
        spl, t = si.BSpline(knots, cpts, 3), trajectory(knots, cpts, 3)
        compare(
            f"t(x) shuffled, p=3, n={n}",
            lambda: spl(shuffled),
            lambda: t(shuffled),
            repeats,
            goal,
            scipy_repeats=slow,
        )

    knots, cpts = clamped(1_000, 3, rng)
    spl, t = si.BSpline(knots, cpts, 3), trajectory(knots, cpts, 3)
    for nu in (1, 2):
        compare(
            f"t(x, {nu}) sorted, p=3, n=1000",
            lambda: spl(xs, nu),
            lambda: t(xs, nu),
            repeats,
            ">= 30x",
        )

    # scipy's FITPACK form pads the coefficients to the length of the knot vector.
    names = {
        "si": si,
        "tck": (knots, np.r_[cpts, np.zeros(4)], 3),
        "t": t,
        "spl": spl,
        "integrable": trajectory(knots, cpts, 3, order=1),
    }
    compare_calls(
        "t.derivative() vs splder, p=3, n=1000",
        "si.splder(tck)",
        "t.derivative()",
        names,
        2000,
        ">= 10x",
    )
    compare_calls(
        "t.antiderivative() vs splantider, p=3, n=1000",
        "si.splantider(tck)",
        "integrable.antiderivative()",
        names,
        2000,
        ">= 15x",
    )
    compare_calls(
        "t.peval(0.37) vs spl(0.37), p=3, n=1000",
        "spl(0.37)",
        "t.peval(0.37)",
        names,
        20_000,
        "t.peval <= 150 ns per call",
    )
    compare_calls(
        "t(0.37) vs spl(0.37), p=3, n=1000",
        "spl(0.37)",
        "t(0.37)",
        names,
        20_000,
        "t(x) <= 300 ns per call",
    )


if __name__ == "__main__":
    main()
