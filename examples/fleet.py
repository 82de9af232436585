"""A fleet of motion profiles evaluated, differentiated and refined on a local Dask cluster.

    python examples/fleet.py [WORKERS] [FLEET]

Starts WORKERS worker processes (default 2), scatters FLEET cubic trajectories (default 4000)
to them in batches, and has each worker sample every trajectory of its batches, differentiate it
and refine its knots; the results come back to this process. Needs the `scale` extra
(dask[distributed]).
"""

import sys
from typing import List, Tuple

import numpy as np
import numpy.typing as npt
from dask.distributed import Client, LocalCluster

from pyorvex import make_trajectory
from pyorvex.defdatastruct import Trajectory1d

# What a worker sends back for one trajectory: its samples, its derivative, its refined form.
Result = Tuple[npt.NDArray[np.float64], Trajectory1d, Trajectory1d]

SAMPLES = 101
BATCH = 250  # trajectories per task: one task per trajectory would cost more than the work


def fleet(size: int, seed: int = 0) -> List[Trajectory1d]:
    """size cubic moves of different durations, knot spacings and control points."""
    rng = np.random.default_rng(seed)
    moves = []
    for _ in range(size):
        spans = int(rng.integers(2, 12))
        interior = np.cumsum(rng.uniform(0.1, 1.0, spans))
        knots = np.concatenate([np.zeros(4), interior[:-1], np.full(4, interior[-1])])
        cpts = np.cumsum(rng.normal(size=spans + 3))
        moves.append(make_trajectory(knots, cpts, 3))
    return moves


def work(batch: List[Trajectory1d]) -> List[Result]:
    """Runs on a worker: samples, derivative and the knots refined at every span's midpoint."""
    out: List[Result] = []
    for move in batch:
        x = np.linspace(move.start, move.stop, SAMPLES)
        knots = move.get_knotvector_asarray()
        midpoints = (0.5 * (knots[:-1] + knots[1:]))[np.diff(knots) > 0]
        out.append((move(x), move.derivative(), move.knotref(midpoints)))
    return out


def batches(moves: List[Trajectory1d]) -> List[List[Trajectory1d]]:
    return [moves[i : i + BATCH] for i in range(0, len(moves), BATCH)]


def main(workers: int = 2, size: int = 4000) -> List[Result]:
    """Runs the fleet on `workers` local worker processes; returns the results in fleet order."""
    moves = fleet(size)
    cluster = LocalCluster(
        n_workers=workers, threads_per_worker=1, processes=True, dashboard_address=None
    )
    with cluster, Client(cluster) as client:
        # The trajectories travel to the workers pickled, once; the tasks refer to them there.
        scattered = client.scatter(batches(moves))
        done = client.gather(client.map(work, scattered))
    results = [result for batch in done for result in batch]
    peak = max(float(np.max(np.abs(values))) for values, _, _ in results)
    refined = sum(r.n + 1 for _, _, r in results)
    before = sum(m.n + 1 for m in moves)
    print(f"{len(results)} trajectories on {workers} workers, largest sample {peak:.3f}")
    print(f"control points: {before} before refinement, {refined} after")
    return results


if __name__ == "__main__":
    main(*map(int, sys.argv[1:3]))
