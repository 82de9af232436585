#include "refusals.hpp"

#include <Python.h>

namespace pyorvex::capi {

int knot_transform_refusal(kernel::KnotTransformCheck check) {
    switch (check) {
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

}  // namespace pyorvex::capi
