// Placeholder until the sum, the number protocol and the value constraints land.
#include "internal.hpp"

namespace pyorvex::dds {

PyMethodDef trajectory_algebra_methods[] = {{nullptr, nullptr, 0, nullptr}};

PyNumberMethods trajectory_as_number = {};

void install_algebra(TrajVtab *) {}

int add_constraint_methods(PyTypeObject *) { return 0; }

}  // namespace pyorvex::dds
