// Run-time processor features for the kernel's hand-vectorised helpers. Code is compiled for
// baseline x86-64 (SSE2 included); wider paths are compiled per function with a target attribute
// and picked here, once per process.
#pragma once

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define PYORVEX_KERNEL_X86 1
#include <immintrin.h>
#endif

namespace pyorvex::kernel {

#if PYORVEX_KERNEL_X86
inline bool has_avx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}
#endif

}  // namespace pyorvex::kernel
