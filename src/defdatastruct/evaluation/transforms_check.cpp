// The check every time transform makes before it writes: the kernel tells whether the knots
// c_hscale and c_hshift would leave overflow or merge; this raises the matching exception.
#include "evaluation.hpp"
#include "knot_transform.hpp"

namespace pyorvex::dds::evaluation {

int check_transformed_knots(Traj *self, bool scale, double k, bool shift, double d) {
    if (self->_knotvector == nullptr) return 0;
    const Py_ssize_t m = trajectory::knot_count(self);
    switch (kernel::check_knot_transform(self->_knotvector, m, scale, k, shift, d)) {
        case kernel::KnotTransformCheck::Overflow:
            PyErr_SetString(PyExc_OverflowError, "the transformed knots would overflow a double");
            return -1;
        case kernel::KnotTransformCheck::Merge:
            PyErr_SetString(PyExc_ValueError,
                            "the transform would merge or reverse distinct knots");
            return -1;
        case kernel::KnotTransformCheck::Ok:
            break;
    }
    return 0;
}

}  // namespace pyorvex::dds::evaluation
