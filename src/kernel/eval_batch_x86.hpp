// The batch evaluators of eval_batch.hpp with x86 vector builtins. Included inside a namespace of
// its own, within a target region that enables at least AVX2 and FMA, by evaluate.cpp (once for
// AVX2, once for AVX-512VL, with PYORVEX_PICK_BY_QWORD defined) and by the kernel tests.
#define PYORVEX_VFMA(a, b, c) __builtin_ia32_vfmaddpd256((a), (b), (c))
#define PYORVEX_MOVEMASK(m) __builtin_ia32_movmskpd256(reinterpret_cast<vec4>(m))
#ifdef PYORVEX_PICK_BY_QWORD
// AVX-512VL permutes doubles by a vector of indices in one instruction.
#define PYORVEX_LANES(i) (i)
#define PYORVEX_PICK(v, l) __builtin_shuffle((v), (l))
#else
// AVX2 cannot: doubles move as pairs of 32-bit words (vpermps), whose indices 2i, 2i + 1 are
// formed once per point (left to __builtin_shuffle, that conversion is repeated for every pick).
#define PYORVEX_LANES(i) word_lanes(i)
#define PYORVEX_PICK(v, l)                              \
    reinterpret_cast<vec4>(__builtin_ia32_permvarsf256( \
        reinterpret_cast<float __attribute__((vector_size(32)))>(v), (l)))
#endif
#include "eval_batch.hpp"
#undef PYORVEX_VFMA
#undef PYORVEX_MOVEMASK
#undef PYORVEX_LANES
#undef PYORVEX_PICK
