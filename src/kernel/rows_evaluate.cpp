// Values of a spline with several coefficient columns: the basis functions of each point once,
// then one weighted sum of p + 1 coefficient rows. On a non-empty span every factor of the basis
// recursion (NURBS book A2.2) is non-negative, so each value keeps de Boor's error bound relative
// to sum |c_i| B_i(x).
//
// The knot differences that the recursion divides by depend on the span only; dense points share
// a span, so for the small degrees their reciprocals are formed once per span and a point costs
// multiplications only. Long runs of points inside an inner span go further: the span's rows are
// converted once to its Bernstein form (convex combinations again), whose basis takes about half
// the products of the recursion's, with the same kind of error bound. Kept apart from
// evaluate.cpp, whose batch evaluators are heavy to compile.
#include <cstddef>

#include "bspline.hpp"
#include "cpu_features.hpp"
#include "eval_detail.hpp"

namespace pyorvex::kernel {

namespace {

using detail::idx;

constexpr double kInf = __builtin_inf();

struct Knots {
    const double *t;
    idx L;  // last knot index
    idx n;  // last coefficient index
    double at(idx i) const { return t[detail::clamp_index(i, L)]; }
};

// The recursion's knots and reciprocals of span k for a compile-time degree.
template <int P>
struct SpanBasis {
    double lo[P + 1];  // lo[j] = t[k + 1 - j]: left[j] = x - lo[j]
    double hi[P + 1];  // hi[j] = t[k + j]:     right[j] = hi[j] - x
    double inv[P + 1][P + 1];

    void load(const Knots &kn, idx k) {
        PYORVEX_UNROLL for (int j = 1; j <= P; ++j) {
            lo[j] = kn.at(k + 1 - j);
            hi[j] = kn.at(k + j);
        }
        // right[r + 1] + left[j - r] = t[k + r + 1] - t[k + 1 - j + r]: at least the span's
        // length, never zero on a non-empty span.
        PYORVEX_UNROLL for (int j = 1; j <= P; ++j) PYORVEX_UNROLL for (int r = 0; r < j; ++r)
            inv[j][r] = 1.0 / (hi[r + 1] - lo[j - r]);
    }

    void basis(double x, double *N) const {
        double left[P + 1], right[P + 1];
        PYORVEX_UNROLL for (int j = 1; j <= P; ++j) {
            left[j] = x - lo[j];
            right[j] = hi[j] - x;
        }
        N[0] = 1.0;
        PYORVEX_UNROLL for (int j = 1; j <= P; ++j) {
            double saved = 0.0;
            PYORVEX_UNROLL for (int r = 0; r < j; ++r) {
                const double temp = N[r] * inv[j][r];
                N[r] = saved + right[r + 1] * temp;
                saved = left[j - r] * temp;
            }
            N[j] = saved;
        }
    }
};

// The basis of any degree at x on span k, without cached reciprocals (N, left and right hold
// p + 1 values).
void basis_dyn(const Knots &kn, int p, idx k, double x, double *N, double *left, double *right) {
    N[0] = 1.0;
    for (int j = 1; j <= p; ++j) {
        left[j] = x - kn.at(k + 1 - j);
        right[j] = kn.at(k + j) - x;
        double saved = 0.0;
        for (int r = 0; r < j; ++r) {
            const double temp = N[r] / (right[r + 1] + left[j - r]);
            N[r] = saved + right[r + 1] * temp;
            saved = left[j - r] * temp;
        }
        N[j] = saved;
    }
}

// row = sum_r N[r] * c[k - p + r], rows outside 0..n counting as zero.
template <int P>
void combine(const Knots &kn, const double *c, std::size_t dof, idx k, const double *N,
             double *row) {
    const idx first = k - P;
    if (first >= 0 && k <= kn.n) {
        const double *base = c + static_cast<std::size_t>(first) * dof;
        for (std::size_t j = 0; j < dof; ++j) {
            double s = N[0] * base[j];
            PYORVEX_UNROLL for (int r = 1; r <= P; ++r) s += N[r] * base[r * dof + j];
            row[j] = s;
        }
        return;
    }
    for (std::size_t j = 0; j < dof; ++j) row[j] = 0.0;
    PYORVEX_UNROLL for (int r = 0; r <= P; ++r) {
        const idx g = first + r;
        if (g < 0 || g > kn.n) continue;
        const double *src = c + static_cast<std::size_t>(g) * dof;
        for (std::size_t j = 0; j < dof; ++j) row[j] += N[r] * src[j];
    }
}

void combine_dyn(const Knots &kn, int p, const double *c, std::size_t dof, idx k, const double *N,
                 double *row) {
    for (std::size_t j = 0; j < dof; ++j) row[j] = 0.0;
    for (int r = 0; r <= p; ++r) {
        const idx g = k - p + r;
        if (g < 0 || g > kn.n) continue;
        const double *src = c + static_cast<std::size_t>(g) * dof;
        for (std::size_t j = 0; j < dof; ++j) row[j] += N[r] * src[j];
    }
}

void nan_row(double *row, std::size_t dof) {
    for (std::size_t j = 0; j < dof; ++j) row[j] = detail::kNaN;
}

// The span of each point: forward from the previous one while the points increase, searched
// when a point lies before the current span. Always within first..last.
struct SpanWalk {
    detail::View v;
    idx first, last, k;

    idx next(double x) {
        if (v.t[k] <= x) {
            k = detail::advance(v.t, k, last, x);
        } else {
            k = detail::span_of(v, x);
        }
        return k;
    }
};

// ---- runs of points in one span ------------------------------------------------------------
//
// Most points of a dense array share their span with their neighbours. A run of them takes the
// basis of four points at a time (the recursion above or the Bernstein basis, one point per lane)
// and then, point by point, the weighted sum of the span's p + 1 rows, four columns at a time: the
// basis is computed once per point as before, and each value is the same non-negative combination,
// so it keeps de Boor's error bound. (A power form of the span is cheaper per point but errs by eps
// times the window's largest coefficient, far more where a small value sits beside a large one.)
// Built twice: for baseline x86-64 and, picked at run time, with AVX2 and fused multiply-adds.

// Vectors of doubles: two lanes in the baseline build (SSE2), four in the AVX2 one.
using vec2 = double __attribute__((vector_size(16)));
#if PYORVEX_KERNEL_X86
using vec4 = double __attribute__((vector_size(32)));
#endif

template <class V>
inline constexpr int kLanes = static_cast<int>(sizeof(V) / sizeof(double));

// (Loads fill an argument: a function returning a vector of four outside the AVX2 build would
// have an ABI of its own, whatever the inlining.)
template <class V>
[[gnu::always_inline]] inline void load(V &v, const double *p) {
    __builtin_memcpy(&v, p, sizeof v);
}

template <class V>
[[gnu::always_inline]] inline void store(double *p, const V &v) {
    __builtin_memcpy(p, &v, sizeof v);
}

template <class V>
[[gnu::always_inline]] inline void splat(V &v, double d) {
    PYORVEX_UNROLL for (int l = 0; l < kLanes<V>; ++l) v[l] = d;
}

// The basis of kLanes<V> points of span k (sb loaded for it), lane by lane as SpanBasis::basis.
template <int P, class V>
[[gnu::always_inline]] inline void basis_lanes(const SpanBasis<P> &sb, const V &x, V *N) {
    V left[P + 1], right[P + 1];
    PYORVEX_UNROLL for (int j = 1; j <= P; ++j) {
        left[j] = x - sb.lo[j];
        right[j] = sb.hi[j] - x;
    }
    splat(N[0], 1.0);
    PYORVEX_UNROLL for (int j = 1; j <= P; ++j) {
        V saved;
        splat(saved, 0.0);
        PYORVEX_UNROLL for (int r = 0; r < j; ++r) {
            const V temp = N[r] * sb.inv[j][r];
            N[r] = saved + right[r + 1] * temp;
            saved = left[j - r] * temp;
        }
        N[j] = saved;
    }
}

// The recursion's basis of span k: the B-spline basis functions of the window, weighting the
// window's coefficient rows.
template <int P>
struct RecursionBasis {
    const SpanBasis<P> &sb;
    template <class V>
    [[gnu::always_inline]] void operator()(const V &x, V *N) const {
        basis_lanes<P, V>(sb, x, N);
    }
};

// The Bernstein basis of the span [a, b], s^i w^(P-i) with s = (x - a) / (b - a) and
// w = (b - x) / (b - a), weighting the span's Bernstein rows (bernstein_rows below, which carry
// the binomials): ten products a cubic instead of the recursion's seventeen. For x in [a, b)
// every factor is non-negative, as in the recursion.
template <int P>
struct BernsteinBasis {
    double a, b, inv;
    template <class V>
    [[gnu::always_inline]] void operator()(const V &x, V *N) const {
        const V s = (x - a) * inv, w = (b - x) * inv;
        V sp[P + 1], wp[P + 1];
        sp[1] = s;
        wp[1] = w;
        PYORVEX_UNROLL for (int i = 2; i <= P; ++i) {
            sp[i] = sp[i - 1] * s;
            wp[i] = wp[i - 1] * w;
        }
        N[0] = wp[P];
        N[P] = sp[P];
        PYORVEX_UNROLL for (int i = 1; i < P; ++i) N[i] = sp[i] * wp[P - i];
    }
};

// The widest rows that take the Bernstein form (its rows live on the stack), and the least run
// of points that repays the conversion of a span.
constexpr std::size_t kBernsteinColumns = 16;
constexpr std::size_t kBernsteinRun = 24;

// Columns [j, j + kLanes<V>) of row = sum_r w[r] * base[r * dof ..].
template <int P, class V>
[[gnu::always_inline]] inline void weighted_lanes(const double *w, const double *base,
                                                  std::size_t dof, std::size_t j, double *row) {
    V s, c;
    load(c, base + j);
    s = w[0] * c;
    PYORVEX_UNROLL for (int r = 1; r <= P; ++r) {
        load(c, base + r * dof + j);
        s += w[r] * c;
    }
    store(row + j, s);
}

// row = sum_r w[r] * base[r * dof ..], the rows base[0..P] all inside the coefficients.
template <int P, class V>
[[gnu::always_inline]] inline void weighted_row(const double *w, const double *base,
                                                std::size_t dof, double *row) {
    std::size_t j = 0;
    for (; j + kLanes<V> <= dof; j += kLanes<V>) weighted_lanes<P, V>(w, base, dof, j, row);
    if constexpr (kLanes<V> > 2) {
        if (j + 2 <= dof) {
            weighted_lanes<P, vec2>(w, base, dof, j, row);
            j += 2;
        }
    }
    if (j < dof) {
        double s = w[0] * base[j];
        PYORVEX_UNROLL for (int r = 1; r <= P; ++r) s += w[r] * base[r * dof + j];
        row[j] = s;
    }
}

// The Bernstein rows of span k = [a, b] from its window's coefficient rows base[0..P]:
// E[i * dof + j] = C(P, i) times the blossom of column j at (a^(P-i), b^i). The blossoms come
// from de Boor's recursion with one argument per level, every weight non-negative (the
// arguments lie in the span): each row is a convex combination M[i] of the window's rows, times
// a binomial, so the sum over the Bernstein basis keeps the recursion's error bound relative to
// sum |c_i| B_i(x). M is formed once per span on the unit rows, row h of a level holding the
// values with h arguments at b, each from one row of the level before (which shares the levels
// among the P + 1 blossoms). False when a value is not finite.
template <int P>
bool bernstein_rows(const SpanBasis<P> &sb, const double *base, std::size_t dof, double *E) {
    // The span is [lo[1], hi[1]]; level st's step j divides by t[k + 1 + j - st] - t[k - P + j],
    // the recursion's inv[P + 1 - st][j - st].
    const double a = sb.lo[1], b = sb.hi[1];
    auto knot = [&](int d) { return d >= 1 ? sb.hi[d] : sb.lo[1 - d]; };  // t[k + d], -P < d <= P
    // Level st leaves w[h][j] non-zero on the unit rows j - st .. j only; the rest is never read.
    double w[P + 1][P + 1][P + 1];  // [h][j][unit row]
    PYORVEX_UNROLL for (int j = 0; j <= P; ++j) w[0][j][j] = 1.0;
    PYORVEX_UNROLL for (int st = 1; st <= P; ++st) PYORVEX_UNROLL for (int h = st; h >= 0; --h) {
        const double x = h > 0 ? b : a;
        const int from = h > 0 ? h - 1 : 0;
        PYORVEX_UNROLL for (int j = P; j >= st; --j) {
            const double r = sb.inv[P + 1 - st][j - st];
            const double wl = (x - knot(j - P)) * r, wr = (knot(1 + j - st) - x) * r;
            w[h][j][j] = wl * w[from][j][j];
            PYORVEX_UNROLL for (int u = j - st + 1; u < j; ++u) w[h][j][u] =
                wl * w[from][j][u] + wr * w[from][j - 1][u];
            w[h][j][j - st] = wr * w[from][j - 1][j - st];
        }
    }
    PYORVEX_UNROLL for (int i = 0; i <= P; ++i) {
        double M[P + 1];
        PYORVEX_UNROLL for (int u = 0; u <= P; ++u) M[u] = w[i][P][u] * detail::kTables.binom[P][i];
        weighted_row<P, vec2>(M, base, dof, E + i * dof);
    }
    // Any infinity or NaN makes its lane of the sums of E * 0 a NaN; the lanes keep the chains
    // short.
    vec2 zero[2] = {};
    const std::size_t count = (P + 1) * dof;
    std::size_t q = 0;
    for (; q + 4 <= count; q += 4) {
        vec2 e0, e1;
        load(e0, E + q);
        load(e1, E + q + 2);
        zero[0] += e0 * 0.0;
        zero[1] += e1 * 0.0;
    }
    double tail = 0.0;
    for (; q < count; ++q) tail += E[q] * 0.0;
    const vec2 all = zero[0] + zero[1];
    return all[0] + all[1] + tail == 0.0;
}

// The rows of xs[0..count) (none NaN, all in span k) from the rows base[0..P] that the basis
// weights.
template <int P, class V, class Basis>
[[gnu::always_inline]] inline void rows_of_run(const Basis &basis, const double *base,
                                               std::size_t dof, const double *xs, std::size_t count,
                                               double *out) {
    constexpr std::size_t L = kLanes<V>;
    for (std::size_t q = 0; q < count; q += L) {
        const std::size_t len = count - q < L ? count - q : L;
        V x;
        PYORVEX_UNROLL for (std::size_t l = 0; l < L; ++l) x[l] = xs[q + (l < len ? l : 0)];
        V N[P + 1];
        basis(x, N);
        double w[L][P + 1];  // point-major: each point's weights side by side
        PYORVEX_UNROLL for (int r = 0; r <= P; ++r)
            PYORVEX_UNROLL for (std::size_t l = 0; l < L; ++l) w[l][r] = N[r][l];
        for (std::size_t l = 0; l < len; ++l)
            weighted_row<P, V>(w[l], base, dof, out + (q + l) * dof);
    }
}

#if PYORVEX_KERNEL_X86
// With AVX2 four points go together all the way: their basis one point per lane, then four
// columns at a time the four values of each column (a lane per point, fused multiply-adds on the
// broadcast coefficients), turned into rows by a 4x4 transposition. The coefficients are read
// once per four points instead of once per point, and no weight is broadcast.
[[gnu::always_inline]] __attribute__((target("avx2,fma"))) inline __m256d column4(const __m256d *N,
                                                                                  int P,
                                                                                  const double *c,
                                                                                  std::size_t dof) {
    __m256d y = _mm256_mul_pd(N[0], _mm256_broadcast_sd(c));
    for (int r = 1; r <= P; ++r) y = _mm256_fmadd_pd(N[r], _mm256_broadcast_sd(c + r * dof), y);
    return y;
}

// The run of points from xs[i] (which the walk placed in span k) while they lie in [lo, hi), four
// at a time; returns its end (> i). lo and hi are the span's ends, infinite at an open end.
template <int P, class Basis>
__attribute__((target("avx2,fma"))) std::size_t rows_of_run_avx2(
    const Basis &basis, const double *base, std::size_t dof, const double *xs, std::size_t i,
    std::size_t m, double lo, double hi, double *out) {
    const __m256d vlo = _mm256_set1_pd(lo), vhi = _mm256_set1_pd(hi);
    std::size_t q = i;
    for (; q + 4 <= m; q += 4) {
        const __m256d x = _mm256_loadu_pd(xs + q);
        // NaN fails both tests and ends the run. A group whose first point is in the run is
        // evaluated whole: the rows of its points beyond the run are written too, and written
        // again by the runs those points belong to (the walk takes every later point in turn).
        const int inside = _mm256_movemask_pd(
            _mm256_and_pd(_mm256_cmp_pd(x, vlo, _CMP_GE_OQ), _mm256_cmp_pd(x, vhi, _CMP_LT_OQ)));
        if (!(inside & 1)) break;
        __m256d N[P + 1];
        basis(x, N);
        double *o0 = out + q * dof, *o1 = o0 + dof, *o2 = o1 + dof, *o3 = o2 + dof;
        std::size_t j = 0;
        for (; j + 4 <= dof; j += 4) {
            const __m256d y0 = column4(N, P, base + j, dof), y1 = column4(N, P, base + j + 1, dof);
            const __m256d y2 = column4(N, P, base + j + 2, dof);
            const __m256d y3 = column4(N, P, base + j + 3, dof);
            // Lanes are points: t0 = (p0 c0, p0 c1, p2 c0, p2 c1), t1 = the same of p1 and p3...
            const __m256d t0 = _mm256_unpacklo_pd(y0, y1), t1 = _mm256_unpackhi_pd(y0, y1);
            const __m256d t2 = _mm256_unpacklo_pd(y2, y3), t3 = _mm256_unpackhi_pd(y2, y3);
            _mm256_storeu_pd(o0 + j, _mm256_permute2f128_pd(t0, t2, 0x20));
            _mm256_storeu_pd(o1 + j, _mm256_permute2f128_pd(t1, t3, 0x20));
            _mm256_storeu_pd(o2 + j, _mm256_permute2f128_pd(t0, t2, 0x31));
            _mm256_storeu_pd(o3 + j, _mm256_permute2f128_pd(t1, t3, 0x31));
        }
        if (j + 2 <= dof) {
            const __m256d y0 = column4(N, P, base + j, dof), y1 = column4(N, P, base + j + 1, dof);
            const __m256d t0 = _mm256_unpacklo_pd(y0, y1), t1 = _mm256_unpackhi_pd(y0, y1);
            _mm_storeu_pd(o0 + j, _mm256_castpd256_pd128(t0));
            _mm_storeu_pd(o1 + j, _mm256_castpd256_pd128(t1));
            _mm_storeu_pd(o2 + j, _mm256_extractf128_pd(t0, 1));
            _mm_storeu_pd(o3 + j, _mm256_extractf128_pd(t1, 1));
            j += 2;
        }
        if (j < dof) {
            const __m256d y = column4(N, P, base + j, dof);
            alignas(32) double v[4];
            _mm256_store_pd(v, y);
            o0[j] = v[0];
            o1[j] = v[1];
            o2[j] = v[2];
            o3[j] = v[3];
        }
        if (inside != 0xf) return q + static_cast<std::size_t>(__builtin_ctz(~inside));
    }
    // The array's last few points (at least xs[i] itself), point by point.
    std::size_t e = q;
    while (e < m && e < q + 4 && (e == i || (xs[e] >= lo && xs[e] < hi))) ++e;
    if (e > q) rows_of_run<P, vec4>(basis, base, dof, xs + q, e - q, out + q * dof);
    return e;
}

inline bool has_avx2_fma() {
    static const bool has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    return has;
}
#endif

// The run of points from xs[i] (which the walk placed in span k) while they lie in [lo, hi);
// returns its end (> i).
template <int P, class Basis>
std::size_t rows_run(const Basis &basis, const double *base, std::size_t dof, const double *xs,
                     std::size_t i, std::size_t m, double lo, double hi, double *out) {
#if PYORVEX_KERNEL_X86
    if (has_avx2_fma()) return rows_of_run_avx2<P>(basis, base, dof, xs, i, m, lo, hi, out);
#endif
    std::size_t end = i + 1;
    while (end < m && xs[end] >= lo && xs[end] < hi) ++end;
    rows_of_run<P, vec2>(basis, base, dof, xs + i, end - i, out + i * dof);
    return end;
}

template <int P>
void values_fixed(SpanWalk &walk, const Knots &kn, cspan xs, const double *c, std::size_t dof,
                  double *out) {
    SpanBasis<P> sb{};
    idx loaded = -1;
    double N[P + 1];
    double E[(P + 1) * kBernsteinColumns];
    idx converted = -1;  // the span whose Bernstein rows E holds
    bool convertible = false;
    const std::size_t m = xs.size();
    for (std::size_t i = 0; i < m;) {
        const double x = xs[i];
        double *row = out + i * dof;
        if (x != x) {
            nan_row(row, dof);
            ++i;
            continue;
        }
        const idx k = walk.next(x);
        if (k != loaded) {
            sb.load(kn, k);
            loaded = k;
        }
        if (k - P >= 0 && k <= kn.n) {
            // The run of points in span k as the walk would place them, in any order: the first
            // and the last span also take the points beyond their outer end.
            const double lo = k == walk.first ? -kInf : kn.t[k];
            const double hi = k == walk.last ? kInf : kn.t[k + 1];
            const double *window = c + static_cast<std::size_t>(k - P) * dof;
            // A long run inside an inner span (the outer ones take points beyond the domain,
            // where the Bernstein weights change sign) takes the span's Bernstein form. (A line's
            // recursion is already two products.)
            if constexpr (P > 1) {
                if (k != walk.first && k != walk.last && dof <= kBernsteinColumns &&
                    i + kBernsteinRun < m && xs[i + kBernsteinRun] < hi &&
                    xs[i + kBernsteinRun] > x) {
                    const double inv = 1.0 / (hi - lo);
                    if (k != converted) {
                        convertible = inv < kInf && bernstein_rows<P>(sb, window, dof, E);
                        converted = k;
                    }
                    if (convertible) {
                        i = rows_run<P>(BernsteinBasis<P>{lo, hi, inv}, E, dof, xs.data(), i, m, lo,
                                        hi, out);
                        continue;
                    }
                }
            }
            i = rows_run<P>(RecursionBasis<P>{sb}, window, dof, xs.data(), i, m, lo, hi, out);
            continue;
        }
        // A window reaching past the coefficients (unclamped knots): point by point.
        sb.basis(x, N);
        combine<P>(kn, c, dof, k, N, row);
        ++i;
    }
}

void values_dyn(SpanWalk &walk, const Knots &kn, int p, cspan xs, const double *c, std::size_t dof,
                double *out) {
    double N[kMaxDegree + 1], left[kMaxDegree + 1], right[kMaxDegree + 1];
    for (std::size_t i = 0; i < xs.size(); ++i) {
        const double x = xs[i];
        double *row = out + i * dof;
        if (x != x) {
            nan_row(row, dof);
            continue;
        }
        const idx k = walk.next(x);
        basis_dyn(kn, p, k, x, N, left, right);
        combine_dyn(kn, p, c, dof, k, N, row);
    }
}

}  // namespace

void values_rows(cspan xs, cspan t, cspan c, int p, std::size_t dof, vspan out) {
    if (p < 0 || p > kMaxDegree || dof == 0 || t.size() < static_cast<std::size_t>(p) + 2) return;
    const std::size_t rows = t.size() - static_cast<std::size_t>(p) - 1;
    if (c.size() / dof != rows || c.size() % dof != 0 || out.size() / dof != xs.size() ||
        out.size() % dof != 0)
        return;
    detail::View v;
    v.t = t.data();
    v.c = nullptr;  // the columns are read through Knots, never through the view
    v.L = static_cast<idx>(t.size()) - 1;
    v.n = static_cast<idx>(rows) - 1;
    v.p = p;
    if (!detail::has_span(v)) {
        for (double &y : out) y = 0.0;
        return;
    }
    const Knots kn{t.data(), v.L, v.n};
    SpanWalk walk{v, detail::first_span(v), detail::last_span(v), 0};
    walk.k = walk.first;
    switch (p) {
        case 0:
            return values_fixed<0>(walk, kn, xs, c.data(), dof, out.data());
        case 1:
            return values_fixed<1>(walk, kn, xs, c.data(), dof, out.data());
        case 2:
            return values_fixed<2>(walk, kn, xs, c.data(), dof, out.data());
        case 3:
            return values_fixed<3>(walk, kn, xs, c.data(), dof, out.data());
        case 4:
            return values_fixed<4>(walk, kn, xs, c.data(), dof, out.data());
        case 5:
            return values_fixed<5>(walk, kn, xs, c.data(), dof, out.data());
        default:
            return values_dyn(walk, kn, p, xs, c.data(), dof, out.data());
    }
}

}  // namespace pyorvex::kernel
