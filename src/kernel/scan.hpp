// The scans of an array of abscissae that every array evaluation makes before the kernel runs:
// the strictly increasing test, the quick test for a block that needs a closer look, and the
// non-decreasing test of the planning routines.
//
// They are streaming passes over what can be millions of points, so they are vectorised by hand:
// the compiler keeps floating-point comparisons scalar to preserve their exception flags. SSE2 is
// part of every x86-64; AVX2 is used when the processor has it. Elsewhere plain loops do the same.
// Header only: the module calls these per block, in its own hot loops.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "cpu_features.hpp"

namespace pyorvex::kernel {

namespace scan_detail {

// Which comparison of a neighbouring pair (a[j-1], a[j]) marks it.
enum class Mark {
    NotIncreasing,  // a[j-1] >= a[j]: false when either is NaN
    Suspect,        // !(a[j-1] < a[j]): true when either is NaN
    NotAscending,   // !(a[j-1] <= a[j]): true when either is NaN
};

// Each mark_* returns non-zero when some pair with j in [j, end) is marked; j >= 1.
template <Mark M>
int mark_scalar(const double *a, std::ptrdiff_t j, std::ptrdiff_t end) {
    int marked = 0;
    for (; j < end; ++j) {
        if constexpr (M == Mark::NotIncreasing)
            marked |= static_cast<int>(a[j - 1] >= a[j]);
        else if constexpr (M == Mark::Suspect)
            marked |= static_cast<int>(!(a[j - 1] < a[j]));
        else
            marked |= static_cast<int>(!(a[j - 1] <= a[j]));
    }
    return marked;
}

#if PYORVEX_KERNEL_X86

template <Mark M>
int mark_sse2(const double *a, std::ptrdiff_t j, std::ptrdiff_t end) {
    __m128d acc0 = _mm_setzero_pd(), acc1 = _mm_setzero_pd();
    for (; j + 4 <= end; j += 4) {
        const __m128d p0 = _mm_loadu_pd(a + j - 1), c0 = _mm_loadu_pd(a + j);
        const __m128d p1 = _mm_loadu_pd(a + j + 1), c1 = _mm_loadu_pd(a + j + 2);
        if constexpr (M == Mark::NotIncreasing) {
            acc0 = _mm_or_pd(acc0, _mm_cmpge_pd(p0, c0));
            acc1 = _mm_or_pd(acc1, _mm_cmpge_pd(p1, c1));
        } else if constexpr (M == Mark::Suspect) {
            acc0 = _mm_or_pd(acc0, _mm_cmpnlt_pd(p0, c0));
            acc1 = _mm_or_pd(acc1, _mm_cmpnlt_pd(p1, c1));
        } else {
            acc0 = _mm_or_pd(acc0, _mm_cmpnle_pd(p0, c0));
            acc1 = _mm_or_pd(acc1, _mm_cmpnle_pd(p1, c1));
        }
    }
    return _mm_movemask_pd(_mm_or_pd(acc0, acc1)) | mark_scalar<M>(a, j, end);
}

// The AVX comparison predicate that marks a pair (a[j-1], a[j]).
template <Mark M>
inline constexpr int kPredicate = M == Mark::NotIncreasing ? _CMP_GE_OQ
                                  : M == Mark::Suspect     ? _CMP_NLT_UQ
                                                           : _CMP_NLE_UQ;

template <Mark M>
__attribute__((target("avx2"))) int mark_avx2(const double *a, std::ptrdiff_t j,
                                              std::ptrdiff_t end) {
    constexpr int predicate = kPredicate<M>;
    __m256d acc0 = _mm256_setzero_pd(), acc1 = _mm256_setzero_pd();
    for (; j + 8 <= end; j += 8) {
        acc0 = _mm256_or_pd(
            acc0, _mm256_cmp_pd(_mm256_loadu_pd(a + j - 1), _mm256_loadu_pd(a + j), predicate));
        acc1 = _mm256_or_pd(
            acc1, _mm256_cmp_pd(_mm256_loadu_pd(a + j + 3), _mm256_loadu_pd(a + j + 4), predicate));
    }
    return _mm256_movemask_pd(_mm256_or_pd(acc0, acc1)) | mark_scalar<M>(a, j, end);
}

template <Mark M>
int mark(const double *a, std::ptrdiff_t j, std::ptrdiff_t end) {
    return has_avx2() ? mark_avx2<M>(a, j, end) : mark_sse2<M>(a, j, end);
}

// Copies a[1..m) to out[1..m) (out[0] is in place) and marks its pairs from (out[0], out[1]) on,
// as copied: the pair that crosses two vectors is formed from registers, never from out. Returns
// the index up to which it went (the caller copies and marks the rest).
template <Mark M>
__attribute__((target("avx2"))) std::ptrdiff_t copy_mark_avx2(const double *a, std::ptrdiff_t m,
                                                              double *out, int &marked) {
    constexpr int predicate = kPredicate<M>;
    __m256d acc = _mm256_setzero_pd(), previous = _mm256_set1_pd(out[0]);
    std::ptrdiff_t j = 1;
    for (; j + 4 <= m; j += 4) {
        const __m256d c = _mm256_loadu_pd(a + j);
        _mm256_storeu_pd(out + j, c);
        // (previous[3], c[0], c[1], c[2]): each lane's left neighbour.
        const __m256d left = _mm256_shuffle_pd(_mm256_permute2f128_pd(previous, c, 0x21), c, 0x5);
        acc = _mm256_or_pd(acc, _mm256_cmp_pd(left, c, predicate));
        previous = c;
    }
    marked = _mm256_movemask_pd(acc);
    return j;
}

#else

template <Mark M>
int mark(const double *a, std::ptrdiff_t j, std::ptrdiff_t end) {
    return mark_scalar<M>(a, j, end);
}

#endif

}  // namespace scan_detail

// Copies a[0..m) to out and returns order_suspect(out, 1, m) in the same pass: the test is of the
// values copied, whatever another thread writes into a meanwhile.
inline bool copy_order_suspect(const double *a, std::ptrdiff_t m, double *out) {
    if (m <= 0) return false;
    out[0] = a[0];
    int marked = 0;
    std::ptrdiff_t j = 1;
#if PYORVEX_KERNEL_X86
    if (has_avx2()) j = scan_detail::copy_mark_avx2<scan_detail::Mark::Suspect>(a, m, out, marked);
#endif
    if (j < m) {
        std::memcpy(out + j, a + j, static_cast<std::size_t>(m - j) * sizeof(double));
        marked |= scan_detail::mark<scan_detail::Mark::Suspect>(out, j, m);
    }
    return marked != 0;
}

// Fails at the first i with a[i-1] >= a[i]; NaN never fails a comparison. A sorted array costs
// one streaming pass.
inline bool strictly_increasing(const double *a, std::ptrdiff_t m) {
    // Blocks bound the work done past a break.
    constexpr std::ptrdiff_t block = 1024;
    for (std::ptrdiff_t i = 1; i < m; i += block)
        if (scan_detail::mark<scan_detail::Mark::NotIncreasing>(a, i, std::min(m, i + block)))
            return false;
    return true;
}

// True when some pair a[j-1], a[j] with j in [from, end) is not in increasing order or holds a
// NaN (both make the comparison a[j-1] < a[j] false).
inline bool order_suspect(const double *a, std::ptrdiff_t from, std::ptrdiff_t end) {
    return scan_detail::mark<scan_detail::Mark::Suspect>(a, std::max<std::ptrdiff_t>(from, 1),
                                                         end) != 0;
}

// True when a[j-1] <= a[j] for every j in [1, m): non-decreasing and, from two elements on, free of
// NaN (a NaN fails every comparison). One streaming pass, stopping at the first block with a break.
inline bool ascending(const double *a, std::ptrdiff_t m) {
    constexpr std::ptrdiff_t block = 1024;
    for (std::ptrdiff_t i = 1; i < m; i += block)
        if (scan_detail::mark<scan_detail::Mark::NotAscending>(a, i, std::min(m, i + block)))
            return false;
    return true;
}

}  // namespace pyorvex::kernel
