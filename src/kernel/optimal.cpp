// The shortest motion along a path under per-axis velocity and acceleration limits.
//
// The path q(s) is cut into a grid of segments (every knot a grid point). With x = (ds/dt)^2 and
// u = d2s/dt2 constant on a segment, x is linear in s there, x_{i+1} = x_i + 2 h_i u_i, and the
// limits are linear in (x_i, u_i) once q' and q'' are replaced by bounds over the segment (the
// hulls of their Bernstein coefficients) and x by its two end values: every combination of those
// bounds is imposed, so the limits hold everywhere on the segment and not only at grid points.
// Each segment's admissible x_i then comes from eliminating u between the constraints that bound
// it from above and from below (Fourier-Motzkin in two variables); the sets of speeds from which
// the end can still be reached are built backward, and the forward pass takes the largest u each
// segment admits. The motion q(s(t)) is finally composed exactly: on a segment s(tau) is a
// quadratic whose Bernstein coefficients in the segment's own variables are (0, w, 1), and the
// path's Bernstein polynomial of degree p composed with it is a polynomial of degree 2p, formed
// by de Casteljau's recursion carried out on polynomials (convex combinations only).
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

#include "bspline.hpp"

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
// Rounding allowed when two bounds of one speed set meet.
constexpr double kSetTolerance = 1e-12;

// Equal segments of the span [a, b] of the domain [lo, hi]: its share of `grid`, at least one.
std::size_t span_segments(double a, double b, double lo, double hi, std::size_t grid) {
    const double n = std::ceil(static_cast<double>(grid) * ((b - a) / (hi - lo)));
    return n >= 1.0 && n <= static_cast<double>(grid) ? static_cast<std::size_t>(n) : 1;
}

// Where each array lives in the work memory.
struct Layout {
    std::size_t s, bez, box, vcap, cap, lo, hi, x, dur, window, poly, cons, total;
};

Layout layout(std::size_t n, int p, std::size_t dof) {
    const std::size_t order = static_cast<std::size_t>(p) + 1, d1 = 2 * order - 1;
    Layout l{};
    std::size_t at = 0;
    auto take = [&at](std::size_t count) {
        const std::size_t here = at;
        at += count;
        return here;
    };
    l.s = take(n + 1);
    l.bez = take(n * order * dof);
    l.box = take(4 * n * dof);
    l.vcap = take(n);
    l.cap = take(n + 1);
    l.lo = take(n + 1);
    l.hi = take(n + 1);
    l.x = take(n + 1);
    l.dur = take(n);
    l.window = take(order * dof);
    l.poly = take(order * d1 * dof);
    l.cons = take(6 * (8 * dof + 5));
    l.total = at;
    return l;
}

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

// Linear constraints alpha x + beta u <= gamma on one segment, split by the sign of beta.
struct Constraints {
    double *upper;  // beta > 0: bounds u from above
    double *lower;  // beta < 0: bounds u from below
    std::size_t n_upper = 0, n_lower = 0;
    double x_lo = 0.0, x_hi = kInf;  // beta == 0: bounds of x itself
    bool empty = false;

    void add(double alpha, double beta, double gamma) {
        if (beta > 0.0) {
            double *r = upper + 3 * n_upper++;
            r[0] = alpha, r[1] = beta, r[2] = gamma;
        } else if (beta < 0.0) {
            double *r = lower + 3 * n_lower++;
            r[0] = alpha, r[1] = beta, r[2] = gamma;
        } else if (alpha > 0.0) {
            x_hi = std::min(x_hi, gamma / alpha);
        } else if (alpha < 0.0) {
            x_lo = std::max(x_lo, gamma / alpha);
        } else if (gamma < 0.0) {
            empty = true;
        }
    }
};

struct Segment {
    double h;           // its length in s
    double vcap;        // the largest x the velocity limits allow on it
    const double *box;  // per axis: least and greatest q', least and greatest q''
    double f;           // the factor on its limits
};

// Every constraint of one segment on (x_i, u_i): the speed bounds at both ends, the reach of the
// next grid point's set [next_lo, next_hi], and the acceleration limits at the segment's two end
// speeds with each bound of q' (the largest and least q'' suffice: x >= 0).
void constrain(const Segment &g, cspan acceleration, double next_lo, double next_hi,
               Constraints &k) {
    const double h2 = 2.0 * g.h;
    k.add(1.0, 0.0, g.vcap);
    k.add(1.0, h2, std::min(g.vcap, next_hi));
    k.add(-1.0, -h2, -next_lo);
    k.add(-1.0, 0.0, 0.0);
    for (std::size_t j = 0; j < acceleration.size(); ++j) {
        const double *b = g.box + 4 * j;
        const double limit = acceleration[j] * g.f;
        for (int side = 0; side < 2; ++side) {
            const double d1 = b[side];
            k.add(b[3], d1, limit);
            k.add(-b[2], -d1, limit);
            k.add(b[3], d1 + h2 * b[3], limit);
            k.add(-b[2], -(d1 + h2 * b[2]), limit);
        }
    }
}

// The x for which some u meets every constraint: [lo, hi], or false when there is none.
bool admissible(Constraints &k, double &lo, double &hi) {
    lo = k.x_lo;
    hi = k.x_hi;
    if (k.empty) return false;
    for (std::size_t a = 0; a < k.n_upper; ++a) {
        const double *up = k.upper + 3 * a;
        for (std::size_t b = 0; b < k.n_lower; ++b) {
            const double *dn = k.lower + 3 * b;
            // u <= (g_a - a_a x) / b_a and u >= (g_b - a_b x) / b_b (b_b < 0): eliminate u.
            const double coef = -dn[1] * up[0] + up[1] * dn[0];
            const double rhs = -dn[1] * up[2] + up[1] * dn[2];
            if (coef > 0.0)
                hi = std::min(hi, rhs / coef);
            else if (coef < 0.0)
                lo = std::max(lo, rhs / coef);
            else if (rhs < 0.0)
                return false;
        }
    }
    if (lo > hi) {
        if (lo > hi + kSetTolerance * std::max(hi, 0.0)) return false;
        lo = hi;
    }
    return true;
}

// The largest u that the constraints admit at x (the least the lower ones ask when they cross).
double largest_u(const Constraints &k, double x) {
    double u = kInf, floor = -kInf;
    for (std::size_t a = 0; a < k.n_upper; ++a) {
        const double *r = k.upper + 3 * a;
        u = std::min(u, (r[2] - r[0] * x) / r[1]);
    }
    for (std::size_t b = 0; b < k.n_lower; ++b) {
        const double *r = k.lower + 3 * b;
        floor = std::max(floor, (r[2] - r[0] * x) / r[1]);
    }
    return u >= floor ? u : floor;
}

// poly (p + 1 polynomials of up to 2p + 1 Bernstein coefficients, rows of dof) starts as the
// path's Bernstein coefficients (degree 0 each) and ends, in its first polynomial, as q(s(sigma))
// of degree 2p: each level of de Casteljau's recursion forms (1 - w) Q_k + w Q_{k+1} with w the
// quadratic (0, w1, 1), raising the degree by 2. Products of Bernstein forms weigh the
// coefficients by C(n, m - j) C(2, j) / C(n + 2, m), which sum to one.
void compose(double *poly, int p, std::size_t dof, double w1) {
    const std::size_t width = (2 * static_cast<std::size_t>(p) + 1) * dof;
    const double a[3] = {0.0, w1, 1.0}, b[3] = {1.0, 1.0 - w1, 0.0};
    for (int r = 1; r <= p; ++r) {
        const int n = 2 * (r - 1);  // the degree before this level
        const double denom = static_cast<double>(n + 2) * static_cast<double>(n + 1);
        for (int kk = 0; kk <= p - r; ++kk) {
            double *q = poly + static_cast<std::size_t>(kk) * width;
            const double *next = q + width;
            for (int m = n + 2; m >= 0; --m) {  // downward: q[m] reads q[m - 2 .. m] only
                const double wt[3] = {static_cast<double>((n + 2 - m) * (n + 1 - m)) / denom,
                                      static_cast<double>(2 * m * (n + 2 - m)) / denom,
                                      static_cast<double>(m * (m - 1)) / denom};
                for (std::size_t j = 0; j < dof; ++j) {
                    double sum = 0.0;
                    for (int i = 0; i < 3; ++i) {
                        const int src = m - i;
                        if (src < 0 || src > n || wt[i] == 0.0) continue;
                        const std::size_t at = static_cast<std::size_t>(src) * dof + j;
                        sum += wt[i] * (b[i] * q[at] + a[i] * next[at]);
                    }
                    q[static_cast<std::size_t>(m) * dof + j] = sum;
                }
            }
        }
    }
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
    const Layout l = layout(n, p, dof);
    double *w = work.data();
    double *s = w + l.s, *bez = w + l.bez, *box = w + l.box, *vcap = w + l.vcap, *cap = w + l.cap;
    double *lo = w + l.lo, *hi = w + l.hi, *x = w + l.x, *dur = w + l.dur;
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

    // Bounds of q' and q'' on every segment, from the hulls of their Bernstein coefficients, and
    // the speed the velocity limits allow there.
    double scale_q = 0.0, scale_d1 = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double h = s[i + 1] - s[i];
        const double *b = bez + i * order * dof;
        const double f = shrink.empty() ? 1.0 : shrink[i];
        vcap[i] = kInf;
        bool moves = false;
        for (std::size_t j = 0; j < dof; ++j) {
            double d1lo = kInf, d1hi = -kInf, d2lo = 0.0, d2hi = 0.0;
            for (std::size_t m = 0; m + 1 < order; ++m) {
                const double v = p * (b[(m + 1) * dof + j] - b[m * dof + j]) / h;
                d1lo = std::min(d1lo, v);
                d1hi = std::max(d1hi, v);
            }
            if (p >= 2) {
                d2lo = kInf, d2hi = -kInf;
                for (std::size_t m = 0; m + 2 < order; ++m) {
                    const double v = (static_cast<double>(p) * (p - 1)) *
                                     ((b[(m + 2) * dof + j] - b[(m + 1) * dof + j]) -
                                      (b[(m + 1) * dof + j] - b[m * dof + j])) /
                                     (h * h);
                    d2lo = std::min(d2lo, v);
                    d2hi = std::max(d2hi, v);
                }
            }
            for (std::size_t m = 0; m < order; ++m)
                scale_q = std::max(scale_q, std::fabs(b[m * dof + j]));
            double *o = box + 4 * (i * dof + j);
            o[0] = d1lo, o[1] = d1hi, o[2] = d2lo, o[3] = d2hi;
            const double top = std::max(std::fabs(d1lo), std::fabs(d1hi));
            scale_d1 = std::max(scale_d1, top);
            if (!std::isfinite(top) || !std::isfinite(d2lo) || !std::isfinite(d2hi))
                return OptimalStatus::bad_path;  // derivatives beyond the range of a double
            if (top > 0.0) {
                moves = true;
                const double v = velocity[j] * f / top;
                vcap[i] = std::min(vcap[i], v * v);
            }
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
        }
    }

    // Backward: the speeds at each grid point from which the end is reached within the limits.
    double *cons = w + l.cons;
    const std::size_t room = 8 * dof + 5;
    auto segment = [&](std::size_t i) {
        return Segment{s[i + 1] - s[i], vcap[i], box + 4 * i * dof,
                       shrink.empty() ? 1.0 : shrink[i]};
    };
    lo[n] = hi[n] = plan.stop_speed * plan.stop_speed;
    for (std::size_t i = n; i-- > 0;) {
        if (interrupted(i)) return OptimalStatus::interrupted;
        Constraints k{cons, cons + 3 * room};
        constrain(segment(i), acceleration, lo[i + 1], hi[i + 1], k);
        k.add(1.0, 0.0, cap[i]);
        if (!admissible(k, lo[i], hi[i])) {
            plan.where_lo = s[i];
            plan.where_hi = s[i + 1];
            return OptimalStatus::infeasible;
        }
    }

    // Forward: the largest admissible d2s/dt2 on each segment, from the speed asked at the start.
    x[0] = plan.start_speed * plan.start_speed;
    if (x[0] > hi[0] * (1.0 + kSetTolerance) || x[0] < lo[0] * (1.0 - kSetTolerance)) {
        plan.where_lo = plan.where_hi = s[0];
        return OptimalStatus::infeasible;
    }
    x[0] = std::clamp(x[0], lo[0], hi[0]);
    for (std::size_t i = 0; i < n; ++i) {
        if (interrupted(i)) return OptimalStatus::interrupted;
        Constraints k{cons, cons + 3 * room};
        const Segment g = segment(i);
        constrain(g, acceleration, lo[i + 1], hi[i + 1], k);
        const double u = largest_u(k, x[i]);
        x[i + 1] = std::clamp(x[i] + 2.0 * g.h * u, lo[i + 1], hi[i + 1]);
        const double pace = std::sqrt(x[i]) + std::sqrt(x[i + 1]);
        dur[i] = 2.0 * g.h / pace;
        if (!(dur[i] > 0.0 && dur[i] < kInf)) {
            plan.where_lo = s[i];
            plan.where_hi = s[i + 1];
            return OptimalStatus::infeasible;
        }
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
        compose(poly, p, dof, a0 / (a0 + a1));
        const std::size_t first = i == 0 ? 0 : 1, last = i + 1 == n ? d : d - 1;
        for (std::size_t m = first; m <= last; ++m, ++row)
            for (std::size_t j = 0; j < dof; ++j) coefs[row * dof + j] = poly[m * dof + j];
    }
    if (!all_finite(coefs)) return OptimalStatus::bad_path;
    return OptimalStatus::ok;
}

}  // namespace pyorvex::kernel
