"""The C-level method table of Trajectory1d, called through ctypes as a native module would.

Python overrides of the evaluation operations are only consulted when the operations are called
at C level with overrides allowed; these helpers make that reachable from the tests.
"""

import ctypes

from pyorvex.defdatastruct import Trajectory1d

# The table's entries in order (five of the base type first).
SLOTS = [
    "base_c_loadxml", "_getAttrib", "_addPyORVEXObject", "_updatePyORVEXObject", "savexml",
    "from_ptrs", "new_struct", "c_loadxml", "c_eq", "c_vshift", "c_vscale", "c_splcsum",
    "c_splcmul", "_sget_knotvector", "_sget_cpts", "_dset_data", "peval", "ceval", "dpeval",
    "dceval", "c_hshift", "rshift", "ashift", "c_hscale", "hscale", "adapt", "derivative",
    "antiderivative", "knotins", "knotref", "knotrem", "knotsrem", "knotrem_notol", "copy",
    "degelev",
]


class DView(ctypes.Structure):
    _fields_ = [("data", ctypes.c_void_p), ("size", ctypes.c_ssize_t)]


class OptNu(ctypes.Structure):
    _fields_ = [("n_given", ctypes.c_int), ("nu", ctypes.c_int)]


_obj, _d, _i = ctypes.py_object, ctypes.c_double, ctypes.c_int
_SIGNATURES = {
    "peval": (_d, [_obj, _d, _i]),
    "dpeval": (_d, [_obj, _d, _i, ctypes.POINTER(OptNu)]),
    "ceval": (_i, [_obj, DView, _i]),
    "dceval": (_i, [_obj, DView, _i, ctypes.POINTER(OptNu)]),
    "rshift": (_i, [_obj, _d, _i]),
    "ashift": (_i, [_obj, _d, _i]),
    "hscale": (_i, [_obj, _d, _i]),
    "adapt": (_i, [_obj, _d, _d, _i]),
    "derivative": (_obj, [_obj, _i, ctypes.POINTER(OptNu)]),
    "antiderivative": (_obj, [_obj, _i, ctypes.POINTER(OptNu)]),
    "degelev": (_obj, [_obj, _i, ctypes.POINTER(OptNu)]),
}


def _table():
    get_pointer = ctypes.pythonapi.PyCapsule_GetPointer
    get_pointer.restype = ctypes.c_void_p
    get_pointer.argtypes = [ctypes.py_object, ctypes.c_char_p]
    address = get_pointer(Trajectory1d.__dict__["__pyx_vtable__"], None)
    return (ctypes.c_void_p * len(SLOTS)).from_address(address)


def c_op(name):
    """The table's operation `name` as a callable; a Python exception it sets is raised."""
    restype, argtypes = _SIGNATURES[name]
    prototype = ctypes.PYFUNCTYPE(restype, *argtypes)
    return prototype(_table()[SLOTS.index(name)])


def opt_nu(nu=None):
    """The optional-order record: None for "not given"."""
    return None if nu is None else ctypes.pointer(OptNu(1, nu))


def dview(array):
    return DView(array.ctypes.data, array.size)
