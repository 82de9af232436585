"""retime_optimal on the six-axis job, against the uniform retime and, when installed, the
constant-acceleration parametriser of toppra (an optional peer: the ``bench`` extra).

    PYTHONPATH=<package dir> python3 bench/bench_optimal.py

100 seeded problems: 8 waypoints x 6 joints through interpolate (quintic, at rest at both
ends), per-joint velocity and acceleration limits. For each: the duration against the uniform
stretch of the same path, our largest |peak| / limit over the joints (exact peaks), the processor time of
one plan; the peer plans the same path with its automatic grid (and, beside it, on our number of
grid points), and its limit ratios are read on dense samples (its result is not a spline whose peaks can be computed exactly).
Then the cost of one plan against the number of spans of the path. Nothing is asserted: this
is a measurement, not a test.
"""

import statistics
import time

import numpy as np

from pyorvex.planning import interpolate, peak, retime, retime_optimal
from pyorvex.planning.optimal import GRID

PROBLEMS = 100
DOF = 6


def problem(seed, m=8):
    rng = np.random.default_rng(seed)
    times = np.cumsum(rng.uniform(0.5, 1.5, m))
    path = interpolate(times, rng.uniform(-2.0, 2.0, (m, DOF)))
    return path, rng.uniform(1.0, 3.5, DOF), rng.uniform(3.0, 9.0, DOF)


def best_ms(f, repeats=5):
    """The best processor time of a few calls: the machine may be shared, and wall-clock time
    then measures the other load as much as the call."""
    best = float("inf")
    for _ in range(repeats):
        t0 = time.process_time()
        f()
        best = min(best, time.process_time() - t0)
    return best * 1e3


def ratio(motion, v, a):
    return max(float(np.max(np.abs(peak(motion, nu).value) / lim)) for nu, lim in ((1, v), (2, a)))


def peer():
    try:
        import toppra
        import toppra.algorithm
        import toppra.constraint
        from toppra.interpolator import AbstractGeometricPath
    except ImportError:
        return None

    toppra.setup_logging("ERROR")

    class Path(AbstractGeometricPath):
        """The same path, read through pyorvex's derivatives."""

        def __init__(self, path):
            self.path = path

        def __call__(self, ss, order=0):
            return self.path(
                np.clip(np.asarray(ss, dtype=float), self.path.start, self.path.stop), order
            )

        @property
        def dof(self):
            return DOF

        @property
        def path_interval(self):
            return np.array([self.path.start, self.path.stop])

        @property
        def waypoints(self):
            return None

    def plan(path, v, a, grid=None):
        """With its automatic grid by default, or on the grid given."""
        constraints = [
            toppra.constraint.JointVelocityConstraint(np.c_[-v, v]),
            toppra.constraint.JointAccelerationConstraint(np.c_[-a, a]),
        ]
        algo = toppra.algorithm.TOPPRA(
            constraints, Path(path), gridpoints=grid, parametrizer="ParametrizeConstAccel"
        )
        return algo.compute_trajectory()

    def check(traj, v, a):
        ticks = np.linspace(0.0, traj.duration, 20001)
        return max(float(np.max(np.abs(traj(ticks, nu)) / lim)) for nu, lim in ((1, v), (2, a)))

    return plan, check


def main():
    vs_uniform, vs_peer, ours, theirs, ms, peer_ms = [], [], [], [], [], []
    vs_fixed, fixed_ms = [], []
    other = peer()
    failed = 0
    for seed in range(PROBLEMS):
        path, v, a = problem(seed)
        motion = retime_optimal(path, v, a)
        duration = motion.stop - motion.start
        uniform = retime(path, v, a)
        vs_uniform.append(duration / (uniform.stop - uniform.start))
        ours.append(ratio(motion, v, a))
        ms.append(best_ms(lambda: retime_optimal(path, v, a)))
        if other is not None:
            plan, check = other
            traj = plan(path, v, a)
            if traj is None:
                failed += 1
                continue
            vs_peer.append(duration / traj.duration)
            theirs.append(check(traj, v, a))
            peer_ms.append(best_ms(lambda: plan(path, v, a), 3))
            grid = np.linspace(path.start, path.stop, GRID + 1)
            fixed = plan(path, v, a, grid)
            if fixed is not None:
                vs_fixed.append(duration / fixed.duration)
                fixed_ms.append(best_ms(lambda: plan(path, v, a, grid), 3))

    def spread(xs):
        return f"median {statistics.median(xs):.4f}  min {min(xs):.4f}  max {max(xs):.4f}"

    print(f"{PROBLEMS} six-axis problems, 8 waypoints, grid {GRID}")
    print(f"duration / uniform retime:    {spread(vs_uniform)}")
    print(f"largest |peak| / limit, ours (exact peaks): {max(ours):.17g}")
    print(f"time per plan, ours: median {statistics.median(ms):.2f} ms, max {max(ms):.2f} ms")
    if other is None:
        print("toppra not installed (pip install 'pyorvex[bench]'): no peer figures")
    else:
        print(f"duration / toppra (const. accel.): {spread(vs_peer)}  ({failed} peer failures)")
        print(f"largest |value| / limit, toppra (dense samples): {max(theirs):.6g}")
        print(f"time per plan, toppra: median {statistics.median(peer_ms):.2f} ms")
        print(f"toppra on our grid ({GRID} segments): duration ratio {spread(vs_fixed)}")
        print(f"  time per plan: median {statistics.median(fixed_ms):.2f} ms")
    print("cost against the path's spans (default grid, median over 10 problems):")
    for m in (4, 8, 16, 32, 64, 128):
        times = []
        for seed in range(10):
            path, v, a = problem(1000 + seed, m)
            times.append(best_ms(lambda: retime_optimal(path, v, a)))
        print(f"  {m - 1:4d} spans: {statistics.median(times):.2f} ms")


if __name__ == "__main__":
    main()
