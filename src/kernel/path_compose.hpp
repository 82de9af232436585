// A path's Bernstein pieces, and their composition with a polynomial change of parameter: what
// turns a path q(s) and a time law s(t) into the motion q(s(t)) exactly.
#pragma once

#include <cstddef>

#include "bspline.hpp"

namespace pyorvex::kernel {

// The path's data, read as its clamped equivalent: knots beyond either end repeat the end value,
// and the coefficients of the basis functions so added are zero (the function on the domain is
// the same), so that every span has its full window.
struct Path {
    cspan t, c;
    int p;
    std::size_t dof;

    double knot(std::ptrdiff_t i) const {
        if (i < 0) return t.front();
        return static_cast<std::size_t>(i) < t.size() ? t[static_cast<std::size_t>(i)] : t.back();
    }
    double coef(std::ptrdiff_t i, std::size_t j) const {
        const std::size_t rows = c.size() / dof;
        return i >= 0 && static_cast<std::size_t>(i) < rows
                   ? c[static_cast<std::size_t>(i) * dof + j]
                   : 0.0;
    }

    // The Bernstein coefficients on [a, b] (inside the non-empty span k) of every axis, by
    // blossoming: coefficient m is the blossom at (a x (p - m), b x m). out holds p + 1 rows of
    // dof; window holds p + 1 rows of dof.
    void bernstein(std::ptrdiff_t k, double a, double b, double *out, double *window) const {
        const std::ptrdiff_t pp = p;
        for (std::ptrdiff_t m = 0; m <= pp; ++m) {
            for (std::ptrdiff_t r = 0; r <= pp; ++r)
                for (std::size_t j = 0; j < dof; ++j)
                    window[static_cast<std::size_t>(r) * dof + j] = coef(k - pp + r, j);
            for (std::ptrdiff_t r = 1; r <= pp; ++r) {
                const double u = r <= pp - m ? a : b;
                for (std::ptrdiff_t jj = pp; jj >= r; --jj) {
                    const std::ptrdiff_t i = k - pp + jj;
                    const double lo = knot(i), hi = knot(i + pp + 1 - r);
                    const double alpha = (u - lo) / (hi - lo);
                    double *dst = window + static_cast<std::size_t>(jj) * dof;
                    const double *src = dst - dof;
                    for (std::size_t j = 0; j < dof; ++j)
                        dst[j] = (1.0 - alpha) * src[j] + alpha * dst[j];
                }
            }
            for (std::size_t j = 0; j < dof; ++j)
                out[static_cast<std::size_t>(m) * dof + j] =
                    window[static_cast<std::size_t>(pp) * dof + j];
        }
    }
};

// poly (p + 1 polynomials of up to r p + 1 Bernstein coefficients, rows of dof) starts as the
// path's Bernstein coefficients (degree 0 each) and ends, in its first polynomial, as the path
// composed with the polynomial u (Bernstein coefficients inner[0..r], r <= kMaxInner, from 0 to
// 1), of degree r p: each level of de Casteljau's recursion forms (1 - u) Q_k + u Q_{k+1},
// raising the degree by r. The product of Bernstein forms of degrees n and r weighs the
// coefficients by C(n, m - i) C(r, i) / C(n + r, m), which sum to one over i: convex combinations
// only.
inline constexpr int kMaxInner = 5;

inline double binomial(int n, int k) {
    double out = 1.0;
    for (int l = 1; l <= k; ++l) out = out * (n - l + 1) / l;
    return out;
}

inline void compose(double *poly, int p, std::size_t dof, const double *inner, int r) {
    const std::size_t width = (static_cast<std::size_t>(r) * static_cast<std::size_t>(p) + 1) * dof;
    for (int level = 1; level <= p; ++level) {
        const int n = r * (level - 1);  // the degree before this level
        double denom = 1.0;
        for (int l = 1; l <= r; ++l) denom *= static_cast<double>(n + l);
        // Downward in m, every polynomial at each m: q[m] reads q[m - r .. m] only, and the
        // next polynomial's entries there are not yet updated; the weights are computed once
        // for all of them.
        for (int m = n + r; m >= 0; --m) {
            // C(n, m - i) / C(n + r, m) = m!/(m - i)! (n + r - m)!/(n - m + i)! n!/(n + r)!
            double wt[kMaxInner + 1];
            for (int i = 0; i <= r; ++i) {
                wt[i] = 0.0;
                if (m - i < 0 || m - i > n) continue;
                double w = binomial(r, i) / denom;
                for (int l = 0; l < i; ++l) w *= static_cast<double>(m - l);
                for (int l = 0; l < r - i; ++l) w *= static_cast<double>(n + r - m - l);
                wt[i] = w;
            }
            for (int kk = 0; kk <= p - level; ++kk) {
                double *q = poly + static_cast<std::size_t>(kk) * width;
                const double *next = q + width;
                for (std::size_t j = 0; j < dof; ++j) {
                    double sum = 0.0;
                    for (int i = 0; i <= r; ++i) {
                        if (wt[i] == 0.0) continue;
                        const std::size_t at = static_cast<std::size_t>(m - i) * dof + j;
                        sum += wt[i] * ((1.0 - inner[i]) * q[at] + inner[i] * next[at]);
                    }
                    q[static_cast<std::size_t>(m) * dof + j] = sum;
                }
            }
        }
    }
}

}  // namespace pyorvex::kernel
