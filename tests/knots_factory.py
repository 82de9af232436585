"""Trajectories for the knot and algebra tests, an independent evaluator, and C-level access."""

import ctypes

import numpy as np
from scipy.interpolate import BSpline

from pyorvex.defdatastruct import Trajectory1d


def make(knots, cpts, p, order=0, cls=Trajectory1d):
    knots = np.ascontiguousarray(knots, dtype=np.float64)
    cpts = np.ascontiguousarray(cpts, dtype=np.float64)
    t = cls()
    t._dset_data(knots.tobytes(), cpts.tobytes(), p, cpts.size - 1, order, True)
    return t


def clamped_knots(interior, p, a=0.0, b=1.0):
    return np.concatenate([[a] * (p + 1), np.sort(interior), [b] * (p + 1)])


def random_spline(rng, p, n_interior, a=0.0, b=1.0, order=0, cls=Trajectory1d):
    """A clamped spline on [a, b] with distinct random interior knots and random coefficients."""
    interior = np.unique(rng.uniform(a, b, n_interior))
    knots = clamped_knots(interior, p, a, b)
    cpts = rng.uniform(-2.0, 2.0, knots.size - p - 1)
    return make(knots, cpts, p, order, cls)


def knots_of(t):
    return np.frombuffer(t._sget_knotvector(), dtype=np.float64).copy()


def cpts_of(t):
    return np.frombuffer(t._sget_cpts(), dtype=np.float64).copy()


def state(t):
    """Everything a trajectory holds, for before/after comparisons."""
    return (t._sget_knotvector(), t._sget_cpts(), t.p, t.n, t.order)


def values(t, x):
    """The curve at x in [start, stop], by scipy's evaluation.

    An end knot repeated more than p + 1 times carries basis functions that vanish everywhere;
    they are dropped first, since scipy would take the right end from such an empty span.
    """
    knots, cpts, p = knots_of(t), cpts_of(t), t.p
    while cpts.size > 1 and knots[p + 1] == knots[0]:
        knots, cpts = knots[1:], cpts[1:]
    while cpts.size > 1 and knots[-p - 2] == knots[-1]:
        knots, cpts = knots[:-1], cpts[:-1]
    spline = BSpline(knots, cpts, p, extrapolate=False)
    return spline(np.asarray(x, dtype=np.float64))


def grid(t, count=201):
    return np.linspace(t.start, t.stop, count)


# --- the C-level method table, as another native module sees it ------------------------------------

_SLOTS = {"c_splcsum": 11, "c_splcmul": 12, "knotins": 28, "knotref": 29, "knotrem": 30,
          "knotsrem": 31, "knotrem_notol": 32}


class DView(ctypes.Structure):
    _fields_ = [("data", ctypes.c_void_p), ("size", ctypes.c_ssize_t)]


class OptTol(ctypes.Structure):
    _fields_ = [("n_given", ctypes.c_int), ("tol", ctypes.c_double)]


_SIGNATURES = {
    "c_splcsum": (ctypes.py_object, ctypes.py_object, ctypes.c_int),
    "c_splcmul": (ctypes.py_object, ctypes.py_object, ctypes.c_int),
    "knotins": (ctypes.py_object, ctypes.c_double, ctypes.c_int, ctypes.c_int),
    "knotref": (ctypes.py_object, DView, ctypes.c_int),
    "knotrem": (ctypes.py_object, ctypes.c_double, ctypes.c_int, ctypes.c_int,
                ctypes.POINTER(OptTol)),
    "knotsrem": (ctypes.py_object, ctypes.c_int, ctypes.POINTER(OptTol)),
    "knotrem_notol": (ctypes.py_object, ctypes.c_double, ctypes.c_int, ctypes.c_int),
}


def vtable_op(name):
    """The C-level operation `name` of Trajectory1d, callable from Python through ctypes."""
    get = ctypes.pythonapi.PyCapsule_GetPointer
    get.restype = ctypes.c_void_p
    get.argtypes = [ctypes.py_object, ctypes.c_char_p]
    table = get(Trajectory1d.__dict__["__pyx_vtable__"], None)
    address = ctypes.c_void_p.from_address(table + _SLOTS[name] * ctypes.sizeof(ctypes.c_void_p))
    proto = ctypes.PYFUNCTYPE(ctypes.py_object, *_SIGNATURES[name])
    return proto(address.value)


def dview(arr):
    return DView(arr.ctypes.data, arr.size)


def opt_tol(tol=None):
    return None if tol is None else ctypes.pointer(OptTol(1, tol))
