// The trajectory subsystem's hub: the Python-visible methods and properties of the record, its
// comparison and its state, with their docstrings, and their entries of the C-level method table.
// The operations live in record.cpp, compare.cpp and state.cpp.
#include "trajectory.hpp"

namespace pyorvex::dds::trajectory {

PyMethodDef methods[] = {
    // record.cpp
    {"copy", py_copy, METH_NOARGS,
     "Return a copy of the object.\n\nReturns\n-------\nout: Trajectory1d\n    A new, independent "
     "trajectory with equal attributes and arrays.\n"},
    {"__copy__", py_dunder_copy, METH_NOARGS, nullptr},
    {"__deepcopy__", py_deepcopy, METH_O, nullptr},
    // compare.cpp
    {"_getAttrib", py_getattrib, METH_NOARGS,
     "Returns the attributes of the object as a dictionary.\n\nReturns\n-------\nout: dict\n"
     "    The texts of p, n, owner, order, start and stop.\n"},
    // state.cpp
    {"get_cpts_asarray", py_get_cpts_asarray, METH_NOARGS,
     "Creates an array wrapper around '_cpts' pointer. If the new array is deallocated the "
     "memory is not freed.\n\nReturns\n-------\nout: numpy.ndarray or None\n    The n + 1 "
     "control points, sharing the trajectory's memory.\n"},
    {"get_knotvector_asarray", py_get_knotvector_asarray, METH_NOARGS,
     "Creates an array wrapper around '_knotvector' pointer. If the new array is deallocated the "
     "memory is not freed.\n\nReturns\n-------\nout: numpy.ndarray or None\n    The n + p + 2 "
     "knots, sharing the trajectory's memory.\n"},
    {"get_xcpts", py_get_xcpts, METH_NOARGS,
     "Returns the x-coordinates of the control points.\n\nReturns\n-------\nout: numpy.ndarray\n"
     "    A new array of n + 1 abscissae.\n"},
    {"_sget_knotvector", py_sget_knotvector, METH_NOARGS, "Need to pickle protocol."},
    {"_sget_cpts", py_sget_cpts, METH_NOARGS, "Need to pickle protocol."},
    {"_dset_data", capi::fastcall(py_dset_data), METH_FASTCALL | METH_KEYWORDS,
     "Need to pickle protocol."},
    {"__getstate__", py_getstate, METH_NOARGS, nullptr},
    {"__setstate__", py_setstate, METH_O, nullptr},
    {"__reduce_cython__", no_default_reduce, METH_NOARGS, nullptr},
    {"__setstate_cython__", no_default_reduce, METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef getset[] = {
    {"p", get_p, nullptr, nullptr, nullptr},
    {"n", get_n, nullptr, nullptr, nullptr},
    {"order", get_order, nullptr, nullptr, nullptr},
    {"start", get_start, nullptr, " Left end of the curve domain. ", nullptr},
    {"stop", get_stop, nullptr, " Right end of the curve domain. ", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

void install(TrajVtab *v) {
    v->from_ptrs = from_ptrs;
    v->new_struct = new_struct;
    v->c_vshift = c_vshift;
    v->c_vscale = c_vscale;
    v->c_hshift = c_hshift;
    v->c_hscale = c_hscale;
    v->copy = copy_op;
    v->c_eq = c_eq;
    v->base._getAttrib = getattrib_op;
    v->_sget_knotvector = sget_knotvector;
    v->_sget_cpts = sget_cpts;
    v->_dset_data = dset_data;
}

}  // namespace pyorvex::dds::trajectory
