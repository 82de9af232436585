// What the knot-operation units share: the checks on a knot value and a count, the sizing guard of
// a new record, and the C-level operations and Python wrappers that knots.cpp collects into the
// type's method table.
#pragma once

#include "trajectory/trajectory.hpp"

namespace pyorvex::dds::knots {

// ValueError "'u' out of domain: {}" when u < start or u > stop (both ends belong to the domain;
// the start and stop properties, so a subclass's own domain counts).
// With reject_nan a NaN is out of the domain too: insertion would write it into the knot vector.
bool check_domain(Traj *self, double u, bool reject_nan);

// ValueError "'r' must be non-negative number" when r < 0.
bool check_count(int r);

// --- insert.cpp ---
PyObject *knotins(Traj *self, double u, int r, int skip_dispatch);
PyObject *knotref(Traj *self, pyorvex_dview X, int skip_dispatch);
PyObject *py_knotins(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw);
PyObject *py_knotref(PyObject *self, PyObject *X);

// --- remove.cpp ---
PyObject *knotrem(Traj *self, double u, int r, int skip_dispatch, pyorvex_opt_tol *opt);
PyObject *knotsrem(Traj *self, int skip_dispatch, pyorvex_opt_tol *opt);
PyObject *knotrem_notol(Traj *self, double u, int r, int skip_dispatch);
PyObject *py_knotrem(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw);
PyObject *py_knotsrem(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw);
PyObject *py_knotrem_notol(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw);

// --- the subsystem's pieces of Trajectory1d (knots.cpp) ---------------------------------------
extern PyMethodDef trajectory_methods[];
void install(TrajVtab *vt);  // knotins ... knotrem_notol

}  // namespace pyorvex::dds::knots
