// Values of a spline with several coefficient columns: the basis functions of each point once,
// then one weighted sum of p + 1 coefficient rows. On a non-empty span every factor of the basis
// recursion (NURBS book A2.2) is non-negative, so each value keeps de Boor's error bound relative
// to sum |c_i| B_i(x).
//
// The knot differences that the recursion divides by depend on the span only; dense points share
// a span, so for the small degrees their reciprocals are formed once per span and a point costs
// multiplications only. Kept apart from evaluate.cpp, whose batch evaluators are heavy to compile.
#include <cstddef>

#include "bspline.hpp"
#include "cpu_features.hpp"
#include "eval_detail.hpp"

namespace pyorvex::kernel {

namespace {

using detail::idx;

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

// The span's polynomial of every column in Taylor form about the span's midpoint:
// a[r * dof + j] is the coefficient of (x - mid)^r of column j. With |x - mid| <= h/2, Horner's
// rule on it errs by a small multiple of eps times the largest coefficient of the window, the
// scale of de Boor's own error (the batch evaluators of evaluate.cpp rely on the same form).
template <int P>
void taylor_span(const Knots &kn, const double *c, std::size_t dof, idx k, double mid, double *a) {
    double T[2 * P + 1], d[P + 1], U[P + 1];
    PYORVEX_UNROLL for (int m = 0; m < 2 * P; ++m) T[m] = kn.at(k - P + 1 + m);
    for (std::size_t j = 0; j < dof; ++j) {
        PYORVEX_UNROLL for (int r = 0; r <= P; ++r) {
            const idx g = k - P + r;
            d[r] = (g >= 0 && g <= kn.n) ? c[static_cast<std::size_t>(g) * dof + j] : 0.0;
        }
        detail::derivatives_unscaled<P>(T, d, mid, U);
        PYORVEX_UNROLL for (int r = 0; r <= P; ++r) a[r * dof + j] =
            U[r] * detail::kTables.binom[P][r];
    }
}

template <int P>
void horner(const double *a, std::size_t dof, double s, double *row) {
    for (std::size_t j = 0; j < dof; ++j) {
        double v = a[P * dof + j];
        PYORVEX_UNROLL for (int r = P - 1; r >= 0; --r) v = v * s + a[r * dof + j];
        row[j] = v;
    }
}

// Horner's rule at xs[i..end) into their rows (a NaN gives a row of NaN). Built twice: for
// baseline x86-64 and, picked at run time, with AVX2 and fused multiply-adds.
template <int P>
[[gnu::always_inline]] inline void horner_points(const double *a, std::size_t dof, const double *xs,
                                                 std::size_t i, std::size_t end, double mid,
                                                 double *out) {
    for (std::size_t q = i; q < end; ++q) {
        const double xq = xs[q];
        if (xq != xq)
            nan_row(out + q * dof, dof);
        else
            horner<P>(a, dof, xq - mid, out + q * dof);
    }
}

#if PYORVEX_KERNEL_X86
template <int P>
__attribute__((target("avx2,fma"))) void horner_avx2(const double *a, std::size_t dof,
                                                     const double *xs, std::size_t i,
                                                     std::size_t end, double mid, double *out) {
    horner_points<P>(a, dof, xs, i, end, mid, out);
}
#endif

template <int P>
void horner_run(const double *a, std::size_t dof, const double *xs, std::size_t i, std::size_t end,
                double mid, double *out) {
#if PYORVEX_KERNEL_X86
    if (has_avx2()) return horner_avx2<P>(a, dof, xs, i, end, mid, out);
#endif
    horner_points<P>(a, dof, xs, i, end, mid, out);
}

// Points per span from which the Taylor form pays for its conversion, and the room for the
// coefficients of one span.
inline constexpr std::size_t kTaylorRun = 4;
inline constexpr std::size_t kTaylorRoom = 384;

template <int P>
void values_fixed(SpanWalk &walk, const Knots &kn, cspan xs, const double *c, std::size_t dof,
                  double *out, double *taylor) {
    SpanBasis<P> sb{};
    idx loaded = -1, converted = -1;
    double N[P + 1];
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
        // The run of points in span k (as the walk would place them), for the Taylor form.
        const double lo = kn.t[k], hi = kn.t[k + 1];
        const bool open_lo = k == walk.first, open_hi = k == walk.last;
        std::size_t end = i + 1;
        while (end < m && end - i < kTaylorRun && (open_lo || xs[end] >= lo) &&
               (open_hi || xs[end] < hi))
            ++end;
        if (taylor != nullptr && (end - i >= kTaylorRun || converted == k)) {
            while (end < m && (open_lo || xs[end] >= lo) && (open_hi || xs[end] < hi)) ++end;
            const double mid = 0.5 * (lo + hi);
            if (converted != k) {
                taylor_span<P>(kn, c, dof, k, mid, taylor);
                converted = k;
            }
            horner_run<P>(taylor, dof, xs.data(), i, end, mid, out);
            i = end;
            continue;
        }
        if (k != loaded) {
            sb.load(kn, k);
            loaded = k;
        }
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
    // The Taylor coefficients of a span live on the stack; motions with more columns than it
    // holds take the basis form at every point (null: no Taylor form).
    double room[kTaylorRoom];
    double *taylor = (static_cast<std::size_t>(p) + 1) * dof <= kTaylorRoom ? room : nullptr;
    switch (p) {
        case 0:
            return values_fixed<0>(walk, kn, xs, c.data(), dof, out.data(), taylor);
        case 1:
            return values_fixed<1>(walk, kn, xs, c.data(), dof, out.data(), taylor);
        case 2:
            return values_fixed<2>(walk, kn, xs, c.data(), dof, out.data(), taylor);
        case 3:
            return values_fixed<3>(walk, kn, xs, c.data(), dof, out.data(), taylor);
        case 4:
            return values_fixed<4>(walk, kn, xs, c.data(), dof, out.data(), taylor);
        case 5:
            return values_fixed<5>(walk, kn, xs, c.data(), dof, out.data(), taylor);
        default:
            return values_dyn(walk, kn, p, xs, c.data(), dof, out.data());
    }
}

}  // namespace pyorvex::kernel
