"""Trajectories and C-level handles for the point and constraint tests."""

import ctypes

import numpy as np
from scipy.interpolate import BSpline

from pyorvex.defdatastruct import Point1d, Trajectory1d

CUBIC_KNOTS = [0.0, 0.0, 0.0, 0.0, 0.3, 0.5, 0.8, 2.0, 2.0, 2.0, 2.0]
CUBIC_CPTS = [1.0, -0.5, 2.0, 3.5, 0.25, -1.0, 4.0]


def make_traj(knots=CUBIC_KNOTS, cpts=CUBIC_CPTS, p=3, order=0, cls=Trajectory1d):
    knots = np.asarray(knots, dtype=np.float64)
    cpts = np.asarray(cpts, dtype=np.float64)
    traj = cls()
    traj._dset_data(knots.tobytes(), cpts.tobytes(), p, len(cpts) - 1, order, True)
    return traj


def knots_of(traj):
    return np.frombuffer(traj._sget_knotvector(), dtype=np.float64).copy()


def cpts_of(traj):
    return np.frombuffer(traj._sget_cpts(), dtype=np.float64).copy()


def oracle(traj):
    """The trajectory as a scipy spline, an evaluator independent of the module."""
    return BSpline(knots_of(traj), cpts_of(traj), traj.p)


def record(traj):
    """Everything of a trajectory that an operation could change."""
    return (traj.p, traj.n, traj.order, traj._sget_knotvector(), traj._sget_cpts())


_capsule_pointer = ctypes.pythonapi.PyCapsule_GetPointer
_capsule_pointer.argtypes = [ctypes.py_object, ctypes.c_char_p]
_capsule_pointer.restype = ctypes.c_void_p


def capsule_pointer(capsule, name=None):
    return _capsule_pointer(capsule, name)


def vtable_entry(cls, index, prototype):
    """Entry `index` of the C-level method table of `cls`, callable from Python with the
    interpreter lock held (an exception set by the entry is raised)."""
    table = capsule_pointer(cls.__dict__["__pyx_vtable__"])
    address = ctypes.c_void_p.from_address(table + index * ctypes.sizeof(ctypes.c_void_p)).value
    assert address, f"entry {index} of the method table is empty"
    return prototype(address)


class Spy(Point1d):
    """A point that logs which of its attributes are read, in order."""

    def __init__(self, *args):
        super().__init__(*args)
        self.log = []

    def _read(name):
        def get(self):
            self.log.append(name)
            return getattr(Point1d, name).__get__(self)
        return property(get)

    t, val, order = _read("t"), _read("val"), _read("order")
