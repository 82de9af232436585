// The batch evaluators of eval_batch.hpp with x86 vector builtins. Included inside a namespace of
// its own, within a target region that enables at least AVX2 and FMA, by evaluate.cpp (once for
// AVX2, once for AVX-512VL) and by the kernel tests.
#define PYORVEX_VFMA(a, b, c) __builtin_ia32_vfmaddpd256((a), (b), (c))
#define PYORVEX_MOVEMASK(m) __builtin_ia32_movmskpd256(reinterpret_cast<vec4>(m))
#define PYORVEX_PERMUTE(v, i) __builtin_shuffle((v), (i))
#include "eval_batch.hpp"
#undef PYORVEX_VFMA
#undef PYORVEX_MOVEMASK
#undef PYORVEX_PERMUTE
