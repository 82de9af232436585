// Placeholder until the sum and the number protocol land.
#include "internal.hpp"

namespace pyorvex::dds {

PyMethodDef trajectory_algebra_methods[] = {{nullptr, nullptr, 0, nullptr}};

PyNumberMethods trajectory_as_number = {};

void install_algebra(TrajVtab *) {}

}  // namespace pyorvex::dds
