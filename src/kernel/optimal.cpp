// The shortest motion along a path under per-axis velocity and acceleration limits.
//
// The path q(s) is cut into a grid of segments (every knot a grid point). With x = (ds/dt)^2 and
// d2s/dt2 constant on a segment, x is linear in s there, and each axis's acceleration and squared
// velocity are polynomials over the segment whose Bernstein coefficients are linear in the
// squared speeds (a, b) at its two ends: bounding the coefficients imposes the limits everywhere
// on the segment, not only at grid points, and loses little (they approach the polynomial as the
// segment shrinks, and the end ones are its values). Those linear constraints make a convex
// polygon of admissible (a, b), kept as the lines of its boundary; the sets of speeds from which
// the end can still be reached are built backward, and the forward pass takes the greatest speed
// each segment admits. The motion q(s(t)) is finally composed exactly: on a segment s(tau) is a
// quadratic whose Bernstein coefficients in the segment's own variables are (0, w, 1), and the
// path's Bernstein polynomial of degree p composed with it is a polynomial of degree 2p, formed
// by de Casteljau's recursion carried out on polynomials (convex combinations only).
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

#include "bspline.hpp"
#include "path_compose.hpp"

namespace pyorvex::kernel {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr std::size_t kMaxSegments = std::size_t{1} << 24;
constexpr std::size_t kMaxAxes = std::size_t{1} << 16;
// Segments between two asks of the interrupt test.
constexpr std::size_t kCheckEvery = 32;
// A jump of the path or of its derivative at a knot smaller than this share of the path's scale
// is rounding, not a corner.
constexpr double kJoinTolerance = 1e-9;
// The least share of its greatest squared speed a grid point keeps before one passed at rest.
constexpr double kRestShare = 0.5;
// The greatest peak is sought to this share, halving a segment at most kPeakDepth times. The
// time scale then leaves it this margin (squared, for accelerations) below its limit, room for
// the rounding of the composed motion's derivatives (a few 1e-11 on the usual grids).
constexpr double kPeakTolerance = 1e-13;
constexpr int kPeakDepth = 48;
constexpr double kSettleMargin = 0x1p-34;
// Rounding allowed when two bounds of one speed set meet.
constexpr double kSetTolerance = 1e-12;

// Equal segments of the span [a, b] of the domain [lo, hi]: its share of `grid`, at least two (a
// span between two corners, passed at rest, needs a grid point inside where the speed is not
// zero: d2s/dt2 is constant on a segment).
std::size_t span_segments(double a, double b, double lo, double hi, std::size_t grid) {
    const double n = std::ceil(static_cast<double>(grid) * ((b - a) / (hi - lo)));
    return n >= 2.0 && n <= static_cast<double>(grid) ? static_cast<std::size_t>(n) : 2;
}

// The constraints one axis puts on a segment: 2p on the acceleration (both signs of p
// coefficients), 2p on the squared velocity.
std::size_t points_per_axis(int p) { return 4 * static_cast<std::size_t>(p); }

// Where each array lives in the work memory.
struct Layout {
    std::size_t s, bez, chain, count, points, cap, lo, hi, x, dur, window, poly, pts, verts, acc,
        vel, deriv, binom, peak, stack, total;
};

Layout layout(std::size_t n, int p, std::size_t dof) {
    const std::size_t order = static_cast<std::size_t>(p) + 1, d1 = 2 * order - 1;
    const std::size_t most = points_per_axis(p) * dof;
    Layout l{};
    std::size_t at = 0;
    auto take = [&at](std::size_t count) {
        const std::size_t here = at;
        at += count;
        return here;
    };
    l.s = take(n + 1);
    l.bez = take(n * order * dof);
    l.chain = take(n * 2 * most);
    l.count = take(n);
    l.points = take(n);
    l.cap = take(n + 1);
    l.lo = take(n + 1);
    l.hi = take(n + 1);
    l.x = take(n + 1);
    l.dur = take(n);
    l.window = take(order * dof);
    l.poly = take(order * d1 * dof);
    l.pts = take(2 * most);
    l.verts = take(2 * (most + 2));
    l.acc = take(2 * order);
    l.vel = take(4 * order);
    l.deriv = take(2 * order);
    l.binom = take(3 * static_cast<std::size_t>(p) + 2);
    l.peak = take(2 * order);
    l.stack = take(static_cast<std::size_t>(kPeakDepth) * 2 * order);
    l.total = at;
    return l;
}

// The limits on one segment, as constraints on (a, b), the squared path speeds (ds/dt)^2 at its
// two ends. With x(s) linear from a to b over the segment and d2s/dt2 = (b - a) / 2h constant,
// axis j's acceleration q''(s) x(s) + q'(s) (b - a) / 2h and its squared velocity q'(s)^2 x(s)
// are polynomials in the segment's variable tau whose Bernstein coefficients are linear in
// (a, b): bounding every coefficient bounds the polynomial over the whole segment (the hull
// property), and keeps together the q' and q'' of one place on the path, which independent
// bounds of the two would not. The end coefficients are the values at the grid points, so the
// limits there are met exactly. Every constraint alpha a + beta b <= gamma has gamma > 0: it is
// kept as its point (alpha, beta) / gamma, and one whose point has no positive coordinate never
// binds for a, b >= 0.
struct Points {
    double *xy;
    std::size_t count = 0;

    void add(double alpha, double beta, double gamma) {
        if (!(alpha > 0.0) && !(beta > 0.0)) return;
        xy[2 * count] = alpha / gamma;
        xy[2 * count + 1] = beta / gamma;
        ++count;
    }
};

// C(n, i) for i = 0..n, into out (exact in a double up to the sizes the degree gate lets in, to
// rounding beyond).
void binomials(int n, double *out) {
    out[0] = 1.0;
    for (int i = 1; i <= n; ++i) out[i] = out[i - 1] * (n - i + 1) / i;
}

// Axis j's limited quantities on the segment of length h whose Bernstein coefficients are b
// (p + 1 rows of dof), as Bernstein coefficients alpha_k a + beta_k b2 in the squared speeds at
// its ends: the acceleration's n + 1 = p pairs (alpha, beta) into acc, the squared velocity's
// 2p into vel. work holds 2p + 1 doubles, binom 3p + 2 with the binomials of n and 2n.
struct Coefficients {
    double *acc, *vel, *work;
    const double *binom;
};

void axis_coefficients(const double *b, double h, int p, std::size_t dof, std::size_t j,
                       const Coefficients &out) {
    const int n = p - 1, big = 2 * n + 1;
    double *d = out.work, *e = out.work + p;
    const double *cn = out.binom, *c2n = out.binom + n + 1;
    const double half = 1.0 / (2.0 * h);
    for (int k = 0; k <= n; ++k)
        d[k] = p *
               (b[static_cast<std::size_t>(k + 1) * dof + j] -
                b[static_cast<std::size_t>(k) * dof + j]) /
               h;
    for (int k = 0; k < n; ++k) e[k] = n * (d[k + 1] - d[k]) / h;
    // Acceleration, degree n: a ((1 - tau) q'' - q' / 2h) + b (tau q'' + q' / 2h).
    for (int k = 0; k <= n; ++k) {
        const double lower = k < n ? (n - k) * e[k] / n : 0.0;
        const double upper = k > 0 ? k * e[k - 1] / n : 0.0;
        out.acc[2 * k] = lower - d[k] * half;
        out.acc[2 * k + 1] = upper + d[k] * half;
    }
    // Squared velocity, degree 2n + 1: a (1 - tau) q'^2 + b tau q'^2.
    double prev = 0.0;
    for (int k = 0; k <= big; ++k) {
        double sq = 0.0;  // coefficient k of q'^2 (degree 2n)
        if (k <= 2 * n) {
            for (int i = std::max(0, k - n); i <= std::min(k, n); ++i)
                sq += cn[i] * cn[k - i] * d[i] * d[k - i];
            sq /= c2n[k];
        }
        out.vel[2 * k] = k <= 2 * n ? (big - k) * sq / big : 0.0;
        out.vel[2 * k + 1] = k > 0 ? k * prev / big : 0.0;
        prev = sq;
    }
}

// The binomials axis_coefficients reads, for degree p.
void coefficient_binomials(int p, double *binom) {
    binomials(p - 1, binom);
    binomials(2 * (p - 1), binom + p);
}

// The points of every limit of a segment (limits scaled by f).
void segment_points(const double *b, double h, int p, std::size_t dof, cspan velocity,
                    cspan acceleration, double f, Points &pts, const Coefficients &co) {
    for (std::size_t j = 0; j < dof; ++j) {
        axis_coefficients(b, h, p, dof, j, co);
        const double limit = acceleration[j] * f, vmax = velocity[j] * f, v2 = vmax * vmax;
        for (int k = 0; k < p; ++k) {
            pts.add(co.acc[2 * k], co.acc[2 * k + 1], limit);
            pts.add(-co.acc[2 * k], -co.acc[2 * k + 1], limit);
        }
        for (int k = 0; k < 2 * p; ++k) pts.add(co.vel[2 * k], co.vel[2 * k + 1], v2);
    }
}

// The greatest |value| of the Bernstein polynomial c[0..m] over [0, 1] if it exceeds floor by
// more than kPeakTolerance, else floor: halving (de Casteljau) the pieces whose coefficients
// still reach above what has been met, the end values being exact. stack holds kPeakDepth (m + 1)
// doubles, and c is overwritten.
double polynomial_peak(double *c, int m, double floor, double *stack) {
    const std::size_t width = static_cast<std::size_t>(m) + 1;
    std::size_t depth = 0;
    int levels[kPeakDepth];
    int level = 0;
    for (;;) {
        double top = 0.0;
        for (int k = 0; k <= m; ++k) top = std::max(top, std::fabs(c[k]));
        floor = std::max({floor, std::fabs(c[0]), std::fabs(c[m])});
        if (top > floor * (1.0 + kPeakTolerance)) {
            if (level + 1 < kPeakDepth) {
                // Split at the middle (de Casteljau): c becomes the left half, the right one
                // waits on the stack; row r's first entry is the left half's coefficient r, and
                // its last is left in place as the right half's coefficient m - r.
                double *right = stack + depth * width;
                for (int k = 0; k <= m; ++k) right[k] = c[k];
                for (int r = 1; r <= m; ++r) {
                    for (int k = 0; k + r <= m; ++k) right[k] = 0.5 * (right[k] + right[k + 1]);
                    c[r] = right[0];
                }
                levels[depth++] = ++level;
                continue;
            }
            floor = std::max(floor, top);  // narrower than a double resolves: its bound stands
        }
        if (depth == 0) return floor;
        --depth;
        level = levels[depth];
        for (std::size_t k = 0; k < width; ++k) c[k] = stack[depth * width + k];
    }
}

// Drops the points that cannot be on the boundary: those strictly inside the hull of the
// points extreme in a few directions of the first quadrant, widened toward -x and -y (no
// direction of the quadrant finds them extreme). Moves the others to the front, in order;
// returns their count. Most points of a segment go, which spares the gift wrapping that follows.
std::size_t prune(double *xy, std::size_t count) {
    constexpr int kDirections = 5;
    static const double cs[kDirections][2] = {{1.0, 0.0},
                                              {0.9238795325112867, 0.3826834323650898},
                                              {0.7071067811865476, 0.7071067811865476},
                                              {0.3826834323650898, 0.9238795325112867},
                                              {0.0, 1.0}};
    double best[kDirections];
    std::size_t at[kDirections] = {};
    for (int d = 0; d < kDirections; ++d) best[d] = -kInf;
    for (std::size_t k = 0; k < count; ++k)
        for (int d = 0; d < kDirections; ++d) {
            const double v = cs[d][0] * xy[2 * k] + cs[d][1] * xy[2 * k + 1];
            if (v > best[d]) best[d] = v, at[d] = k;
        }
    double ex[kDirections], ey[kDirections];
    for (int d = 0; d < kDirections; ++d) ex[d] = xy[2 * at[d]], ey[d] = xy[2 * at[d] + 1];
    std::size_t kept = 0;
    for (std::size_t k = 0; k < count; ++k) {
        const double px = xy[2 * k], py = xy[2 * k + 1];
        bool inside = px < ex[0] && py < ey[kDirections - 1];
        for (int d = 0; inside && d + 1 < kDirections; ++d) {
            const double dx = ex[d + 1] - ex[d], dy = ey[d + 1] - ey[d];
            if (dx != 0.0 || dy != 0.0) inside = dx * (py - ey[d]) - dy * (px - ex[d]) > 0.0;
        }
        if (!inside) {
            std::swap(xy[2 * kept], xy[2 * k]);
            std::swap(xy[2 * kept + 1], xy[2 * k + 1]);
            ++kept;
        }
    }
    return kept;
}

// The constraints that bound the segment's admissible (a, b) >= 0, in the order their lines
// follow its boundary from the a axis to the b axis: the part of the convex hull of the points
// that is extreme in directions of the first quadrant (gift wrapping). Moved to the front of
// the points (the others follow); their count, or 0 when some direction is left unbounded.
std::size_t boundary(double *xy, std::size_t count) {
    if (count == 0) return 0;
    count = prune(xy, count);
    std::size_t first = 0;
    for (std::size_t k = 1; k < count; ++k)
        if (xy[2 * k] > xy[2 * first] ||
            (xy[2 * k] == xy[2 * first] && xy[2 * k + 1] > xy[2 * first + 1]))
            first = k;
    if (!(xy[2 * first] > 0.0)) return 0;
    std::swap(xy[0], xy[2 * first]);
    std::swap(xy[1], xy[2 * first + 1]);
    std::size_t chain = 1;
    for (;;) {
        const double cx = xy[2 * chain - 2], cy = xy[2 * chain - 1];
        // The next hull vertex counter-clockwise: every point on the left of c -> next.
        std::size_t next = count;
        double nx = 0.0, ny = 0.0;
        for (std::size_t k = chain; k < count; ++k) {
            const double ex = xy[2 * k] - cx, ey = xy[2 * k + 1] - cy;
            if (!(ey > 0.0)) continue;  // not ahead while the direction stays in the quadrant
            if (next == count) {
                next = k, nx = ex, ny = ey;
                continue;
            }
            const double cross = nx * ey - ny * ex;
            if (cross < 0.0 || (cross == 0.0 && ex * ex + ey * ey > nx * nx + ny * ny))
                next = k, nx = ex, ny = ey;
        }
        if (next == count) break;
        std::swap(xy[2 * chain], xy[2 * next]);
        std::swap(xy[2 * chain + 1], xy[2 * next + 1]);
        ++chain;
    }
    return xy[2 * chain - 1] > 0.0 ? chain : 0;
}

// The vertices of the admissible polygon of a boundary chain, counter-clockwise from the
// origin: the origin, the a axis's end, the meeting points of successive lines, the b axis's
// end. out holds 2 (chain + 2) doubles; returns the vertex count.
std::size_t polygon(const double *c, std::size_t chain, double *out) {
    std::size_t v = 0;
    auto put = [&](double a, double b) {
        out[2 * v] = a, out[2 * v + 1] = b;
        ++v;
    };
    put(0.0, 0.0);
    put(1.0 / c[0], 0.0);
    for (std::size_t k = 0; k + 1 < chain; ++k) {
        const double *m = c + 2 * k, *q = m + 2;
        const double det = m[0] * q[1] - m[1] * q[0];
        const double a = (q[1] - m[1]) / det, b = (m[0] - q[0]) / det;
        put(std::max(a, 0.0), std::max(b, 0.0));
    }
    put(0.0, 1.0 / c[2 * chain - 1]);
    return v;
}

// The least and greatest a the chain admits at b, or false when it admits none.
bool range_at(const double *c, std::size_t chain, double b, double &amin, double &amax) {
    amin = 0.0, amax = kInf;
    for (std::size_t k = 0; k < chain; ++k) {
        const double x = c[2 * k], room = 1.0 - c[2 * k + 1] * b;
        if (x > 0.0)
            amax = std::min(amax, room / x);
        else if (x < 0.0)
            amin = std::max(amin, room / x);
        else if (room < 0.0)
            return false;
    }
    return amin <= amax;
}

// The least and greatest a of the chain's admissible points whose b lies in [lo, hi]; false
// when there is none. Both are extreme at a vertex of the polygon or on the band's edges: the
// vertices (of rounded position) only say where to look, and the a there is read from the
// lines, so that every a reported has a b with every constraint met to rounding.
bool band_range(const double *c, std::size_t chain, const double *v, std::size_t count, double lo,
                double hi, double &amin, double &amax) {
    amin = kInf, amax = -kInf;
    auto look = [&](double b) {
        double least, most;
        if (!range_at(c, chain, b, least, most)) return;
        amin = std::min(amin, least);
        amax = std::max(amax, most);
    };
    look(lo);
    look(hi);
    for (std::size_t k = 0; k < count; ++k)
        if (v[2 * k + 1] > lo && v[2 * k + 1] < hi) look(v[2 * k + 1]);
    return amin <= amax;
}

// The greatest b the chain admits at a (the least any line asks when rounding crosses them).
double largest_b(const double *c, std::size_t chain, double a) {
    double top = kInf, floor = 0.0;
    for (std::size_t k = 0; k < chain; ++k) {
        const double x = c[2 * k], y = c[2 * k + 1], room = 1.0 - x * a;
        if (y > 0.0)
            top = std::min(top, room / y);
        else if (y < 0.0)
            floor = std::max(floor, room / y);
    }
    return top >= floor ? top : floor;
}

// The greatest of |acceleration| / limit and (velocity / limit)^2 over the axes at the two ends
// of a segment of length h with Bernstein coefficients b, passed with squared speeds a and b2:
// exact values, from the end coefficients of q' and q''.
double end_ratio(const double *b, double h, int p, std::size_t dof, cspan velocity,
                 cspan acceleration, double a, double b2) {
    const std::size_t last = static_cast<std::size_t>(p);
    const double u = (b2 - a) / (2.0 * h), curve = p * (p - 1) / (h * h);
    double out = 0.0;
    for (std::size_t j = 0; j < dof; ++j) {
        auto at = [&](std::size_t m) { return b[m * dof + j]; };
        const double d0 = p * (at(1) - at(0)) / h, d1 = p * (at(last) - at(last - 1)) / h;
        const double e0 = p >= 2 ? curve * (at(2) - 2.0 * at(1) + at(0)) : 0.0;
        const double e1 = p >= 2 ? curve * (at(last) - 2.0 * at(last - 1) + at(last - 2)) : 0.0;
        const double v2 = velocity[j] * velocity[j];
        out = std::max({out, std::fabs(a * e0 + u * d0) / acceleration[j],
                        std::fabs(b2 * e1 + u * d1) / acceleration[j], d0 * d0 * a / v2,
                        d1 * d1 * b2 / v2});
    }
    return out;
}

}  // namespace

OptimalSize optimal_size(cspan t, int p, std::size_t dof, std::size_t grid) {
    OptimalSize size;
    if (p < 1 || p > kMaxDegree / 2 || dof < 1 || dof > kMaxAxes || grid < 2 ||
        grid > kMaxSegments || t.size() < static_cast<std::size_t>(p) + 2)
        return size;
    const double lo = t.front(), hi = t.back();
    if (!(lo < hi) || !std::isfinite(hi - lo)) return size;
    std::size_t n = 0;
    for (std::size_t i = 0; i + 1 < t.size(); ++i) {
        if (!(t[i] < t[i + 1])) continue;
        n += span_segments(t[i], t[i + 1], lo, hi, grid);
        if (n > 2 * kMaxSegments) return size;
    }
    if (n < 2) return size;
    const std::size_t d = 2 * static_cast<std::size_t>(p);
    size.segments = n;
    size.coefs = ((d + 1) + (n - 1) * (d - 1)) * dof;
    size.knots = size.coefs / dof + d + 1;
    size.work = layout(n, p, dof).total;
    size.ok = true;
    return size;
}

OptimalStatus retime_optimal(cspan t, cspan c, int p, std::size_t dof, cspan velocity,
                             cspan acceleration, cspan shrink, std::size_t grid, vspan knots,
                             vspan coefs, vspan work, OptimalPlan &plan) {
    if (!all_finite(t) || !all_finite(c)) return OptimalStatus::bad_path;
    const OptimalSize size = optimal_size(t, p, dof, grid);
    if (!size.ok || c.size() != (t.size() - static_cast<std::size_t>(p) - 1) * dof ||
        velocity.size() != dof || acceleration.size() != dof || knots.size() != size.knots ||
        coefs.size() != size.coefs || work.size() != size.work ||
        (!shrink.empty() && shrink.size() != size.segments))
        return OptimalStatus::refused;
    for (std::size_t j = 0; j < dof; ++j)
        if (!(velocity[j] > 0.0 && velocity[j] < kInf && acceleration[j] > 0.0 &&
              acceleration[j] < kInf))
            return OptimalStatus::bad_limits;
    for (const double f : shrink)
        if (!(f > 0.0 && f <= 1.0)) return OptimalStatus::bad_limits;
    if (!(plan.start_speed >= 0.0 && plan.start_speed < kInf && plan.stop_speed >= 0.0 &&
          plan.stop_speed < kInf))
        return OptimalStatus::bad_limits;

    const std::size_t n = size.segments, order = static_cast<std::size_t>(p) + 1;
    const std::size_t most = points_per_axis(p) * dof;
    const Layout l = layout(n, p, dof);
    double *w = work.data();
    double *s = w + l.s, *bez = w + l.bez, *chains = w + l.chain, *counts = w + l.count;
    double *totals = w + l.points;
    double *cap = w + l.cap, *lo = w + l.lo, *hi = w + l.hi, *x = w + l.x, *dur = w + l.dur;
    const Path path{t, c, p, dof};
    auto interrupted = [&plan](std::size_t i) {
        return plan.interrupted != nullptr && i % kCheckEvery == 0 &&
               plan.interrupted(plan.context);
    };

    // The grid, and the Bernstein coefficients of the path on every segment. cap marks the grid
    // points that are knots inside the domain (where the path may turn a corner) with -1.
    std::size_t at = 0;
    s[0] = t.front();
    for (std::size_t k = 0; k + 1 < t.size(); ++k) {
        if (!(t[k] < t[k + 1])) continue;
        const std::size_t m = span_segments(t[k], t[k + 1], t.front(), t.back(), grid);
        for (std::size_t i = 0; i < m; ++i, ++at) {
            if (interrupted(at + 1)) return OptimalStatus::interrupted;
            s[at + 1] = i + 1 == m ? t[k + 1]
                                   : t[k] + (t[k + 1] - t[k]) * (static_cast<double>(i + 1) /
                                                                 static_cast<double>(m));
            cap[at] = i == 0 && at > 0 ? -1.0 : kInf;
            path.bernstein(static_cast<std::ptrdiff_t>(k), s[at], s[at + 1], bez + at * order * dof,
                           w + l.window);
        }
    }
    cap[n] = kInf;

    // The scales of the path and its derivative (what a corner is measured against), and every
    // segment's boundary of admissible end speeds.
    const Coefficients co{w + l.acc, w + l.vel, w + l.deriv, w + l.binom};
    coefficient_binomials(p, w + l.binom);
    double scale_q = 0.0, scale_d1 = 0.0, scale_d2 = 0.0;  // (d2: up to p (p - 1))
    for (std::size_t i = 0; i < n; ++i) {
        if (interrupted(i)) return OptimalStatus::interrupted;
        const double h = s[i + 1] - s[i];
        const double *b = bez + i * order * dof;
        bool moves = false;
        for (std::size_t j = 0; j < dof; ++j)
            for (std::size_t m = 0; m < order; ++m) {
                scale_q = std::max(scale_q, std::fabs(b[m * dof + j]));
                if (m + 1 < order) {
                    const double v = std::fabs(p * (b[(m + 1) * dof + j] - b[m * dof + j]) / h);
                    if (!std::isfinite(v)) return OptimalStatus::bad_path;  // beyond a double
                    scale_d1 = std::max(scale_d1, v);
                    moves = moves || v > 0.0;
                }
                if (m + 2 < order)
                    scale_d2 =
                        std::max(scale_d2, std::fabs(b[(m + 2) * dof + j] -
                                                     2.0 * b[(m + 1) * dof + j] + b[m * dof + j]) /
                                               (h * h));
            }
        if (!moves) {
            // The whole pause: every following segment whose coefficients are all equal too.
            auto still = [&](std::size_t g) {
                const double *q = bez + g * order * dof;
                for (std::size_t m = 1; m < order; ++m)
                    for (std::size_t j = 0; j < dof; ++j)
                        if (q[m * dof + j] != q[j]) return false;
                return true;
            };
            std::size_t last = i + 1;
            while (last < n && still(last)) ++last;
            plan.where_lo = s[i];
            plan.where_hi = s[last];
            return OptimalStatus::stands_still;
        }
        Points pts{w + l.pts};
        segment_points(b, h, p, dof, velocity, acceleration, shrink.empty() ? 1.0 : shrink[i], pts,
                       co);
        for (std::size_t k = 0; k < 2 * pts.count; ++k)
            if (!std::isfinite(pts.xy[k])) return OptimalStatus::bad_path;
        const std::size_t chain = boundary(pts.xy, pts.count);
        if (chain == 0) {
            plan.where_lo = s[i];
            plan.where_hi = s[i + 1];
            return OptimalStatus::infeasible;
        }
        std::copy(pts.xy, pts.xy + 2 * pts.count, chains + i * 2 * most);
        counts[i] = static_cast<double>(chain);
        totals[i] = static_cast<double>(pts.count);
    }

    // At a knot where the path jumps there is no motion; where its derivative jumps the motion
    // passes at rest (any speed there would need an infinite acceleration).
    for (std::size_t i = 1; i < n; ++i) {
        if (cap[i] != -1.0) continue;
        cap[i] = kInf;
        const double *left = bez + (i - 1) * order * dof, *right = bez + i * order * dof;
        const double hl = s[i] - s[i - 1], hr = s[i + 1] - s[i];
        for (std::size_t j = 0; j < dof; ++j) {
            const double ql = left[(order - 1) * dof + j], qr = right[j];
            if (std::fabs(ql - qr) > kJoinTolerance * scale_q) {
                plan.where_lo = plan.where_hi = s[i];
                return OptimalStatus::broken;
            }
            const double dl = p * (ql - left[(order - 2) * dof + j]) / hl;
            const double dr = p * (right[dof + j] - qr) / hr;
            if (std::fabs(dl - dr) > kJoinTolerance * scale_d1) cap[i] = 0.0;
            if (plan.smooth >= 2 && p >= 2) {
                const double *lq = left + (order - 3) * dof + j;
                const double cl = (lq[2 * dof] - 2.0 * lq[dof] + lq[0]) / (hl * hl);
                const double cr = (right[2 * dof + j] - 2.0 * right[dof + j] + qr) / (hr * hr);
                if (std::fabs(cl - cr) > kJoinTolerance * scale_d2) cap[i] = 0.0;
            }
        }
    }

    // Backward: the squared speeds at each grid point from which the end is reached within the
    // limits, from the band the next grid point admits.
    auto chain_of = [&](std::size_t i) { return chains + i * 2 * most; };
    auto chain_size = [&](std::size_t i) { return static_cast<std::size_t>(counts[i]); };
    double *verts = w + l.verts;
    lo[n] = hi[n] = plan.stop_speed * plan.stop_speed;
    for (std::size_t i = n; i-- > 0;) {
        if (interrupted(i)) return OptimalStatus::interrupted;
        const std::size_t corners = polygon(chain_of(i), chain_size(i), verts);
        double top = 0.0;  // the greatest b of the polygon
        for (std::size_t k = 0; k < corners; ++k) top = std::max(top, verts[2 * k + 1]);
        const double band_lo = std::min(lo[i + 1], top), band_hi = std::min(hi[i + 1], top);
        if (lo[i + 1] > top * (1.0 + kSetTolerance) ||
            !band_range(chain_of(i), chain_size(i), verts, corners, band_lo, band_hi, lo[i],
                        hi[i])) {
            plan.where_lo = s[i];
            plan.where_hi = s[i + 1];
            return OptimalStatus::infeasible;
        }
        // Before a point passed at rest the speed must not be zero too (the segment would take
        // forever): half the greatest is asked, which the braking there meets anyway, and at most
        // half of what the segment before can reach at its end (a velocity limit may keep that
        // far lower, where the path slows down towards the rest point).
        if (hi[i + 1] == 0.0 && i > 0) {
            const std::size_t before = polygon(chain_of(i - 1), chain_size(i - 1), verts);
            double reach = 0.0;
            for (std::size_t k = 0; k < before; ++k) reach = std::max(reach, verts[2 * k + 1]);
            lo[i] = std::max(lo[i], kRestShare * std::min(hi[i], reach));
        }
        hi[i] = std::min(hi[i], cap[i]);
        if (lo[i] > hi[i]) {
            if (lo[i] > hi[i] + kSetTolerance * std::max(hi[i], 0.0)) {
                plan.where_lo = s[i];
                plan.where_hi = s[i + 1];
                return OptimalStatus::infeasible;
            }
            lo[i] = hi[i];
        }
    }

    // Forward: the greatest squared speed each segment admits at its end, from the speed asked
    // at the start.
    x[0] = plan.start_speed * plan.start_speed;
    if (x[0] > hi[0] * (1.0 + kSetTolerance) || x[0] < lo[0] * (1.0 - kSetTolerance)) {
        plan.where_lo = plan.where_hi = s[0];
        return OptimalStatus::infeasible;
    }
    x[0] = std::clamp(x[0], lo[0], hi[0]);
    for (std::size_t i = 0; i < n; ++i) {
        if (interrupted(i)) return OptimalStatus::interrupted;
        const double h = s[i + 1] - s[i];
        x[i + 1] = std::clamp(largest_b(chain_of(i), chain_size(i), x[i]), lo[i + 1], hi[i + 1]);
        const double pace = std::sqrt(x[i]) + std::sqrt(x[i + 1]);
        dur[i] = 2.0 * h / pace;
        if (!(dur[i] > 0.0 && dur[i] < kInf)) {
            plan.where_lo = s[i];
            plan.where_hi = s[i + 1];
            return OptimalStatus::infeasible;
        }
    }

    // One common time scale brings the greatest peak to its limit. Every peak is at most its
    // segment's greatest coefficient, and the values at grid points are exact: only the segments
    // whose coefficients reach above the greatest value met so far are searched further.
    double most_ratio = 0.0;  // the greatest |acceleration| / limit or (velocity / limit)^2
    for (std::size_t i = 0; i < n; ++i)
        most_ratio = std::max(most_ratio, end_ratio(bez + i * order * dof, s[i + 1] - s[i], p, dof,
                                                    velocity, acceleration, x[i], x[i + 1]));
    for (std::size_t i = 0; i < n; ++i) {
        if (interrupted(i)) return OptimalStatus::interrupted;
        // The points were scaled by the segment's factor: above the values over the limits.
        const double *q = chain_of(i);
        double bound = 0.0;
        for (std::size_t k = 0; k < static_cast<std::size_t>(totals[i]); ++k)
            bound = std::max(bound, q[2 * k] * x[i] + q[2 * k + 1] * x[i + 1]);
        if (bound <= most_ratio * (1.0 + kPeakTolerance)) continue;
        double *c = w + l.peak;
        for (std::size_t j = 0; j < dof; ++j) {
            axis_coefficients(bez + i * order * dof, s[i + 1] - s[i], p, dof, j, co);
            const double v2 = velocity[j] * velocity[j];
            for (int k = 0; k < p; ++k)
                c[k] = (co.acc[2 * k] * x[i] + co.acc[2 * k + 1] * x[i + 1]) / acceleration[j];
            most_ratio = polynomial_peak(c, p - 1, most_ratio, w + l.stack);
            for (int k = 0; k < 2 * p; ++k)
                c[k] = (co.vel[2 * k] * x[i] + co.vel[2 * k + 1] * x[i + 1]) / v2;
            most_ratio = polynomial_peak(c, 2 * p - 1, most_ratio, w + l.stack);
        }
    }
    plan.settled = most_ratio > 0.0 && std::isfinite(most_ratio);
    if (plan.settled) {
        double k = std::sqrt(most_ratio) * (1.0 + kSettleMargin);
        // End speeds given are kept: the motion is only slowed, as far as rounding asks.
        if (plan.start_speed > 0.0 || plan.stop_speed > 0.0) k = std::max(k, 1.0);
        for (std::size_t i = 0; i <= n; ++i) x[i] /= k * k;
        for (std::size_t i = 0; i < n; ++i) dur[i] *= k;
    }

    // The knots: the start, then each grid point's time 2p - 1 times inside, 2p + 1 at the ends.
    const std::size_t d = 2 * static_cast<std::size_t>(p);
    std::size_t kn = 0;
    double time = t.front();
    for (std::size_t r = 0; r <= d; ++r) knots[kn++] = time;
    for (std::size_t i = 0; i < n; ++i) {
        const double next = time + dur[i];
        if (!(next > time) || !std::isfinite(next)) {
            plan.where_lo = s[i];
            plan.where_hi = s[i + 1];
            return OptimalStatus::infeasible;  // the time axis cannot resolve the segment
        }
        time = next;
        const std::size_t copies = i + 1 < n ? d - 1 : d + 1;
        for (std::size_t r = 0; r < copies; ++r) knots[kn++] = time;
    }
    plan.duration = time - t.front();
    if (plan.profile != nullptr) {
        std::copy(s, s + n + 1, plan.profile);
        std::copy(x, x + n + 1, plan.profile + n + 1);
    }

    // The coefficients: each segment's composition; the value at a joint follows from its two
    // neighbours (the joint is C1), so its coefficient is left out.
    double *poly = w + l.poly;
    const std::size_t width = (d + 1) * dof;
    std::size_t row = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (interrupted(i)) return OptimalStatus::interrupted;
        const double *b = bez + i * order * dof;
        for (std::size_t m = 0; m < order; ++m)
            for (std::size_t j = 0; j < dof; ++j) poly[m * width + j] = b[m * dof + j];
        const double a0 = std::sqrt(x[i]), a1 = std::sqrt(x[i + 1]);
        const double inner[3] = {0.0, a0 / (a0 + a1), 1.0};
        compose(poly, p, dof, inner, 2);
        const std::size_t first = i == 0 ? 0 : 1, last = i + 1 == n ? d : d - 1;
        for (std::size_t m = first; m <= last; ++m, ++row)
            for (std::size_t j = 0; j < dof; ++j) coefs[row * dof + j] = poly[m * dof + j];
    }
    if (!all_finite(coefs)) return OptimalStatus::bad_path;
    return OptimalStatus::ok;
}

}  // namespace pyorvex::kernel
