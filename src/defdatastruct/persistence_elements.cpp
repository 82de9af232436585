// Placeholder until the XML element forms of points and trajectories land.
#include "internal.hpp"

namespace pyorvex::dds {

PyMethodDef trajectory_persistence_methods[] = {{nullptr, nullptr, 0, nullptr}};
PyMethodDef point_persistence_methods[] = {{nullptr, nullptr, 0, nullptr}};

void install_elements(PointVtab *, TrajVtab *) {}

}  // namespace pyorvex::dds
