// The scans of an array of abscissae that every array evaluation makes before the kernel runs:
// the strictly increasing test and the quick test for a block that needs a closer look.
//
// They are streaming passes over what can be millions of points, so they are vectorised by hand:
// the compiler keeps floating-point comparisons scalar to preserve their exception flags. SSE2 is
// part of every x86-64; AVX2 is used when the processor has it. Elsewhere plain loops do the same.
#include <algorithm>

#include "evaluation.hpp"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define PYORVEX_SCAN_X86 1
#include <immintrin.h>
#endif

namespace pyorvex::dds::evaluation {

namespace {

// Which comparison of a neighbouring pair (a[j-1], a[j]) marks it.
enum class Mark {
    NotIncreasing,  // a[j-1] >= a[j]: false when either is NaN
    Suspect,        // !(a[j-1] < a[j]): true when either is NaN
};

template <Mark M>
int mark_scalar(const double *a, Py_ssize_t j, Py_ssize_t end) {
    int marked = 0;
    for (; j < end; ++j) {
        if constexpr (M == Mark::NotIncreasing)
            marked |= static_cast<int>(a[j - 1] >= a[j]);
        else
            marked |= static_cast<int>(!(a[j - 1] < a[j]));
    }
    return marked;
}

#if PYORVEX_SCAN_X86

template <Mark M>
int mark_sse2(const double *a, Py_ssize_t j, Py_ssize_t end) {
    __m128d acc0 = _mm_setzero_pd(), acc1 = _mm_setzero_pd();
    for (; j + 4 <= end; j += 4) {
        const __m128d p0 = _mm_loadu_pd(a + j - 1), c0 = _mm_loadu_pd(a + j);
        const __m128d p1 = _mm_loadu_pd(a + j + 1), c1 = _mm_loadu_pd(a + j + 2);
        if constexpr (M == Mark::NotIncreasing) {
            acc0 = _mm_or_pd(acc0, _mm_cmpge_pd(p0, c0));
            acc1 = _mm_or_pd(acc1, _mm_cmpge_pd(p1, c1));
        } else {
            acc0 = _mm_or_pd(acc0, _mm_cmpnlt_pd(p0, c0));
            acc1 = _mm_or_pd(acc1, _mm_cmpnlt_pd(p1, c1));
        }
    }
    return _mm_movemask_pd(_mm_or_pd(acc0, acc1)) | mark_scalar<M>(a, j, end);
}

template <Mark M>
__attribute__((target("avx2"))) int mark_avx2(const double *a, Py_ssize_t j, Py_ssize_t end) {
    constexpr int predicate = M == Mark::NotIncreasing ? _CMP_GE_OQ : _CMP_NLT_UQ;
    __m256d acc0 = _mm256_setzero_pd(), acc1 = _mm256_setzero_pd();
    for (; j + 8 <= end; j += 8) {
        acc0 = _mm256_or_pd(acc0, _mm256_cmp_pd(_mm256_loadu_pd(a + j - 1),
                                                _mm256_loadu_pd(a + j), predicate));
        acc1 = _mm256_or_pd(acc1, _mm256_cmp_pd(_mm256_loadu_pd(a + j + 3),
                                                _mm256_loadu_pd(a + j + 4), predicate));
    }
    return _mm256_movemask_pd(_mm256_or_pd(acc0, acc1)) | mark_scalar<M>(a, j, end);
}

bool has_avx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

template <Mark M>
int mark(const double *a, Py_ssize_t j, Py_ssize_t end) {
    return has_avx2() ? mark_avx2<M>(a, j, end) : mark_sse2<M>(a, j, end);
}

#else

template <Mark M>
int mark(const double *a, Py_ssize_t j, Py_ssize_t end) {
    return mark_scalar<M>(a, j, end);
}

#endif

}  // namespace

bool strictly_increasing(const double *a, Py_ssize_t m) {
    // Blocks bound the work done past a break.
    constexpr Py_ssize_t block = 1024;
    for (Py_ssize_t i = 1; i < m; i += block)
        if (mark<Mark::NotIncreasing>(a, i, std::min(m, i + block))) return false;
    return true;
}

bool order_suspect(const double *a, Py_ssize_t from, Py_ssize_t end) {
    return mark<Mark::Suspect>(a, std::max<Py_ssize_t>(from, 1), end) != 0;
}

}  // namespace pyorvex::dds::evaluation
