// Placeholder until the value constraints setValueTr / setValueAm land.
#include "internal.hpp"

namespace pyorvex::dds {

void install_constraints(TrajVtab *) {}

int add_constraint_methods(PyTypeObject *) { return 0; }

}  // namespace pyorvex::dds
