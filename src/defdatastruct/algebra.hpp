// What the trajectory-algebra units share: the sum and product of two trajectories (C-level
// operations and their Python wrappers), which the number protocol reaches through them.
#pragma once

#include "internal.hpp"

namespace pyorvex::dds::algebra {

// --- algebra_sum.cpp ---
PyObject *c_splcsum(Traj *self, Traj *other, int skip_dispatch);
PyObject *c_splcmul(Traj *self, Traj *other, int skip_dispatch);
PyObject *py_c_splcsum(PyObject *self, PyObject *other);
PyObject *py_c_splcmul(PyObject *self, PyObject *other);

}  // namespace pyorvex::dds::algebra
