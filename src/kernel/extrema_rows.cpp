// Extrema of a derivative of every axis of a spline whose coefficients are rows of dof, exact to
// rounding: the search of extrema.cpp, arranged for many axes on one knot vector.
//
// What depends on the knots alone is done once per span for all axes: the quotients that
// difference a window to the wanted order and the weights of the knot insertions that bring it to
// Bernstein form on the span. A block of spans is brought to that form for every axis first, and
// each piece's two end values are tracked; then, axis by axis, the pieces whose Bernstein
// coefficients reach furthest are searched for critical points first, after which every piece
// whose coefficients lie strictly inside the extrema found so far is passed over: none of its
// values could replace them. The result is the one the search of every piece gives.
#include <cmath>
#include <cstddef>

#include "bspline.hpp"
#include "eval_detail.hpp"
#include "extrema_detail.hpp"

namespace pyorvex::kernel {

namespace {

using detail::idx;
using extrema_detail::Piece;
using extrema_detail::Tracker;

constexpr int kMaxP = kExtremaRowsMaxDegree;

// The spans a block holds: their pieces stay in the work memory while the axes are searched.
constexpr idx kBlockSpans = 16;

// The knot work of one span for the derivative of order nu, in the arithmetic of span_piece
// (extrema.cpp), so that each axis's piece is the one extrema() finds: window coefficient j of
// level r comes from those of level r - 1 as q (d[j + 1] - d[j]) / diff[r][j]; then each
// insertion of a at the left (and of b at the right) replaces d[j] by (w[0] d[j] + w[1] d[j + 1])
// / w[2] (d[j - 1] and d[j]).
struct SpanForm {
    int q = 0;
    int left = 0, right = 0;  // insertions at either end
    double diff[kMaxP + 1][kMaxP + 1];
    double lw[kMaxP + 1][kMaxP + 1][3];
    double rw[kMaxP + 1][kMaxP + 1][3];

    void build(const double *t, idx L, idx k, int p, int nu) {
        double T[2 * kMaxP];
        for (int m = 0; m < 2 * p; ++m) T[m] = t[detail::clamp_index(k - p + 1 + m, L)];
        const double a = t[k], b = t[k + 1];
        // Differenced in B-spline form first: see span_piece in extrema.cpp.
        q = p;
        for (int r = 1; r <= nu; ++r, --q) {
            for (int j = 0; j < q; ++j) diff[r][j] = T[j + q] - T[j];
            for (int m = 0; m + 2 < 2 * q; ++m) T[m] = T[m + 1];
        }
        left = 0;
        for (; left < q && T[0] != a; ++left) {
            for (int j = 0; j < q; ++j) {
                lw[left][j][0] = T[j + q] - a;
                lw[left][j][1] = a - T[j];
                lw[left][j][2] = T[j + q] - T[j];
            }
            for (int m = 0; m + 1 < q; ++m) T[m] = T[m + 1];
            T[q - 1] = a;
        }
        right = 0;
        for (; right < q && T[2 * q - 1] != b; ++right) {
            for (int j = q; j >= 1; --j) {
                rw[right][j][0] = T[j + q - 1] - b;
                rw[right][j][1] = b - T[j - 1];
                rw[right][j][2] = T[j + q - 1] - T[j - 1];
            }
            for (int m = 2 * q - 1; m > q; --m) T[m] = T[m - 1];
            T[q] = b;
        }
    }

    // The Bernstein coefficients on the span of `axes` axes side by side (d[j * axes + a] the
    // coefficient j of axis a), from their windows: each step runs over the axes, which do not
    // depend on each other.
    void apply(double *d, std::size_t axes, int p, int nu) const {
        int w = p;
        for (int r = 1; r <= nu; ++r, --w)
            for (int j = 0; j < w; ++j) {
                const double den = diff[r][j];
                double *lo = d + j * axes, *hi = lo + axes;
                for (std::size_t a = 0; a < axes; ++a) lo[a] = w * (hi[a] - lo[a]) / den;
            }
        for (int i = 0; i < left; ++i)
            for (int j = 0; j < q; ++j) {
                const double wl = lw[i][j][0], wr = lw[i][j][1], den = lw[i][j][2];
                double *lo = d + j * axes, *hi = lo + axes;
                for (std::size_t a = 0; a < axes; ++a) lo[a] = (wl * lo[a] + wr * hi[a]) / den;
            }
        for (int i = 0; i < right; ++i)
            for (int j = q; j >= 1; --j) {
                const double wl = rw[i][j][0], wr = rw[i][j][1], den = rw[i][j][2];
                double *hi = d + j * axes, *lo = hi - axes;
                for (std::size_t a = 0; a < axes; ++a) hi[a] = (wl * lo[a] + wr * hi[a]) / den;
            }
    }
};

// The memory of one call, carved from the caller's work.
struct Work {
    double *pieces;  // per span of the block, p + 1 rows of the coefficients of every axis
    double *scratch, *scratch2, *stack;
    std::size_t row;

    double *piece(idx span, std::size_t axes) const {
        return pieces + static_cast<std::size_t>(span) * axes * row;
    }
};

// One tracker per axis: dof of them on the stack, in groups of kTrackers for a larger dof (each
// group then walks the spans on its own).
constexpr std::size_t kTrackers = 16;

// For peak_ratio: the limits of the axes, the largest ratio of a value seen to its axis's limit
// and whether a value seen is over its limit. A piece is then searched only when it could raise
// the ratio or be the first over a limit.
struct Bounds {
    const double *limits = nullptr;
    double ratio = 0.0;
    bool exceeded = false;

    void see(const Tracker &track, double limit) {
        const double big = std::fabs(track.e.vmin) > std::fabs(track.e.vmax)
                               ? std::fabs(track.e.vmin)
                               : std::fabs(track.e.vmax);
        if (big / limit > ratio) ratio = big / limit;
        exceeded = exceeded || big > limit;
    }

    // Whether no value of the piece g[0..q] can raise the ratio or exceed the limit (a bound on
    // its values with the margin of inside()).
    bool below(const double *g, int q, double limit) const {
        double big = 0.0;
        for (int i = 0; i <= q; ++i) big = std::fabs(g[i]) > big ? std::fabs(g[i]) : big;
        big += 8.0 * (q + 1) * extrema_detail::kEps * big;
        return big / limit < ratio && (exceeded || big <= limit);
    }
};

std::size_t pieces_size(int p, std::size_t dof) {
    const std::size_t axes = dof < kTrackers ? dof : kTrackers;
    return static_cast<std::size_t>(kBlockSpans) * axes * (static_cast<std::size_t>(p) + 1);
}

// Every piece of the block spans[0..count) for every axis, their end values tracked.
// Axes first..first + axes of the dof in each row of c.
void form_block(cspan t, cspan c, int p, std::size_t dof, std::size_t first, std::size_t axes,
                int nu, const idx *spans, idx count, const Work &w, Tracker *track) {
    const idx L = static_cast<idx>(t.size()) - 1, n = static_cast<idx>(c.size() / dof) - 1;
    SpanForm form;
    for (idx s = 0; s < count; ++s) {
        const idx k = spans[s];
        form.build(t.data(), L, k, p, nu);
        double *d = w.piece(s, axes);
        for (int j = 0; j <= p; ++j) {
            const idx g = k - p + j;
            double *dj = d + static_cast<std::size_t>(j) * axes;
            if (g >= 0 && g <= n)
                for (std::size_t a = 0; a < axes; ++a)
                    dj[a] = c[static_cast<std::size_t>(g) * dof + first + a];
            else
                for (std::size_t a = 0; a < axes; ++a) dj[a] = 0.0;
        }
        form.apply(d, axes, p, nu);
        const double *last = d + static_cast<std::size_t>(form.q) * axes;
        for (std::size_t a = 0; a < axes; ++a) {
            track[a].add(t[k], d[a]);
            track[a].add(t[k + 1], last[a]);
        }
    }
}

bool finite_piece(const double *g, int q) {
    bool finite = true;
    for (int i = 0; i <= q; ++i) finite = finite && std::isfinite(g[i]);
    return finite;
}

// The critical points of one axis's pieces in the block (of `axes` axes each): those reaching
// furthest first, then every other one that could still add an extremum.
void search_block(cspan t, int q, std::size_t axes, std::size_t axis, const idx *spans, idx count,
                  const Work &w, Tracker &track, Bounds *bounds, double limit) {
    if (q < 2) return;
    idx top = -1, bottom = -1;
    double top_hi = 0.0, bottom_lo = 0.0;
    for (idx s = 0; s < count; ++s) {
        const double *g = w.piece(s, axes) + axis;
        for (int i = 0; i <= q; ++i) {
            const double v = g[static_cast<std::size_t>(i) * axes];
            if (top < 0 || v > top_hi) top = s, top_hi = v;
            if (bottom < 0 || v < bottom_lo) bottom = s, bottom_lo = v;
        }
    }
    auto search = [&](idx s) {
        double g[kMaxP + 1] = {};
        const double *column = w.piece(s, axes) + axis;
        for (int i = 0; i <= q; ++i) g[i] = column[static_cast<std::size_t>(i) * axes];
        if (track.nan || !finite_piece(g, q) || extrema_detail::inside(g, q, track)) return;
        if (bounds && bounds->below(g, q, limit)) return;
        Piece piece{t[spans[s]], t[spans[s] + 1], g, q, w.scratch, w.scratch2, w.stack};
        piece.critical_points(track);
        if (bounds) bounds->see(track, limit);
    };
    if (top >= 0) search(top);
    if (bottom >= 0 && bottom != top) search(bottom);
    for (idx s = 0; s < count; ++s)
        if (s != top && s != bottom) search(s);
}

}  // namespace

std::size_t extrema_rows_work_size(int p, std::size_t dof) {
    if (p < 0 || p > kExtremaRowsMaxDegree || dof == 0) return 0;
    const std::size_t row = static_cast<std::size_t>(p) + 1;
    return pieces_size(p, dof) + row * (kExtremaDepth + 3);
}

namespace {

// The extrema of every axis into out (when not empty), or with bounds the ratio of the peaks to
// their limits, for each of the orders nus (bounds then holds one per order); the arguments are
// checked. The orders share the walk over the spans and each block's span list; each order forms
// and searches the block's pieces in turn, in the same work memory.
EvalStatus run(cspan t, cspan c, int p, std::size_t dof, std::span<const int> nus, vspan work,
               std::span<Extrema> out, Bounds *bounds) {
    const idx L = static_cast<idx>(t.size()) - 1;
    if (!(t[0] < t[L])) return EvalStatus::refused;
    const std::size_t orders = nus.size();
    const std::size_t row = static_cast<std::size_t>(p) + 1;
    Work w{work.data(), nullptr, nullptr, nullptr, row};
    w.scratch = work.data() + pieces_size(p, dof);
    w.scratch2 = w.scratch + row;
    w.stack = w.scratch2 + row;
    Tracker track[kRatioOrders][kTrackers];
    for (std::size_t first = 0; first < dof; first += kTrackers) {
        const std::size_t axes = dof - first < kTrackers ? dof - first : kTrackers;
        for (std::size_t j = 0; j < orders; ++j)
            for (std::size_t a = 0; a < axes; ++a) track[j][a] = Tracker{};
        auto limit = [&](std::size_t j, std::size_t a) {
            return bounds ? bounds[j].limits[first + a] : 0.0;
        };
        idx spans[kBlockSpans];
        idx count = 0;
        auto flush = [&] {
            for (std::size_t j = 0; j < orders; ++j) {
                if (nus[j] > p) continue;  // identically zero
                form_block(t, c, p, dof, first, axes, nus[j], spans, count, w, track[j]);
                Bounds *b = bounds ? bounds + j : nullptr;
                if (b)
                    for (std::size_t a = 0; a < axes; ++a) b->see(track[j][a], limit(j, a));
                for (std::size_t a = 0; a < axes; ++a)
                    search_block(t, p - nus[j], axes, a, spans, count, w, track[j][a], b,
                                 limit(j, a));
            }
            count = 0;
        };
        for (idx k = 0; k < L; ++k) {
            if (!(t[k] < t[k + 1])) continue;
            spans[count++] = k;
            if (count == kBlockSpans) flush();
        }
        if (count > 0) flush();
        // The status of these axes, as extrema() tells it of one.
        for (std::size_t j = 0; j < orders; ++j) {
            if (nus[j] > p) continue;
            for (std::size_t a = 0; a < axes; ++a) {
                const Tracker &tr = track[j][a];
                if (!tr.any && !tr.nan) return EvalStatus::refused;
                const double seen[] = {tr.e.vmin, tr.e.vmax};
                if (!tr.nan && all_finite(seen)) continue;
                if (all_finite(t) && all_finite(c)) return EvalStatus::overflow;
                if (tr.nan) return EvalStatus::refused;
            }
        }
        // Orders above the degree: zero, at the start, as extrema() gives them.
        if (!out.empty())
            for (std::size_t a = 0; a < axes; ++a)
                out[first + a] = nus[0] > p ? Extrema{t[0], 0.0, t[0], 0.0} : track[0][a].e;
    }
    return EvalStatus::ok;
}

bool sizes_agree(cspan t, cspan c, int p, std::size_t dof, vspan work) {
    return p >= 0 && p <= kExtremaRowsMaxDegree && dof > 0 && t.size() >= 2 &&
           c.size() % dof == 0 && t.size() == c.size() / dof + p + 1 &&
           work.size() == extrema_rows_work_size(p, dof);
}

}  // namespace

EvalStatus extrema_rows(cspan t, cspan c, int p, std::size_t dof, int nu, vspan work,
                        std::span<Extrema> out) {
    if (!sizes_agree(t, c, p, dof, work) || nu < 0 || out.size() != dof) return EvalStatus::refused;
    const int nus[] = {nu};
    return run(t, c, p, dof, nus, work, out, nullptr);
}

EvalStatus peak_ratios(cspan t, cspan c, int p, std::size_t dof, std::span<const int> nus,
                       cspan limits, vspan work, std::span<PeakRatio> out) {
    if (!sizes_agree(t, c, p, dof, work) || nus.empty() || nus.size() > kRatioOrders ||
        limits.size() != nus.size() * dof || out.size() != nus.size())
        return EvalStatus::refused;
    for (int nu : nus)
        if (nu < 0) return EvalStatus::refused;
    for (double l : limits)
        if (!(l > 0.0)) return EvalStatus::refused;
    Bounds bounds[kRatioOrders] = {};
    for (std::size_t j = 0; j < nus.size(); ++j) bounds[j].limits = limits.data() + j * dof;
    const EvalStatus status = run(t, c, p, dof, nus, work, {}, bounds);
    if (status == EvalStatus::ok)
        for (std::size_t j = 0; j < nus.size(); ++j) out[j] = {bounds[j].ratio, bounds[j].exceeded};
    return status;
}

EvalStatus peak_ratio(cspan t, cspan c, int p, std::size_t dof, int nu, cspan limits, vspan work,
                      PeakRatio &out) {
    const int nus[] = {nu};
    return peak_ratios(t, c, p, dof, nus, limits, work, {&out, 1});
}

}  // namespace pyorvex::kernel
