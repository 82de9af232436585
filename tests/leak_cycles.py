"""One cycle of each operation family for the leak test: every successful form and every error
path the family has. Run as a script it repeats one family and prints, as JSON, how the resident
memory and the interpreter's allocated blocks moved in successive stretches after a warm-up:

    python tests/leak_cycles.py FAMILY [REPEATS]

Each error path is required to raise the exception it is meant to raise, so that a cycle really
walks the path it names.
"""

import copy
import gc
import json
import os
import pickle
import shutil
import sys
import tempfile
from collections import namedtuple

import numpy as np
from support.trajectories import clamped_knots, f64, trajectory

import pyorvex.defdatastruct as dds
from pyorvex.defdatastruct import Point1d, PyORVEXObject, Trajectory1d

BUFFER_ERRORS = (TypeError, ValueError, BufferError)


def expect(exc, fn, *args, **kwargs):
    try:
        fn(*args, **kwargs)
    except exc:
        return
    except Exception as other:
        raise AssertionError(f"{fn!r}{args!r}: {other!r} instead of {exc}") from other
    raise AssertionError(f"{fn!r}{args!r} did not raise {exc}")


def attempt(fn, *args, **kwargs):
    """Runs a call whose outcome (a result or an error) is not what the cycle is about."""
    try:
        fn(*args, **kwargs)
    except Exception:
        pass


def clamped(count, p=3, a=0.0, b=2.0, order=0, owner=True, cls=Trajectory1d):
    """A clamped spline of `count` control points on [a, b] with distinct interior knots."""
    interior = np.linspace(a, b, count - p + 1)[1:-1]
    cpts = np.sin(np.arange(count) * 0.7) + 2.0
    return trajectory(clamped_knots(interior, p, a, b), cpts, p, order, owner, cls)


# Small records keep their arrays in the interpreter's small-object allocator (counted by
# sys.getallocatedblocks); large ones in malloc (seen in the resident memory).
SMALL = 6
LARGE = 3000


class BadFloat:
    def __float__(self):
        raise RuntimeError("no float value")


class BadBool:
    def __bool__(self):
        raise RuntimeError("no truth value")


class Overrides(Trajectory1d):
    """Overrides whose results the module must refuse when it reaches them through its table."""

    def peval(self, x):
        return "not a float"

    def copy(self):
        return 5

    def _getAttrib(self):
        return ["not", "a", "dict"]

    def _sget_knotvector(self):
        return "not bytes"

    def dpeval(self, x, nu=1):
        raise RuntimeError("override failed")

    def ceval(self, xp):
        xp[0] = 1.0

    def dceval(self, xp, nu=1):
        raise RuntimeError("override failed")


Named = namedtuple("Named", "t val order")


class BaseSub(PyORVEXObject):
    pass


def has(cls, *names):
    return all(hasattr(cls, n) for n in names)


# --- families ---------------------------------------------------------------------------------------


def family_construction():
    knots = f64([0, 0, 0, 0, 0.5, 1.5, 2, 2, 2, 2]).tobytes()
    cpts = f64([1.0, -2.0, 0.25, 3.5, 1e-3, 7.0]).tobytes()
    big = clamped(LARGE)
    bk, bc = big._sget_knotvector(), big._sget_cpts()

    def cycle():
        t = Trajectory1d()
        t._dset_data(knots, cpts, 3, 5, 0, True)
        t._dset_data(bk, bc, 3, LARGE - 1, 1, False)  # replaces the arrays it holds
        t._dset_data(knots=knots, cpts=cpts, p=3, n=5, order=2, owner=0)
        u = Trajectory1d(1, 2, 3)
        u.__setstate__([bk, bc, 3, LARGE - 1, 0, True])
        u.__setstate__((knots, cpts, 3, 5, 0, False))
        s = Trajectory1d()
        expect(TypeError, s._dset_data, "knots", cpts, 3, 5, 0, True)
        expect(TypeError, s._dset_data, knots, bytearray(cpts), 3, 5, 0, True)
        expect(TypeError, s._dset_data, None, cpts, 3, 5, 0, True)
        expect(TypeError, s._dset_data, knots, None, 3, 5, 0, True)
        expect(TypeError, s._dset_data, knots, cpts, "3", 5, 0, True)
        expect(TypeError, s._dset_data, knots, cpts, 3, 5.5j, 0, True)
        expect(OverflowError, s._dset_data, knots, cpts, 3, 5, -1, True)
        expect(OverflowError, s._dset_data, knots, cpts, 2**40, 5, 0, True)
        expect(RuntimeError, s._dset_data, knots, cpts, 3, 5, 0, BadBool())
        expect(ValueError, s._dset_data, knots, cpts, -1, 5, 0, True)
        expect(ValueError, s._dset_data, knots, cpts, 3, -2, 0, True)
        expect(ValueError, s._dset_data, knots[:-8], cpts, 3, 5, 0, True)
        expect(ValueError, s._dset_data, knots, cpts[:-1], 3, 5, 0, True)
        expect(ValueError, s._dset_data, knots, cpts, 3, 2**31 - 1, 0, True)
        expect(TypeError, s._dset_data, knots, cpts, 3, 5, 0)
        expect(TypeError, s._dset_data, knots, cpts, 3, 5, 0, True, 1)
        expect(TypeError, s._dset_data, knots, cpts, 3, 5, 0, owner=True, extra=1)
        expect(TypeError, s._dset_data, knots, cpts, 3, 5, 0, True, p=3)
        expect(TypeError, s.__setstate__, 5)
        expect(TypeError, s.__setstate__, (knots, cpts))
        expect(TypeError, s.__setstate__, Trajectory1d().__getstate__())
        view = u.get_cpts_asarray()
        expect(BufferError, u._dset_data, knots, cpts, 3, 5, 0, True)
        del view
        expect(TypeError, t.__reduce_cython__)
        expect(TypeError, t.__setstate_cython__, None)

    return cycle


def family_views():
    small, large, empty = clamped(SMALL), clamped(LARGE), Trajectory1d()
    borrowed = clamped(SMALL, owner=False)

    def cycle():
        for t in (small, large, borrowed):
            c = t.get_cpts_asarray()
            k = t.get_knotvector_asarray()
            c[0] = c[0] + 0.0
            x = t.get_xcpts()
            assert x.size == c.size and k.size == c.size + t.p + 1
            del c, k
            t.get_cpts_asarray()[1] += 0.0
            t._sget_knotvector()
            t._sget_cpts()
            t.__getstate__()
        assert empty.get_cpts_asarray() is None and empty.get_knotvector_asarray() is None
        assert empty._sget_cpts() is None and empty.__getstate__()[0] is None
        expect(ValueError, empty.get_xcpts)
        expect(TypeError, small.get_xcpts, 1)
        expect(TypeError, small.get_cpts_asarray, 1)
        o = Overrides()
        o.__setstate__(small.__getstate__())
        expect(TypeError, o.__getstate__)
        expect(TypeError, pickle.dumps, o)

    return cycle


def family_evaluation():
    small, large, empty = clamped(SMALL), clamped(LARGE), Trajectory1d()
    xs_large = np.linspace(0.0, 2.0, 2000)
    unsorted = xs_large[::-1].copy()
    bad = Overrides()
    bad.__setstate__(small.__getstate__())

    def cycle():
        for t in (small, large):
            t.peval(0.5)
            t.peval(2)
            t.dpeval(1.0)
            t.dpeval(x=1.5, nu=2)
            t.dpeval(0.5, 0)
            t.ceval(np.linspace(0.0, 2.0, 5))
            t.ceval(np.array([1.0]))
            t.dceval(np.linspace(0.0, 2.0, 5), 2)
            t.dceval(xp=np.array([0.3, 0.4]))
            t(0.5)
            t(np.float64(0.25), 1)
            t(xs_large)
            t(unsorted, 1)
            t([1.5, 0.5, 1.0])
            t(np.array(0.5))
            t(np.array([1, 0]), nu=2)
            t.peval(float("nan"))
            # error paths
            expect(ValueError, t.peval, 2.5)
            expect(ValueError, t.peval, -1e-300)
            expect(TypeError, t.peval, "x")
            expect(RuntimeError, t.peval, BadFloat())
            expect(TypeError, t.peval)
            expect(TypeError, t.peval, 0.5, 1)
            expect(ValueError, t.dpeval, 3.0, 1)
            expect(ValueError, t.dpeval, 0.5, -1)
            expect(TypeError, t.dpeval, 0.5, "1")
            expect(TypeError, t.dpeval, 0.5, None)
            expect(OverflowError, t.dpeval, 0.5, 2**40)
            expect(TypeError, t.dpeval, 0.5, nu=1, mu=2)
            expect(ValueError, t.ceval, np.array([]))
            expect(ValueError, t.ceval, None)
            expect(ValueError, t.ceval, np.array([0.5, 0.5]))
            expect(ValueError, t.ceval, np.array([0.5, 2.5]))
            expect(ValueError, t.ceval, np.array([-1.0, 0.5]))
            expect(BUFFER_ERRORS, t.ceval, np.zeros(3, dtype=np.float32))
            expect(BUFFER_ERRORS, t.ceval, np.zeros((2, 2)))
            expect(BUFFER_ERRORS, t.ceval, np.zeros(6)[::2])
            ro = np.zeros(3)
            ro.setflags(write=False)
            expect(BUFFER_ERRORS, t.ceval, ro)
            expect(BUFFER_ERRORS, t.ceval, [0.1, 0.2])
            expect(ValueError, t.dceval, np.array([]), 1)
            expect(ValueError, t.dceval, np.array([0.5, 0.2]), 1)
            expect(ValueError, t.dceval, np.array([0.5, 3.0]), 1)
            expect(ValueError, t.dceval, np.array([0.5, 1.0]), -1)
            expect(TypeError, t.dceval, np.array([0.5, 1.0]), None)
            expect(BUFFER_ERRORS, t.dceval, np.zeros(2, dtype=np.int64), 1)
            expect(ValueError, t, 3.0)
            expect(ValueError, t, [0.5, 3.0])
            expect(ValueError, t, [0.5, 0.5])
            expect(ValueError, t, [0.5, float("nan")])
            expect(ValueError, t, [0.5, float("nan"), 0.2], 1)
            expect(ValueError, t, None)
            expect(ValueError, t.ceval, np.array([float("nan")]))
            expect(ValueError, t, [])
            expect(ValueError, t, [[0.1, 0.2]])
            expect(ValueError, t, 0.5, -1)
            expect(ValueError, t, [0.5], -1)
            expect((TypeError, ValueError), t, "x")
            expect((TypeError, ValueError), t, ["x", "y"])
            expect(TypeError, t, 0.5, "1")
            expect(TypeError, t, 0.5, 1, 2)
        for fn, args in (
            (empty.peval, (0.5,)),
            (empty.dpeval, (0.5, 1)),
            (empty.ceval, (np.array([0.5]),)),
            (empty.dceval, (np.array([0.5]), 1)),
            (empty, (0.5,)),
            (empty, ([0.5, 0.6],)),
        ):
            expect(ValueError, fn, *args)
        expect(TypeError, bad, 0.5)  # the override's result is not a float
        expect(RuntimeError, bad, 0.5, 1)  # the override raises
        bad([0.5, 0.2])  # array overrides get a copy they may keep
        expect(RuntimeError, bad, [0.5, 0.2], 1)

    return cycle


def family_calculus():
    small, large, empty = clamped(SMALL), clamped(LARGE), Trajectory1d()
    acc_small, acc_large = clamped(SMALL, order=2), clamped(LARGE, order=2)
    flat = trajectory([1.0, 1.0, 1.0, 1.0], [1.0, 2.0], 1)

    def cycle():
        for t, acc in ((small, acc_small), (large, acc_large)):
            t.derivative()
            t.derivative(2)
            t.derivative(nu=3)
            t.derivative(5)
            t.derivative(0)
            acc.antiderivative()
            acc.antiderivative(nu=2)
            t.antiderivative(0)
            t.degelev()
            t.degelev(2)
            t.degelev(nu=0)
            expect(ValueError, t.derivative, -1)
            expect(TypeError, t.derivative, "1")
            expect(TypeError, t.derivative, 1, 2)
            expect(ValueError, t.antiderivative, -2)
            expect(ValueError, t.antiderivative, 1)
            expect(ValueError, acc.antiderivative, 3)
            expect(TypeError, acc.antiderivative, None)
            expect(ValueError, t.degelev, -1)
            expect(TypeError, t.degelev, "1")
            expect(OverflowError, t.degelev, 2**40)
            if has(Trajectory1d, "rshift", "ashift", "hscale", "adapt"):
                c = t.copy()
                c.rshift(1.5)
                c.ashift(0.0)
                c.hscale(2.0)
                c.adapt(0.0, 2.0)
                c.adapt(start=0.0, stop=2.0)
                expect(ValueError, c.adapt, 1.0, 1.0)
                expect(ValueError, c.adapt, 2.0, 1.0)
                expect(TypeError, c.adapt, "a", 1.0)
                expect(RuntimeError, c.rshift, BadFloat())
                expect(TypeError, c.hscale, None)
                expect(TypeError, c.ashift)
                expect(TypeError, c.adapt, 0.0)
                expect(ValueError, c.ashift, 1.7e18)
                expect(OverflowError, c.hscale, 1e308)
        for fn in (empty.derivative, empty.degelev):
            expect(ValueError, fn, 1)
        e2 = trajectory([0.0, 1.0], [1.0], 0, order=1)
        e2.antiderivative()
        if has(Trajectory1d, "adapt"):
            expect(ZeroDivisionError, flat.adapt, 0.0, 1.0)
            expect(TypeError, empty.ashift, 1.0)
            expect(TypeError, empty.adapt, 0.0, 1.0)
            empty.rshift(1.0)
            empty.hscale(2.0)

    return cycle


def family_knots():
    small, large, empty = clamped(SMALL), clamped(LARGE), Trajectory1d()
    xs = np.linspace(0.01, 1.99, 200)

    def cycle():
        for t in (small, large):
            t.knotins(0.7, 1)
            t.knotins(u=1.0, r=3)
            t.knotins(0.0, 0)
            t.knotref(xs.copy())
            t.knotref(None)
            t.knotref(np.array([]))
            t.knotrem(0.5, 1)
            t.knotrem(0.5, 2, 1e-3)
            t.knotrem(u=1.3, r=5, tol=1e300)
            t.knotsrem()
            t.knotsrem(1e-2)
            t.knotsrem(tol=-1.0)
            t.knotrem_notol(0.5, 1)
            t.knotrem_notol(u=0.77, r=3)
            expect(ValueError, t.knotins, 2.5, 1)
            expect(ValueError, t.knotins, -0.5, -1)
            expect(ValueError, t.knotins, 0.5, -1)
            expect(ValueError, t.knotins, 0.5, 4)
            expect(TypeError, t.knotins, "u", 1)
            expect(TypeError, t.knotins, 0.5, "1")
            expect(OverflowError, t.knotins, 0.5, 2**40)
            expect(TypeError, t.knotins, 0.5)
            expect(ValueError, t.knotref, np.array([0.2, 0.2]))
            expect(ValueError, t.knotref, np.array([0.5, 0.3]))
            expect(BUFFER_ERRORS, t.knotref, np.array([0.2, 0.3], dtype=np.float32))
            expect(BUFFER_ERRORS, t.knotref, [0.2, 0.3])
            expect(TypeError, t.knotref, X=None)
            expect(ValueError, t.knotrem, 3.0, 1)
            expect(ValueError, t.knotrem, 0.5, -1)
            expect(TypeError, t.knotrem, 0.5, 1, "tol")
            expect(TypeError, t.knotrem, 0.5)
            expect(ValueError, t.knotrem_notol, -3.0, 1)
            expect(ValueError, t.knotrem_notol, 0.5, -2)
            expect(TypeError, t.knotrem_notol, 0.5, None)
            expect(TypeError, t.knotsrem, "tol")
            expect(TypeError, t.knotsrem, 1.0, 2.0)
        for fn, args in ((empty.knotref, (np.array([0.5]),)), (empty.knotsrem, ())):
            expect(ValueError, fn, *args)

    return cycle


def family_operators():
    small, large = clamped(SMALL), clamped(LARGE)
    other_small, other_large = clamped(SMALL + 3), clamped(LARGE + 7)
    quad = clamped(SMALL, p=2)
    shifted = clamped(SMALL, a=0.5)
    stretched = clamped(SMALL, b=3.0)
    vel = clamped(SMALL, order=1)
    empty = Trajectory1d()

    def cycle():
        for t, u in ((small, other_small), (large, other_large)):
            t + 1.5
            1.5 + t
            t - 2
            2 - t
            t * 3
            3 * t
            t / 4
            t + u
            t - u
            t.c_splcsum(u)
            r = t.copy()
            r += 1.0
            r -= 1.0
            r *= 2.0
            r /= 2.0
            -r
            r == t
            r != t
            t == 5
            expect(NotImplementedError, lambda: t * u)
            expect(NotImplementedError, t.c_splcmul, u)
            expect(NotImplementedError, t.c_splcmul, None)
            expect(TypeError, t.c_splcmul, 1.0)
            expect(TypeError, t.c_splcsum, None)
            expect(TypeError, t.c_splcsum, 1.0)
            expect(TypeError, t.c_splcsum)
            expect(TypeError, lambda: t + "a")
            expect(TypeError, lambda: t - None)
            expect(TypeError, lambda: "a" - t)
            expect(TypeError, lambda: t * "a")
            expect(ZeroDivisionError, lambda: t / 0)
            expect(ZeroDivisionError, lambda: t / 0.0)
            expect(TypeError, operator_iadd, r, "a")
            expect(TypeError, operator_iadd, r, u)
            expect(RuntimeError, operator_imul, r, BadFloat())
            expect(ZeroDivisionError, operator_itruediv, r, 0.0)
            expect(TypeError, lambda: t < u)
            expect(TypeError, hash, t)
            str(t)
            repr(t)
            t._getAttrib()
        for u in (quad, shifted, stretched, vel):
            expect(ValueError, lambda: small + u)
            expect(ValueError, lambda: small - u)
            expect(ValueError, small.c_splcsum, u)
        for fn in (lambda: empty + empty, lambda: empty == Trajectory1d()):
            expect(ValueError, fn)
        str(empty)
        repr(empty)
        empty._getAttrib()

    return cycle


def operator_iadd(a, b):
    a += b


def operator_imul(a, b):
    a *= b


def operator_itruediv(a, b):
    a /= b


def family_constraints():
    small, large = clamped(SMALL), clamped(LARGE)
    vel = clamped(SMALL, order=1)
    zero = trajectory([0.0, 0.0, 1.0, 1.0], [0.0, 0.0], 1)

    def cycle():
        for t in (small.copy(), large.copy()):
            t.setValueTr((0.5, 1.0, 0))
            t.setValueTr(Point1d(0.5, 1.0, 0))
            t.setValueTr(p=(1.5, 0.5, 0))
            expect(ValueError, t.setValueTr, (1.5, 0.5, 1))  # a constraint on the derivative
            expect(ValueError, t.setValueAm, (1.5, float("nan"), 1))
            expect(AttributeError, Trajectory1d.setValueTr.__signatures__["tuple"], t, None)
            t.setValueAm((0.5, 2.0, 0))
            t.setValueAm(Point1d(1.0, 3.0, 1))
            Trajectory1d.setValueTr(t, (0.25, 1.0, 0))
            expect(TypeError, t.setValueTr)
            expect(TypeError, t.setValueAm, [0.5, 1.0, 0])
            expect(TypeError, t.setValueTr, None)
            expect(TypeError, t.setValueTr, 1.0)
            expect(TypeError, t.setValueTr, Named(0.5, 1.0, 0))
            expect(IndexError, t.setValueTr, (0.5, 1.0))
            expect((TypeError, ValueError), t.setValueAm, (0.5, "x", 0))
            expect(OverflowError, t.setValueTr, (0.5, 1.0, -1))
            expect(ValueError, t.setValueTr, (5.0, 1.0, 0))
            expect(ValueError, t.setValueAm, (5.0, 1.0, 1))
        v = vel.copy()
        expect(ValueError, v.setValueTr, (0.5, 1.0, 0))
        v.setValueAm((0.5, 1.0, 0))
        z = zero.copy()
        expect(ZeroDivisionError, z.setValueAm, (0.5, 1.0, 0))
        expect(ValueError, Trajectory1d().setValueTr, (0.5, 1.0, 0))

    return cycle


def family_copy_pickle():
    small, large, empty = clamped(SMALL), clamped(LARGE), Trajectory1d()
    borrowed = clamped(LARGE, owner=False)
    bad = Overrides()
    bad.__setstate__(small.__getstate__())
    base = PyORVEXObject()
    unpickle = getattr(dds, "__pyx_unpickle_PyORVEXObject", None)
    try:
        pickle.dumps(base)
        base_pickles = True
    except TypeError:  # the base's pickling is not part of this build
        base_pickles = False

    def cycle():
        for t in (small, large, borrowed):
            t.copy()
            copy.copy(t)
            copy.deepcopy(t)
            for proto in range(2, pickle.HIGHEST_PROTOCOL + 1):
                back = pickle.loads(pickle.dumps(t, proto))
                assert back == t
        copy.copy(empty)
        empty.copy()
        expect(TypeError, copy.copy, bad)  # the override returns 5
        expect(TypeError, copy.deepcopy, bad)
        expect(TypeError, pickle.dumps, empty, 0)  # protocols below 2 need __reduce__
        if has(Point1d, "t"):
            expect(TypeError, pickle.dumps, Point1d(0.5, 1.0, 0))
        if not base_pickles:
            return
        pickle.loads(pickle.dumps(base))
        s = BaseSub()
        s.value = [1, 2]
        pickle.loads(pickle.dumps(s))
        copy.copy(s)
        expect(TypeError, base.__setstate__, None)
        expect(TypeError, base.__setstate__, 5)
        base.__setstate__(())
        if unpickle is not None:
            expect(pickle.PickleError, unpickle, PyORVEXObject, 0, None)
            expect(TypeError, unpickle, PyORVEXObject, "x", None)
            expect(TypeError, unpickle, int, 0xD41D8CD, None)
            expect(TypeError, unpickle, PyORVEXObject, 0xD41D8CD, 5)
            expect(TypeError, unpickle, PyORVEXObject, 0xD41D8CD, None, 1)
            unpickle(BaseSub, 0xD41D8CD, ({"a": 1},))

    return cycle


def family_point():
    class SubPoint(Point1d):
        def copy(self):
            return "not a point"

        def _getAttrib(self):
            return 5

    def cycle():
        p = Point1d(1.5, 2.0, 1)
        q = Point1d(t=1, val=2, order=1.7)
        Point1d.from_tuple((1.0, 2.0, 3))
        Point1d.from_tuple((1.0, 2.0, 3, 4))
        p.t = 2.5
        p.val = -1
        p.order = 4
        p.copy()
        copy.copy(p)
        copy.deepcopy(q)
        p == q
        p != q
        p == 5
        str(p)
        repr(p)
        p._getAttrib()
        expect(TypeError, Point1d, 1.0, 2.0)
        expect(TypeError, Point1d, 1.0, 2.0, 0, 1)
        expect(TypeError, Point1d, 1.0, 2.0, order=0, x=1)
        expect(TypeError, Point1d, 1.0, 2.0, 0, t=1.0)
        expect(OverflowError, Point1d, 1.0, 2.0, -1)
        expect(OverflowError, Point1d, 1.0, 2.0, 2**32)
        expect(TypeError, Point1d, 1.0, 2.0, "1")
        expect((TypeError, ValueError), Point1d, "x", 2.0, 0)
        expect(TypeError, Point1d, None, 2.0, 0)
        expect((TypeError, ValueError), setattr, p, "t", "x")
        expect(OverflowError, setattr, p, "order", -1)
        expect(TypeError, setattr, p, "order", None)
        expect(NotImplementedError, delattr, p, "t")
        expect(NotImplementedError, delattr, p, "order")
        expect(TypeError, Point1d.from_tuple, [1.0, 2.0, 3])
        expect(TypeError, Point1d.from_tuple, None)
        expect(IndexError, Point1d.from_tuple, (1.0, 2.0))
        expect((TypeError, ValueError), Point1d.from_tuple, (1.0, "x", 3))
        expect(OverflowError, Point1d.from_tuple, (1.0, 2.0, -3))
        expect(TypeError, lambda: p < q)
        expect(TypeError, hash, p)
        expect(TypeError, pickle.dumps, p)
        expect(TypeError, p.__setstate__, ())
        s = SubPoint(0.5, 1.0, 0)
        expect(TypeError, copy.copy, s)
        expect(TypeError, copy.deepcopy, s)

    return cycle


CORRUPT_DOCS = {
    # name: (bytes, Trajectory1d.loadxml error, Point1d.loadxml error) for the ID "a"
    "syntax": (b"<PyORVEXObjectList><Trajectory1d ID='a'", Exception, Exception),
    "no_id": (b"<PyORVEXObjectList/>", ValueError, ValueError),
    "no_p": (
        b"<PyORVEXObjectList><Trajectory1d ID='a' n='1' order='0' owner='True'>"
        b"<cpts>1 2</cpts><knots>0 0 1 1</knots></Trajectory1d>"
        b"<Point1d ID='a' val='1' order='0'/></PyORVEXObjectList>",
        TypeError,
        TypeError,
    ),
    "text_p": (
        b"<PyORVEXObjectList><Trajectory1d ID='a' p='one' n='1' order='0' owner='True'>"
        b"<cpts>1 2</cpts><knots>0 0 1 1</knots></Trajectory1d>"
        b"<Point1d ID='a' t='x' val='1' order='0'/></PyORVEXObjectList>",
        ValueError,
        ValueError,
    ),
    "huge_n": (
        b"<PyORVEXObjectList><Trajectory1d ID='a' p='1' n='2147483647' order='0' "
        b"owner='True'><cpts>1 2</cpts><knots>0 0 1 1</knots></Trajectory1d>"
        b"<Point1d ID='a' t='1' val='1' order='-1'/></PyORVEXObjectList>",
        (MemoryError, ValueError, OverflowError),
        OverflowError,
    ),
    "overflow_p": (
        b"<PyORVEXObjectList><Trajectory1d ID='a' p='2147483648' n='1' order='0' "
        b"owner='True'><cpts>1 2</cpts><knots>0 0 1 1</knots></Trajectory1d>"
        b"<Point1d ID='a' t='1' val='1' order='4294967296'/></PyORVEXObjectList>",
        OverflowError,
        OverflowError,
    ),
    "no_knots": (
        b"<PyORVEXObjectList><Trajectory1d ID='a' p='1' n='1' order='0' owner='True'>"
        b"<cpts>1 2</cpts></Trajectory1d></PyORVEXObjectList>",
        IndexError,
        ValueError,
    ),
    "empty_cpts": (
        b"<PyORVEXObjectList><Trajectory1d ID='a' p='1' n='1' order='0' "
        b"owner='True'><cpts/><knots>0 0 1 1</knots></Trajectory1d>"
        b"</PyORVEXObjectList>",
        AttributeError,
        ValueError,
    ),
    "bad_number": (
        b"<PyORVEXObjectList><Trajectory1d ID='a' p='1' n='1' order='0' "
        b"owner='True'><cpts>1  2</cpts><knots>0 0 1 1</knots></Trajectory1d>"
        b"</PyORVEXObjectList>",
        ValueError,
        ValueError,
    ),
    "short_knots": (
        b"<PyORVEXObjectList><Trajectory1d ID='a' p='1' n='1' order='0' "
        b"owner='True'><cpts>1 2</cpts><knots>0 0 1</knots></Trajectory1d>"
        b"</PyORVEXObjectList>",
        Exception,
        ValueError,
    ),
    "short_cpts": (
        b"<PyORVEXObjectList><Trajectory1d ID='a' p='3' n='5' order='0' "
        b"owner='True'><cpts>1 2</cpts><knots>0 0 0 0 1 2 3 3 3 3</knots>"
        b"</Trajectory1d></PyORVEXObjectList>",
        Exception,
        ValueError,
    ),
    "negative_p": (
        b"<PyORVEXObjectList><Trajectory1d ID='a' p='-5' n='1' order='0' "
        b"owner='True'><cpts>1 2</cpts><knots>0 0 1 1</knots></Trajectory1d>"
        b"</PyORVEXObjectList>",
        Exception,
        ValueError,
    ),
    "long_cpts": (
        b"<PyORVEXObjectList><Trajectory1d ID='a' p='1' n='1' order='0' "
        b"owner='True'><cpts>1 2 3</cpts><knots>0 0 1 1</knots></Trajectory1d>"
        b"</PyORVEXObjectList>",
        ValueError,
        ValueError,
    ),
    "nan_knot": (
        b"<PyORVEXObjectList><Trajectory1d ID='a' p='1' n='1' order='0' "
        b"owner='True'><cpts>1 2</cpts><knots>0 0 nan 1</knots></Trajectory1d>"
        b"</PyORVEXObjectList>",
        ValueError,
        ValueError,
    ),
    "decreasing_knots": (
        b"<PyORVEXObjectList><Trajectory1d ID='a' p='1' n='1' order='0' "
        b"owner='True'><cpts>1 2</cpts><knots>0 1 0.5 1</knots></Trajectory1d>"
        b"</PyORVEXObjectList>",
        ValueError,
        ValueError,
    ),
}

GOOD_DOCS = {
    # loads that succeed: owner missing or empty (a non-owning result), nan and inf control
    # points
    "no_owner": b"<PyORVEXObjectList><Trajectory1d ID='a' p='1' n='1' order='0'>"
    b"<cpts>1 2</cpts><knots>0 0 1 1</knots></Trajectory1d></PyORVEXObjectList>",
    "empty_owner": b"<PyORVEXObjectList><Trajectory1d ID='a' p='1' n='1' order='0' owner=''>"
    b"<cpts>nan inf</cpts><knots>0 0 1 1</knots></Trajectory1d>"
    b"</PyORVEXObjectList>",
}


def family_xml():
    if not has(PyORVEXObject, "savexml") or not has(Trajectory1d, "loadxml"):
        return None
    small, large = clamped(SMALL), clamped(LARGE)
    point = Point1d(1.5, -2.0, 1) if has(Point1d, "t") else None
    # saves are made durable on disk; memory-backed files keep the cycles fast
    shm = "/dev/shm" if os.path.isdir("/dev/shm") and os.access("/dev/shm", os.W_OK) else None
    work = tempfile.mkdtemp(prefix="pyorvex-leak-", dir=shm)
    files = {}
    for name, (data, _, _) in CORRUPT_DOCS.items():
        files[name] = os.path.join(work, name + ".xml")
        with open(files[name], "wb") as f:
            f.write(data)
    for name, data in GOOD_DOCS.items():
        files[name] = os.path.join(work, name + ".xml")
        with open(files[name], "wb") as f:
            f.write(data)
    wrong_root = os.path.join(work, "root.xml")
    with open(wrong_root, "wb") as f:
        f.write(b"<Other/>")
    twice = os.path.join(work, "twice.xml")
    with open(twice, "wb") as f:
        f.write(
            b"<PyORVEXObjectList><Trajectory1d ID='a'/><Trajectory1d ID='a'/>"
            b"<Point1d ID='a'/><Point1d ID='a'/></PyORVEXObjectList>"
        )
    childless = os.path.join(work, "childless.xml")
    with open(childless, "wb") as f:
        f.write(
            b"<PyORVEXObjectList><Trajectory1d ID='a' p='1' n='1' order='0' owner='True'/>"
            b"</PyORVEXObjectList>"
        )
    doc = os.path.join(work, "doc")  # saved as doc.pyorvex
    folder = os.path.join(work, "folder.xml")
    os.mkdir(folder)
    empty = Trajectory1d()

    class BadAttrib(Trajectory1d):
        def _getAttrib(self):
            return 5

    bad = BadAttrib()
    bad.__setstate__(small.__getstate__())

    def cycle():
        if os.path.exists(doc + ".pyorvex"):
            os.unlink(doc + ".pyorvex")
        small.savexml(doc, "a")  # a new document
        large.savexml(doc, "b")  # appended
        small.savexml(fname=doc, ID="b")  # updated
        large.savexml(doc, None)
        Trajectory1d.loadxml(doc, "a")
        Trajectory1d.loadxml(doc, "b")
        Trajectory1d.loadxml(doc, None)
        if point is not None:
            point.savexml(doc, "a")
            point.savexml(doc, "a")
            Point1d.loadxml(doc, "a")
        for name in GOOD_DOCS:
            t = Trajectory1d.loadxml(files[name], "a")
            assert t.n == 1
        for name, (_, traj_error, point_error) in CORRUPT_DOCS.items():
            expect(traj_error, Trajectory1d.loadxml, files[name], "a")
            if point is not None:
                expect(point_error, Point1d.loadxml, files[name], "a")
        expect(dds.CorruptedFileError, small.savexml, wrong_root, "a")
        expect(dds.CorruptedFileError, small.savexml, twice, "a")
        expect(IndexError, small.savexml, childless, "a")
        if point is not None:
            expect(dds.CorruptedFileError, point.savexml, twice, "a")
            expect(dds.CorruptedFileError, point.savexml, wrong_root, "a")
        expect(Exception, small.savexml, files["syntax"], "a")
        attempt(small.savexml, doc, "x'y")  # an apostrophe in the ID
        attempt(Trajectory1d.loadxml, doc, "x'y")
        expect(ValueError, Trajectory1d.loadxml, doc, "missing")
        expect(OSError, Trajectory1d.loadxml, os.path.join(work, "missing"), "a")
        expect(TypeError, Trajectory1d.loadxml, None, "a")
        expect(TypeError, Trajectory1d.loadxml, doc, 5)
        expect(TypeError, Trajectory1d.loadxml, doc)
        expect(TypeError, small.savexml, doc, 5)
        expect(TypeError, small.savexml, None, "a")
        expect(OSError, small.savexml, folder, "a")  # a directory
        expect(ValueError, empty.savexml, doc, "e")
        expect(TypeError, bad.savexml, doc, "bad")
        expect(NotImplementedError, PyORVEXObject().savexml, doc, "base")
        expect(NotImplementedError, PyORVEXObject.loadxml, doc, "a")

    cycle.cleanup = lambda: shutil.rmtree(work, ignore_errors=True)
    return cycle


def family_planning():
    import pyorvex.planning as pl
    from pyorvex.planning import _kernel

    small, large = clamped(SMALL), clamped(LARGE)
    times, values = np.linspace(0.0, 2.0, 50), np.cos(np.linspace(0.0, 6.0, 50))
    knots, cpts = f64(small.get_knotvector_asarray()), f64(small.get_cpts_asarray())
    bad_knots = knots.copy()
    bad_knots[1] = np.nan

    def cycle():
        for t in (small, large):
            pl.extrema(t, 2)
            pl.peak(t)
            pl.sample(t, 0.01, [0, 1, 5])
            pl.derivatives(t, np.r_[1.5, 0.5, 2.0], 4)
            pl.retime([t, small], velocity=1.0, jerk=5.0)
            pl.from_scipy(pl.to_scipy(t))
        pl.interpolate(times, values, 5)
        motion = pl.interpolate(times, np.c_[values, -values])
        pl.sample(pl.retime(motion, velocity=[1.0, 2.0]), 0.05, [0, 1])
        pl.limits_report(motion, acceleration=3.0)
        expect(ValueError, pl.interpolate, times, values, 5, (0.0,))
        expect(ValueError, pl.derivatives, small, [0.5, 3.0], 1)
        expect(ValueError, pl.retime, small, velocity=-1.0)
        expect(ValueError, pl.extrema, Trajectory1d())
        # the extension's own refusals, past the Python checks
        one, four = np.ones(1), np.empty(4)
        expect(ValueError, _kernel.extrema, bad_knots, cpts, 1, 3, one, four)
        expect(ValueError, _kernel.extrema, knots, cpts, 1, 2000, one, four)
        expect(ValueError, _kernel.extrema, knots, cpts, 2, 3, one, four)
        expect(ValueError, _kernel.derivatives, knots, cpts, 1, 3, times, 0, 1, np.empty(3))
        expect(
            ValueError,
            _kernel.interpolate,
            times,
            values,
            1,
            3,
            np.zeros(1),
            np.zeros(0),
            np.empty(56),
            np.empty(52),
            1e-9,
        )
        expect(TypeError, _kernel.interpolate, times, values, 1, "3", times, times, times, times, 0)
        expect(ValueError, pl.interpolate, times[:12] * 500, values[:12], 5, (0, 0, 0, 1.0), ())

    return cycle


FAMILIES = {
    "construction": (family_construction, ("_dset_data",), 3000),
    "views": (family_views, ("get_cpts_asarray", "get_xcpts"), 3000),
    "evaluation": (family_evaluation, ("peval", "dpeval", "ceval", "dceval"), 1000),
    "calculus": (family_calculus, ("derivative", "antiderivative", "degelev"), 1000),
    "knots": (family_knots, ("knotins", "knotref", "knotrem", "knotsrem", "knotrem_notol"), 1000),
    "operators": (family_operators, ("c_splcsum", "__add__"), 1500),
    "constraints": (family_constraints, ("setValueTr", "setValueAm"), 2000),
    "copy_pickle": (family_copy_pickle, ("copy", "__getstate__"), 1500),
    "point": (family_point, (), 3000),
    "xml": (family_xml, ("savexml", "loadxml"), 900),
    "planning": (family_planning, (), 600),
}


def missing(family):
    _, needs, _ = FAMILIES[family]
    gone = [n for n in needs if not hasattr(Trajectory1d, n)]
    if family == "point" and not has(Point1d, "t", "val", "order", "from_tuple", "copy"):
        gone.append("Point1d")
    if family == "constraints" and not has(Point1d, "t"):
        gone.append("Point1d")
    return gone


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def measure(family, repeats, windows=3):
    """Growth of the resident memory and of the allocated blocks in each of `windows` equal
    stretches of `repeats` cycles after a warm-up. A leak grows in every stretch; the noise of
    caches and allocator arenas does not."""
    factory, _, default = FAMILIES[family]
    repeats = repeats or default
    per_window = max(repeats // windows, 1)
    cycle = factory()
    rss, blocks = [], []
    try:
        for _ in range(max(per_window, 50)):  # warm-up: one stretch
            cycle()
        for _ in range(windows):
            gc.collect()
            rss0, blocks0 = resident_bytes(), sys.getallocatedblocks()
            for _ in range(per_window):
                cycle()
            gc.collect()
            rss.append(resident_bytes() - rss0)
            blocks.append(sys.getallocatedblocks() - blocks0)
    finally:
        getattr(cycle, "cleanup", lambda: None)()
    return {
        "family": family,
        "cycles_per_window": per_window,
        "rss_growth": rss,
        "blocks_growth": blocks,
    }


def main(argv):
    family = argv[1]
    repeats = int(argv[2]) if len(argv) > 2 else 0
    gone = missing(family)
    if gone:
        print(json.dumps({"family": family, "missing": gone}))
        return 0
    print(json.dumps(measure(family, repeats)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
