"""Evaluation of a TrajectoryNd against the memory floor, one Trajectory1d and scipy.

    PYTHONPATH=build/dev/pkg python bench/bench_multiaxis.py

Prints ratios of the best of several alternated runs, beside the goals; asserts nothing.
"""

import timeit

import numpy as np
from scipy.interpolate import BSpline

from pyorvex import TrajectoryNd, make_trajectory

P, N, DOF = 3, 1000, 6


def timings(contenders, rounds=9):
    """Best and median time of each contender, taken in alternation (a busy machine slows
    neighbouring runs alike)."""
    times = {name: [] for name in contenders}
    for _ in range(rounds):
        for name, fn in contenders.items():
            times[name].append(min(timeit.repeat(fn, number=1, repeat=3)))
    return {name: (min(t), float(np.median(t))) for name, t in times.items()}


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
        shuffled = rng.permutation(x)
        t = timings(
            {
                "floor": lambda: fill(m),
                "nd": lambda: motion(x),
                "one": lambda: axis(x),
                "scipy": lambda: spline(x),
                "unordered": lambda: motion(shuffled),
            }
        )
        nd = t["nd"][0]
        print(
            f"m = {m:>7}: TrajectoryNd {nd * 1e3:6.2f} ms (median {t['nd'][1] * 1e3:6.2f})"
            f" | / fill (m, {DOF}) {nd / t['floor'][0]:5.2f} (goal <= 1.3 at 1e6)"
            f" | / one Trajectory1d {nd / t['one'][0]:5.2f} (goal <= 2.5 at 1e5)"
            f" | scipy (n+1, {DOF}) / TrajectoryNd {t['scipy'][0] / nd:5.2f} (goal >= 5.5)"
            f" | unordered / sorted {t['unordered'][0] / nd:5.2f}"
        )


if __name__ == "__main__":
    main()
