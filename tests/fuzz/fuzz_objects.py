#!/usr/bin/env python3
"""atheris harness over the whole object surface of pyorvex.defdatastruct.

Each input is read as a short program: it builds records (well-formed splines, records of
arbitrary bytes and numbers through _dset_data and __setstate__, empty records, records of a
Python subclass whose overrides answer with arbitrary values), calls the methods, properties,
operators and protocols of Trajectory1d, Point1d and PyORVEXObject on them with arbitrary
arguments, and loads mutated XML documents (truncated, flipped bytes, missing or duplicated
attributes and children, huge sizes, NaN and inf texts).

Python code that the module runs on the way (overrides, properties, numpy looked up in the
module's globals, number conversions, garbage-collector callbacks) may give the trajectory being
worked on new arrays.

Every call must end in a result or an ordinary Python exception. A crash, a sanitizer report,
a SystemError (an error set without being reported, or a result returned with an error set),
a hang, or a failed call that changed its operands is a finding: the harness lets it escape
and libFuzzer stops with the input that caused it.

    python tests/fuzz/fuzz_objects.py [libFuzzer options] [corpus dirs]

Families whose methods the module does not have yet are skipped.
"""

import copy
import gc
import inspect
import math
import operator
import os
import pickle
import re
import shutil
import sys
import tempfile
from collections import namedtuple

import atheris

with atheris.instrument_imports(include=["pyorvex"]):
    import numpy as np

    import pyorvex.defdatastruct as dds

from pyorvex.defdatastruct import Point1d, PyORVEXObject, Trajectory1d

try:
    from lxml import etree
except ImportError:  # pragma: no cover - lxml is a dependency of the package
    etree = None

INF = math.inf
NAN = math.nan

SPECIAL_FLOATS = [
    0.0,
    -0.0,
    1.0,
    -1.0,
    0.5,
    2.0,
    1e-300,
    5e-324,
    -5e-324,
    1e308,
    -1e308,
    1.7976931348623157e308,
    INF,
    -INF,
    NAN,
    2.0**53,
    1e-13,
    1e16,
    3.0,
    -2.5,
]
SPECIAL_INTS = [
    0,
    1,
    2,
    3,
    4,
    -1,
    -2,
    7,
    2**31 - 1,
    -(2**31),
    2**31,
    2**32 - 1,
    2**32,
    2**63,
    -(2**63) - 1,
    10**6,
    2**30,
]
NUMBER_TEXTS = [
    "2147483647",
    "2147483648",
    "-2147483648",
    "-1",
    "0",
    "1",
    "3",
    "nan",
    "inf",
    "-inf",
    "1e400",
    "",
    " ",
    "  3 ",
    "0x10",
    "1_0",
    "\u0663",
    "9" * 40,
    "1.5",
    "True",
    "False",
    "-0",
    "+2",
    "NaN",
    "Infinity",
    "\x00",
]


def has(cls, *names):
    return all(hasattr(cls, name) for name in names)


NamedPoint = namedtuple("NamedPoint", "t val order")


class Finding(Exception):
    """A behaviour the harness treats as a fault."""


# --- arbitrary values ----------------------------------------------------------------------------


class BadNumber:
    """A number whose conversions fail or answer strangely."""

    def __init__(self, mode):
        self.mode = mode

    def __float__(self):
        if self.mode == 0:
            raise RuntimeError("no float")
        if self.mode == 1:
            return "not a float"
        return 0.25

    def __index__(self):
        if self.mode == 2:
            raise RuntimeError("no index")
        return 2**40 if self.mode == 3 else 1

    def __neg__(self):
        raise RuntimeError("no negation")

    def __pow__(self, other):
        raise RuntimeError("no power")


class Fuzz:
    """The decisions of one input, read from the fuzzer's bytes."""

    def __init__(self, data):
        self.fdp = atheris.FuzzedDataProvider(data)

    def left(self):
        return self.fdp.remaining_bytes()

    def int_in(self, lo, hi):
        return self.fdp.ConsumeIntInRange(lo, hi)

    def bool(self):
        return self.fdp.ConsumeBool()

    def pick(self, seq):
        return seq[self.fdp.ConsumeIntInRange(0, len(seq) - 1)]

    def small_int(self):
        kind = self.int_in(0, 3)
        if kind == 0:
            return self.int_in(-2, 8)
        if kind == 1:
            return self.pick(SPECIAL_INTS)
        if kind == 2:
            return self.fdp.ConsumeInt(4)
        return self.int_in(0, 3)

    def real(self, t=None):
        kind = self.int_in(0, 5)
        if kind == 0:
            return self.pick(SPECIAL_FLOATS)
        if kind == 1:
            return self.fdp.ConsumeFloat()
        if kind in (2, 3) and t is not None and t.start is not None:
            a, b = t.start, t.stop
            which = self.int_in(0, 4)
            if which == 0:
                return a
            if which == 1:
                return b
            if which == 2:
                return math.nextafter(a, -INF)
            if which == 3:
                return math.nextafter(b, INF)
            frac = self.fdp.ConsumeProbability()
            return a + (b - a) * frac
        if kind == 4:
            return self.fdp.ConsumeRegularFloat()
        return float(self.int_in(-4, 4)) / 2.0

    def number_like(self, t=None):
        kind = self.int_in(0, 6)
        if kind == 0:
            return self.small_int()
        if kind == 1:
            return np.float64(self.real(t))
        if kind == 2:
            return BadNumber(self.int_in(0, 3))
        if kind == 3:
            return self.pick([None, "1.5", b"2", [1.0], (1.0,), True, 1 + 2j, object()])
        return self.real(t)

    def values(self, count, t=None):
        return [self.real(t) for _ in range(count)]

    def sorted_in_domain(self, t, count):
        if t is None or t.start is None:
            return sorted(self.values(count))
        a, b = t.start, t.stop
        return sorted(a + (b - a) * self.fdp.ConsumeProbability() for _ in range(count))

    def array(self, t=None):
        """An abscissa array: mostly a writable float64 vector, sometimes anything else."""
        kind = self.int_in(0, 12)
        count = self.int_in(0, 12)
        if kind <= 4:
            return np.array(self.sorted_in_domain(t, count), dtype=np.float64)
        if kind == 5:
            return np.array(self.values(count, t), dtype=np.float64)
        if kind == 6:
            return None
        if kind == 7:
            arr = np.array(self.sorted_in_domain(t, count), dtype=np.float64)
            arr.setflags(write=False)
            return arr
        if kind == 8:
            return np.arange(count).astype(
                self.pick([np.float32, np.int64, np.complex128, np.float16])
            )
        if kind == 9:
            return np.array(self.sorted_in_domain(t, 2 * count), dtype=np.float64)[::2]
        if kind == 10:
            return np.zeros((count, 2))
        if kind == 11:
            return self.sorted_in_domain(t, count)
        return self.pick(
            [
                bytearray(8 * count),
                memoryview(bytes(8 * count)),
                "abc",
                3.0,
                np.float64(0.5),
                np.array(0.5),
            ]
        )

    def bytes_of(self, size):
        if size <= 0:
            return b""
        return (
            self.fdp.ConsumeBytes(min(size, 4096)).ljust(size, b"\0")
            if size <= 4096
            else self.fdp.ConsumeBytes(64)
        )


# --- records --------------------------------------------------------------------------------------


def f64bytes(values):
    return np.ascontiguousarray(values, dtype=np.float64).tobytes()


def well_formed(fz, cls=Trajectory1d):
    """A clamped or unclamped spline with a non-decreasing knot vector."""
    p = fz.int_in(0, 5)
    interior = fz.int_in(0, 10)
    a = fz.pick([0.0, -1.0, 2.0, 1e-3, -1e6, fz.real()])
    width = fz.pick([1.0, 2.0, 0.5, 1e-9, 1e9, 0.0, fz.real()])
    b = a + width
    kind = fz.int_in(0, 3)
    inner = sorted(a + (b - a) * fz.fdp.ConsumeProbability() for _ in range(interior))
    # repeated interior knots
    if inner and fz.bool():
        inner = sorted(inner + [inner[0]] * fz.int_in(1, p + 2))
    if kind == 0:  # clamped
        knots = [a] * (p + 1) + inner + [b] * (p + 1)
    elif kind == 1:  # unclamped
        knots = sorted(
            [a - 1.0 - i for i in range(p)] + [a] + inner + [b] + [b + 1.0 + i for i in range(p)]
        )
    elif kind == 2:  # end knots repeated beyond p + 1
        extra = fz.int_in(1, 3)
        knots = [a] * (p + 1 + extra) + inner + [b] * (p + 1 + fz.int_in(0, 3))
    else:  # everything in one value, or anything sorted
        knots = sorted(fz.values(p + 2 + interior))
    n = len(knots) - p - 2
    if n < 0:
        knots = knots + [knots[-1] if knots else 0.0] * (-n)
        n = 0
    cpts = [
        fz.real() if fz.int_in(0, 7) == 0 else fz.fdp.ConsumeProbability() * 4 - 2
        for _ in range(n + 1)
    ]
    t = cls()
    t._dset_data(f64bytes(knots), f64bytes(cpts), p, n, fz.int_in(0, 4), fz.int_in(0, 5) != 0)
    return t


def raw_record(fz, cls=Trajectory1d):
    """Arbitrary bytes and numbers through _dset_data or __setstate__; may fail."""
    exact = fz.bool()
    p = fz.small_int() if not exact else fz.int_in(0, 8)
    n = fz.small_int() if not exact else fz.int_in(0, 20)
    nk = n + p + 2 if exact else fz.int_in(0, 40)
    nc = n + 1 if exact else fz.int_in(0, 30)
    knots = fz.bytes_of(8 * nk + (fz.int_in(-8, 8) if not exact else 0))
    cpts = fz.bytes_of(8 * nc)
    order = fz.small_int()
    owner = fz.pick([True, False, 0, 1, None, "", "x", BadBool()])
    t = cls()
    how = fz.int_in(0, 4)
    if how == 0:
        state = [
            fz.pick([knots, None, bytearray(knots), "s"]),
            fz.pick([cpts, None, cpts]),
            p,
            n,
            order,
            owner,
        ]
        if fz.bool():
            del state[fz.int_in(0, 5) :]
        if fz.bool():
            state.append(fz.pick([1, None]))
        call(t.__setstate__, fz.pick([tuple(state), state, iter(state), None, 5]))
    elif how == 1:
        call(t._dset_data, knots=knots, cpts=cpts, p=p, n=n, order=order, owner=owner)
    else:
        call(t._dset_data, knots, cpts, p, n, order, owner)
    return t


class BadBool:
    def __bool__(self):
        raise RuntimeError("no truth value")


class Wild(Trajectory1d):
    """A subclass whose overridable operations answer with values chosen by the input."""

    answers = {}

    def _answer(self, name, *args):
        kind = Wild.answers.get(name, 0)
        if kind == 0:
            return getattr(Trajectory1d, name)(self, *args)
        if kind == 1:
            return None
        if kind == 2:
            return 5
        if kind == 3:
            return "text"
        if kind == 4:
            raise RuntimeError("override failed")
        if kind == 5:
            return Trajectory1d()
        if kind == 6:
            return {1: 2} if name == "_getAttrib" else b"\0" * 24
        return self

    for _name in [
        "peval",
        "dpeval",
        "ceval",
        "dceval",
        "copy",
        "derivative",
        "antiderivative",
        "degelev",
        "knotins",
        "knotref",
        "knotrem",
        "knotsrem",
        "knotrem_notol",
        "c_splcsum",
        "c_splcmul",
        "_sget_knotvector",
        "_sget_cpts",
        "_dset_data",
        "_getAttrib",
        "_addPyORVEXObject",
        "_updatePyORVEXObject",
        "rshift",
        "ashift",
        "hscale",
        "adapt",
        "setValueTr",
        "setValueAm",
        "savexml",
    ]:
        if hasattr(Trajectory1d, _name):
            exec(f"def {_name}(self, *args):\n    return self._answer({_name!r}, *args)")
    del _name


class WildPoint(Point1d if hasattr(Point1d, "copy") else object):
    answers = {}

    def copy(self):
        kind = WildPoint.answers.get("copy", 0)
        return [lambda: Point1d.copy(self), lambda: None, lambda: 5, lambda: Trajectory1d()][kind]()

    def _getAttrib(self):
        kind = WildPoint.answers.get("_getAttrib", 0)
        return [
            lambda: Point1d._getAttrib(self),
            lambda: None,
            lambda: 5,
            lambda: {1: "x"},
            lambda: {"t": 5},
        ][kind]()


# --- calling -------------------------------------------------------------------------------------


def call(fn, *args, **kwargs):
    """Calls fn; an ordinary exception is an answer, a SystemError is a finding."""
    try:
        return fn(*args, **kwargs)
    except SystemError:
        raise
    except RecursionError:
        raise
    except Exception:
        return None


def snapshot(obj):
    if type(obj) is Trajectory1d:
        return obj.__getstate__()
    if type(obj) is Point1d and has(Point1d, "t", "val", "order"):
        return (repr(obj.t), repr(obj.val), obj.order)
    return None


def check_record(t):
    """Invariants every trajectory keeps, whatever made it."""
    if not isinstance(t, Trajectory1d):
        return
    p, n = t.p, t.n
    knots, cpts = Trajectory1d._sget_knotvector(t), Trajectory1d._sget_cpts(t)
    if knots is not None or cpts is not None:
        if p < 0 or n < 0:
            raise Finding(f"record with p = {p}, n = {n}")
        if len(knots) != 8 * (n + p + 2) or len(cpts) != 8 * (n + 1):
            raise Finding("array sizes disagree with p and n")
        if t.start is None or t.stop is None:
            raise Finding("start/stop missing on a record with arrays")


def guarded(fn, target, operands, *args, **kwargs):
    """Calls fn; when it fails, the plain Trajectory1d/Point1d operands must be unchanged."""
    before = [(o, snapshot(o)) for o in operands]
    try:
        return fn(*args, **kwargs)
    except SystemError:
        raise
    except RecursionError:
        raise
    except Exception as exc:
        for obj, snap in before:
            if snap is not None and snapshot(obj) != snap:
                raise Finding(f"{target} failed with {exc!r} after changing an operand")
        return None


# --- the operations -------------------------------------------------------------------------------

TRAJ_OPS = []


def op(*needs):
    def register(fn):
        if has(Trajectory1d, *needs):
            TRAJ_OPS.append(fn)
        return fn

    return register


@op("peval")
def op_peval(fz, t, pool):
    x = fz.number_like(t) if fz.int_in(0, 5) == 0 else fz.real(t)
    return guarded(t.peval, "peval", [t], x)


@op("dpeval")
def op_dpeval(fz, t, pool):
    x = fz.real(t)
    nu = fz.small_int() if fz.int_in(0, 3) == 0 else fz.int_in(-1, 8)
    if fz.bool():
        return guarded(t.dpeval, "dpeval", [t], x, nu)
    return (
        guarded(t.dpeval, "dpeval", [t], x=x, nu=nu)
        if fz.bool()
        else guarded(t.dpeval, "dpeval", [t], x)
    )


@op("ceval")
def op_ceval(fz, t, pool):
    xp = fz.array(t)
    before = xp.copy() if isinstance(xp, np.ndarray) else None
    try:
        t.ceval(xp)
    except SystemError:
        raise
    except Exception as exc:
        if before is not None and before.tobytes() != xp.tobytes():
            raise Finding(
                f"ceval failed with {exc!r} after overwriting its array: "
                f"{before!r} -> {xp!r} on {t.__getstate__()!r}"
            )


@op("dceval")
def op_dceval(fz, t, pool):
    xp = fz.array(t)
    nu = fz.int_in(-1, 8) if fz.bool() else fz.number_like()
    before = xp.copy() if isinstance(xp, np.ndarray) else None
    try:
        t.dceval(xp, nu) if fz.bool() else t.dceval(xp=xp, nu=nu)
    except SystemError:
        raise
    except Exception as exc:
        if before is not None and before.tobytes() != xp.tobytes():
            raise Finding(
                f"dceval failed with {exc!r} after overwriting its array: "
                f"{before!r} -> {xp!r} on {t.__getstate__()!r}"
            )


@op("__call__")
def op_call(fz, t, pool):
    kind = fz.int_in(0, 4)
    if kind == 0:
        x = fz.real(t)
    elif kind == 1:
        x = fz.array(t)
    elif kind == 2:
        vals = fz.sorted_in_domain(t, fz.int_in(0, 9))
        x = [vals[i] for i in sorted(range(len(vals)), key=lambda i: fz.int_in(0, 9))]
    elif kind == 3:
        x = np.array(fz.sorted_in_domain(t, 6)).reshape(fz.pick([(6,), (2, 3), (1, 6), (6, 1)]))
    else:
        x = fz.number_like(t)
    xcopy = x.copy() if isinstance(x, np.ndarray) else None
    nu = fz.int_in(-1, 6) if fz.int_in(0, 3) else fz.number_like()
    res = guarded(t, "__call__", [t], x, nu) if fz.bool() else guarded(t, "__call__", [t], x)
    if isinstance(x, np.ndarray) and isinstance(xcopy, np.ndarray):
        if x.tobytes() != xcopy.tobytes():
            raise Finding("the call operator changed its argument")
    return res


@op("derivative", "antiderivative", "degelev")
def op_calculus(fz, t, pool):
    name = fz.pick(["derivative", "antiderivative", "degelev"])
    nu = fz.int_in(-2, 8) if fz.int_in(0, 4) else fz.number_like()
    if name == "degelev" and isinstance(nu, int) and nu > 64:
        nu = 64 + nu % 64  # the result grows with nu; keep it bounded
    if name == "antiderivative" and isinstance(nu, int) and nu > 64:
        nu = 64 + nu % 64
    fn = getattr(t, name)
    return guarded(fn, name, [t], nu) if fz.bool() else guarded(fn, name, [t], nu=nu)


@op("rshift", "ashift", "hscale", "adapt")
def op_transform(fz, t, pool):
    name = fz.pick(["rshift", "ashift", "hscale", "adapt"])
    if name == "adapt":
        a, b = fz.real(t), fz.real(t)
        return (
            guarded(t.adapt, "adapt", [t], a, b)
            if fz.bool()
            else guarded(t.adapt, "adapt", [t], start=a, stop=fz.number_like(t))
        )
    x = fz.real(t) if fz.int_in(0, 4) else fz.number_like(t)
    return guarded(getattr(t, name), name, [t], x)


@op("knotins", "knotref")
def op_insert(fz, t, pool):
    if fz.bool():
        u = fz.real(t) if fz.int_in(0, 4) else fz.number_like(t)
        r = fz.int_in(-1, 6) if fz.int_in(0, 4) else fz.number_like()
        return (
            guarded(t.knotins, "knotins", [t], u, r)
            if fz.bool()
            else guarded(t.knotins, "knotins", [t], u=u, r=r)
        )
    X = fz.array(t)
    return guarded(t.knotref, "knotref", [t], X)


@op("knotrem", "knotsrem", "knotrem_notol")
def op_remove(fz, t, pool):
    which = fz.int_in(0, 2)
    tol = (
        fz.pick([1e-13, 0.0, -1.0, 1e300, INF, NAN, 1e-3, 1.0])
        if fz.int_in(0, 5)
        else fz.number_like()
    )
    if which == 2:
        return (
            guarded(t.knotsrem, "knotsrem", [t], tol)
            if fz.bool()
            else guarded(t.knotsrem, "knotsrem", [t])
        )
    knots = Trajectory1d._sget_knotvector(t)
    if knots and fz.bool():
        vals = np.frombuffer(knots, dtype=np.float64)
        u = float(vals[fz.int_in(0, len(vals) - 1)])
    else:
        u = fz.real(t)
    r = fz.int_in(-1, 8) if fz.int_in(0, 4) else fz.small_int()
    if which == 0:
        return (
            guarded(t.knotrem, "knotrem", [t], u, r, tol)
            if fz.bool()
            else guarded(t.knotrem, "knotrem", [t], u, r)
        )
    return guarded(t.knotrem_notol, "knotrem_notol", [t], u, r)


@op("c_splcsum", "c_splcmul")
def op_sum(fz, t, pool):
    other = fz.pick(pool) if fz.int_in(0, 5) else fz.number_like(t)
    if fz.bool() and isinstance(other, Trajectory1d) and t.start is not None:
        # a partner on the same domain, the same degree and order, often
        other = same_domain(fz, t)
    name = fz.pick(["c_splcsum", "c_splcmul"])
    return guarded(getattr(t, name), name, [t, other], other)


def same_domain(fz, t):
    p = t.p
    interior = sorted(
        t.start + (t.stop - t.start) * fz.fdp.ConsumeProbability() for _ in range(fz.int_in(0, 6))
    )
    knots = [t.start] * (p + 1) + interior + [t.stop] * (p + 1)
    n = len(knots) - p - 2
    o = Trajectory1d()
    o._dset_data(f64bytes(knots), f64bytes([fz.real() for _ in range(n + 1)]), p, n, t.order, True)
    return o


@op("__add__")
def op_number(fz, t, pool):
    other = fz.pick(pool) if fz.int_in(0, 3) == 0 else fz.number_like(t)
    name = fz.pick(
        [
            "add",
            "radd",
            "sub",
            "rsub",
            "mul",
            "rmul",
            "truediv",
            "rtruediv",
            "iadd",
            "isub",
            "imul",
            "itruediv",
            "neg",
            "pos",
            "abs",
            "pow",
            "floordiv",
            "mod",
            "matmul",
            "invert",
            "lshift",
        ]
    )
    operands = [t] + ([other] if isinstance(other, Trajectory1d) else [])
    if name == "isub" and isinstance(other, Trajectory1d):
        operands = [t]  # t -= U negates U before the conversion refuses it
    fns = {
        "add": lambda: t + other,
        "radd": lambda: other + t,
        "sub": lambda: t - other,
        "rsub": lambda: other - t,
        "mul": lambda: t * other,
        "rmul": lambda: other * t,
        "truediv": lambda: t / other,
        "rtruediv": lambda: other / t,
        "iadd": lambda: operator.iadd(t, other),
        "isub": lambda: operator.isub(t, other),
        "imul": lambda: operator.imul(t, other),
        "itruediv": lambda: operator.itruediv(t, other),
        "neg": lambda: -t,
        "pos": lambda: +t,
        "abs": lambda: abs(t),
        "pow": lambda: t**other,
        "floordiv": lambda: t // other,
        "mod": lambda: t % other,
        "matmul": lambda: t @ other,
        "invert": lambda: ~t,
        "lshift": lambda: t << other,
    }
    return guarded(fns[name], name, operands)


@op("setValueTr", "setValueAm")
def op_constraint(fz, t, pool):
    name = fz.pick(["setValueTr", "setValueAm"])
    kind = fz.int_in(0, 5)
    tt, val = fz.real(t), fz.real()
    order = fz.int_in(0, 6) if fz.int_in(0, 3) else fz.small_int()
    if kind == 0 and has(Point1d, "t"):
        pt = call(Point1d, tt, val, order) or Point1d(0.0, 0.0, 0)
    elif kind == 1:
        pt = (tt, val, order)
    elif kind == 2:
        pt = fz.pick(
            [
                (tt, val),
                (tt,),
                (),
                (tt, val, order, 1),
                [tt, val, order],
                None,
                (tt, "x", order),
                (BadNumber(0), val, order),
                (tt, val, -1),
            ]
        )
    elif kind == 3:
        pt = NamedPoint(tt, val, order)
    elif kind == 4 and has(Point1d, "t"):
        pt = call(WildPoint, tt, val, order) if WildPoint is not object else (tt, val, order)
    else:
        pt = fz.number_like(t)
    fn = getattr(t, name)
    how = fz.int_in(0, 3)
    if how == 0:
        return guarded(fn, name, [t], p=pt)
    if how == 1:
        return guarded(getattr(Trajectory1d, name), name, [t], t, pt)
    if how == 2:
        return guarded(fn, name, [t])
    return guarded(fn, name, [t], pt)


@op("copy", "get_cpts_asarray", "get_knotvector_asarray", "get_xcpts")
def op_record(fz, t, pool):
    kind = fz.int_in(0, 13)
    if kind == 0:
        return call(t.copy)
    if kind == 1:
        return call(copy.copy, t)
    if kind == 2:
        return call(copy.deepcopy, t)
    if kind == 3:
        v = call(t.get_cpts_asarray)
        if isinstance(v, np.ndarray) and v.size:
            v[fz.int_in(0, v.size - 1)] = fz.real()
        return v
    if kind == 4:
        v = call(t.get_knotvector_asarray)
        if isinstance(v, np.ndarray) and v.size:
            v[fz.int_in(0, v.size - 1)] = fz.real(t)
        if fz.bool():
            # replacing the arrays while a view exists must be refused, not crash
            call(t._dset_data, f64bytes([0.0, 1.0]), f64bytes([1.0]), 0, 0, 0, True)
        return None
    if kind == 5:
        return call(t.get_xcpts)
    if kind == 6:
        data = call(pickle.dumps, t, fz.int_in(0, pickle.HIGHEST_PROTOCOL))
        if data is not None:
            back = call(pickle.loads, data)
            if back is not None and type(t) is Trajectory1d and snapshot(back) != snapshot(t):
                raise Finding("pickle round trip changed the record")
            return back
        return None
    if kind == 7:
        return call(t.__getstate__)
    if kind == 8:
        state = call(t.__getstate__)
        fresh = Trajectory1d()
        if state is not None:
            call(fresh.__setstate__, state)
        return fresh
    if kind == 9:
        other = fz.pick(pool)
        for cmp in (operator.eq, operator.ne, operator.lt, operator.ge):
            call(cmp, t, other)
            call(cmp, other, t)
        return None
    if kind == 10:
        call(str, t)
        call(repr, t)
        call(hash, t)
        call(format, t, fz.pick(["", "x", "10"]))
        return call(t._getAttrib)
    if kind == 11:
        for name in ("p", "n", "order", "start", "stop"):
            call(getattr, t, name)
            call(setattr, t, name, 1)
            call(delattr, t, name)
        return None
    if kind == 12:
        return call(t.__reduce_ex__, fz.int_in(0, 5))
    return call(Trajectory1d.__init__, t, *fz.values(fz.int_in(0, 3)))


@op("_dset_data")
def op_reset(fz, t, pool):
    src = raw_record(fz)
    state = call(src.__getstate__)
    if state is not None and fz.bool():
        return guarded(t.__setstate__, "__setstate__", [t], state)
    return guarded(
        t._dset_data,
        "_dset_data",
        [t],
        fz.bytes_of(8 * fz.int_in(0, 12)),
        fz.bytes_of(8 * fz.int_in(0, 8)),
        fz.small_int(),
        fz.small_int(),
        fz.small_int(),
        fz.bool(),
    )


# --- points and the base ----------------------------------------------------------------------------


def point_ops(fz, pool):
    if not has(Point1d, "t", "val", "order"):
        return
    kind = fz.int_in(0, 9)
    args = [fz.number_like(), fz.number_like(), fz.number_like()]
    if kind == 0:
        pt = call(Point1d, *args[: fz.int_in(0, 4)])
    elif kind == 1:
        pt = call(
            Point1d.from_tuple,
            fz.pick([tuple(args), tuple(args[:2]), (), None, args, tuple(args) + (1,)]),
        )
    else:
        pt = call(Point1d, fz.real(), fz.real(), fz.int_in(0, 5))
    if not isinstance(pt, Point1d):
        return
    pool.append(pt)
    if kind == 3:
        for name in ("t", "val", "order"):
            guarded(setattr, "setattr", [pt], pt, name, fz.number_like())
            call(delattr, pt, name)
    elif kind == 4:
        call(copy.copy, pt)
        call(copy.deepcopy, pt)
        call(pt.copy)
    elif kind == 5:
        call(pickle.dumps, pt)
        call(pt.__reduce__)
        call(pt.__setstate__, fz.pick([(), None, (1,)]))
    elif kind == 6:
        other = fz.pick(pool)
        for cmp in (operator.eq, operator.ne, operator.lt):
            call(cmp, pt, other)
            call(cmp, other, pt)
        call(hash, pt)
    elif kind == 7:
        call(str, pt)
        call(repr, pt)
        call(pt._getAttrib)
    elif kind == 8 and WildPoint is not object:
        w = call(WildPoint, fz.real(), fz.real(), fz.int_in(0, 3))
        if w is not None:
            WildPoint.answers = {"copy": fz.int_in(0, 3), "_getAttrib": fz.int_in(0, 4)}
            call(copy.copy, w)
            call(str, w)
            pool.append(w)


def base_ops(fz, pool):
    kind = fz.int_in(0, 5)
    b = PyORVEXObject()
    if kind == 0:
        data = call(pickle.dumps, b, fz.int_in(0, pickle.HIGHEST_PROTOCOL))
        if data is not None:
            call(pickle.loads, data)
    elif kind == 1:
        call(b.__setstate__, fz.pick([None, (), ({},), ({"a": 1},), 5, ([],), (None,)]))
    elif kind == 2:
        unpickle = getattr(dds, "__pyx_unpickle_PyORVEXObject", None)
        if unpickle is not None:
            call(
                unpickle,
                fz.pick([PyORVEXObject, Trajectory1d, Point1d, int, 5, None]),
                fz.pick([0xD41D8CD, 0, -1, 2**70, "x", None]),
                fz.pick([None, (), ({},), ({"a": 1},), 5, [], ({1: 2},)]),
            )
    elif kind == 3:
        call(b._getAttrib)
        call(b._addPyORVEXObject, None, None)
        call(b._updatePyORVEXObject, None, None, None)
        call(PyORVEXObject.loadxml, "x", "y")
    elif kind == 4:
        call(copy.copy, b)
        call(copy.deepcopy, b)
    else:

        class Sub(PyORVEXObject):
            pass

        s = Sub()
        s.a = fz.real()
        data = call(pickle.dumps, s)
        if data is not None:
            call(pickle.loads, data)


# --- XML documents ----------------------------------------------------------------------------------


class Documents:
    def __init__(self):
        base = "/dev/shm" if os.path.isdir("/dev/shm") else None
        self.dir = tempfile.mkdtemp(prefix="pyorvex-fuzz-", dir=base)

    def path(self, name):
        return os.path.join(self.dir, name)

    def clear(self):
        for name in os.listdir(self.dir):
            full = os.path.join(self.dir, name)
            if os.path.isdir(full):
                shutil.rmtree(full, ignore_errors=True)
            else:
                os.unlink(full)


DOCS = None


def mutate_element(fz, root, el):
    kind = fz.int_in(0, 11)
    if kind == 0 and el.attrib:
        del el.attrib[fz.pick(list(el.attrib))]
    elif kind == 1:
        el.set(
            fz.pick(["p", "n", "order", "owner", "t", "val", "ID", "start", "stop"]),
            fz.pick(NUMBER_TEXTS),
        )
    elif kind == 2 and len(el):
        el.remove(fz.pick(list(el)))
    elif kind == 3 and len(el):
        el.append(copy.deepcopy(fz.pick(list(el))))
    elif kind == 4 and el.tag in ("cpts", "knots"):
        words = (el.text or "").split(" ")
        choice = fz.int_in(0, 6)
        if choice == 0:
            words = words[: fz.int_in(0, len(words))]
        elif choice == 1:
            words = words + words
        elif choice == 2 and words:
            words[fz.int_in(0, len(words) - 1)] = fz.pick(NUMBER_TEXTS)
        elif choice == 3:
            el.text = None
            return
        elif choice == 4:
            el.text = fz.pick(["", " ", "  ", "\n", "1  2", " 1 2 ", "1\t2", "nan inf -inf"])
            return
        elif choice == 5:
            words = [fz.pick(NUMBER_TEXTS) for _ in range(fz.int_in(0, 30))]
        el.text = " ".join(words)
    elif kind == 5 and el is not root:
        el.getparent().append(copy.deepcopy(el))
    elif kind == 6:
        el.tag = fz.pick(["Trajectory1d", "Point1d", "cpts", "knots", "PyORVEXObjectList", "Other"])
    elif kind == 7:
        el.append(etree.Comment("c"))
    elif kind == 8 and el is not root:
        sub = etree.SubElement(el, fz.pick(["cpts", "knots", "Trajectory1d"]))
        sub.text = fz.pick(["1 2 3", "", "nan"])
    elif kind == 9:
        el.text = fz.pick([None, "text", " ", "1 2"])
    elif kind == 10 and el.tag in ("Trajectory1d", "Point1d"):
        el.set("n", fz.pick(["2147483647", "2147483646", "1073741823", "-2", "-2147483648"]))
        if fz.bool():
            el.set("p", fz.pick(["2147483647", "-2147483648", "-1", "0", "100"]))


def mutate_tree(fz, data):
    if etree is None:
        return data
    try:
        root = etree.fromstring(data)
    except Exception:
        return data
    for _ in range(fz.int_in(0, 4)):
        elems = [el for el in root.iter() if isinstance(el.tag, str)]
        el = fz.pick(elems)
        try:
            mutate_element(fz, root, el)
        except (ValueError, TypeError, AttributeError):
            pass  # lxml refuses some edits (texts, comment tags); byte mutations remain
    return etree.tostring(root, xml_declaration=fz.bool(), encoding="utf-8")


def mutate_bytes(fz, data):
    data = bytearray(data)
    for _ in range(fz.int_in(0, 3)):
        if not data:
            break
        kind = fz.int_in(0, 3)
        pos = fz.int_in(0, len(data) - 1)
        if kind == 0:
            del data[pos:]
        elif kind == 1:
            data[pos] ^= 1 << fz.int_in(0, 7)
        elif kind == 2:
            data[pos:pos] = fz.fdp.ConsumeBytes(fz.int_in(1, 8))
        else:
            data[pos] = fz.int_in(0, 255)
    return bytes(data)


def xml_ops(fz, pool):
    if not has(PyORVEXObject, "savexml") or not has(Trajectory1d, "loadxml"):
        return
    DOCS.clear()
    fname = DOCS.path("doc.pyorvex")
    ids = ["a", "b", "None", "", "x'y", "\u00e9"]
    for _ in range(fz.int_in(0, 3)):
        obj = fz.pick(pool)
        ID = fz.pick(ids + [None])
        if isinstance(obj, (Trajectory1d, Point1d)):
            guarded(obj.savexml, "savexml", [obj], fname, ID)
    if not os.path.isfile(fname):
        with open(fname, "wb") as f:
            f.write(
                b"<?xml version='1.0' encoding='utf-8'?>\n<PyORVEXObjectList>"
                b'<Trajectory1d ID="a" p="1" n="1" owner="True" order="0">'
                b"<cpts>1.0 2.0</cpts><knots>0.0 0.0 1.0 1.0</knots></Trajectory1d>"
                b'<Point1d ID="a" t="0.5" val="1.0" order="0"/></PyORVEXObjectList>\n'
            )
    data = read_file(fname)
    kind = fz.int_in(0, 3)
    if kind in (0, 1):
        data = mutate_tree(fz, data)
    if kind in (1, 2):
        data = mutate_bytes(fz, data)
    with open(fname, "wb") as f:
        f.write(data)
    for _ in range(fz.int_in(1, 4)):
        which = fz.int_in(0, 6)
        ID = fz.pick(ids + [None, 5])
        if which <= 2:
            t = call(Trajectory1d.loadxml, fname, ID)
            if t is not None:
                check_record(t)
                pool.append(t)
        elif which == 3 and has(Point1d, "loadxml", "t"):
            pt = call(Point1d.loadxml, fname, ID)
            if pt is not None:
                pool.append(pt)
        elif which == 4:
            obj = fz.pick(pool)
            if isinstance(obj, (Trajectory1d, Point1d, PyORVEXObject)):
                before = read_file(fname)
                try:
                    obj.savexml(fname, ID)
                except (SystemError, RecursionError):
                    raise
                except Exception:
                    if read_file(fname) != before:
                        raise Finding("a refused save changed the file")
        elif which == 5:
            call(
                Trajectory1d.loadxml,
                fz.pick([None, DOCS.path("missing"), DOCS.dir, DOCS.path("doc"), 5, b"x"]),
                ID,
            )
        elif etree is not None:
            obj = fz.pick(pool)
            tree = call(etree.parse, fname)
            root = tree.getroot() if tree is not None else None
            if isinstance(obj, (Trajectory1d, Point1d)):
                call(obj._addPyORVEXObject, fz.pick([root, None, 5, etree.Element("x")]), ID)
                node = root[0] if root is not None and len(root) else None
                call(
                    obj._updatePyORVEXObject,
                    fz.pick([tree, None, root]),
                    fz.pick([node, None, 5]),
                    ID,
                )


# --- re-entrant changes -----------------------------------------------------------------------------
# Python code that the module runs while it works (overrides, properties, numpy looked up in the
# module's globals, number conversions, garbage-collector callbacks) gives the trajectory being
# worked on new arrays. The module must not go on using the arrays it had before.


class Mutation:
    def __init__(self, fz, target):
        self.target = target
        self.left = fz.int_in(1, 3)
        kind = fz.int_in(0, 2)
        p, n = max(target.p, 0), max(target.n, 0)
        if kind == 1 or target.start is None:
            p, n = fz.int_in(0, 3), fz.int_in(0, 4)
        elif kind == 2:
            p, n = p + fz.int_in(0, 2), n + fz.int_in(1, 40)
        a = fz.pick([0.0, -1.0, target.start if target.start is not None else 0.5])
        b = a + fz.pick([1.0, 2.0, 1e-3])
        knots = sorted(a + (b - a) * fz.fdp.ConsumeProbability() for _ in range(n + p + 2))
        knots[0], knots[-1] = a, b
        self.state = (f64bytes(knots), f64bytes(fz.values(n + 1)), p, n, target.order, fz.bool())

    def __call__(self, *args):
        if self.left > 0:
            self.left -= 1
            try:
                Trajectory1d._dset_data(self.target, *self.state)
            except (BufferError, ValueError, TypeError):
                pass


class NumpyProxy:
    def __init__(self, hook):
        self._hook = hook

    def __getattr__(self, name):
        self._hook()
        return getattr(np, name)


class MutatingNumber:
    def __init__(self, hook, value):
        self.hook, self.value = hook, value

    def __float__(self):
        self.hook()
        return float(self.value)

    def __index__(self):
        self.hook()
        return int(self.value) if math.isfinite(self.value) else 1

    def __neg__(self):
        self.hook()
        return -self.value

    def __pow__(self, other):
        self.hook()
        return self.value**other if self.value else 1.0


class Reentrant(Trajectory1d):
    """Every overridable operation, and start and stop, first runs the hook."""

    hook = staticmethod(lambda *args: None)

    start = property(lambda self: (Reentrant.hook(), Trajectory1d.start.__get__(self))[1])
    stop = property(lambda self: (Reentrant.hook(), Trajectory1d.stop.__get__(self))[1])

    @property
    def __class__(self):
        Reentrant.hook()
        return Reentrant

    for _name in [
        "peval",
        "dpeval",
        "ceval",
        "dceval",
        "copy",
        "derivative",
        "antiderivative",
        "degelev",
        "knotins",
        "knotref",
        "knotrem",
        "knotsrem",
        "knotrem_notol",
        "c_splcsum",
        "c_splcmul",
        "_sget_knotvector",
        "_sget_cpts",
        "_getAttrib",
        "rshift",
        "ashift",
        "hscale",
        "adapt",
        "__iadd__",
        "__isub__",
        "__imul__",
        "__itruediv__",
    ]:
        if hasattr(Trajectory1d, _name):
            exec(
                f"def {_name}(self, *args):\n"
                f"    Reentrant.hook()\n"
                f"    return Trajectory1d.{_name}(self, *args)"
            )
    del _name


class ReentrantPoint(Point1d if hasattr(Point1d, "t") else object):
    hook = staticmethod(lambda *args: None)

    def _get(self, name):
        ReentrantPoint.hook()
        return getattr(Point1d, name).__get__(self)

    t = property(lambda self: self._get("t"))
    val = property(lambda self: self._get("val"))
    order = property(lambda self: self._get("order"))


def reentrant_ops(fz, pool):
    source = fz.pick([t for t in pool if isinstance(t, Trajectory1d)])
    plain = fz.bool()
    target = Trajectory1d() if plain else Reentrant()
    knots, cpts = Trajectory1d._sget_knotvector(source), Trajectory1d._sget_cpts(source)
    if knots is not None:
        call(
            Trajectory1d._dset_data,
            target,
            knots,
            cpts,
            source.p,
            source.n,
            source.order,
            fz.bool(),
        )
    hook = Mutation(fz, target)
    route = fz.int_in(0, 3)
    saved_np, thresholds = dds.np, gc.get_threshold()
    Reentrant.hook = staticmethod(hook)
    ReentrantPoint.hook = staticmethod(hook)
    try:
        if route == 0:
            dds.np = NumpyProxy(hook)
        elif route == 1:
            gc.callbacks.append(hook)
            gc.set_threshold(1, 1, 1)
        kind = fz.int_in(0, 6)
        if kind <= 3 and TRAJ_OPS:
            ops = TRAJ_OPS + [op_planning]
            res = fz.pick(ops)(fz, target, pool)
        elif kind == 4:
            x = MutatingNumber(hook, fz.real(target))
            name = fz.pick(
                [
                    "peval",
                    "dpeval",
                    "knotins",
                    "knotrem",
                    "rshift",
                    "ashift",
                    "hscale",
                    "__iadd__",
                    "__isub__",
                    "__imul__",
                    "__itruediv__",
                    "derivative",
                    "degelev",
                ]
            )
            res = call(getattr(target, name), *([x, MutatingNumber(hook, 1.0)][: fz.int_in(1, 2)]))
        elif kind == 5 and ReentrantPoint is not object:
            pt = call(ReentrantPoint, fz.real(target), fz.real(), fz.int_in(0, 3))
            res = call(getattr(target, fz.pick(["setValueTr", "setValueAm"])), pt)
        else:
            res = call(
                fz.pick(
                    [
                        target.get_xcpts,
                        target.copy,
                        lambda: target == source,
                        lambda: str(target),
                        target.__getstate__,
                        lambda: target + source,
                        lambda: target - 1.0,
                    ]
                )
            )
        if isinstance(res, Trajectory1d):
            check_record(res)
    finally:
        dds.np = saved_np
        if hook in gc.callbacks:
            gc.callbacks.remove(hook)
        gc.set_threshold(*thresholds)
        Reentrant.hook = ReentrantPoint.hook = staticmethod(lambda *args: None)
    check_record(target)


# The planning functions answer a result, TypeError or ValueError; anything else (an OverflowError
# from a C conversion other than a derivative's refusal, an IndexError) is a finding, except the errors that the harness's own
# objects raise (BadNumber's conversions, a Wild override) passing through as they are, and
# MemoryError for a result that does not fit (derivatives up to an order of 2**40).
PLANNING_ERRORS = (TypeError, ValueError, MemoryError)
# A derivative too large for a double is refused with this message, and only with it.
DERIVATIVE_OVERFLOW = re.compile(r"the derivative of order \d+ overflows a double")
HARNESS_ERRORS = {"no float", "no index", "no negation", "no power", "override failed"}


def planning_call(fn, t, *args, **kwargs):
    before = snapshot(t)
    try:
        return fn(*args, **kwargs)
    except PLANNING_ERRORS:
        return None
    except OverflowError as exc:
        if not DERIVATIVE_OVERFLOW.fullmatch(str(exc)):
            raise
        return None
    except RuntimeError as exc:
        if str(exc) not in HARNESS_ERRORS:
            raise
        return None
    finally:
        if before is not None and snapshot(t) != before:
            raise Finding(f"{fn.__name__} changed its trajectory")


def planning_order(fz):
    return fz.int_in(-1, 9) if fz.int_in(0, 4) else fz.pick([2**31, 2**40, fz.number_like()])


def op_planning(fz, t, pool):
    from pyorvex import planning as pl

    kind = fz.int_in(0, 6)
    if kind == 0:
        return planning_call(fz.pick([pl.extrema, pl.peak]), t, t, planning_order(fz))
    if kind == 1:
        nu = fz.int_in(-1, 9) if fz.int_in(0, 4) else fz.number_like()
        return planning_call(pl.derivatives, t, t, fz.array(t), nu)
    if kind == 2:
        # a step that keeps the grid small (sample's memory grows with the tick count)
        width = (t.stop - t.start) if t.start is not None else 1.0
        odd = fz.pick([0.0, -1.0, NAN, INF, 1e-300, "0.1", None, True, BadNumber(fz.int_in(0, 3))])
        dt = width / fz.int_in(1, 5000) if fz.int_in(0, 3) else odd
        nu = fz.pick([fz.int_in(-1, 6), [fz.int_in(-1, 6) for _ in range(fz.int_in(0, 3))]])
        return planning_call(pl.sample, t, t, dt, nu)
    if kind == 3:
        axes = t if fz.bool() else [t] + [fz.pick(pool) for _ in range(fz.int_in(0, 2))]
        limits = {
            name: fz.real() if fz.int_in(0, 3) else fz.number_like()
            for name in ("velocity", "acceleration", "jerk")
            if fz.bool()
        }
        fn = fz.pick([pl.retime, pl.time_scale])
        res = planning_call(fn, t, axes, **limits)
        return res if isinstance(res, Trajectory1d) else None
    if kind == 4:
        bspline = planning_call(pl.to_scipy, t, t)
        return None if bspline is None else planning_call(pl.from_scipy, t, bspline, t.order)
    count = fz.int_in(0, 8)
    p = fz.int_in(-1, 7) if fz.int_in(0, 4) else fz.number_like()
    heads = fz.int_in(0, 6)
    times = fz.array(t) if fz.bool() else fz.sorted_in_domain(t, count)
    return planning_call(
        pl.interpolate,
        t,
        times,
        fz.values(count, t),
        p,
        fz.values(heads),
        fz.values(fz.int_in(0, 6)),
    )


# --- one input --------------------------------------------------------------------------------------


def make_pool(fz):
    pool = [Trajectory1d()]
    for _ in range(fz.int_in(1, 3)):
        kind = fz.int_in(0, 5)
        cls = Wild if kind == 5 else Trajectory1d
        try:
            t = well_formed(fz, cls) if kind <= 2 or kind == 5 else raw_record(fz, cls)
        except (SystemError, RecursionError):
            raise
        except Exception:
            continue
        pool.append(t)
    return pool


def test_one_input(data):
    fz = Fuzz(data)
    Wild.answers = {}
    pool = make_pool(fz)
    for name in list(vars(Wild)):
        if not name.startswith("_") or name in (
            "_sget_knotvector",
            "_sget_cpts",
            "_dset_data",
            "_getAttrib",
            "_addPyORVEXObject",
            "_updatePyORVEXObject",
        ):
            if fz.int_in(0, 3) == 0:
                Wild.answers[name] = fz.int_in(0, 7)
    steps = 0
    while fz.left() > 0 and steps < 40:
        steps += 1
        family = fz.int_in(0, 12)
        if family <= 8 and TRAJ_OPS:
            target = fz.pick([t for t in pool if isinstance(t, Trajectory1d)])
            ops = TRAJ_OPS + [op_planning]
            res = fz.pick(ops)(fz, target, pool)
            if isinstance(res, Trajectory1d):
                check_record(res)
                if len(pool) < 12:
                    pool.append(res)
        elif family == 9:
            point_ops(fz, pool)
        elif family == 10:
            base_ops(fz, pool)
        elif family == 11:
            xml_ops(fz, pool)
        else:
            reentrant_ops(fz, pool)
    for t in pool:
        if isinstance(t, Trajectory1d) and type(t) is Trajectory1d:
            check_record(t)


def read_file(name):
    with open(name, "rb") as f:
        return f.read()


def instrument_harness():
    """Python-level coverage of the harness itself guides the fuzzer through its decisions."""
    for obj in list(globals().values()):
        if inspect.isfunction(obj) and obj.__module__ == __name__:
            atheris.instrument_func(obj)
        elif inspect.isclass(obj) and obj.__module__ == __name__:
            for member in vars(obj).values():
                if inspect.isfunction(member):
                    atheris.instrument_func(member)


def main():
    global DOCS
    DOCS = Documents()
    instrument_harness()
    try:
        atheris.Setup(sys.argv, test_one_input)
        atheris.Fuzz()
    finally:
        shutil.rmtree(DOCS.dir, ignore_errors=True)


if __name__ == "__main__":
    main()
