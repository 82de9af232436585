// The batch evaluators of eval_batch.hpp in plain C++ vector code, for any target. Included
// inside a namespace of its own by evaluate.cpp (the baseline build) and by the kernel tests.
#define PYORVEX_VFMA(a, b, c) ((a) * (b) + (c))
#define PYORVEX_MOVEMASK(m) \
    static_cast<int>(((m)[0] & 1) | ((m)[1] & 2) | ((m)[2] & 4) | ((m)[3] & 8))
#define PYORVEX_LANES(i) (i)
#define PYORVEX_PICK(v, i) \
    (vec4{(v)[(i)[0] & 3], (v)[(i)[1] & 3], (v)[(i)[2] & 3], (v)[(i)[3] & 3]})
#include "eval_batch.hpp"
#undef PYORVEX_VFMA
#undef PYORVEX_MOVEMASK
#undef PYORVEX_LANES
#undef PYORVEX_PICK
