"""Knot operations and trajectory algebra, side by side with scipy.

    PYTHONPATH=<package dir> python3 bench/bench_knots.py

Prints times, speed-ups over scipy and the growth of each operation when n doubles. Nothing is
asserted: this is a measurement, not a test.
"""

import timeit

import numpy as np
from scipy.interpolate import BSpline, insert

from pyorvex.defdatastruct import Trajectory1d

P = 3


def cubic(n, rng, shift=0.0):
    """A clamped cubic on [0, 1] with n + 1 control points."""
    interior = np.sort(rng.uniform(0.0, 1.0, n - P)) + shift
    interior = np.clip(interior, 1e-9, 1.0 - 1e-9)
    knots = np.concatenate([[0.0] * (P + 1), interior, [1.0] * (P + 1)])
    cpts = rng.uniform(-1.0, 1.0, n + 1)
    t = Trajectory1d()
    t._dset_data(knots.tobytes(), cpts.tobytes(), P, n, 0, True)
    return t, BSpline(knots, cpts, P)


def polynomial_refined(n, rng):
    """A single cubic polynomial refined to n + 1 control points: every added knot removable."""
    knots = np.array([0.0] * (P + 1) + [1.0] * (P + 1))
    t = Trajectory1d()
    t._dset_data(knots.tobytes(), rng.uniform(-1, 1, P + 1).tobytes(), P, P, 0, True)
    return t.knotref(np.sort(rng.uniform(0.0, 1.0, n - P)))


def best(fn, number=None):
    """Best time of one call, in seconds."""
    if number is None:
        number, _ = timeit.Timer(fn).autorange()
    return min(timeit.repeat(fn, number=number, repeat=5)) / number


def report(label, mine, theirs=None):
    line = f"{label:<44} {mine * 1e6:12.2f} us"
    if theirs is not None:
        line += f"   scipy {theirs * 1e6:12.2f} us   speed-up {theirs / mine:8.1f}x"
    print(line)


def versus_scipy():
    print("== against scipy ==")
    rng = np.random.default_rng(1)
    for n in (1_000, 100_000):
        t, spl = cubic(n, rng)
        u = 0.123456789
        report(
            f"knotins(u, 1), n = {n}", best(lambda: t.knotins(u, 1)), best(lambda: insert(u, spl))
        )
    t, spl = cubic(1_000, rng)
    X = np.sort(rng.uniform(0.0, 1.0, 1_000))

    def scipy_loop():
        s = spl
        for x in X:
            s = insert(x, s)
        return s

    report(
        "knotref(1,000 knots), n = 1,000 (vs 1,000 inserts)",
        best(lambda: t.knotref(X)),
        best(scipy_loop, number=1),
    )


def per_knot_of_sum():
    print("== T + U ==")
    rng = np.random.default_rng(2)
    for n in (1_000, 100_000):
        T, _ = cubic(n, rng)
        U, _ = cubic(n, rng)
        S = T + U
        seconds = best(lambda: T + U)
        knots = S.n + S.p + 2
        print(
            f"T + U, n = {n:<7} {seconds * 1e6:10.1f} us   {seconds * 1e9 / knots:6.2f} ns per "
            f"knot of the result ({knots} knots)"
        )


def growth():
    print("== time(2n) / time(n) ==")
    rng = np.random.default_rng(3)
    cases = {
        "knotins(u, 3)": lambda t, u, X, R: t.knotins(0.5, 3),
        "knotref(n/2 knots)": lambda t, u, X, R: t.knotref(X),
        "knotrem(u, 1)": lambda t, u, X, R: t.knotrem(0.5, 1),
        "knotrem_notol(u, 1)": lambda t, u, X, R: t.knotrem_notol(0.5, 1),
        "knotsrem() (nothing removable)": lambda t, u, X, R: t.knotsrem(),
        "knotsrem() (all removable)": lambda t, u, X, R: R.knotsrem(),
        "T + U": lambda t, u, X, R: t + u,
        "T - U": lambda t, u, X, R: t - u,
        "T + c": lambda t, u, X, R: t + 1.5,
        "c - T": lambda t, u, X, R: 1.5 - t,
        "T * c": lambda t, u, X, R: t * 1.5,
        "T / c": lambda t, u, X, R: t / 1.5,
        "T += c": lambda t, u, X, R: t.__iadd__(1.5),
        "-T": lambda t, u, X, R: -t,
        # The same in-place pass in numpy, over an array of the control points' size: how much
        # of a ratio the memory hierarchy alone gives.
        "numpy a += c (reference)": lambda t, u, X, R: t.get_cpts_asarray().__iadd__(1.5),
    }
    # 1,000,000 as well: there both sizes are far beyond the caches, so the ratio shows the
    # algorithm rather than the step from one cache level to the next.
    for n in (1_000, 100_000, 1_000_000):
        data = {}
        for size in (n, 2 * n):
            t, _ = cubic(size, rng)
            u, _ = cubic(size, rng)
            t = t.knotins(0.5, 1)
            X = np.sort(rng.uniform(0.0, 1.0, size // 2))
            R = polynomial_refined(size, rng)
            data[size] = (t, u, X, R)
        for name, op in cases.items():
            small = best(lambda: op(*data[n]))
            large = best(lambda: op(*data[2 * n]))
            print(
                f"{name:<32} n = {n:>7}: {small * 1e3:9.3f} ms   2n: {large * 1e3:9.3f} ms   "
                f"ratio {large / small:5.2f}"
            )


if __name__ == "__main__":
    versus_scipy()
    per_knot_of_sum()
    growth()
