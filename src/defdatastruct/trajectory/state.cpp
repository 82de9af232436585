// NumPy views of a trajectory's arrays, the abscissae of its control points, and its pickle
// state: (knot bytes, control-point bytes, p, n, order, owner).
#include <cstring>

#include "degree.hpp"
#include "trajectory.hpp"

namespace pyorvex::dds::trajectory {

namespace {

// Live array views are counted in the record's private field _bookkeeping, in the bits above
// bit 0 (which record.cpp owns): while any exists, the arrays must stay where they are.
constexpr int one_view = 2;

bool has_views(const Traj *t) { return t->_bookkeeping >= one_view; }

const char view_base_name[] = "pyorvex.defdatastruct.Trajectory1d array view";

void release_view_base(PyObject *capsule) {
    auto *t = static_cast<Traj *>(PyCapsule_GetPointer(capsule, view_base_name));
    t->_bookkeeping -= one_view;
    Ref::steal(reinterpret_cast<PyObject *>(t)).reset();  // the capsule's reference
}

// A float64 array over the record's memory. Its base holds the trajectory, so a view can never
// outlive the memory it shows, and counts itself among the trajectory's views, so the memory is
// not replaced under it (_dset_data refuses while views exist).
PyObject *array_over(Traj *t, double *data, Py_ssize_t size) {
    if (data == nullptr) return capi::none();
    Ref base(PyCapsule_New(t, view_base_name, release_view_base));
    if (!base) return nullptr;
    Py_INCREF(reinterpret_cast<PyObject *>(t));
    t->_bookkeeping += one_view;
    npy_intp dims[1] = {static_cast<npy_intp>(size)};
    Ref arr(PyArray_New(&PyArray_Type, 1, dims, NPY_DOUBLE, nullptr, data, 0,
                        NPY_ARRAY_C_CONTIGUOUS | NPY_ARRAY_ALIGNED | NPY_ARRAY_WRITEABLE, nullptr));
    if (!arr) return nullptr;
    if (PyArray_SetBaseObject(reinterpret_cast<PyArrayObject *>(arr.get()), base.release()) < 0)
        return nullptr;  // SetBaseObject consumed the reference
    return arr.release();
}

}  // namespace

PyObject *py_get_cpts_asarray(PyObject *self, PyObject *) {
    auto *t = reinterpret_cast<Traj *>(self);
    return array_over(t, t->_cpts, cpts_count(t));
}

PyObject *py_get_knotvector_asarray(PyObject *self, PyObject *) {
    auto *t = reinterpret_cast<Traj *>(self);
    return array_over(t, t->_knotvector, knot_count(t));
}

PyObject *py_get_xcpts(PyObject *self, PyObject *) {
    auto *t = reinterpret_cast<Traj *>(self);
    pyorvex_dview knots;
    if (!knot_view(t, &knots) || !capi::supported_degree(t->p)) return nullptr;
    // np is looked up in the module's globals at each call.
    PyObject *np = PyDict_GetItemString(module_state.module_dict, "np");
    if (np == nullptr) {
        PyErr_SetString(PyExc_NameError, "name 'np' is not defined");
        return nullptr;
    }
    Ref empty(PyObject_GetAttrString(np, "empty"));
    Ref float64(PyObject_GetAttrString(np, "float64"));
    if (!empty || !float64) return nullptr;
    Ref args(Py_BuildValue("(n)", cpts_count(t)));
    Ref kwargs(Py_BuildValue("{s:O}", "dtype", float64.get()));
    if (!args || !kwargs) return nullptr;
    Ref out(PyObject_Call(empty.get(), args.get(), kwargs.get()));
    if (!out) return nullptr;
    capi::DoubleBuffer buf;
    if (!buf.acquire(out.get())) return nullptr;
    // np may have been replaced: never let the kernel write past what it returned.
    if (buf.size() != cpts_count(t)) {
        PyErr_Format(PyExc_ValueError, "np.empty gave an array of %zd values, %zd expected",
                     buf.size(), cpts_count(t));
        return nullptr;
    }
    // The calls above ran Python code, which may have given the trajectory new arrays: the
    // knot vector is taken again, as it is now.
    if (!knot_view(t, &knots) || !capi::supported_degree(t->p)) return nullptr;
    module_state.kernel.averagcpts(knots, t->p, buf.view(), 0);
    return out.release();
}

// --- state ---------------------------------------------------------------------------------------

namespace {

PyObject *array_bytes(const double *data, Py_ssize_t size) {
    if (data == nullptr) return capi::none();
    return PyBytes_FromStringAndSize(reinterpret_cast<const char *>(data),
                                     size * static_cast<Py_ssize_t>(sizeof(double)));
}

PyObject *state_bytes(Traj *self, int skip_dispatch, const char *name,
                      PyObject *(*builtin)(PyObject *, PyObject *), const double *data,
                      Py_ssize_t size) {
    Ref result;
    const int found = capi::dispatch(self, skip_dispatch, name, builtin, &result);
    if (found < 0) return nullptr;
    if (found > 0) return capi::expect_exact_or_none(result.release(), &PyBytes_Type, "bytes");
    return array_bytes(data, size);
}

}  // namespace

PyObject *sget_knotvector(Traj *self, int skip_dispatch) {
    return state_bytes(self, skip_dispatch, "_sget_knotvector", py_sget_knotvector,
                       self->_knotvector, knot_count(self));
}

PyObject *sget_cpts(Traj *self, int skip_dispatch) {
    return state_bytes(self, skip_dispatch, "_sget_cpts", py_sget_cpts, self->_cpts,
                       cpts_count(self));
}

PyObject *py_sget_knotvector(PyObject *self, PyObject *) {
    return sget_knotvector(reinterpret_cast<Traj *>(self), 1);
}

PyObject *py_sget_cpts(PyObject *self, PyObject *) {
    return sget_cpts(reinterpret_cast<Traj *>(self), 1);
}

namespace {

bool check_state_bytes(PyObject *data, const char *name, Py_ssize_t count) {
    if (!PyBytes_Check(data)) {
        PyErr_Format(PyExc_TypeError, "expected bytes, %.200s found", Py_TYPE(data)->tp_name);
        return false;
    }
    const Py_ssize_t needed = count * static_cast<Py_ssize_t>(sizeof(double));
    if (PyBytes_GET_SIZE(data) < needed) {
        PyErr_Format(PyExc_ValueError, "'%s' holds %zd bytes but %zd are needed", name,
                     PyBytes_GET_SIZE(data), needed);
        return false;
    }
    return true;
}

}  // namespace

int dset_data(Traj *self, PyObject *knots, PyObject *cpts, int p, int n, unsigned int order,
              int owner, int skip_dispatch) {
    if (const int ran = capi::dispatch_status(self, skip_dispatch, "_dset_data", py_dset_data,
                                              knots, cpts, p, n, order, owner != 0))
        return ran < 0 ? -1 : 0;
    // Everything is checked before the record changes, so a refused state leaves the
    // trajectory as it was (and never reads past the bytes given).
    const Py_ssize_t nk = static_cast<Py_ssize_t>(n) + p + 2;
    const Py_ssize_t nc = static_cast<Py_ssize_t>(n) + 1;
    if (p < 0 || n < 0) {
        PyErr_Format(PyExc_ValueError, "'p' and 'n' must be non-negative (got p = %d, n = %d)", p,
                     n);
        return -1;
    }
    if (!check_state_bytes(knots, "knots", nk) || !check_state_bytes(cpts, "cpts", nc)) return -1;
    if (has_views(self)) {
        PyErr_SetString(PyExc_BufferError,
                        "the arrays of the trajectory cannot be replaced while array views of "
                        "them exist");
        return -1;
    }
    double *kbuf, *cbuf;
    if (!alloc_record_buffers(nk, nc, &kbuf, &cbuf)) return -1;
    std::memcpy(kbuf, PyBytes_AS_STRING(knots), static_cast<size_t>(nk) * sizeof(double));
    std::memcpy(cbuf, PyBytes_AS_STRING(cpts), static_cast<size_t>(nc) * sizeof(double));
    release_arrays(self);
    self->p = p;
    self->n = n;
    self->order = order;
    self->ptrs_owner = owner ? 1 : 0;
    adopt_module_buffers(self, kbuf, cbuf);
    return 0;
}

namespace {

const char *const dset_names[] = {"knots", "cpts", "p", "n", "order", "owner"};
const capi::ArgSpec dset_spec{"_dset_data", dset_names, 6, 6};

}  // namespace

PyObject *py_dset_data(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    PyObject *a[6];
    if (!capi::parse_args(dset_spec, args, nargs, kw, a)) return nullptr;
    int p, n;
    unsigned int order;
    if (!capi::to_int(a[2], &p) || !capi::to_int(a[3], &n) || !capi::to_uint(a[4], &order))
        return nullptr;
    const int owner = PyObject_IsTrue(a[5]);
    if (owner < 0) return nullptr;
    if (!capi::check_arg_type(a[0], &PyBytes_Type, true, "knots", true) ||
        !capi::check_arg_type(a[1], &PyBytes_Type, true, "cpts", true))
        return nullptr;
    if (dset_data(reinterpret_cast<Traj *>(self), a[0], a[1], p, n, order, owner, 1) < 0)
        return nullptr;
    return capi::none();
}

PyObject *py_getstate(PyObject *self, PyObject *) {
    auto *t = reinterpret_cast<Traj *>(self);
    Ref knots(vt(t)->_sget_knotvector(t, 0));
    if (!knots) return nullptr;
    Ref cpts(vt(t)->_sget_cpts(t, 0));
    if (!cpts) return nullptr;
    return Py_BuildValue("(OOiiIO)", knots.get(), cpts.get(), t->p, t->n, t->order,
                         t->ptrs_owner ? Py_True : Py_False);
}

PyObject *py_setstate(PyObject *self, PyObject *state) {
    Ref method(PyObject_GetAttrString(self, "_dset_data"));
    if (!method) return nullptr;
    Ref args(PySequence_Tuple(state));
    if (!args) return nullptr;
    Ref res(PyObject_Call(method.get(), args.get(), nullptr));
    if (!res) return nullptr;
    return capi::none();
}

PyObject *no_default_reduce(PyObject *, PyObject *) {
    PyErr_SetString(PyExc_TypeError, "no default __reduce__ due to non-trivial __cinit__");
    return nullptr;
}

}  // namespace pyorvex::dds::trajectory
