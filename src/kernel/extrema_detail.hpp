// The search of one polynomial piece for the extrema of a derivative, shared by the single-axis
// routine (extrema.cpp) and the one over axes in rows (extrema_rows.cpp): the tracker of the least
// and greatest values, Bernstein evaluation, and the roots of the piece's derivative.
#pragma once

#include <cmath>
#include <cstddef>
#include <utility>

#include "bspline.hpp"

namespace pyorvex::kernel::extrema_detail {

inline constexpr double kEps = 2.220446049250313e-16;

// The least and greatest value seen, the first abscissa on ties; a NaN value ends the search.
struct Tracker {
    Extrema e;
    bool any = false;
    bool nan = false;

    void add(double x, double v) {
        if (nan) return;
        if (v != v) {
            nan = true;
            e = {x, v, x, v};
        } else if (!any) {
            e = {x, v, x, v};
            any = true;
        } else {
            if (v < e.vmin || (v == e.vmin && x < e.tmin)) {
                e.tmin = x;
                e.vmin = v;
            }
            if (v > e.vmax || (v == e.vmax && x < e.tmax)) {
                e.tmax = x;
                e.vmax = v;
            }
        }
    }
};

// Value at u of the Bernstein polynomial with coefficients b[0..r] on [0, 1], by de Casteljau's
// algorithm in w (r + 1 doubles); its derivative in u goes to *slope when slope is not null.
inline double bernstein(const double *b, int r, double u, double *w, double *slope = nullptr) {
    for (int i = 0; i <= r; ++i) w[i] = b[i];
    const double v = 1.0 - u;
    for (int j = 1; j <= r; ++j) {
        if (j == r && slope) *slope = r * (w[1] - w[0]);
        for (int i = 0; i <= r - j; ++i) w[i] = v * w[i] + u * w[i + 1];
    }
    if (r == 0 && slope) *slope = 0.0;
    return w[0];
}

// Sign changes along b[0..r], zeros skipped: a bound on the roots inside, of the same parity.
inline int sign_changes(const double *b, int r) {
    int count = 0;
    double prev = 0.0;
    for (int i = 0; i <= r; ++i) {
        if (b[i] == 0.0) continue;
        if (prev != 0.0 && (b[i] < 0.0) != (prev < 0.0)) ++count;
        prev = b[i];
    }
    return count;
}

// The piece of one span: its polynomial g (Bernstein coefficients g[0..q] on [a, b]) and the
// memory for the search of the roots of g'.
struct Piece {
    double a, b;
    const double *g;
    int q;
    double *row;    // one row of scratch for evaluations
    double *row2;   // a second one
    double *stack;  // (kExtremaDepth + 1) rows of q doubles: pieces of g' waiting to be searched

    std::size_t stride() const { return static_cast<std::size_t>(q) + 1; }

    // g at the abscissa of s in [0, 1] (the abscissa rounded first, so that value and abscissa
    // belong together).
    void visit(double s, Tracker &track) const {
        const double h = b - a;
        double x = a + s * h;
        if (!(x >= a)) x = a;
        if (!(x <= b)) x = b;
        double u = (x - a) / h;
        if (!(u >= 0.0)) u = 0.0;
        if (!(u <= 1.0)) u = 1.0;
        track.add(x, bernstein(g, q, u, row));
    }

    // The resolution of u on a piece of width w (in span units): about a unit in the last place
    // of the abscissa.
    double resolution(double w) const {
        const double scale = std::fabs(a) > std::fabs(b) ? std::fabs(a) : std::fabs(b);
        return 2.0 * kEps * scale / (w * (b - a)) + 4.0 * kEps;
    }

    // The one root of the Bernstein polynomial c[0..r] on [0, 1] with c[0] and c[r] of opposite
    // signs: Newton's method, falling back to bisection whenever it leaves the bracket.
    double bracketed_root(const double *c, int r, double tol) const {
        double lo = 0.0, hi = 1.0;
        const bool neg_lo = c[0] < 0.0;
        double u = c[0] / (c[0] - c[r]);
        if (!(u > 0.0 && u < 1.0)) u = 0.5;
        for (int it = 0; it < 200 && hi - lo > tol; ++it) {
            double slope = 0.0;
            const double f = bernstein(c, r, u, row2, &slope);
            if (f == 0.0) break;
            if ((f < 0.0) == neg_lo)
                lo = u;
            else
                hi = u;
            double next = u - f / slope;
            if (!(next > lo && next < hi)) next = 0.5 * (lo + hi);
            const bool settled = std::fabs(next - u) <= tol;
            u = next;
            if (settled) break;
        }
        return u;
    }

    // Candidates from the roots of g' (coefficients d[0..q-1], any positive multiple of them).
    void critical_points(Tracker &track) {
        const int r = q - 1;
        double *d = stack;
        for (int i = 0; i < r + 1; ++i) d[i] = g[i + 1] - g[i];
        if (r == 1) {
            if ((d[0] < 0.0) != (d[1] < 0.0) && d[0] != 0.0 && d[1] != 0.0)
                visit(d[0] / (d[0] - d[1]), track);
            return;
        }
        if (r == 2) return quadratic(d, track);
        if (r == 3) return cubic(d, track);
        search(track);
    }

    // g' of degree 3: the roots of g'' (a quadratic, in closed form) cut [0, 1] into pieces on
    // which g' is monotone, so each holds a root exactly when g' changes sign between its ends:
    // found by Newton's method kept inside that bracket. A cut where g' is nearly zero is visited
    // too: it stands for a pair of roots of g' that rounding may have merged there. Power form on
    // [0, 1] for the evaluations (a cubic's coefficients there are within 8 times its Bernstein
    // ones): only the abscissa rests on them, the value visited is g's own.
    void cubic(const double *d, Tracker &track) {
        const double a0 = d[0], a1 = 3.0 * (d[1] - d[0]), a2 = 3.0 * (d[2] - 2.0 * d[1] + d[0]);
        const double a3 = d[3] - 3.0 * (d[2] - d[1]) - d[0];
        auto f = [&](double s) { return ((a3 * s + a2) * s + a1) * s + a0; };
        auto df = [&](double s) { return (3.0 * a3 * s + 2.0 * a2) * s + a1; };
        double cuts[4] = {0.0, 0.0, 0.0, 1.0};
        int count = 1;
        const double A = 3.0 * a3, B = 2.0 * a2, C = a1;  // g'' = A s^2 + B s + C
        double roots[2];
        int found = 0;
        if (A == 0.0) {
            if (B != 0.0) roots[found++] = -C / B;
        } else {
            const double disc = B * B - 4.0 * A * C;
            if (disc == 0.0) roots[found++] = -B / (2.0 * A);
            if (disc > 0.0) {
                const double w = -0.5 * (B + std::copysign(std::sqrt(disc), B));
                roots[found++] = w / A;
                if (w != 0.0) roots[found++] = C / w;
            }
        }
        if (found == 2 && roots[1] < roots[0]) std::swap(roots[0], roots[1]);
        for (int i = 0; i < found; ++i)
            if (roots[i] > 0.0 && roots[i] < 1.0 && roots[i] > cuts[count - 1])
                cuts[count++] = roots[i];
        cuts[count] = 1.0;
        const double tol = resolution(1.0);
        // g' this close to zero at a cut may hide a pair of roots the rounded cut passed over:
        // within the cut's rounding g' changes by far less.
        const double tiny = 1e-6 * (std::fabs(a0) + std::fabs(a1) + std::fabs(a2) + std::fabs(a3));
        double f_lo = f(0.0);
        for (int i = 0; i < count; ++i) {
            const double lo = cuts[i], hi = cuts[i + 1], f_hi = f(hi);
            if ((f_lo < 0.0 && f_hi > 0.0) || (f_lo > 0.0 && f_hi < 0.0))
                visit(monotone_root(f, df, lo, hi, f_lo, f_hi, tol), track);
            if (hi < 1.0 && std::fabs(f_hi) <= tiny) visit(hi, track);
            f_lo = f_hi;
        }
    }

    // The root of f, monotone on [lo, hi] with f_lo and f_hi of opposite signs: Newton's method
    // from the secant's root, falling back to bisection whenever it leaves the bracket.
    template <class F, class D>
    static double monotone_root(const F &f, const D &df, double lo, double hi, double f_lo,
                                double f_hi, double tol) {
        const bool neg_lo = f_lo < 0.0;
        double u = lo + (hi - lo) * (f_lo / (f_lo - f_hi));
        if (!(u > lo && u < hi)) u = 0.5 * (lo + hi);
        for (int it = 0; it < 100 && hi - lo > tol; ++it) {
            const double v = f(u);
            if (v == 0.0) break;
            if ((v < 0.0) == neg_lo)
                lo = u;
            else
                hi = u;
            double next = u - v / df(u);
            if (!(next > lo && next < hi)) next = 0.5 * (lo + hi);
            const bool settled = std::fabs(next - u) <= tol;
            u = next;
            if (settled) break;
        }
        return u;
    }

    // g' = A s^2 + B s + C: its real roots in (0, 1) by the cancellation-free formula, each
    // polished by Newton's method, and the vertex, which stands for a pair of roots that rounding
    // may have merged.
    void quadratic(const double *d, Tracker &track) {
        const double A = d[0] - 2.0 * d[1] + d[2], B = 2.0 * (d[1] - d[0]), C = d[0];
        double roots[3];
        int count = 0;
        if (A == 0.0) {
            if (B != 0.0) roots[count++] = -C / B;
        } else {
            roots[count++] = -B / (2.0 * A);
            const double disc = B * B - 4.0 * A * C;
            if (disc > 0.0) {
                const double w = -0.5 * (B + std::copysign(std::sqrt(disc), B));
                roots[count++] = w / A;
                if (w != 0.0) roots[count++] = C / w;
            }
        }
        for (int i = 0; i < count; ++i) {
            double s = roots[i];
            if (!(s > 0.0 && s < 1.0)) continue;
            for (int it = 0; it < 2; ++it) {
                const double f = (A * s + B) * s + C, df = 2.0 * A * s + B;
                if (df == 0.0) break;
                const double next = s - f / df;
                if (!(next > 0.0 && next < 1.0)) break;
                s = next;
            }
            visit(s, track);
        }
    }

    // Depth-first halving of g' on [0, 1]: the stack holds the pieces still to look at, the left
    // half always searched first, so at most one piece per level waits.
    void search(Tracker &track) {
        const int r = q - 1;
        const std::size_t w = stride();
        double lo[kExtremaDepth + 1], width[kExtremaDepth + 1];
        int depth[kExtremaDepth + 1];
        lo[0] = 0.0;
        width[0] = 1.0;
        depth[0] = 0;
        int top = 0;  // stack[0 .. top] are the waiting pieces, the last one next
        while (top >= 0) {
            double *c = stack + static_cast<std::size_t>(top) * w;
            const double s0 = lo[top], sw = width[top];
            const int level = depth[top];
            const int changes = sign_changes(c, r);
            if (changes == 0) {
                --top;
                continue;
            }
            if (changes == 1 && c[0] != 0.0 && c[r] != 0.0) {
                visit(s0 + sw * bracketed_root(c, r, resolution(sw)), track);
                --top;
                continue;
            }
            if (level >= kExtremaDepth) {
                visit(s0 + 0.5 * sw, track);
                --top;
                continue;
            }
            // Halve: the right half replaces c, the left half goes above it.
            double *left = c + w;
            left[0] = c[0];
            for (int j = 1; j <= r; ++j) {
                for (int i = 0; i <= r - j; ++i) c[i] = 0.5 * (c[i] + c[i + 1]);
                left[j] = c[0];
            }
            // A root exactly at the cut shows in neither half's sign changes.
            if (left[r] == 0.0) visit(s0 + 0.5 * sw, track);
            lo[top] = s0 + 0.5 * sw;
            width[top] = 0.5 * sw;
            depth[top] = level + 1;
            ++top;
            lo[top] = s0;
            width[top] = 0.5 * sw;
            depth[top] = level + 1;
        }
    }
};

// True when no value the search of the piece g[0..q] can report reaches the extrema tracked so
// far: its Bernstein coefficients bound it (a convex hull), and the margin covers the rounding of
// de Casteljau's evaluation, a few units of the largest coefficient. Never true for a piece that
// is not finite, nor before a value is tracked.
inline bool inside(const double *g, int q, const Tracker &track) {
    if (!track.any || track.nan) return false;
    double lo = g[0], hi = g[0], big = std::fabs(g[0]);
    for (int i = 1; i <= q; ++i) {
        lo = g[i] < lo ? g[i] : lo;
        hi = g[i] > hi ? g[i] : hi;
        big = std::fabs(g[i]) > big ? std::fabs(g[i]) : big;
    }
    const double margin = 8.0 * (q + 1) * kEps * big;
    return lo - margin > track.e.vmin && hi + margin < track.e.vmax;
}

}  // namespace pyorvex::kernel::extrema_detail
