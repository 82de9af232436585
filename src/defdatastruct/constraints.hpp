// The callable objects behind Trajectory1d.setValueTr and setValueAm: a dispatcher that picks a
// specialisation from the type of the constraint argument, and the specialisations themselves.
// Both behave like methods: found on the class they are unbound (self is the first argument),
// found on an instance they are bound to it.
#pragma once

#include "internal.hpp"

namespace pyorvex::dds {

struct FusedInfo {
    const char *name;      // __name__
    const char *qualname;  // __qualname__
    const char *doc;
    const char *method;    // the method's Python name, used in argument messages
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

}  // namespace pyorvex::dds
