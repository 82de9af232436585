// Knot removal (knotrem, knotsrem, knotrem_notol): the kernel removes knots in place in working
// copies of the record and reports how many it took out; the copies are then shrunk to the valid
// front part and become the new trajectory.
#include <cstring>

#include "knots.hpp"

namespace pyorvex::dds::knots {

namespace {

// Working copies of the record's two arrays, which become the new record.
class WorkingCopy {
public:
    bool fill(pyorvex_dview kv, pyorvex_dview cv) {
        if (!record_.allocate(kv.size, cv.size)) return false;
        std::memcpy(record_.knots(), kv.data, static_cast<size_t>(kv.size) * sizeof(double));
        std::memcpy(record_.cpts(), cv.data, static_cast<size_t>(cv.size) * sizeof(double));
        nk_ = kv.size;
        nc_ = cv.size;
        return true;
    }

    pyorvex_dview knots() const { return record_.knot_view(); }
    pyorvex_dview cpts() const { return record_.cpts_view(); }

    // Keeps the first values left after `removed` removals and hands the buffers to a new
    // trajectory.
    PyObject *finish(const Traj *self, int removed) {
        if (removed < 0 || removed > self->n) {
            PyErr_Format(PyExc_RuntimeError,
                         "the kernel reported %d removals from a trajectory with n = %d", removed,
                         self->n);
            return nullptr;
        }
        if (!record_.resize(nk_ - removed, nc_ - removed)) return nullptr;
        return record_.wrap(self->p, self->n - removed, self->order);
    }

private:
    trajectory::NewRecord record_;
    Py_ssize_t nk_ = 0;
    Py_ssize_t nc_ = 0;
};

double tolerance(const pyorvex_opt_tol *opt, double fallback) {
    return (opt != nullptr && opt->n_given > 0) ? opt->tol : fallback;
}

// The checks of the two single-knot removals, in their order.
bool check_single(Traj *self, double u, int r) {
    return check_domain(self, u, false) && check_count(r);
}

}  // namespace

PyObject *knotrem(Traj *self, double u, int r, int skip_dispatch, pyorvex_opt_tol *opt) {
    const double tol = tolerance(opt, module_state.knotrem_tol);
    Ref result;
    const int found =
        capi::dispatch(self, skip_dispatch, "knotrem", py_knotrem, &result, u, r, tol);
    if (found < 0) return nullptr;
    if (found > 0) return capi::expect_instance_or_none(result.release(), &trajectory::type);
    pyorvex_dview kv, cv;
    if (!trajectory::record_views(self, &kv, &cv) || !check_single(self, u, r)) return nullptr;
    // A subclass's start or stop may have run Python code that gave self new arrays.
    if (!trajectory::record_views(self, &kv, &cv)) return nullptr;
    WorkingCopy work;
    if (!work.fill(kv, cv)) return nullptr;
    // The tolerance always goes explicitly, so the kernel's own default never applies.
    pyorvex_remove_opts opts{1, tol};
    const int removed =
        module_state.kernel.splkrem(work.knots(), work.cpts(), self->p, u, r, 0, &opts);
    return work.finish(self, removed);
}

PyObject *knotsrem(Traj *self, int skip_dispatch, pyorvex_opt_tol *opt) {
    const double tol = tolerance(opt, module_state.knotsrem_tol);
    Ref result;
    const int found = capi::dispatch(self, skip_dispatch, "knotsrem", py_knotsrem, &result, tol);
    if (found < 0) return nullptr;
    if (found > 0) return capi::expect_instance_or_none(result.release(), &trajectory::type);
    pyorvex_dview kv, cv;
    if (!trajectory::record_views(self, &kv, &cv)) return nullptr;
    WorkingCopy work;
    if (!work.fill(kv, cv)) return nullptr;
    pyorvex_remove_opts opts{1, tol};
    const int removed = module_state.kernel.splksrem(work.knots(), work.cpts(), self->p, 0, &opts);
    return work.finish(self, removed);
}

PyObject *knotrem_notol(Traj *self, double u, int r, int skip_dispatch) {
    Ref result;
    const int found =
        capi::dispatch(self, skip_dispatch, "knotrem_notol", py_knotrem_notol, &result, u, r);
    if (found < 0) return nullptr;
    if (found > 0) return capi::expect_instance_or_none(result.release(), &trajectory::type);
    pyorvex_dview kv, cv;
    if (!trajectory::record_views(self, &kv, &cv) || !check_single(self, u, r)) return nullptr;
    // A subclass's start or stop may have run Python code that gave self new arrays.
    if (!trajectory::record_views(self, &kv, &cv)) return nullptr;
    WorkingCopy work;
    if (!work.fill(kv, cv)) return nullptr;
    const int removed =
        module_state.kernel.splkrem_notol(work.knots(), work.cpts(), self->p, u, r, 0);
    return work.finish(self, removed);
}

namespace {

const char *const knotrem_names[] = {"u", "r", "tol"};
const capi::ArgSpec knotrem_spec{"knotrem", knotrem_names, 2, 3};
const char *const knotsrem_names[] = {"tol"};
const capi::ArgSpec knotsrem_spec{"knotsrem", knotsrem_names, 0, 1};
const char *const notol_names[] = {"u", "r"};
const capi::ArgSpec notol_spec{"knotrem_notol", notol_names, 2, 2};

// Converts an optional tol argument into the C-level optional-argument record.
bool optional_tol(PyObject *arg, pyorvex_opt_tol *opt) {
    opt->n_given = 0;
    if (arg == nullptr) return true;
    if (!capi::to_double(arg, &opt->tol)) return false;
    opt->n_given = 1;
    return true;
}

}  // namespace

PyObject *py_knotrem(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    PyObject *a[3];
    if (!capi::parse_args(knotrem_spec, args, nargs, kw, a)) return nullptr;
    double u;
    int r;
    pyorvex_opt_tol opt{0, 0.0};
    if (!capi::to_double(a[0], &u) || !capi::to_int(a[1], &r) || !optional_tol(a[2], &opt))
        return nullptr;
    return knotrem(reinterpret_cast<Traj *>(self), u, r, 1, &opt);
}

PyObject *py_knotsrem(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    PyObject *a[1];
    if (!capi::parse_args(knotsrem_spec, args, nargs, kw, a)) return nullptr;
    pyorvex_opt_tol opt{0, 0.0};
    if (!optional_tol(a[0], &opt)) return nullptr;
    return knotsrem(reinterpret_cast<Traj *>(self), 1, &opt);
}

PyObject *py_knotrem_notol(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    PyObject *a[2];
    if (!capi::parse_args(notol_spec, args, nargs, kw, a)) return nullptr;
    double u;
    int r;
    if (!capi::to_double(a[0], &u) || !capi::to_int(a[1], &r)) return nullptr;
    return knotrem_notol(reinterpret_cast<Traj *>(self), u, r, 1);
}

}  // namespace pyorvex::dds::knots
