// Placeholder until knot insertion, refinement and removal land.
#include "internal.hpp"

namespace pyorvex::dds {

PyMethodDef trajectory_knot_methods[] = {{nullptr, nullptr, 0, nullptr}};

void install_knots(TrajVtab *) {}

}  // namespace pyorvex::dds
