// The one gate between a degree and the kernel's numerics, shared by every module that computes
// with splines: records of any degree are data, only the kernel's routines are bounded.
#pragma once

namespace pyorvex::capi {

// ValueError "degree %lld exceeds the maximum supported degree %d" for a degree (of a record or
// of a result) above the kernel's limit, "the degree must be non-negative, got %lld" below zero;
// computed wide so that p + nu cannot overflow.
bool supported_degree(long long degree);

}  // namespace pyorvex::capi
