// Private building blocks of the evaluation functions (evaluate.cpp, eval_batch.hpp): the
// validated view of a spline, span search and the forward walk, the local de Boor window, and
// de Boor's recursion for one point (values and all derivatives).
//
// Index conventions. A spline of degree p has knots t[0..L] (L = n + p + 1) and coefficients
// c[0..n]. For a non-empty span k (t[k] < t[k+1]) the local window is
//   d[j] = c[k - p + j]           j = 0..p   (0 where k - p + j is outside 0..n)
//   T[m] = t[k - p + 1 + m]       m = 0..2p-1 (index clamped to 0..L)
// Zero coefficients with repeated end knots stand for the basis functions that do not exist near
// an unclamped end: they add nothing to the sum, and de Boor's recursion on the padded window is
// the recursion of a knot vector extended by repeated end knots, which leaves every existing basis
// function unchanged. Every denominator T[j + p - m] - T[j - 1] (1 <= m <= j <= p) covers the span
// [T[p-1], T[p]], so on a non-empty span none is zero.
// The unrolled loop nests below are laid out by hand, one recurrence a line.
// clang-format off
#pragma once

#include <algorithm>
#include <cstddef>
#include <limits>

#include "bspline.hpp"

namespace pyorvex::kernel::detail {

using idx = std::ptrdiff_t;

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Loops over the window of a compile-time degree are unrolled completely: left alone, the
// compiler vectorises their reversed, triangular index ranges with shuffles and runtime counts.
#define PYORVEX_UNROLL _Pragma("GCC unroll 16")

// The evaluators keep a de Boor window of kMaxDegree + 1 doubles (bspline.hpp) on the stack,
// since the kernel never allocates.

// Degrees with compile-time specialisations (unrolled windows, Bernstein-form batch evaluation).
inline constexpr int kMaxFixedDegree = 7;

struct View {
    const double* t = nullptr;
    const double* c = nullptr;
    idx L = 0;  // index of the last knot (>= p >= 0)
    idx n = 0;  // index of the last coefficient (-1 when there are none)
    int p = 0;
};

// Sizes agree: 0 <= p <= kMaxDegree and t.size() == c.size() + p + 1.
inline bool make_view(cspan t, cspan c, int p, View& v) {
    if (p < 0 || p > kMaxDegree || t.empty()) return false;
    if (t.size() - 1 < static_cast<std::size_t>(p) || t.size() - 1 - p != c.size()) return false;
    v.t = t.data();
    v.c = c.data();
    v.L = static_cast<idx>(t.size()) - 1;
    v.n = static_cast<idx>(c.size()) - 1;
    v.p = p;
    return true;
}

// Number of a[0..len) with a[i] <= x (a sorted); always within 0..len, whatever the data.
// Branch-free. While the range is large (likely beyond the first-level cache) each step makes
// three independent probes and keeps a quarter, so that the cache misses overlap; the last
// steps halve.
inline idx count_le(const double* a, idx len, double x) {
    if (len <= 0) return 0;
    const double* base = a;
    while (len > 64) {
        const idx q = len / 4;
        const idx s = idx{base[q] <= x} + idx{base[2 * q] <= x} + idx{base[3 * q] <= x};
        base += s * q;
        len = q + idx{s == 3} * (len - 4 * q);  // the last quarter takes the remainder
    }
    while (len > 1) {
        const idx half = len / 2;
        base = (base[half] <= x) ? base + half : base;
        len -= half;
    }
    return (base - a) + (*base <= x ? 1 : 0);
}

// Number of a[0..len) with a[i] < x (a sorted); always within 0..len.
inline idx count_lt(const double* a, idx len, double x) {
    if (len <= 0) return 0;
    const double* base = a;
    while (len > 1) {
        const idx half = len / 2;
        base = (base[half] < x) ? base + half : base;
        len -= half;
    }
    return (base - a) + (*base < x ? 1 : 0);
}

// Whether any non-empty span exists (false also for NaN end knots).
inline bool has_span(const View& v) { return v.t[0] < v.t[v.L]; }

// First and last non-empty span; only meaningful when has_span(v). Both lie in 0..L-1.
inline idx first_span(const View& v) { return count_le(v.t + 1, v.L - 1, v.t[0]); }
inline idx last_span(const View& v) { return count_lt(v.t + 1, v.L - 1, v.t[v.L]); }

// The span evaluated for x (not NaN) when has_span(v): the one containing x, the last non-empty
// one at and beyond the right end, the first one before the left end.
inline idx span_of(const View& v, double x) {
    const double* t = v.t;
    const idx k = count_le(t + 1, v.L - 1, x);  // last k with t[k] <= x, or 0
    if (t[k] < t[k + 1]) return k;
    return (x < t[k + 1]) ? first_span(v) : last_span(v);
}

// Moves span k (t[k] <= x, k <= hi) forward to the span of x, never beyond hi: the smallest
// k' >= k with t[k'+1] > x, or hi. Steps linearly first (the usual case for dense points) and
// gallops for long jumps, so a walk over m points and N spans costs O(m + N) and far less when
// the points are sparse.
inline idx advance(const double* t, idx k, idx hi, double x) {
    for (int s = 0; s < 4; ++s) {
        if (k >= hi || !(t[k + 1] <= x)) return k;
        ++k;
    }
    if (k >= hi || !(t[k + 1] <= x)) return k;
    idx base = k;  // t[base] <= x
    idx step = 8;
    while (step < hi - base && t[base + step] <= x) {
        base += step;
        step *= 2;
    }
    const idx end = std::min(base + step, hi);
    return base + count_le(t + base + 1, end - base, x);
}

inline idx clamp_index(idx i, idx hi) { return i < 0 ? 0 : (i > hi ? hi : i); }

// Local window of span k for a compile-time degree (see the conventions above).
template <int P>
inline void load_window(const View& v, idx k, double* d, double* T) {
    if (k >= P && k <= v.n) {  // interior: no padding, no clamping
        PYORVEX_UNROLL for (int j = 0; j <= P; ++j) d[j] = v.c[k - P + j];
        PYORVEX_UNROLL for (int m = 0; m < 2 * P; ++m) T[m] = v.t[k - P + 1 + m];
    } else {
        PYORVEX_UNROLL for (int j = 0; j <= P; ++j) {
            const idx g = k - P + j;
            d[j] = (g >= 0 && g <= v.n) ? v.c[g] : 0.0;
        }
        PYORVEX_UNROLL for (int m = 0; m < 2 * P; ++m) T[m] = v.t[clamp_index(k - P + 1 + m, v.L)];
    }
}

// De Boor's algorithm on the window (destroys d); the value at x of the span's polynomial. Both
// weights are formed from their own knot difference: with a weight near 1, forming the other as
// 1 - weight (or the lerp d0 + a (d1 - d0)) would leave an error of the size of a neighbouring
// coefficient that should have dropped out, and the differenced coefficients of a short span next
// to long ones are large.
// num / den by the reciprocal inv = 1 / den where that is finite; by the division where den is
// below the reciprocal of the largest double (a span that short has finite values, and a product
// with an infinite reciprocal would turn them into infinities or NaN).
inline double over(double num, double den, double inv) {
    return inv < std::numeric_limits<double>::infinity() ? num * inv : num / den;
}

template <int P>
inline double de_boor(const double* T, double* d, double x) {
    // The weights depend on x and the knots only: their divisions stay off the chain through d.
    double a[P + 1][P + 1], b[P + 1][P + 1];
    PYORVEX_UNROLL for (int r = 1; r <= P; ++r)
        PYORVEX_UNROLL for (int j = P; j >= r; --j) {
            const double lo = T[j - 1], hi = T[j + P - r], inv = 1.0 / (hi - lo);
            a[r][j] = over(x - lo, hi - lo, inv);
            b[r][j] = over(hi - x, hi - lo, inv);
        }
    PYORVEX_UNROLL for (int r = 1; r <= P; ++r)
        PYORVEX_UNROLL for (int j = P; j >= r; --j) d[j] = b[r][j] * d[j - 1] + a[r][j] * d[j];
    return d[P];
}

// Binomial coefficients C(P, r) and falling factorials P!/(P-r)! up to the fixed degrees.
struct Tables {
    double binom[kMaxFixedDegree + 1][kMaxFixedDegree + 1]{};
    double falling[kMaxFixedDegree + 1][kMaxFixedDegree + 1]{};
};

inline constexpr Tables make_tables() {
    Tables tb;
    for (int P = 0; P <= kMaxFixedDegree; ++P) {
        double b = 1.0, f = 1.0;
        for (int r = 0; r <= P; ++r) {
            tb.binom[P][r] = b;
            tb.falling[P][r] = f;
            b = b * (P - r) / (r + 1);
            f = f * (P - r);
        }
    }
    return tb;
}

inline constexpr Tables kTables = make_tables();

// All derivatives of the span's polynomial at xe, from the window: U[r] * P!/(P-r)! is the
// derivative of order r. The r-th level of differenced coefficients (unscaled) is evaluated with
// de Boor's recursion of degree P - r; every level shares the same knot differences, so their
// reciprocals and the de Boor weights at xe are formed once: P(P+1)/2 divisions in all.
template <int P>
inline void derivatives_unscaled(const double* T, const double* d, double xe, double* U) {
    if constexpr (P == 0) {
        U[0] = d[0];
    } else {
        double R[P + 1][P + 1];  // R[m][j] = 1 / (T[j+P-m] - T[j-1]),   1 <= m <= j <= P
        double A[P + 1][P + 1];  // A[m][j] = (xe - T[j-1]) * R[m][j]
        double B[P + 1][P + 1];  // B[m][j] = (T[j+P-m] - xe) * R[m][j]
        PYORVEX_UNROLL for (int m = 1; m <= P; ++m)
            PYORVEX_UNROLL for (int j = m; j <= P; ++j) {
                R[m][j] = 1.0 / (T[j + P - m] - T[j - 1]);
                A[m][j] = over(xe - T[j - 1], T[j + P - m] - T[j - 1], R[m][j]);
                B[m][j] = over(T[j + P - m] - xe, T[j + P - m] - T[j - 1], R[m][j]);
            }
        double Q[P + 1];
        PYORVEX_UNROLL for (int j = 0; j <= P; ++j) Q[j] = d[j];
        PYORVEX_UNROLL for (int r = 0; r <= P; ++r) {
            double w[P + 1];
            PYORVEX_UNROLL for (int j = r; j <= P; ++j) w[j] = Q[j];
            PYORVEX_UNROLL for (int s = 1; s <= P - r; ++s)
                PYORVEX_UNROLL for (int j = P; j >= r + s; --j)
                    w[j] = B[r + s][j] * w[j - 1] + A[r + s][j] * w[j];
            U[r] = w[P];
            if (r < P)
                PYORVEX_UNROLL for (int j = P; j >= r + 1; --j) {
                    Q[j] = over(Q[j] - Q[j - 1], T[j + P - r - 1] - T[j - 1], R[r + 1][j]);
                }
        }
    }
}

// Runtime-degree window helpers for degrees above kMaxFixedDegree (d holds p + 1 doubles).
inline double knot_at(const View& v, idx i) { return v.t[clamp_index(i, v.L)]; }

inline void load_window_dyn(const View& v, idx k, double* d) {
    const int p = v.p;
    for (int j = 0; j <= p; ++j) {
        const idx g = k - p + j;
        d[j] = (g >= 0 && g <= v.n) ? v.c[g] : 0.0;
    }
}

// Derivative of order q (0 <= q <= p) at x on span k, by differencing the window q times and
// running de Boor's recursion of degree p - q on the result. Uses d as scratch.
inline double eval_dyn(const View& v, idx k, int q, double x, double* d) {
    if (x != x) return kNaN;
    const int p = v.p;
    load_window_dyn(v, k, d);
    // T[m] = t[k - p + 1 + m]: T[j-1] = t[k - p + j], T[j + p - m] = t[k + 1 + j - m].
    for (int r = 1; r <= q; ++r)
        for (int j = p; j >= r; --j) {
            const double lo = knot_at(v, k - p + j), hi = knot_at(v, k + 1 + j - r);
            d[j] = (p - r + 1) * (d[j] - d[j - 1]) / (hi - lo);
        }
    for (int s = 1; s <= p - q; ++s)
        for (int j = p; j >= q + s; --j) {
            const double lo = knot_at(v, k - p + j), hi = knot_at(v, k + 1 + j - q - s);
            d[j] = ((hi - x) * d[j - 1] + (x - lo) * d[j]) / (hi - lo);
        }
    return d[p];
}

}  // namespace pyorvex::kernel::detail
// clang-format on
