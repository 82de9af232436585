#include "degree.hpp"

#include <Python.h>

#include "bspline.hpp"

namespace pyorvex::capi {

bool supported_degree(long long degree) {
    if (degree >= 0 && degree <= kernel::kMaxDegree) return true;
    if (degree < 0)
        PyErr_Format(PyExc_ValueError, "the degree must be non-negative, got %lld", degree);
    else
        PyErr_Format(PyExc_ValueError, "degree %lld exceeds the maximum supported degree %d",
                     degree, kernel::kMaxDegree);
    return false;
}

}  // namespace pyorvex::capi
