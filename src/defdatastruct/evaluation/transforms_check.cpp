// The check every time transform makes before it writes: the knots c_hscale and c_hshift would
// leave, computed with their exact arithmetic (the rounded results are what matters) and compared
// with the knots as they are, in one pass that writes and allocates nothing.
//
// It is a streaming pass over what can be millions of knots, beside a transform that costs a
// fraction of a nanosecond per knot, so it is vectorised by hand (the compiler keeps
// floating-point comparisons scalar): SSE2, part of every x86-64, or AVX2 when the processor has
// it; elsewhere a plain loop does the same. Each step looks at the pairs (u[i-1], u[i]) of a
// block, images computed afresh for both, so that the lanes never depend on each other.
#include <cfloat>
#include <cmath>

#include "evaluation.hpp"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define PYORVEX_CHECK_X86 1
#include <immintrin.h>
#endif

namespace pyorvex::dds::evaluation {

namespace {

// What a transform does to one knot x: c_hscale(k) when Scale (the first knot, and any knot
// equal to it, stays; a result below the first knot is raised to it when k > 0), then
// c_hshift(d) when Shift.
struct Params {
    double u0, k, c, d;
    bool clamp;
};

template <bool Scale, bool Shift>
double image(const Params &q, double x) {
    double v = x;
    if constexpr (Scale) {
        const double s = q.k * x - q.c;
        v = x == q.u0 ? x : ((q.clamp && s < q.u0) ? q.u0 : s);
    }
    if constexpr (Shift) v = v + q.d;
    return v;
}

bool finite_value(double x) { return std::fabs(x) <= DBL_MAX; }  // false for NaN

// Whether some pair j-1, j with j in [from, end) of increasing knots has images less than
// min(gap, DBL_MIN) apart (or NaN).
template <bool Scale, bool Shift>
bool merges_scalar(const Params &q, const double *u, Py_ssize_t from, Py_ssize_t end) {
    bool merge = false;
    for (Py_ssize_t j = from; j < end; ++j) {
        const double a = u[j - 1], b = u[j];
        const double gap = b - a, dv = image<Scale, Shift>(q, b) - image<Scale, Shift>(q, a);
        merge |= gap > 0.0 && !(dv >= (gap < DBL_MIN ? gap : DBL_MIN));
    }
    return merge;
}

#if PYORVEX_CHECK_X86

template <bool Scale, bool Shift>
bool merges_sse2(const Params &q, const double *u, Py_ssize_t j, Py_ssize_t end) {
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
        merge = _mm_or_pd(merge, _mm_and_pd(_mm_cmpgt_pd(gap, zero),
                                            _mm_cmpnge_pd(dv, _mm_min_pd(gap, tiny))));
    }
    return _mm_movemask_pd(merge) != 0 || merges_scalar<Scale, Shift>(q, u, j, end);
}

template <bool Scale, bool Shift>
__attribute__((target("avx2"))) bool merges_avx2(const Params &q, const double *u, Py_ssize_t j,
                                                 Py_ssize_t end) {
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

bool has_avx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

template <bool Scale, bool Shift>
bool merges(const Params &q, const double *u, Py_ssize_t m) {
    return has_avx2() ? merges_avx2<Scale, Shift>(q, u, 1, m) : merges_sse2<Scale, Shift>(q, u, 1, m);
}

#else

template <bool Scale, bool Shift>
bool merges(const Params &q, const double *u, Py_ssize_t m) {
    return merges_scalar<Scale, Shift>(q, u, 1, m);
}

#endif

}  // namespace

int check_transformed_knots(Traj *self, bool scale, double k, bool shift, double d) {
    if (self->_knotvector == nullptr) return 0;
    const double *u = self->_knotvector;
    const Py_ssize_t m = trajectory::knot_count(self);
    const Params q{u[0], k, (k - 1.0) * u[0], shift ? d : 0.0, k > 0.0};
    auto one = [&](double x) {
        if (!scale) return image<false, true>(q, x);
        return shift ? image<true, true>(q, x) : image<true, false>(q, x);
    };
    // Both maps are monotone, so in order knots stay between the images of the two ends: the
    // ends and the length of the domain tell whether anything overflows.
    const double first = one(u[0]), length = one(u[m - 1]) - first;
    if ((finite_value(u[0]) && !finite_value(first)) ||
        (finite_value(u[m - 1] - u[0]) && !finite_value(length))) {
        PyErr_SetString(PyExc_OverflowError, "the transformed knots would overflow a double");
        return -1;
    }
    const bool merge = !scale ? merges<false, true>(q, u, m)
                              : (shift ? merges<true, true>(q, u, m) : merges<true, false>(q, u, m));
    if (merge) {
        PyErr_SetString(PyExc_ValueError, "the transform would merge or reverse distinct knots");
        return -1;
    }
    return 0;
}

}  // namespace pyorvex::dds::evaluation
