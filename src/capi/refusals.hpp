// The messages of the kernel's refusals that more than one module meets: the kernel says why it
// refuses (a status), and these write the one message for it.
#pragma once

#include "knot_transform.hpp"

namespace pyorvex::capi {

// 0 when a time transform may go ahead; -1 with OverflowError "the transformed knots would
// overflow a double" or ValueError "the transform would merge or reverse distinct knots".
int knot_transform_refusal(kernel::KnotTransformCheck check);

}  // namespace pyorvex::capi
