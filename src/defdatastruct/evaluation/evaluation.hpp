// What the units of the evaluation subsystem share: the C-level operations, the Python-visible
// wrappers and docstrings that evaluation.cpp gathers into the type, and the pieces the call
// operator reuses from array evaluation.
#pragma once

#include <cstdint>

#include "scratch.hpp"
#include "bspline.hpp"
#include "scan.hpp"
#include "trajectory/trajectory.hpp"

namespace pyorvex::dds::evaluation {

using capi::raise_value_error;

template <class F>
void *builtin_of(F *fn) {
    return reinterpret_cast<void *>(fn);
}

// Per-call scratch memory from the interpreter's allocator, released on every exit path.
using capi::Scratch;

// Arrays are evaluated in blocks of this many points where the results allow it: a block stays in
// the cache between its test, its copy and the kernel.
constexpr Py_ssize_t kEvaluationBlock = 4096;

// 0 when the derivative values of order nu in values[0..len), computed at abscissae inside the
// domain, fit a double (the kernel's test, header only); -1 with the overflow error otherwise.
inline int check_derivative(const double *values, Py_ssize_t len, const pyorvex_dview &knots,
                            const pyorvex_dview &cpts, int nu) {
    namespace k = pyorvex::kernel;
    const auto view = [](const pyorvex_dview &v) {
        return k::cspan(v.data, static_cast<std::size_t>(v.size));
    };
    if (nu < 1 || k::derivative_status({values, static_cast<std::size_t>(len)}, view(knots),
                                       view(cpts)) != k::EvalStatus::overflow)
        return 0;
    capi::raise_derivative_overflow(nu);
    return -1;
}

// --- point.cpp ---------------------------------------------------------------------
double peval_op(Traj *self, double x, int skip_dispatch);
double dpeval_op(Traj *self, double x, int skip_dispatch, pyorvex_opt_nu *opt);
int ceval_op(Traj *self, pyorvex_dview xp, int skip_dispatch);
int dceval_op(Traj *self, pyorvex_dview xp, int skip_dispatch, pyorvex_opt_nu *opt);

PyObject *py_peval(PyObject *self, PyObject *x);
PyObject *py_dpeval(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw);
PyObject *py_ceval(PyObject *self, PyObject *xp);
PyObject *py_dceval(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw);
extern const char peval_doc[], dpeval_doc[], ceval_doc[], dceval_doc[];

// The scans of the abscissae before evaluation (the kernel's, inline in the loops here):
// strictly_increasing(a, m) and order_suspect(a, from, end).
using kernel::order_suspect;
using kernel::strictly_increasing;

// The checks of ceval (derivative false) or dceval (derivative true, order nu) after the record's
// views, then the kernel. Overwrites xp with the results; 0, or -1 with an exception set.
int evaluate_array(Traj *self, pyorvex_dview xp, bool derivative, int nu);

// --- order.cpp ---------------------------------------------------------------------
// The permutation that sorts xs ascending with every NaN last: sorted[i] = xs[order[i]], bit for
// bit (the kernel's sort_positions). Ties keep no particular order. Needs m values in each of xs,
// sorted and order; returns false with MemoryError set when its scratch cannot be allocated.
bool sort_positions(const double *xs, Py_ssize_t m, double *sorted, Py_ssize_t *order);

// --- copying.cpp -------------------------------------------------------------------
// What the call operator computes for an array: the checks and results of ceval (derivative
// false) or dceval (derivative true, nu >= 0) on the abscissae xs as the call operator would
// order them, written to out in the order of xs. xs is only read; out holds m doubles.
int evaluate_copying(Traj *self, const double *xs, double *out, Py_ssize_t m, bool derivative,
                     int nu);

// --- calculus.cpp -------------------------------------------------------------------------------
PyObject *derivative_op(Traj *self, int skip_dispatch, pyorvex_opt_nu *opt);
PyObject *antiderivative_op(Traj *self, int skip_dispatch, pyorvex_opt_nu *opt);
PyObject *degelev_op(Traj *self, int skip_dispatch, pyorvex_opt_nu *opt);

PyObject *py_derivative(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw);
PyObject *py_antiderivative(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw);
PyObject *py_degelev(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw);
extern const char derivative_doc[], antiderivative_doc[], degelev_doc[];

// --- transforms_check.cpp ------------------------------------------------------------------------
// Refuses, before anything is written, a transform (c_hscale(k) when scale, then c_hshift(d) when
// shift) whose rounded knots would overflow (OverflowError) or merge or reverse two distinct
// knots, closeness below the smallest normal double included (ValueError). 0, or -1 with the
// exception set. Knots already out of order or not finite are left to the caller.
int check_transformed_knots(Traj *self, bool scale, double k, bool shift, double d);

// --- transforms.cpp -----------------------------------------------------------------------------
int rshift_op(Traj *self, double x, int skip_dispatch);
int ashift_op(Traj *self, double x, int skip_dispatch);
int hscale_op(Traj *self, double k, int skip_dispatch);
int adapt_op(Traj *self, double start, double stop, int skip_dispatch);

PyObject *py_rshift(PyObject *self, PyObject *x);
PyObject *py_ashift(PyObject *self, PyObject *x);
PyObject *py_hscale(PyObject *self, PyObject *k);
PyObject *py_adapt(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw);
extern const char rshift_doc[], ashift_doc[], hscale_doc[], adapt_doc[];

// The optional order of the C-level operations (default 1).
inline int nu_or_default(const pyorvex_opt_nu *opt) {
    return (opt != nullptr && opt->n_given > 0) ? opt->nu : 1;
}

// --- the subsystem's pieces of Trajectory1d (evaluation.cpp, call.cpp) ------------------------
extern PyMethodDef trajectory_methods[];
PyObject *call(PyObject *self, PyObject *args, PyObject *kw);  // the type's call slot
extern const char call_doc[];
void install(TrajVtab *vt);  // peval ... adapt, derivative, antiderivative, degelev

}  // namespace pyorvex::dds::evaluation
