// The record of TrajectoryNd and its lifecycle: allocation of its two buffers, the empty and the
// trusted constructors, copies, the properties, and the column scratch of per-axis kernel calls.
#include <climits>
#include <cstring>

#include "multiaxis.hpp"

namespace pyorvex::multiaxis {

PyObject *raise_memory_error() {
    PyErr_SetString(PyExc_MemoryError, "memory allocation failed");
    return nullptr;
}

bool NewMotion::allocate(Py_ssize_t knots, Py_ssize_t rows, int dof) {
    // n = rows - 1 and the knot count are kept in ints, rows * dof in a Py_ssize_t.
    if (rows < 1 || dof < 1 || knots < rows + 1 || knots > INT_MAX || rows > PY_SSIZE_T_MAX / dof) {
        raise_memory_error();
        return false;
    }
    if (!knots_.allocate(knots) || !cpts_.allocate(rows * dof)) return false;
    nk_ = knots;
    rows_ = rows;
    dof_ = dof;
    return true;
}

PyObject *NewMotion::wrap(int p, unsigned int order) {
    if (nk_ != rows_ + p + 1) {
        PyErr_SetString(PyExc_RuntimeError, "inconsistent sizes of a new TrajectoryNd");
        return nullptr;
    }
    PyObject *obj = type.tp_alloc(&type, 0);
    if (obj == nullptr) return nullptr;
    Motion *m = as_motion(obj);
    m->base.vtab = &vtab;
    m->p = p;
    m->n = static_cast<int>(rows_ - 1);
    m->order = order;
    m->dof = dof_;
    m->knots = knots_.release();
    m->cpts = cpts_.release();
    return obj;
}

PyObject *adopt_motion(double *knots, double *cpts, int p, int n, int dof, unsigned int order) {
    PyObject *obj = type.tp_alloc(&type, 0);
    if (obj == nullptr) {
        PyMem_Free(knots);
        PyMem_Free(cpts);
        return nullptr;
    }
    Motion *m = as_motion(obj);
    m->base.vtab = &vtab;
    m->p = p;
    m->n = n;
    m->order = order;
    m->dof = dof;
    m->knots = knots;
    m->cpts = cpts;
    return obj;
}

PyObject *new_motion(int p, int n, int dof, unsigned int order) {
    NewMotion r;
    if (p < 0 || n < 0 || !r.allocate(Py_ssize_t{n} + p + 2, Py_ssize_t{n} + 1, dof))
        return p < 0 || n < 0 ? raise_memory_error() : nullptr;
    return r.wrap(p, order);
}

PyObject *copy_motion(const Motion *m) {
    if (m->knots == nullptr) return record::tp_new(&type, nullptr, nullptr);
    NewMotion r;
    if (!r.allocate(knot_count(m), row_count(m), m->dof)) return nullptr;
    std::memcpy(r.knots(), m->knots, static_cast<size_t>(knot_count(m)) * sizeof(double));
    std::memcpy(r.cpts(), m->cpts, static_cast<size_t>(cpts_count(m)) * sizeof(double));
    return r.wrap(m->p, m->order);
}

bool supported_degree(long long degree) {
    if (degree <= kernel::kMaxDegree) return true;
    PyErr_Format(PyExc_ValueError, "degree %lld exceeds the maximum supported degree %d", degree,
                 kernel::kMaxDegree);
    return false;
}

bool require_data(const Motion *m) {
    if (m->knots == nullptr || m->cpts == nullptr) {
        PyErr_SetString(PyExc_ValueError, "the motion is empty (it has no knot vector)");
        return false;
    }
    return supported_degree(m->p);
}

void gather(const double *rows_data, Py_ssize_t rows, int dof, int j, double *column) {
    for (Py_ssize_t i = 0; i < rows; ++i) column[i] = rows_data[i * dof + j];
}

void scatter(const double *column, Py_ssize_t rows, int dof, int j, double *rows_data) {
    for (Py_ssize_t i = 0; i < rows; ++i) rows_data[i * dof + j] = column[i];
}

namespace record {

PyObject *tp_new(PyTypeObject *tp, PyObject *, PyObject *) {
    // Arguments are ignored, as Trajectory1d ignores them: motions with data come from the
    // factory, from_axes and the operations.
    PyObject *obj = tp->tp_alloc(tp, 0);
    if (obj == nullptr) return nullptr;
    as_motion(obj)->base.vtab = &vtab;
    return obj;
}

void dealloc(PyObject *self) {
    Motion *m = as_motion(self);
    PyMem_Free(m->knots);
    PyMem_Free(m->cpts);
    m->knots = m->cpts = nullptr;
    Py_TYPE(self)->tp_free(self);
}

namespace {

const char *const from_arrays_names[] = {"knots", "cpts", "p", "order"};
const capi::ArgSpec from_arrays_signature{"_from_arrays", from_arrays_names, 4, 4};

// A C-contiguous float64 array of exactly ndim dimensions (a copy only when needed).
PyObject *float_array(PyObject *obj, int ndim, const char *name) {
    Ref a(PyArray_FROMANY(obj, NPY_DOUBLE, 0, 0, NPY_ARRAY_C_CONTIGUOUS | NPY_ARRAY_ALIGNED));
    if (!a) return nullptr;
    if (PyArray_NDIM(reinterpret_cast<PyArrayObject *>(a.get())) != ndim) {
        PyErr_Format(PyExc_ValueError, "'%s' must have %d dimension%s", name, ndim,
                     ndim == 1 ? "" : "s");
        return nullptr;
    }
    return a.release();
}

}  // namespace

PyObject *from_arrays(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    PyObject *a[4];
    if (!capi::parse_args(from_arrays_signature, args, nargs, kw, a)) return nullptr;
    int p;
    unsigned int order;
    if (!capi::to_int(a[2], &p) || !capi::to_uint(a[3], &order)) return nullptr;
    Ref knots(float_array(a[0], 1, "knots"));
    if (!knots) return nullptr;
    Ref cpts(float_array(a[1], 2, "cpts"));
    if (!cpts) return nullptr;
    auto *ka = reinterpret_cast<PyArrayObject *>(knots.get());
    auto *ca = reinterpret_cast<PyArrayObject *>(cpts.get());
    const Py_ssize_t nk = PyArray_DIM(ka, 0), rows = PyArray_DIM(ca, 0), dof = PyArray_DIM(ca, 1);
    if (p < 0 || rows < 1 || dof < 1 || dof > INT_MAX || nk != rows + p + 1) {
        PyErr_SetString(PyExc_ValueError,
                        "'cpts' must have shape (n + 1, dof) with n >= 0 and dof >= 1, and "
                        "'knots' n + p + 2 values");
        return nullptr;
    }
    NewMotion r;
    if (!r.allocate(nk, rows, static_cast<int>(dof))) return nullptr;
    std::memcpy(r.knots(), PyArray_DATA(ka), static_cast<size_t>(nk) * sizeof(double));
    std::memcpy(r.cpts(), PyArray_DATA(ca), static_cast<size_t>(rows * dof) * sizeof(double));
    return r.wrap(p, order);
}

PyObject *py_copy(PyObject *self, PyObject *) { return copy_motion(as_motion(self)); }
PyObject *py_deepcopy(PyObject *self, PyObject *) { return copy_motion(as_motion(self)); }

namespace {

PyObject *get_p(PyObject *self, void *) { return PyLong_FromLong(as_motion(self)->p); }
PyObject *get_n(PyObject *self, void *) { return PyLong_FromLong(as_motion(self)->n); }
PyObject *get_dof(PyObject *self, void *) { return PyLong_FromLong(as_motion(self)->dof); }
PyObject *get_order(PyObject *self, void *) {
    return PyLong_FromUnsignedLong(as_motion(self)->order);
}
PyObject *get_start(PyObject *self, void *) {
    const Motion *m = as_motion(self);
    if (m->knots == nullptr) return capi::none();
    return PyFloat_FromDouble(m->knots[0]);
}
PyObject *get_stop(PyObject *self, void *) {
    const Motion *m = as_motion(self);
    if (m->knots == nullptr) return capi::none();
    return PyFloat_FromDouble(m->knots[knot_count(m) - 1]);
}

}  // namespace

PyGetSetDef getset[] = {
    {"p", get_p, nullptr, "Degree of the B-spline shared by every axis.", nullptr},
    {"n", get_n, nullptr, "Highest index of the control points (n + 1 rows).", nullptr},
    {"order", get_order, nullptr, "Order of derivation the motion refers to.", nullptr},
    {"dof", get_dof, nullptr, "Number of axes (columns of the control points).", nullptr},
    {"start", get_start, nullptr, "Left end of the domain (None when empty).", nullptr},
    {"stop", get_stop, nullptr, "Right end of the domain (None when empty).", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace record

}  // namespace pyorvex::multiaxis
