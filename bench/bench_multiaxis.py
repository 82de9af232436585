"""Evaluation of a TrajectoryNd against the memory floor, one Trajectory1d and scipy.

    PYTHONPATH=build/dev/pkg python bench/bench_multiaxis.py

Prints ratios (best of several runs); asserts nothing.
"""

import timeit

import numpy as np
from scipy.interpolate import BSpline

from pyorvex import TrajectoryNd, make_trajectory

P, N, DOF = 3, 1000, 6


def best(fn, repeat=7):
    return min(timeit.repeat(fn, number=1, repeat=repeat))


def main():
    rng = np.random.default_rng(1)
    inner = np.sort(rng.uniform(0.0, 10.0, N - P))
    knots = np.r_[[0.0] * (P + 1), inner, [10.0] * (P + 1)]
    cpts = rng.normal(size=(N + 1, DOF))
    motion = make_trajectory(knots, cpts, P)
    assert isinstance(motion, TrajectoryNd)
    axis = make_trajectory(knots, cpts[:, 0], P)
    spline = BSpline(knots, cpts, P)

    def fill(m):
        a = np.empty((m, DOF))
        a.fill(1.0)
        return a

    for m in (10**5, 10**6):
        x = np.linspace(0.0, 10.0, m)
        floor = best(lambda: fill(m))
        nd = best(lambda: motion(x))
        one = best(lambda: axis(x))
        sp = best(lambda: spline(x))
        shuffled = rng.permutation(x)
        nd_any = best(lambda: motion(shuffled), repeat=3)
        print(
            f"m = {m:>7}: TrajectoryNd {nd * 1e3:7.2f} ms | / fill (m, {DOF}) {nd / floor:5.2f}"
            f" | / one Trajectory1d {nd / one:5.2f} | scipy (n+1, {DOF}) / TrajectoryNd"
            f" {sp / nd:5.2f} | unordered / sorted {nd_any / nd:5.2f}"
        )


if __name__ == "__main__":
    main()
