// The trajectory algebra as Trajectory1d shows it: the Python methods of the sum and product with
// their docstrings, and their entries in the C-level method table. The number protocol itself is
// in numbers.cpp.
#include "algebra.hpp"

namespace pyorvex::dds::algebra {

PyMethodDef trajectory_methods[] = {
    {"c_splcsum", py_c_splcsum, METH_O,
     "Returns the sum of this trajectory and 'other' as a new trajectory.\n"
     "\n"
     "Parameters\n"
     "----------\n"
     "other: Trajectory1d\n"
     "    A trajectory with the same degree 'p', the same domain and the same 'order'.\n"
     "\n"
     "Returns\n"
     "-------\n"
     "out: Trajectory1d\n"
     "    The pointwise sum, on the union of the two knot vectors.\n"
     "\n"
     "Notes\n"
     "-----\n"
     "Neither operand is changed. A knot present in both knot vectors keeps the larger of its\n"
     "two multiplicities.\n"},
    {"c_splcmul", py_c_splcmul, METH_O,
     "Reserved for the product of this trajectory and 'other'.\n"
     "\n"
     "Parameters\n"
     "----------\n"
     "other: Trajectory1d or None\n"
     "    The other factor.\n"
     "\n"
     "Returns\n"
     "-------\n"
     "out: Trajectory1d\n"
     "    Never: the product is not implemented.\n"
     "\n"
     "Notes\n"
     "-----\n"
     "Always raises NotImplementedError unless a subclass overrides it.\n"},
    {nullptr, nullptr, 0, nullptr},
};

void install(TrajVtab *v) {
    v->c_splcsum = c_splcsum;
    v->c_splcmul = c_splcmul;
    install_constraints(v);
}

}  // namespace pyorvex::dds::algebra
