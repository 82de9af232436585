// The whole-object entries of pyorvex.planning._kernel: the usual calls of retime and interpolate
// (one Trajectory1d or TrajectoryNd, limits as numbers or one per axis, float64 arrays of
// waypoints, end derivatives as numbers) run here from end to end. On a small motion the Python
// side's argument handling costs several times the kernel's work; here it costs less than it.
// Anything unusual returns NotImplemented and the checked Python path runs instead, which words
// every refusal: no message is written here. The records are read and made through the C-level
// interfaces of pyorvex.defdatastruct and pyorvex.multiaxis (pyorvex/*.h).
#include <Python.h>
#include <pyorvex/defdatastruct.h>
#include <pyorvex/multiaxis.h>
#define PY_ARRAY_UNIQUE_SYMBOL pyorvex_planning_ARRAY_API
#include <numpy/arrayobject.h>

#include <climits>
#include <cmath>
#include <cstring>

#include "args.hpp"
#include "bspline.hpp"
#include "planning.hpp"
#include "ref.hpp"
#include "scratch.hpp"

namespace pyorvex::planning {

namespace {

PyObject *not_here() { Py_RETURN_NOTIMPLEMENTED; }

// The two types, loaded on first use and kept for the life of the process (their modules are
// never unloaded).
struct Types {
    PyTypeObject *trajectory = nullptr;
    pyorvex_Trajectory1d_vtab *trajectory_vtab = nullptr;
    const pyorvex_motion_api *motion = nullptr;
};
Types types;

bool load_types() {
    if (types.motion != nullptr) return true;
    if (PyArray_ImportNumPyAPI() < 0) return false;
    capi::Ref dds(PyImport_ImportModule("pyorvex.defdatastruct"));
    capi::Ref ma(PyImport_ImportModule("pyorvex.multiaxis"));
    if (!dds || !ma) return false;
    capi::Ref traj(PyObject_GetAttrString(dds.get(), "Trajectory1d"));
    capi::Ref api(PyObject_GetAttrString(ma.get(), "_C_API"));
    if (!traj || !api) return false;
    if (!PyType_Check(traj.get())) {
        PyErr_SetString(PyExc_ImportError, "pyorvex.defdatastruct does not export Trajectory1d");
        return false;
    }
    auto *tt = reinterpret_cast<PyTypeObject *>(traj.get());
    PyObject *table = PyDict_GetItemString(tt->tp_dict, "__pyx_vtable__");
    void *vtab = table != nullptr ? PyCapsule_GetPointer(table, nullptr) : nullptr;
    auto *motion = static_cast<const pyorvex_motion_api *>(
        PyCapsule_GetPointer(api.get(), PYORVEX_MOTION_API_NAME));
    if (vtab == nullptr || motion == nullptr || motion->size < sizeof(pyorvex_motion_api)) {
        PyErr_Clear();
        PyErr_SetString(PyExc_ImportError, "the trajectory types do not export their C interfaces");
        return false;
    }
    types.trajectory = reinterpret_cast<PyTypeObject *>(traj.release());
    types.trajectory_vtab = static_cast<pyorvex_Trajectory1d_vtab *>(vtab);
    types.motion = motion;
    return true;
}

// A private copy of the data of a Trajectory1d or a TrajectoryNd (the exact types: a subclass
// takes the Python path), so that nothing another thread does to the object reaches the kernel.
struct Copied {
    int p = 0, n = 0, dof = 1;
    unsigned int order = 0;
    bool motion = false;
    capi::Scratch<> knots, cpts;

    k::cspan knot_span() const { return {knots.data(), static_cast<std::size_t>(knots.size())}; }
    k::cspan cpts_span() const { return {cpts.data(), static_cast<std::size_t>(cpts.size())}; }
};

// 1 with the copy of a sound spline the kernel computes with, 0 when obj is anything else, -1
// with an exception.
int copy_of(PyObject *obj, Copied &c) {
    const double *knots = nullptr, *cpts = nullptr;
    if (Py_TYPE(obj) == types.trajectory) {
        const auto *t = reinterpret_cast<const pyorvex_Trajectory1d *>(obj);
        knots = t->_knotvector;
        cpts = t->_cpts;
        c.p = t->p;
        c.n = t->n;
        c.order = t->order;
    } else if (Py_TYPE(obj) == types.motion->type) {
        const auto *m = reinterpret_cast<const pyorvex_motion *>(obj);
        knots = m->knots;
        cpts = m->cpts;
        c.p = m->p;
        c.n = m->n;
        c.order = m->order;
        c.dof = m->dof;
        c.motion = true;
    } else {
        return 0;
    }
    if (knots == nullptr || cpts == nullptr || c.p < 0 || c.p > k::kMaxDegree || c.n < 0 ||
        c.dof < 1 || c.order > static_cast<unsigned int>(k::kMaxDegree))
        return 0;
    const Py_ssize_t nk = Py_ssize_t{c.n} + c.p + 2, nc = (Py_ssize_t{c.n} + 1) * c.dof;
    if (!c.knots.allocate(nk) || !c.cpts.allocate(nc)) return -1;
    std::memcpy(c.knots.data(), knots, static_cast<std::size_t>(nk) * sizeof(double));
    std::memcpy(c.cpts.data(), cpts, static_cast<std::size_t>(nc) * sizeof(double));
    return spline_sound(c.knot_span(), c.cpts_span()) ? 1 : 0;
}

// A new trajectory (dof 1, not a motion) or motion whose arrays the caller fills.
PyObject *new_like(bool motion, int p, int n, int dof, unsigned int order, double **knots,
                   double **cpts) {
    if (motion) {
        PyObject *obj = types.motion->new_motion(p, n, dof, order);
        if (obj == nullptr) return nullptr;
        *knots = reinterpret_cast<pyorvex_motion *>(obj)->knots;
        *cpts = reinterpret_cast<pyorvex_motion *>(obj)->cpts;
        return obj;
    }
    PyObject *obj = types.trajectory_vtab->new_struct(p, n, order);
    if (obj == nullptr) return nullptr;
    *knots = reinterpret_cast<pyorvex_Trajectory1d *>(obj)->_knotvector;
    *cpts = reinterpret_cast<pyorvex_Trajectory1d *>(obj)->_cpts;
    return obj;
}

// A plain number's value (a float, a float subclass such as NumPy's float64, or an int that a
// double holds); false for anything else.
bool number(PyObject *o, double *x) {
    if (PyFloat_Check(o)) {
        *x = PyFloat_AS_DOUBLE(o);
        return true;
    }
    if (!PyLong_CheckExact(o)) return false;
    *x = PyLong_AsDouble(o);
    if (*x == -1.0 && PyErr_Occurred()) {
        PyErr_Clear();
        return false;
    }
    return true;
}

// The doubles of a float64 buffer of 1 to max_ndim dimensions (any strides), copied in C order
// into `to`, its dimensions into *ndim and shape[0..*ndim); false (nothing raised) for anything
// else.
bool copy_doubles(PyObject *o, int max_ndim, int *ndim, Py_ssize_t *shape, capi::Scratch<> &to) {
    if (!PyObject_CheckBuffer(o)) return false;
    Py_buffer view;
    if (PyObject_GetBuffer(o, &view, PyBUF_RECORDS_RO) < 0) {
        PyErr_Clear();
        return false;
    }
    const char *f = view.format;
    *ndim = view.ndim;
    bool ok = view.ndim >= 1 && view.ndim <= max_ndim && view.itemsize == sizeof(double) &&
              f != nullptr &&
              (std::strcmp(f, "d") == 0 || std::strcmp(f, "<d") == 0 || std::strcmp(f, "=d") == 0);
    Py_ssize_t count = 1;
    for (int i = 0; ok && i < view.ndim; ++i) {
        shape[i] = view.shape[i];
        count *= view.shape[i];
    }
    ok = ok && to.allocate(count);
    if (ok) ok = PyBuffer_ToContiguous(to.data(), &view, count * view.itemsize, 'C') == 0;
    PyBuffer_Release(&view);
    if (!ok) PyErr_Clear();
    return ok;
}

// One limit's values for dof axes into out[0..dof): a positive number (infinity allowed) for
// every axis, or a float64 vector or a list or tuple of dof of them. False for anything else.
bool limit_values(PyObject *o, int dof, double *out) {
    double x = 0.0;
    if (number(o, &x)) {
        for (int c = 0; c < dof; ++c) out[c] = x;
        return x > 0.0;
    }
    if (PyList_CheckExact(o) || PyTuple_CheckExact(o)) {
        if (PySequence_Fast_GET_SIZE(o) != dof) return false;
        PyObject **items = PySequence_Fast_ITEMS(o);
        for (int c = 0; c < dof; ++c)
            if (!number(items[c], &out[c]) || !(out[c] > 0.0)) return false;
        return true;
    }
    capi::Scratch<> given;
    Py_ssize_t size = 0;
    int ndim = 0;
    if (!copy_doubles(o, 1, &ndim, &size, given) || size != dof) return false;
    for (int c = 0; c < dof; ++c)
        if (!((out[c] = given.data()[c]) > 0.0)) return false;
    return true;
}

const char *const retime_names[] = {"trajs", "velocity", "acceleration", "jerk", "factor"};
const capi::ArgSpec retime_signature{"retime_direct", retime_names, 5, 5};

}  // namespace

PyObject *retime_direct(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    PyObject *a[5];
    if (!capi::parse_args(retime_signature, args, nargs, kw, a) || !load_types()) return nullptr;
    const int factor_only = PyObject_IsTrue(a[4]);
    if (factor_only < 0) return nullptr;
    Copied c;
    const int copied = copy_of(a[0], c);
    if (copied <= 0) return copied < 0 ? nullptr : not_here();
    int qs[3];
    capi::Scratch<> limits;
    if (!limits.allocate(3 * Py_ssize_t{c.dof})) return nullptr;
    std::size_t count = 0;
    for (int q = 1; q <= 3; ++q) {
        if (a[q] == Py_None) continue;
        if (static_cast<unsigned int>(q) < c.order ||
            !limit_values(a[q], c.dof, limits.data() + count * c.dof))
            return not_here();
        qs[count++] = q;
    }
    if (count == 0) return not_here();
    // The stretched motion goes into a new object, or for the factor alone into scratch.
    double *knots = nullptr, *cpts = nullptr;
    capi::Ref result;
    capi::Scratch<> scratch;
    if (factor_only) {
        if (!scratch.allocate(c.knots.size() + c.cpts.size())) return nullptr;
        knots = scratch.data();
        cpts = scratch.data() + c.knots.size();
    } else if (!(result = capi::Ref(new_like(c.motion, c.p, c.n, c.dof, c.order, &knots, &cpts)))) {
        return nullptr;
    }
    Settled found;
    const bool settled = settle_motion(c.knot_span(), c.cpts_span(), c.dof, c.p,
                                       static_cast<int>(c.order), {qs, count}, limits.data(), 0.0,
                                       0.0, {knots, static_cast<std::size_t>(c.knots.size())},
                                       {cpts, static_cast<std::size_t>(c.cpts.size())}, found);
    if (!settled) PyErr_Clear();
    // No factor, or one that leaves the range of floating point: the Python path says which.
    if (!settled || !(found.exact > 0.0) || !std::isfinite(found.exact) || !found.fits ||
        !std::isfinite(found.k))
        return not_here();
    return factor_only ? PyFloat_FromDouble(found.k) : result.release();
}

namespace {

const char *const extrema_names[] = {"traj", "nu", "peak"};
const capi::ArgSpec extrema_signature{"extrema_direct", extrema_names, 3, 3};

// A number for a trajectory, an array of one per axis for a motion.
PyObject *per_axis(bool motion, const double *values, Py_ssize_t dof) {
    if (!motion) return PyFloat_FromDouble(values[0]);
    npy_intp dims[1] = {dof};
    PyObject *array = PyArray_SimpleNew(1, dims, NPY_DOUBLE);
    if (array == nullptr) return nullptr;
    auto *d = static_cast<double *>(PyArray_DATA(reinterpret_cast<PyArrayObject *>(array)));
    for (Py_ssize_t c = 0; c < dof; ++c) d[c] = values[c];
    return array;
}

}  // namespace

PyObject *extrema_direct(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    PyObject *a[3];
    if (!capi::parse_args(extrema_signature, args, nargs, kw, a) || !load_types()) return nullptr;
    Copied c;
    const int copied = PyLong_CheckExact(a[1]) ? copy_of(a[0], c) : 0;
    if (copied <= 0) return copied < 0 ? nullptr : not_here();
    const long nu = PyLong_AsLong(a[1]);
    if (nu < 0) {
        PyErr_Clear();
        return not_here();
    }
    capi::Scratch<> work, column;
    capi::Scratch<k::Extrema> found;
    if (!found.allocate(c.dof)) return nullptr;
    // Every order above p is the same zero derivative.
    const int order = nu > c.p ? c.p + 1 : static_cast<int>(nu);
    if (!axis_extrema(c.knot_span(), c.cpts_span(), c.dof, c.p, order, work, column,
                      found.span())) {
        PyErr_Clear();
        return not_here();
    }
    // Rows of dof: tmin, vmin, tmax, vmax, then the peak's time and value (the larger |value|, on
    // a tie the earlier time).
    capi::Scratch<> rows;
    if (!rows.allocate(6 * Py_ssize_t{c.dof})) return nullptr;
    double *r = rows.data();
    for (int j = 0; j < c.dof; ++j) {
        const k::Extrema &x = found.data()[j];
        const bool top = std::fabs(x.vmax) > std::fabs(x.vmin) ||
                         (std::fabs(x.vmax) == std::fabs(x.vmin) && x.tmax <= x.tmin);
        const double row[6] = {
            x.tmin, x.vmin, x.tmax, x.vmax, top ? x.tmax : x.tmin, top ? x.vmax : x.vmin};
        for (int i = 0; i < 6; ++i) r[i * c.dof + j] = row[i];
    }
    const int peak = PyObject_IsTrue(a[2]);
    if (peak < 0) return nullptr;
    const int first = peak ? 4 : 0, count = peak ? 2 : 4;
    capi::Ref result(PyTuple_New(count));
    if (!result) return nullptr;
    for (int i = 0; i < count; ++i) {
        PyObject *item = per_axis(c.motion, r + (first + i) * c.dof, c.dof);
        if (item == nullptr) return nullptr;
        PyTuple_SET_ITEM(result.get(), i, item);
    }
    return result.release();
}

namespace {

// End derivatives given as numbers, each order's value on every axis, into rows of dof.
bool end_conditions(PyObject *o, int dof, capi::Scratch<> &rows, Py_ssize_t *count) {
    if (!PyList_CheckExact(o) && !PyTuple_CheckExact(o)) return false;
    *count = PySequence_Fast_GET_SIZE(o);
    if (*count > k::kMaxDegree || !rows.allocate(*count * dof)) {
        PyErr_Clear();
        return false;
    }
    PyObject **items = PySequence_Fast_ITEMS(o);
    for (Py_ssize_t d = 0; d < *count; ++d) {
        double x = 0.0;
        if (!number(items[d], &x)) return false;
        for (int c = 0; c < dof; ++c) rows.data()[d * dof + c] = x;
    }
    return true;
}

const char *const interpolate_names[] = {"times", "values", "p",        "start",
                                         "stop",  "order",  "tolerance"};
const capi::ArgSpec interpolate_signature{"interpolate_direct", interpolate_names, 7, 7};

}  // namespace

PyObject *interpolate_direct(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    PyObject *a[7];
    if (!capi::parse_args(interpolate_signature, args, nargs, kw, a) || !load_types())
        return nullptr;
    capi::Scratch<> times, values, head, tail;
    Py_ssize_t m = 0, shape[2] = {0, 1}, n_head = 0, n_tail = 0;
    double p_value = 0.0, order_value = 0.0, tolerance = 0.0;
    int times_ndim = 0, values_ndim = 0;
    if (!copy_doubles(a[0], 1, &times_ndim, &m, times) ||
        !copy_doubles(a[1], 2, &values_ndim, shape, values) || shape[0] != m || m < 2 ||
        shape[1] < 1 || shape[1] > (1 << 20) || !PyLong_CheckExact(a[2]) ||
        !number(a[2], &p_value) || !PyLong_CheckExact(a[5]) || !number(a[5], &order_value) ||
        !number(a[6], &tolerance))
        return not_here();
    const bool axes = values_ndim == 2;
    const int dof = static_cast<int>(shape[1]);
    if (!(p_value >= 1.0 && p_value <= k::kMaxDegree && order_value >= 0.0 &&
          order_value <= UINT_MAX && m < INT_MAX / 2) ||
        !end_conditions(a[3], dof, head, &n_head) || !end_conditions(a[4], dof, tail, &n_tail))
        return not_here();
    const int p = static_cast<int>(p_value);
    const auto rows = static_cast<std::size_t>(dof);
    const k::InterpolationSize size =
        k::interpolation_size(static_cast<std::size_t>(m), p, static_cast<std::size_t>(n_head),
                              static_cast<std::size_t>(n_tail), rows);
    if (!size.ok) return not_here();
    capi::Scratch<> work;
    if (!work.allocate(static_cast<Py_ssize_t>(size.work))) return nullptr;
    const int n = static_cast<int>(m) + p - 2;
    double *knots = nullptr, *coefs = nullptr;
    capi::Ref result(
        new_like(axes, p, n, dof, static_cast<unsigned int>(order_value), &knots, &coefs));
    if (!result) return nullptr;
    k::InterpolationCheck check;
    check.interrupted = signalled;
    check.tolerance = tolerance;
    const auto span = [](const capi::Scratch<> &s) {
        return k::cspan{s.data(), static_cast<std::size_t>(s.size())};
    };
    const k::InterpolationStatus status =
        k::interpolate_axes(span(times), span(values), rows, p, span(head), span(tail),
                            {knots, static_cast<std::size_t>(m + 2 * p)},
                            {coefs, static_cast<std::size_t>(n + 1) * rows}, work.span(), check);
    if (status == k::InterpolationStatus::interrupted) return nullptr;  // the signal's exception
    if (status != k::InterpolationStatus::ok) return not_here();
    return result.release();
}

}  // namespace pyorvex::planning
