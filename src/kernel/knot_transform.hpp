// The check every time transform makes before it writes: the knots a scaling about the first
// knot and a shift would leave, computed with their exact arithmetic (the rounded results are
// what matters) and compared with the knots as they are, in one pass that writes and allocates
// nothing.
//
// It is a streaming pass over what can be millions of knots, beside a transform that costs a
// fraction of a nanosecond per knot, so it is vectorised by hand (the compiler keeps
// floating-point comparisons scalar): SSE2, part of every x86-64, or AVX2 when the processor has
// it; elsewhere a plain loop does the same. Each step looks at the pairs (u[i-1], u[i]) of a
// block, images computed afresh for both, so that the lanes never depend on each other.
#pragma once

#include <cfloat>
#include <cmath>
#include <cstddef>

#include "cpu_features.hpp"

namespace pyorvex::kernel {

// What a transform does to one knot x: when Scale, k * x - c (the first knot u0, and any knot
// equal to it, stays; a result below the first knot is raised to it when clamp), then + d when
// Shift.
struct KnotTransform {
    double u0, k, c, d;
    bool clamp;
};

enum class KnotTransformCheck {
    Ok,
    Overflow,  // the images of finite knots would not all be finite
    Merge,     // two distinct knots would merge or reverse, or come closer than DBL_MIN
};

namespace knot_transform_detail {

template <bool Scale, bool Shift>
double image(const KnotTransform &q, double x) {
    double v = x;
    if constexpr (Scale) {
        const double s = q.k * x - q.c;
        v = x == q.u0 ? x : ((q.clamp && s < q.u0) ? q.u0 : s);
    }
    if constexpr (Shift) v = v + q.d;
    return v;
}

inline bool finite_value(double x) { return std::fabs(x) <= DBL_MAX; }  // false for NaN

// Whether some pair j-1, j with j in [from, end) of increasing knots has images less than
// min(gap, DBL_MIN) apart (or NaN).
template <bool Scale, bool Shift>
bool merges_scalar(const KnotTransform &q, const double *u, std::ptrdiff_t from,
                   std::ptrdiff_t end) {
    bool merge = false;
    for (std::ptrdiff_t j = from; j < end; ++j) {
        const double a = u[j - 1], b = u[j];
        const double gap = b - a, dv = image<Scale, Shift>(q, b) - image<Scale, Shift>(q, a);
        merge |= gap > 0.0 && !(dv >= (gap < DBL_MIN ? gap : DBL_MIN));
    }
    return merge;
}

#if PYORVEX_KERNEL_X86

template <bool Scale, bool Shift>
bool merges_sse2(const KnotTransform &q, const double *u, std::ptrdiff_t j, std::ptrdiff_t end) {
    const __m128d u0 = _mm_set1_pd(q.u0), k = _mm_set1_pd(q.k), c = _mm_set1_pd(q.c);
    const __m128d d = _mm_set1_pd(q.d), clamp = _mm_castsi128_pd(_mm_set1_epi64x(q.clamp ? -1 : 0));
    const __m128d tiny = _mm_set1_pd(DBL_MIN), zero = _mm_setzero_pd();
    auto img = [&](__m128d x) {
        __m128d v = x;
        if constexpr (Scale) {
            __m128d s = _mm_sub_pd(_mm_mul_pd(k, x), c);
            const __m128d low = _mm_and_pd(_mm_cmplt_pd(s, u0), clamp);
            s = _mm_or_pd(_mm_and_pd(low, u0), _mm_andnot_pd(low, s));
            const __m128d same = _mm_cmpeq_pd(x, u0);
            v = _mm_or_pd(_mm_and_pd(same, x), _mm_andnot_pd(same, s));
        }
        if constexpr (Shift) v = _mm_add_pd(v, d);
        return v;
    };
    __m128d merge = zero;
    for (; j + 2 <= end; j += 2) {
        const __m128d a = _mm_loadu_pd(u + j - 1), b = _mm_loadu_pd(u + j);
        const __m128d gap = _mm_sub_pd(b, a), dv = _mm_sub_pd(img(b), img(a));
        merge = _mm_or_pd(
            merge, _mm_and_pd(_mm_cmpgt_pd(gap, zero), _mm_cmpnge_pd(dv, _mm_min_pd(gap, tiny))));
    }
    return _mm_movemask_pd(merge) != 0 || merges_scalar<Scale, Shift>(q, u, j, end);
}

template <bool Scale, bool Shift>
__attribute__((target("avx2"))) bool merges_avx2(const KnotTransform &q, const double *u,
                                                 std::ptrdiff_t j, std::ptrdiff_t end) {
    const __m256d u0 = _mm256_set1_pd(q.u0), k = _mm256_set1_pd(q.k), c = _mm256_set1_pd(q.c);
    const __m256d d = _mm256_set1_pd(q.d);
    const __m256d clamp = _mm256_castsi256_pd(_mm256_set1_epi64x(q.clamp ? -1 : 0));
    const __m256d tiny = _mm256_set1_pd(DBL_MIN), zero = _mm256_setzero_pd();
    auto img = [&](__m256d x) __attribute__((target("avx2"))) {
        __m256d v = x;
        if constexpr (Scale) {
            __m256d s = _mm256_sub_pd(_mm256_mul_pd(k, x), c);
            const __m256d low = _mm256_and_pd(_mm256_cmp_pd(s, u0, _CMP_LT_OQ), clamp);
            s = _mm256_blendv_pd(s, u0, low);
            v = _mm256_blendv_pd(s, x, _mm256_cmp_pd(x, u0, _CMP_EQ_OQ));
        }
        if constexpr (Shift) v = _mm256_add_pd(v, d);
        return v;
    };
    __m256d merge = zero;
    for (; j + 4 <= end; j += 4) {
        const __m256d a = _mm256_loadu_pd(u + j - 1), b = _mm256_loadu_pd(u + j);
        const __m256d gap = _mm256_sub_pd(b, a), dv = _mm256_sub_pd(img(b), img(a));
        merge = _mm256_or_pd(
            merge, _mm256_and_pd(_mm256_cmp_pd(gap, zero, _CMP_GT_OQ),
                                 _mm256_cmp_pd(dv, _mm256_min_pd(gap, tiny), _CMP_NGE_UQ)));
    }
    const bool found = _mm256_movemask_pd(merge) != 0;
    // The compiler leaves the upper halves dirty here, which slows every SSE instruction after
    // (the transform itself, compiled for baseline x86-64).
    _mm256_zeroupper();
    return found || merges_scalar<Scale, Shift>(q, u, j, end);
}

template <bool Scale, bool Shift>
bool merges(const KnotTransform &q, const double *u, std::ptrdiff_t m) {
    return has_avx2() ? merges_avx2<Scale, Shift>(q, u, 1, m)
                      : merges_sse2<Scale, Shift>(q, u, 1, m);
}

#else

template <bool Scale, bool Shift>
bool merges(const KnotTransform &q, const double *u, std::ptrdiff_t m) {
    return merges_scalar<Scale, Shift>(q, u, 1, m);
}

#endif

}  // namespace knot_transform_detail

// The transform of the m >= 1 knots u: a scaling by k about u[0] when scale (results below u[0]
// raised to it when k > 0), then a shift by d when shift. Says whether the rounded knots would
// overflow or merge or reverse two distinct knots, closeness below the smallest normal double
// included. Knots already out of order or not finite are left to the caller.
inline KnotTransformCheck check_knot_transform(const double *u, std::ptrdiff_t m, bool scale,
                                               double k, bool shift, double d) {
    namespace detail = knot_transform_detail;
    const KnotTransform q{u[0], k, (k - 1.0) * u[0], shift ? d : 0.0, k > 0.0};
    auto one = [&](double x) {
        if (!scale) return detail::image<false, true>(q, x);
        return shift ? detail::image<true, true>(q, x) : detail::image<true, false>(q, x);
    };
    // Both maps are monotone, so in order knots stay between the images of the two ends: the
    // ends and the length of the domain tell whether anything overflows.
    const double first = one(u[0]), length = one(u[m - 1]) - first;
    if ((detail::finite_value(u[0]) && !detail::finite_value(first)) ||
        (detail::finite_value(u[m - 1] - u[0]) && !detail::finite_value(length)))
        return KnotTransformCheck::Overflow;
    const bool merge = !scale ? detail::merges<false, true>(q, u, m)
                              : (shift ? detail::merges<true, true>(q, u, m)
                                       : detail::merges<true, false>(q, u, m));
    return merge ? KnotTransformCheck::Merge : KnotTransformCheck::Ok;
}

// The scaling by k > 0 about the first knot that every time transform writes, in place: k * u -
// (k - 1) * u0 (not u0 + k * (u - u0): the knots this gives are the ones stored files and callers
// already hold). A knot equal to the first is its own exact image: through the formula its
// rounding would unclamp the start or put a knot before the first, changing the curve there.
inline void scale_knots(double *u, std::ptrdiff_t m, double k) {
    const double u0 = u[0], c = (k - 1.0) * u0;
    for (std::ptrdiff_t i = 1; i < m; ++i) {
        if (u[i] == u0) continue;
        const double v = k * u[i] - c;
        u[i] = (k > 0.0 && v < u0) ? u0 : v;
    }
}

}  // namespace pyorvex::kernel
