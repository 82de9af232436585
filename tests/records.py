"""Building trajectories for the tests without the kernel: through the pickle-state loader."""
import numpy as np

from pyorvex.defdatastruct import Trajectory1d


def f64(values):
    return np.ascontiguousarray(values, dtype=np.float64)


def make_trajectory(knots, cpts, p, order=0, owner=True, cls=Trajectory1d):
    """A trajectory of class cls with the given arrays: n = len(cpts) - 1."""
    knots, cpts = f64(knots), f64(cpts)
    n = len(cpts) - 1
    assert len(knots) == n + p + 2, "knot count must be n + p + 2"
    t = cls()
    t._dset_data(knots.tobytes(), cpts.tobytes(), p, n, order, owner)
    return t


def cubic(order=0, owner=True, cls=Trajectory1d):
    """A cubic on [0, 2] with six control points."""
    return make_trajectory([0, 0, 0, 0, 0.5, 1.5, 2, 2, 2, 2],
                           [1.0, -2.0, 0.25, 3.5, 1e-3, 7.0], 3, order, owner, cls)


def arrays(t):
    """(knots, cpts) copies of a trajectory's arrays, read back from its state bytes."""
    return (np.frombuffer(t._sget_knotvector(), dtype=np.float64).copy(),
            np.frombuffer(t._sget_cpts(), dtype=np.float64).copy())
