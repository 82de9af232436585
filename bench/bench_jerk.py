"""retime_optimal with a jerk limit: rest-to-rest moves along a straight line against the
time-optimal seven-phase profile, and six-axis paths against the uniform retime.

    PYTHONPATH=<package dir> python3 bench/bench_jerk.py

The straight line is a one-axis path of degree 1 from 0 to D. Its time-optimal jerk-limited
duration is computed by ruckig when installed (an optional peer: the ``bench`` extra; a single
target, no intermediate waypoints) and by the closed form otherwise. For each move: our
duration over the optimal one, and our largest |peak| / limit (exact peaks). The six-axis
problems are those of bench_optimal.py with jerk limits of 4, 20 and 100 times the acceleration
limits. Nothing is asserted: this is a measurement, not a test.
"""

import itertools
import math
import statistics
import time

import numpy as np
from bench_optimal import problem

from pyorvex import make_trajectory
from pyorvex.planning import peak, retime, retime_optimal

DISTANCES = (0.01, 0.1, 1.0, 10.0, 100.0)
VELOCITIES = (0.5, 2.0)
ACCELERATIONS = (0.5, 3.0)
JERKS = (1.0, 10.0, 100.0)


def closed_form(d, v, a, j):
    """The rest-to-rest duration: ramps of acceleration min(a, sqrt(vp j)) to the peak speed
    vp, the greatest speed at most v whose two ramps fit in d, and a cruise for the rest."""

    def ramp(vp):  # the time to reach vp from rest
        ap = min(a, math.sqrt(vp * j))
        return vp / ap + ap / j

    if v * ramp(v) <= d:
        return ramp(v) + d / v
    lo, hi = 0.0, v
    for _ in range(200):
        mid = 0.5 * (lo + hi)
        lo, hi = (mid, hi) if mid * ramp(mid) < d else (lo, mid)
    return 2.0 * ramp(lo)


def optimal(d, v, a, j):
    try:
        from ruckig import InputParameter, Result, Ruckig, Trajectory
    except ImportError:
        return closed_form(d, v, a, j), "closed form"
    inp = InputParameter(1)
    inp.current_position, inp.target_position = [0.0], [d]
    inp.max_velocity, inp.max_acceleration, inp.max_jerk = [v], [a], [j]
    traj = Trajectory(1)
    if Ruckig(1).calculate(inp, traj) != Result.Working:
        raise RuntimeError("ruckig failed")
    return traj.duration, "ruckig"


def largest_ratio(motion, limits):
    return max(
        float(np.max(np.abs(peak(motion, nu).value) / np.asarray(lim)))
        for nu, lim in zip((1, 2, 3), limits)
    )


def main():
    ratios, worst, ms, source = [], 0.0, [], ""
    for d, v, a, j in itertools.product(DISTANCES, VELOCITIES, ACCELERATIONS, JERKS):
        line = make_trajectory([0.0, 0.0, 1.0, 1.0], [0.0, d], 1, 0)
        t0 = time.process_time()
        motion = retime_optimal(line, v, a, j)
        ms.append((time.process_time() - t0) * 1e3)
        best, source = optimal(d, v, a, j)
        ratios.append((motion.stop - motion.start) / best)
        worst = max(worst, largest_ratio(motion, (v, a, j)))
    print(f"{len(ratios)} straight-line moves, duration / optimal ({source}):")
    print(f"  median {statistics.median(ratios):.4f}  max {max(ratios):.4f}  min {min(ratios):.4f}")
    print(f"  largest |peak| / limit (exact peaks): {worst:.17g}")
    print(f"  time per plan: median {statistics.median(ms):.1f} ms")
    print("six-axis problems (8 waypoints), 10 seeds per jerk factor:")
    for factor in (4.0, 20.0, 100.0):
        vs_uniform, worst, ms = [], 0.0, []
        for seed in range(10):
            path, v, a = problem(seed)
            j = factor * a
            t0 = time.process_time()
            motion = retime_optimal(path, v, a, j)
            ms.append((time.process_time() - t0) * 1e3)
            uniform = retime(path, v, a, j)
            vs_uniform.append((motion.stop - motion.start) / (uniform.stop - uniform.start))
            worst = max(worst, largest_ratio(motion, (v, a, j)))
        print(
            f"  jerk {factor:g} x accel: duration / uniform retime median "
            f"{statistics.median(vs_uniform):.3f} (max {max(vs_uniform):.3f}), largest ratio "
            f"{worst:.17g}, {statistics.median(ms):.0f} ms per plan"
        )


if __name__ == "__main__":
    main()
