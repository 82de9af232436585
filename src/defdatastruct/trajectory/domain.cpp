// The ends of a trajectory's domain as the domain checks read them: the start and stop
// properties, so that a subclass which redefines its domain is honoured.
#include "trajectory.hpp"

namespace pyorvex::dds::trajectory {

namespace {

// Straight from the knots for the plain type (no attribute lookup on the hot path); through the
// attribute, with the interpreter's float conversion, when the object may carry an override.
bool domain_end(Traj *t, const char *name, Py_ssize_t index, double *out) {
    auto *obj = reinterpret_cast<PyObject *>(t);
    if (t->_knotvector != nullptr && !capi::may_override(obj)) {
        *out = t->_knotvector[index];
        return true;
    }
    Ref value(PyObject_GetAttrString(obj, name));
    return value && capi::to_double(value.get(), out);
}

}  // namespace

bool domain_start(Traj *t, double *out) { return domain_end(t, "start", 0, out); }

bool domain_stop(Traj *t, double *out) { return domain_end(t, "stop", knot_count(t) - 1, out); }

}  // namespace pyorvex::dds::trajectory
