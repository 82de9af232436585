// Knot insertion (knotins) and refinement (knotref): a new trajectory describing the same curve
// over a richer knot vector, sized here and filled by the kernel's splkins and splkref.
#include <cmath>

#include "knots.hpp"

namespace pyorvex::dds::knots {

namespace {

// Strictly increasing, checked once over the array. A NaN anywhere fails too: inserted into a
// knot vector it would leave a record whose knots are no longer ordered.
bool check_increasing(pyorvex_dview X) {
    for (Py_ssize_t i = 0; i < X.size; ++i) {
        const bool bad = (i > 0 && !(X.data[i - 1] < X.data[i])) || std::isnan(X.data[i]);
        if (bad) {
            PyErr_SetString(PyExc_ValueError, "'X' must be increasing");
            return false;
        }
    }
    return true;
}

// Allocates the two buffers of a record with `added` more knots and control points than self.
bool alloc_grown(Traj *self, Py_ssize_t added, int *new_n, trajectory::NewRecord *record) {
    if (!trajectory::record_index(static_cast<long long>(self->n) + added, self->p, new_n))
        return false;
    return record->allocate(trajectory::knot_count(self) + added,
                            trajectory::cpts_count(self) + added);
}

}  // namespace

PyObject *knotins(Traj *self, double u, int r, int skip_dispatch) {
    Ref result;
    const int found = capi::dispatch(self, skip_dispatch, "knotins", py_knotins, &result, u, r);
    if (found < 0) return nullptr;
    if (found > 0) return capi::expect_instance_or_none(result.release(), &trajectory::type);
    pyorvex_dview kv, cv;
    if (!trajectory::record_views(self, &kv, &cv)) return nullptr;
    if (!check_domain(self, u, true) || !check_count(r)) return nullptr;
    // A subclass's start or stop may have run Python code that gave self new arrays.
    if (!trajectory::record_views(self, &kv, &cv)) return nullptr;
    if (r > self->p) {
        PyErr_SetString(PyExc_ValueError, "'r' must be less than or equal to 'p'");
        return nullptr;
    }
    int n;
    trajectory::NewRecord record;
    if (!alloc_grown(self, r, &n, &record)) return nullptr;
    module_state.kernel.splkins(kv, cv, self->p, u, r, record.knot_view(), record.cpts_view(), 0);
    return record.wrap(self->p, n, self->order);
}

PyObject *knotref(Traj *self, pyorvex_dview X, int skip_dispatch) {
    Ref method;
    const int found = capi::lookup(self, skip_dispatch, "knotref", py_knotref, &method);
    if (found < 0) return nullptr;
    if (found > 0) {
        // The C form of None reaches the override as an empty array.
        static const double nothing = 0.0;
        capi::DoubleArgument arg;
        if (!arg.make(X.data ? X.data : &nothing, X.data ? X.size : 0)) return nullptr;
        Ref result(capi::expect_instance_or_none(capi::call_with(method.get(), arg.view()),
                                                 &trajectory::type));
        if (result) arg.copy_back(X.data, X.size);
        return result.release();
    }
    if (X.data == nullptr) X.size = 0;  // the C form of None
    if (X.size < 0) {
        PyErr_Format(PyExc_ValueError, "'X' has a negative length (%zd)", X.size);
        return nullptr;
    }
    pyorvex_dview kv, cv;
    if (!trajectory::record_views(self, &kv, &cv)) return nullptr;
    if (!check_increasing(X)) return nullptr;
    int n;
    trajectory::NewRecord record;
    if (!alloc_grown(self, X.size, &n, &record)) return nullptr;
    module_state.kernel.splkref(kv, cv, self->p, X, record.knot_view(), record.cpts_view(), 0);
    return record.wrap(self->p, n, self->order);
}

namespace {

const char *const knotins_names[] = {"u", "r"};
const capi::ArgSpec knotins_spec{"knotins", knotins_names, 2, 2};

}  // namespace

PyObject *py_knotins(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    PyObject *a[2];
    if (!capi::parse_args(knotins_spec, args, nargs, kw, a)) return nullptr;
    double u;
    int r;
    if (!capi::to_double(a[0], &u) || !capi::to_int(a[1], &r)) return nullptr;
    return knotins(reinterpret_cast<Traj *>(self), u, r, 1);
}

PyObject *py_knotref(PyObject *self, PyObject *X) {
    capi::DoubleBuffer buf;
    if (!buf.acquire(X)) return nullptr;
    return knotref(reinterpret_cast<Traj *>(self), buf.view(), 1);
}

}  // namespace pyorvex::dds::knots
