// What the trajectory-algebra units share: the sum and product of two trajectories (C-level
// operations and their Python wrappers), which the number protocol reaches through them.
#pragma once

#include "trajectory/trajectory.hpp"

namespace pyorvex::dds::algebra {

// --- sum.cpp ---
PyObject *c_splcsum(Traj *self, Traj *other, int skip_dispatch);
PyObject *c_splcmul(Traj *self, Traj *other, int skip_dispatch);
PyObject *py_c_splcsum(PyObject *self, PyObject *other);
PyObject *py_c_splcmul(PyObject *self, PyObject *other);

// --- the value constraints (constraints.cpp, constraints_dispatch.cpp) ---
// The callable objects behind Trajectory1d.setValueTr and setValueAm: a dispatcher that picks a
// specialisation from the type of the constraint argument, and the specialisations themselves.
// Both behave like methods: found on the class they are unbound (self is the first argument),
// found on an instance they are bound to it.
struct FusedInfo {
    const char *name;      // __name__
    const char *qualname;  // __qualname__
    const char *doc;
    const char *method;  // the method's Python name, used in argument messages
    // Specialisations only: the body run with self (a Trajectory1d) and the argument.
    PyObject *(*impl)(Traj *self, PyObject *arg);
};

// A dispatcher over `signatures` (dict: signature key -> specialisation). The dict stays live: it
// is the __signatures__ attribute and is consulted at each call.
PyObject *new_fused_dispatcher(const FusedInfo *info, PyObject *signatures);
PyObject *new_fused_specialisation(const FusedInfo *info);

// Whether obj is the callable made from info, bound or not (so: not a Python override of it).
bool is_fused(PyObject *obj, const FusedInfo *info);

int ready_fused_type();

// --- the subsystem's pieces of Trajectory1d (algebra.cpp) -------------------------------------
extern PyMethodDef trajectory_methods[];
extern PyNumberMethods as_number;        // numbers.cpp
void install_constraints(TrajVtab *vt);  // the setValueTr / setValueAm specialisations
void install(TrajVtab *vt);              // c_splcsum, c_splcmul and the constraints
// The setValueTr / setValueAm dispatchers, added to the readied type by the exec step (0 on
// success, -1 with an exception).
int add_constraint_methods(PyTypeObject *trajectory);

}  // namespace pyorvex::dds::algebra
