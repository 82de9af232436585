"""The C-level method tables of the types, called through ctypes as another native module calls
them (pyorvex/defdatastruct.h). Entries are named as the header's fields; a derived table starts
with the base's entries, named "base.<field>"."""

import ctypes

from pyorvex.defdatastruct import Point1d, PyORVEXObject, Trajectory1d

_BASE = ["c_loadxml", "_getAttrib", "_addPyORVEXObject", "_updatePyORVEXObject", "savexml"]
_DERIVED = ["base." + name for name in _BASE]
ENTRIES = {
    PyORVEXObject: _BASE,
    Point1d: _DERIVED + ["c_loadxml", "copy"],
    Trajectory1d: _DERIVED
    + [
        "from_ptrs",
        "new_struct",
        "c_loadxml",
        "c_eq",
        "c_vshift",
        "c_vscale",
        "c_splcsum",
        "c_splcmul",
        "_sget_knotvector",
        "_sget_cpts",
        "_dset_data",
        "peval",
        "ceval",
        "dpeval",
        "dceval",
        "c_hshift",
        "rshift",
        "ashift",
        "c_hscale",
        "hscale",
        "adapt",
        "derivative",
        "antiderivative",
        "knotins",
        "knotref",
        "knotrem",
        "knotsrem",
        "knotrem_notol",
        "copy",
        "degelev",
        "setValueTr_point",
        "setValueTr_tuple",
        "setValueAm_point",
        "setValueAm_tuple",
    ],
}


class DView(ctypes.Structure):
    _fields_ = [("data", ctypes.c_void_p), ("size", ctypes.c_ssize_t)]


class OptNu(ctypes.Structure):
    _fields_ = [("n_given", ctypes.c_int), ("nu", ctypes.c_int)]


class OptTol(ctypes.Structure):
    _fields_ = [("n_given", ctypes.c_int), ("tol", ctypes.c_double)]


_o, _d, _i = ctypes.py_object, ctypes.c_double, ctypes.c_int
_nu, _tol = ctypes.POINTER(OptNu), ctypes.POINTER(OptTol)
# (result, arguments) of the entries the tests call, by field name.
_SIGNATURES = {
    "c_loadxml": (_o, _o, _o),
    "_getAttrib": (_o, _o, _i),
    "savexml": (_i, _o, _o, _o, _i),
    "copy": (_o, _o, _i),
    "c_splcsum": (_o, _o, _o, _i),
    "c_splcmul": (_o, _o, _o, _i),
    "peval": (_d, _o, _d, _i),
    "dpeval": (_d, _o, _d, _i, _nu),
    "ceval": (_i, _o, DView, _i),
    "dceval": (_i, _o, DView, _i, _nu),
    "rshift": (_i, _o, _d, _i),
    "ashift": (_i, _o, _d, _i),
    "hscale": (_i, _o, _d, _i),
    "adapt": (_i, _o, _d, _d, _i),
    "derivative": (_o, _o, _i, _nu),
    "antiderivative": (_o, _o, _i, _nu),
    "degelev": (_o, _o, _i, _nu),
    "knotins": (_o, _o, _d, _i, _i),
    "knotref": (_o, _o, DView, _i),
    "knotrem": (_o, _o, _d, _i, _i, _tol),
    "knotsrem": (_o, _o, _i, _tol),
    "knotrem_notol": (_o, _o, _d, _i, _i),
    **{
        f"setValue{kind}_{form}": (_i, _o, _o, _i)
        for kind in ("Tr", "Am")
        for form in ("point", "tuple")
    },
}

_get_pointer = ctypes.pythonapi.PyCapsule_GetPointer
_get_pointer.argtypes = [ctypes.py_object, ctypes.c_char_p]
_get_pointer.restype = ctypes.c_void_p


def capsule_pointer(capsule, name=None):
    return _get_pointer(capsule, name)


def entry(name, cls=Trajectory1d):
    """Entry `name` of the method table of `cls` as a callable; it runs with the interpreter lock
    held, and a Python exception it sets is raised."""
    names = ENTRIES[cls]
    table = (ctypes.c_void_p * len(names)).from_address(
        capsule_pointer(cls.__dict__["__pyx_vtable__"])
    )
    address = table[names.index(name)]
    assert address, f"entry {name} of the method table of {cls.__name__} is empty"
    return ctypes.PYFUNCTYPE(*_SIGNATURES[name.rpartition(".")[2]])(address)


def dview(array):
    return DView(array.ctypes.data, array.size)


def opt_nu(nu=None):
    """The optional-order record: None for "not given"."""
    return None if nu is None else ctypes.pointer(OptNu(1, nu))


def opt_tol(tol=None):
    return None if tol is None else ctypes.pointer(OptTol(1, tol))
