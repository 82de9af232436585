// The spline record behind Trajectory1d: allocation, the two factories, ownership and release of
// the arrays, the in-place shifts and scalings, the read-only properties and copying.
#include <climits>
#include <cstring>
#include <limits>
#include <utility>

#include "degree.hpp"
#include "bspline.hpp"
#include "knot_transform.hpp"
#include "trajectory.hpp"

namespace pyorvex::dds::trajectory {

// The record's private bookkeeping field _bookkeeping. Bit 0, beside the visible owner flag: set
// when this module allocated the arrays, so the record frees them even when the owner flag it
// shows says otherwise; memory lent by a C caller (from_ptrs with owner false) never gets it. The
// bits above count the live array views (state.cpp) and are left alone here.
namespace {

constexpr int module_allocated = 1;

bool frees_arrays(const Traj *t) { return (t->_bookkeeping & module_allocated) != 0; }

void set_bookkeeping(Traj *t, bool on) {
    if (on)
        t->_bookkeeping |= module_allocated;
    else
        t->_bookkeeping &= ~module_allocated;
}

}  // namespace

PyObject *raise_memory_error() {
    PyErr_SetString(PyExc_MemoryError, "memory allocation failed");
    return nullptr;
}

double *alloc_doubles(Py_ssize_t count) {
    if (count <= 0 ||
        count > std::numeric_limits<Py_ssize_t>::max() / static_cast<Py_ssize_t>(sizeof(double))) {
        raise_memory_error();
        return nullptr;
    }
    auto *buf = static_cast<double *>(PyMem_Malloc(static_cast<size_t>(count) * sizeof(double)));
    if (buf == nullptr) raise_memory_error();
    return buf;
}

bool alloc_record_buffers(Py_ssize_t nk, Py_ssize_t nc, double **knots, double **cpts) {
    *knots = alloc_doubles(nk);
    if (*knots == nullptr) return false;
    *cpts = alloc_doubles(nc);
    if (*cpts != nullptr) return true;
    PyMem_Free(*knots);
    *knots = nullptr;
    return false;
}

bool resize_doubles(double **buf, Py_ssize_t count) {
    if (count <= 0 ||
        count > std::numeric_limits<Py_ssize_t>::max() / static_cast<Py_ssize_t>(sizeof(double))) {
        raise_memory_error();
        return false;
    }
    void *grown = PyMem_Realloc(*buf, static_cast<size_t>(count) * sizeof(double));
    if (grown == nullptr) {
        raise_memory_error();
        return false;
    }
    *buf = static_cast<double *>(grown);
    return true;
}

void release_arrays(Traj *t) {
    if (t->ptrs_owner == 1 || frees_arrays(t)) {
        PyMem_Free(t->_knotvector);
        PyMem_Free(t->_cpts);
    }
    t->_knotvector = nullptr;
    t->_cpts = nullptr;
    set_bookkeeping(t, false);
}

void adopt_module_buffers(Traj *t, double *knots, double *cpts) {
    t->_knotvector = knots;
    t->_cpts = cpts;
    set_bookkeeping(t, true);
}

bool knot_view(Traj *t, pyorvex_dview *out) {
    if (t->_knotvector == nullptr) {
        PyErr_SetString(PyExc_ValueError, "the trajectory has no knot vector");
        return false;
    }
    *out = {t->_knotvector, knot_count(t)};
    return true;
}

bool cpts_view(Traj *t, pyorvex_dview *out) {
    if (t->_cpts == nullptr) {
        PyErr_SetString(PyExc_ValueError, "the trajectory has no control points");
        return false;
    }
    *out = {t->_cpts, cpts_count(t)};
    return true;
}

bool record_data_views(Traj *t, pyorvex_dview *knots, pyorvex_dview *cpts) {
    return knot_view(t, knots) && cpts_view(t, cpts);
}

// Records of any degree are data (created, copied, compared, saved, loaded); only the kernel's
// numerics are bounded, and this is the one gate in front of them.
bool record_views(Traj *t, pyorvex_dview *knots, pyorvex_dview *cpts) {
    return record_data_views(t, knots, cpts) && capi::supported_degree(t->p);
}

PyObject *traj_start(Traj *t) {
    if (t->_knotvector == nullptr) return capi::none();
    return PyFloat_FromDouble(t->_knotvector[0]);
}

PyObject *traj_stop(Traj *t) {
    if (t->_knotvector == nullptr) return capi::none();
    return PyFloat_FromDouble(t->_knotvector[knot_count(t) - 1]);
}

namespace {

Traj *allocate_empty() {
    // Always exactly Trajectory1d, never a subclass, and without running __init__.
    PyObject *obj = type.tp_alloc(&type, 0);
    if (obj == nullptr) return nullptr;
    auto *t = reinterpret_cast<Traj *>(obj);
    t->base.vtab = &vtab;
    return t;
}

}  // namespace

// --- factories -----------------------------------------------------------------------------------

PyObject *from_ptrs(double *knots, double *cpts, int p, int n, unsigned int order,
                    pyorvex_opt_owner *opt) {
    Traj *t = allocate_empty();
    if (t == nullptr) return nullptr;
    t->p = p;
    t->n = n;
    t->order = order;
    t->_knotvector = knots;
    t->_cpts = cpts;
    t->ptrs_owner = (opt != nullptr && opt->n_given > 0) ? (opt->owner != 0) : 0;
    return reinterpret_cast<PyObject *>(t);
}

PyObject *new_struct(int p, int n, unsigned int order) {
    const Py_ssize_t nk = static_cast<Py_ssize_t>(n) + p + 2;
    const Py_ssize_t nc = static_cast<Py_ssize_t>(n) + 1;
    NewRecord record;
    if (!record.allocate(nk, nc)) return nullptr;
    return record.wrap(p, n, order);
}

void c_vshift(Traj *self, double x) {
    if (self->_cpts == nullptr) return;
    const Py_ssize_t m = cpts_count(self);
    for (Py_ssize_t i = 0; i < m; ++i) self->_cpts[i] += x;
}

void c_vscale(Traj *self, double x) {
    if (self->_cpts == nullptr) return;
    const Py_ssize_t m = cpts_count(self);
    for (Py_ssize_t i = 0; i < m; ++i) self->_cpts[i] *= x;
}

void c_hshift(Traj *self, double x) {
    if (self->_knotvector == nullptr) return;
    const Py_ssize_t m = knot_count(self);
    for (Py_ssize_t i = 0; i < m; ++i) self->_knotvector[i] += x;
}

void c_hscale(Traj *self, double k) {
    if (self->_knotvector == nullptr) return;
    kernel::scale_knots(self->_knotvector, knot_count(self), k);
}

// --- copy --------------------------------------------------------------------------------------

PyObject *copy_op(Traj *self, int skip_dispatch) {
    Ref result;
    const int found = capi::dispatch(self, skip_dispatch, "copy", py_copy, &result);
    if (found < 0) return nullptr;
    if (found > 0) return capi::expect_instance_or_none(result.release(), &type);
    // An empty trajectory copies to another empty one.
    if (self->_knotvector == nullptr || self->_cpts == nullptr)
        return reinterpret_cast<PyObject *>(allocate_empty());
    const Py_ssize_t nk = knot_count(self), nc = cpts_count(self);
    NewRecord record;
    if (!record.allocate(nk, nc)) return nullptr;
    std::memcpy(record.knots(), self->_knotvector, static_cast<size_t>(nk) * sizeof(double));
    std::memcpy(record.cpts(), self->_cpts, static_cast<size_t>(nc) * sizeof(double));
    return record.wrap(self->p, self->n, self->order);
}

PyObject *py_copy(PyObject *self, PyObject *) { return copy_op(reinterpret_cast<Traj *>(self), 1); }

PyObject *py_dunder_copy(PyObject *self, PyObject *) {
    auto *t = reinterpret_cast<Traj *>(self);
    return vt(t)->copy(t, 0);
}

PyObject *py_deepcopy(PyObject *self, PyObject *) {
    auto *t = reinterpret_cast<Traj *>(self);
    return vt(t)->copy(t, 0);
}

// --- properties ----------------------------------------------------------------------------------

PyObject *get_p(PyObject *self, void *) {
    return PyLong_FromLong(reinterpret_cast<Traj *>(self)->p);
}
PyObject *get_n(PyObject *self, void *) {
    return PyLong_FromLong(reinterpret_cast<Traj *>(self)->n);
}
PyObject *get_order(PyObject *self, void *) {
    return PyLong_FromUnsignedLong(reinterpret_cast<Traj *>(self)->order);
}
PyObject *get_start(PyObject *self, void *) { return traj_start(reinterpret_cast<Traj *>(self)); }
PyObject *get_stop(PyObject *self, void *) { return traj_stop(reinterpret_cast<Traj *>(self)); }

// --- type slots ----------------------------------------------------------------------------------

namespace {

PyObject *traj_new(PyTypeObject *type, PyObject *, PyObject *) {
    // Arguments are ignored: real trajectories come from the factories and operations.
    PyObject *obj = type->tp_alloc(type, 0);
    if (obj == nullptr) return nullptr;
    reinterpret_cast<Traj *>(obj)->base.vtab = &vtab;
    return obj;
}

void traj_dealloc(PyObject *self) {
    {
        capi::SavedError pending;
        release_arrays(reinterpret_cast<Traj *>(self));
    }
    Py_TYPE(self)->tp_free(self);
}

const char trajectory_doc[] =
    "One-dimensional trajectory parameterised by a univariate B-spline.\n"
    "\n"
    "Attributes\n"
    "----------\n"
    "p : int\n"
    "    Degree of the B-spline. Records of any degree hold data; evaluation and every other\n"
    "    computation need p <= pyorvex.curvekit.MAX_DEGREE (1024).\n"
    "n : int\n"
    "    Highest index of the control points (there are n + 1 of them).\n"
    "ptrs_owner : bool\n"
    "    Whether the object frees the knot vector and the control points.\n"
    "order : int\n"
    "    Order of derivation the trajectory refers to: 0 displacement, 1 velocity,\n"
    "    2 acceleration, 3 jerk, and so on.\n"
    "start : float\n"
    "    Left end of the curve domain.\n"
    "stop : float\n"
    "    Right end of the curve domain.\n"
    "\n"
    "Notes\n"
    "-----\n"
    "_sget_knotvector, _sget_cpts, _dset_data : Need to pickle protocol.\n";

}  // namespace

PyObject *wrap_owned(double *knots, double *cpts, int p, int n, unsigned int order) {
    pyorvex_opt_owner owner{1, 1};
    PyObject *t = vtab.from_ptrs(knots, cpts, p, n, order, &owner);
    if (t == nullptr) {
        PyMem_Free(knots);
        PyMem_Free(cpts);
    }
    return t;
}

bool record_index(long long n, int p, int *out) {
    if (n < 0 || n + p + 2 > INT_MAX) {
        raise_memory_error();
        return false;
    }
    *out = static_cast<int>(n);
    return true;
}

NewRecord::~NewRecord() {
    PyMem_Free(knots_);
    PyMem_Free(cpts_);
}

bool NewRecord::allocate(Py_ssize_t nk, Py_ssize_t nc) {
    if (!alloc_record_buffers(nk, nc, &knots_, &cpts_)) return false;
    nk_ = nk;
    nc_ = nc;
    return true;
}

bool NewRecord::resize(Py_ssize_t nk, Py_ssize_t nc) {
    if (!resize_doubles(&knots_, nk)) return false;
    nk_ = nk;
    if (!resize_doubles(&cpts_, nc)) return false;
    nc_ = nc;
    return true;
}

PyObject *NewRecord::wrap(int p, int n, unsigned int order) {
    nk_ = nc_ = 0;
    return wrap_owned(std::exchange(knots_, nullptr), std::exchange(cpts_, nullptr), p, n, order);
}

PyTypeObject type = [] {
    PyTypeObject t = blank_type();
    t.tp_name = "pyorvex.defdatastruct.Trajectory1d";
    t.tp_basicsize = sizeof(Traj);
    t.tp_dealloc = traj_dealloc;
    t.tp_repr = repr;
    t.tp_hash = PyObject_HashNotImplemented;
    t.tp_str = str;
    t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE;
    t.tp_doc = trajectory_doc;
    t.tp_richcompare = richcompare;
    t.tp_getset = getset;
    t.tp_base = &persistence::base_type;
    t.tp_new = traj_new;
    return t;
}();

}  // namespace pyorvex::dds::trajectory
