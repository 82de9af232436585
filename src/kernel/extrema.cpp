// Extrema of a derivative of a spline over its whole domain, exact to rounding: no sampling.
//
// Each non-empty span's local window is differenced to the wanted order in B-spline form, then
// brought to Bernstein form on the span by inserting its two end knots up to multiplicity q = p -
// nu (convex combinations only). Its extrema on the span are among its two end values (the
// Bernstein end coefficients: so both sides of every knot are seen) and the roots of its
// derivative inside the span. Those roots come from closed forms while the derivative is of degree
// 1 or 2, from the pieces between the roots of the next derivative (each monotone) at degree 3;
// above, the span is halved (de Casteljau) until each piece's Bernstein coefficients change sign
// at most once (then the piece holds exactly one simple root, found by Newton's method kept inside
// the bracket) or not at all (no root). A piece still undecided at kExtremaDepth is narrower than
// the resolution of a double in the span: its midpoint stands for it. A span whose Bernstein
// coefficients lie strictly inside the extrema found so far has no critical point to look for.
// The search of one piece lives in extrema_detail.hpp, shared with extrema_rows.cpp.
#include <cmath>
#include <cstddef>

#include "bspline.hpp"
#include "eval_detail.hpp"
#include "extrema_detail.hpp"

namespace pyorvex::kernel {

namespace {

using detail::idx;
using detail::View;

using extrema_detail::kEps;
using extrema_detail::Piece;
using extrema_detail::Tracker;

// The Bernstein coefficients on span k of the derivative of order nu (< p + 1) into d[0..p-nu].
// d holds p + 1 doubles and T 2p.
void span_piece(const View &v, idx k, int nu, double *d, double *T) {
    const int p = v.p;
    detail::load_window_dyn(v, k, d);
    for (int m = 0; m < 2 * p; ++m) T[m] = detail::knot_at(v, k - p + 1 + m);
    const double a = v.t[k], b = v.t[k + 1];
    // Differenced in B-spline form first: each quotient spans the whole support of a basis
    // function, never less than the span itself. Differencing the Bernstein form instead divides
    // by the span's width nu times and leaves only rounding of a narrow span's high derivatives.
    int q = p;
    for (int r = 1; r <= nu; ++r, --q) {
        for (int j = 0; j < q; ++j) d[j] = q * (d[j + 1] - d[j]) / (T[j + q] - T[j]);
        for (int m = 0; m + 2 < 2 * q; ++m) T[m] = T[m + 1];
    }
    // Insert a until the q knots left of the span are all a: the window then starts at a.
    for (int rep = 0; rep < q && T[0] != a; ++rep) {
        for (int j = 0; j < q; ++j)
            d[j] = ((T[j + q] - a) * d[j] + (a - T[j]) * d[j + 1]) / (T[j + q] - T[j]);
        for (int m = 0; m + 1 < q; ++m) T[m] = T[m + 1];
        T[q - 1] = a;
    }
    // The same with b on the right: the window is then the Bernstein form on [a, b].
    for (int rep = 0; rep < q && T[2 * q - 1] != b; ++rep) {
        for (int j = q; j >= 1; --j)
            d[j] =
                ((T[j + q - 1] - b) * d[j - 1] + (b - T[j - 1]) * d[j]) / (T[j + q - 1] - T[j - 1]);
        for (int m = 2 * q - 1; m > q; --m) T[m] = T[m - 1];
        T[q] = b;
    }
}

// Bounds on the derivative of order nu over spans, from the convex hull of its B-spline
// coefficients on each: every value the exact search of a span can report lies within
// [lo - margin, hi + margin]. margin covers the rounding of both computations: each intermediate
// of either (the Bernstein coefficients of every order up to nu, the B-spline coefficients here)
// is at most X = max|c| * prod over r of 2 (p - r + 1) / h, and each step adds errors of a few
// units in the last place of X, far fewer than the 256 (p + 1) allowed. The coefficients of every
// order are carried from one span to the next (nu divisions per span). Only for degrees with
// fixed-size scratch and spans whose window lies inside both arrays, with finite results; bound()
// is false otherwise, and the span is then searched.
class Hulls {
public:
    Hulls(const View &v, int nu) : v_(v), nu_(nu), width_(v.p - nu + 1) {}

    bool bound(idx k, double &lo, double &hi, double &margin) {
        const int p = v_.p;
        if (p > detail::kMaxFixedDegree || k < p || k > v_.n) return false;
        if (next_ < k - p) {  // a gap: start again at the first coefficient of the window
            next_ = k - p;
            count_ = 0;
        }
        while (next_ <= k) push(next_++);
        lo = hi = ring_[k % width_];
        for (int j = 1; j < width_; ++j) {
            const double w = ring_[(k - j) % width_];
            if (w < lo) lo = w;
            if (w > hi) hi = w;
        }
        double big = 0.0;
        for (int j = 0; j <= p; ++j) {
            const double a = std::fabs(v_.c[k - j]);
            if (a > big) big = a;
        }
        const double h = v_.t[k + 1] - v_.t[k];
        for (int r = 1; r <= nu_; ++r) big *= 2.0 * (p - r + 1) / h;
        margin = 256.0 * (p + 1) * kEps * big;
        return std::isfinite(margin) && std::isfinite(lo) && std::isfinite(hi);
    }

private:
    // The coefficients of orders 0..nu at index i, from those at i - 1. Those of order r are
    // defined from the r-th index after a start on; they are then used only on spans where their
    // knot differences are not zero.
    void push(idx i) {
        const int p = v_.p;
        double val = v_.c[i];
        for (int r = 1; r <= nu_ && r <= count_; ++r) {
            const double next =
                (p - r + 1) * (val - prev_[r - 1]) / (v_.t[i + p - r + 1] - v_.t[i]);
            prev_[r - 1] = val;
            val = next;
        }
        const int top = count_ < nu_ ? count_ : nu_;
        prev_[top] = val;
        if (count_ >= nu_) ring_[i % width_] = val;
        ++count_;
    }

    const View &v_;
    int nu_, width_;
    idx next_ = -1;  // the next index to push
    int count_ = 0;  // indices pushed since the start
    double prev_[detail::kMaxFixedDegree + 1] = {};
    double ring_[detail::kMaxFixedDegree + 1] = {};
};

// The exact search of span k (not empty): end values and critical points into track.
void search_span(const View &v, idx k, int nu, double *d, double *T, double *scratch,
                 double *scratch2, double *stack, Tracker &track) {
    const int q = v.p - nu;
    span_piece(v, k, nu, d, T);
    Piece piece{v.t[k], v.t[k + 1], d, q, scratch, scratch2, stack};
    track.add(piece.a, d[0]);
    bool finite = true;
    for (int i = 0; i <= q; ++i) finite = finite && std::isfinite(d[i]);
    if (finite && q >= 2 && !extrema_detail::inside(d, q, track)) piece.critical_points(track);
    track.add(piece.b, d[q]);
}

}  // namespace

EvalStatus extrema(cspan t, cspan c, int p, int nu, vspan work, Extrema &out) {
    View v;
    if (!detail::make_view(t, c, p, v) || nu < 0 || work.size() != extrema_work_size(p))
        return EvalStatus::refused;
    if (!detail::has_span(v)) return EvalStatus::refused;
    const double start = t.front();
    if (nu > p) {
        out = {start, 0.0, start, 0.0};
        return EvalStatus::ok;
    }
    const std::size_t row = static_cast<std::size_t>(p) + 1;
    double *d = work.data(), *T = d + row, *scratch = T + 2 * p, *scratch2 = scratch + row;
    double *stack = scratch2 + row;
    Tracker track;
    const idx first = detail::first_span(v), last = detail::last_span(v);
    // The tracker keeps the least value (the earliest abscissa on ties) and the greatest whatever
    // the order the spans come in. So the spans whose bounds reach furthest are searched first,
    // and then every span whose bound lies strictly inside the extrema found so far is passed
    // over: none of its values could replace them. The result is the one the search of every
    // span gives, for a fraction of the cost when few spans hold the extrema.
    idx top = -1, bottom = -1;
    double top_hi = 0.0, bottom_lo = 0.0, lo = 0.0, hi = 0.0, margin = 0.0;
    Hulls seeds(v, nu), hulls(v, nu);
    for (idx k = first; k <= last; ++k) {
        if (!(v.t[k] < v.t[k + 1]) || !seeds.bound(k, lo, hi, margin)) continue;
        if (top < 0 || hi + margin > top_hi) top = k, top_hi = hi + margin;
        if (bottom < 0 || lo - margin < bottom_lo) bottom = k, bottom_lo = lo - margin;
    }
    if (top >= 0) search_span(v, top, nu, d, T, scratch, scratch2, stack, track);
    if (bottom >= 0 && bottom != top && !track.nan)
        search_span(v, bottom, nu, d, T, scratch, scratch2, stack, track);
    for (idx k = first; k <= last && !track.nan; ++k) {
        if (!(v.t[k] < v.t[k + 1]) || k == top || k == bottom) continue;
        if (track.any && hulls.bound(k, lo, hi, margin) && lo - margin > track.e.vmin &&
            hi + margin < track.e.vmax)
            continue;
        search_span(v, k, nu, d, T, scratch, scratch2, stack, track);
    }
    // A NaN value has no place in an order, and NaN knots inside leave no span to look at:
    // either way there is no extremum to report. From finite data, a value that is not finite
    // (NaN included: inf - inf on the way) is an overflow of the derivative.
    if (!track.any && !track.nan) return EvalStatus::refused;
    const double seen[] = {track.e.vmin, track.e.vmax};
    if (!track.nan && all_finite(seen)) {
        out = track.e;
        return EvalStatus::ok;
    }
    if (all_finite(t) && all_finite(c)) return EvalStatus::overflow;
    if (track.nan) return EvalStatus::refused;
    out = track.e;  // infinite data, infinite extrema
    return EvalStatus::ok;
}

}  // namespace pyorvex::kernel
