// The check every time transform makes before it writes: the kernel tells whether the knots
// c_hscale and c_hshift would leave overflow or merge; capi writes the matching exception.
#include "evaluation.hpp"
#include "knot_transform.hpp"
#include "refusals.hpp"

namespace pyorvex::dds::evaluation {

int check_transformed_knots(Traj *self, bool scale, double k, bool shift, double d) {
    if (self->_knotvector == nullptr) return 0;
    const Py_ssize_t m = trajectory::knot_count(self);
    return capi::knot_transform_refusal(
        kernel::check_knot_transform(self->_knotvector, m, scale, k, shift, d));
}

}  // namespace pyorvex::dds::evaluation
