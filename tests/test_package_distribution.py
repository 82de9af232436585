"""Trajectories sent to worker processes (pickled) evaluate there exactly as in the parent, and
the trajectories the workers send back are bit for bit the ones the parent computes."""

import importlib
import multiprocessing
import pickle
from concurrent.futures import ProcessPoolExecutor
from pathlib import Path

import numpy as np
import pytest
from support.child_env import child_env
from support.trajectories import clamped_knots, trajectory

from pyorvex.defdatastruct import Trajectory1d


def trajectories():
    rng = np.random.default_rng(20240607)
    out = []
    for p, count, a, b in (
        (3, 40, 0.0, 2.0),
        (1, 7, -1.0, 1.0),
        (5, 200, 10.0, 10.5),
        (0, 4, 0.0, 1.0),
        (2, 3, 1e-3, 3e-3),
    ):
        knots = clamped_knots(rng.uniform(a, b, count - p - 1), p, a, b)
        cpts = rng.normal(size=count) * 10.0 ** rng.integers(-3, 4, size=count)
        out.append(
            trajectory(
                knots, cpts, p, order=int(rng.integers(0, 3)), owner=bool(rng.integers(0, 2))
            )
        )
    # unclamped, with a repeated interior knot
    out.append(trajectory([-3, -2, -1, 0, 0.5, 0.5, 1, 2, 3, 4], rng.normal(size=6), 3))
    return out


def abscissae(t, count=257):
    xs = np.linspace(t.start, t.stop, count)
    return xs, np.random.default_rng(count).permutation(xs)


def evaluate(t):
    """Everything compared between parent and workers, as bytes."""
    xs, shuffled = abscissae(t)
    out = {"state": pickle.dumps(t.__getstate__())}
    if hasattr(Trajectory1d, "peval"):
        out["call"] = t(xs).tobytes()
        out["shuffled"] = t(shuffled).tobytes()
        out["points"] = np.array([t.peval(x) for x in xs[::16]]).tobytes()
        for nu in range(1, t.p + 1):
            out[f"d{nu}"] = t(xs, nu).tobytes()
            out[f"dpeval{nu}"] = np.array([t.dpeval(x, nu) for x in xs[::32]]).tobytes()
    return out


def transform(t):
    """Trajectories built from t, sent back to the parent."""
    out = [t.copy()]
    if hasattr(Trajectory1d, "derivative") and t.p > 0:
        out.append(t.derivative())
    if hasattr(Trajectory1d, "degelev"):
        out.append(t.degelev(1))
    if hasattr(Trajectory1d, "knotins"):
        out.append(t.knotins(0.5 * (t.start + t.stop), max(t.p, 1) if t.p else 0))
    out.append(t + 1.25)
    out.append(t * -3.0)
    return out


def states(ts):
    return [(type(t), t.__getstate__()) for t in ts]


@pytest.fixture(scope="module")
def sent():
    return trajectories()


def check(sent, values, built):
    assert values == [evaluate(t) for t in sent]
    expected = [states(transform(t)) for t in sent]
    assert [states(b) for b in built] == expected


@pytest.mark.parametrize("method", ["fork", "spawn"])
def test_process_pool_executor(sent, method):
    ctx = multiprocessing.get_context(method)
    with ProcessPoolExecutor(max_workers=2, mp_context=ctx) as pool:
        values = list(pool.map(evaluate, sent))
        built = list(pool.map(transform, sent))
    check(sent, values, built)


def test_multiprocessing_spawn_pool(sent):
    with multiprocessing.get_context("spawn").Pool(2) as pool:
        values = pool.map(evaluate, sent, chunksize=1)
        built = pool.map(transform, sent, chunksize=2)
    check(sent, values, built)


def test_workers_get_their_own_copies(sent):
    """What a worker does to its trajectory never reaches the parent's."""
    before = [t.__getstate__() for t in sent]
    with multiprocessing.get_context("spawn").Pool(2) as pool:
        negated = pool.map(negate, sent)
    assert [t.__getstate__() for t in sent] == before
    for t, n in zip(sent, negated):
        assert np.array_equal(np.frombuffer(n._sget_cpts()), -np.frombuffer(t._sget_cpts()))


def negate(t):
    -t  # in place
    return t


def test_dask_cluster_gathers_what_serial_work_gives(monkeypatch):
    """The fleet example on two Dask worker processes, against the same work done here."""
    pytest.importorskip("distributed")
    examples = Path(__file__).resolve().parents[1] / "examples"
    # The workers unpickle the example's task function by its module name.
    monkeypatch.setenv("PYTHONPATH", child_env(examples)["PYTHONPATH"])
    monkeypatch.syspath_prepend(str(examples))
    fleet = importlib.import_module("fleet")

    gathered = fleet.main(workers=2, size=300)
    serial = [r for batch in fleet.batches(fleet.fleet(300)) for r in fleet.work(batch)]

    def flat(results):
        return [(values.tobytes(), states(ts)) for values, *ts in results]

    assert len(gathered) == 300 and flat(gathered) == flat(serial)
