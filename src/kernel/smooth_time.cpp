// A time law with a bounded third derivative, from a plan whose d2s/dt2 is constant on each
// grid segment (s(t) piecewise quadratic, its jerk a train of impulses).
//
// The plan's s(t), taken as standing still before its start and after its end, is averaged over
// a sliding window of length tau: the average's derivatives are differences of the plan's over
// the window divided by tau, so its speed and acceleration never leave the plan's range, and
// every jump of d2s/dt2 becomes a ramp of duration tau (the third derivative at most the jump
// over tau). A rest-to-rest move with constant acceleration phases so becomes the classic
// seven-phase profile. The average is a cubic between its breakpoints (the plan's grid times
// and the same shifted by tau); it is rebuilt as quintic pieces that match s, ds/dt and d2s/dt2
// at both ends of each (C2 joins, and each piece a cubic reproduced exactly when no breakpoint
// falls inside it). A breakpoint closer to the last piece end than a share of the mean step is
// pushed to that distance, since a very short piece of a high-degree composition carries
// rounding into its higher derivatives (the piece before then holds the breakpoint, close to
// its end, and is short itself: its quintic stays close to the average); the
// path's knots are always piece ends, so that each piece is one polynomial of the path, and the
// motion q(s(t)) is composed exactly as the path's Bernstein form composed with the quintic.
// Where the plan stops inside the path (a corner), each rest-to-rest stretch is averaged alone.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

#include "bspline.hpp"
#include "path_compose.hpp"

namespace pyorvex::kernel {

namespace {

// Breakpoints of the average closer than this share of the stretch's mean step are merged.
constexpr double kMergeShare = 0.25;
constexpr int kRootSteps = 200;
constexpr int kQuintic = 5;
constexpr double kInfinity = std::numeric_limits<double>::infinity();

struct Layout {
    std::size_t time, speed, accel, integral, at, value, slope, curve, fixed, bez, window, poly,
        total;
};

Layout layout(std::size_t n, std::size_t nknots, int p, std::size_t dof) {
    const std::size_t order = static_cast<std::size_t>(p) + 1;
    const std::size_t points = 4 * (n + 1) + nknots + 2;
    Layout l{};
    std::size_t at = 0;
    auto take = [&at](std::size_t count) {
        const std::size_t here = at;
        at += count;
        return here;
    };
    l.time = take(n + 1);
    l.speed = take(n + 1);
    l.accel = take(n + 1);
    l.integral = take(n + 1);
    l.at = take(points);
    l.value = take(points);
    l.slope = take(points);
    l.curve = take(points);
    l.fixed = take(points);
    l.bez = take(order * dof);
    l.window = take(order * dof);
    l.poly = take(order * (static_cast<std::size_t>(kQuintic * p) + 1) * dof);
    l.total = at;
    return l;
}

// The plan on one rest-to-rest stretch [i0, i1] of the grid, in the stretch's own time (0 at
// its start), as the distance sigma = s - s[i0] covered.
struct Stretch {
    const double *s, *time, *speed, *accel, *integral;
    std::size_t i0, i1;

    double end() const { return time[i1]; }
    std::size_t segment(double t) const {
        const double *it = std::upper_bound(time + i0, time + i1 + 1, t);
        const std::size_t i = static_cast<std::size_t>(it - time);
        return std::clamp(i, i0 + 1, i1) - 1;
    }
    double sigma(double t) const {
        if (t <= 0.0) return 0.0;
        if (t >= end()) return s[i1] - s[i0];
        const std::size_t i = segment(t);
        const double u = t - time[i];
        return (s[i] - s[i0]) + u * (speed[i] + 0.5 * u * accel[i]);
    }
    double rate(double t) const {
        if (t <= 0.0 || t >= end()) return 0.0;
        const std::size_t i = segment(t);
        return speed[i] + accel[i] * (t - time[i]);
    }
    double area(double t) const {  // the integral of sigma from 0 to t
        if (t <= 0.0) return 0.0;
        if (t >= end()) return integral[i1] + (s[i1] - s[i0]) * (t - end());
        const std::size_t i = segment(t);
        const double u = t - time[i];
        return integral[i] + u * ((s[i] - s[i0]) + u * (speed[i] / 2.0 + u * accel[i] / 6.0));
    }
};

}  // namespace

SmoothSize smooth_size(std::size_t nknots, int p, std::size_t dof, std::size_t segments) {
    SmoothSize size;
    if (p < 1 || p > kMaxDegree / kQuintic || dof < 1 || segments < 1 || nknots < 2 ||
        segments > (std::size_t{1} << 26))
        return size;
    const std::size_t d = static_cast<std::size_t>(kQuintic * p);
    size.pieces = 4 * (segments + 1) + nknots;
    size.knots = size.pieces * d + d + 2;
    size.coefs = (size.pieces * d + 1) * dof;
    size.work = layout(segments, nknots, p, dof).total;
    size.ok = true;
    return size;
}

SmoothStatus smooth_time(cspan t, cspan c, int p, std::size_t dof, cspan s, cspan x, double tau,
                         vspan knots, vspan coefs, vspan work, SmoothResult &result) {
    const std::size_t n = s.size() - 1;
    const SmoothSize size = smooth_size(t.size(), p, dof, s.empty() ? 0 : n);
    if (s.empty() || !size.ok || x.size() != s.size() ||
        c.size() != (t.size() - static_cast<std::size_t>(p) - 1) * dof ||
        knots.size() != size.knots || coefs.size() != size.coefs || work.size() != size.work)
        return SmoothStatus::refused;
    if (!all_finite(t) || !all_finite(c) || !all_finite(s) || !all_finite(x) ||
        !(tau > 0.0 && tau < std::numeric_limits<double>::infinity()) || x[0] != 0.0 ||
        x[n] != 0.0 || !(s[0] >= t.front() && s[n] <= t.back()))
        return SmoothStatus::bad_profile;
    for (std::size_t i = 0; i < n; ++i)
        if (!(s[i] < s[i + 1]) || !(x[i] >= 0.0)) return SmoothStatus::bad_profile;

    const Layout l = layout(n, t.size(), p, dof);
    double *w = work.data();
    double *time = w + l.time, *speed = w + l.speed, *accel = w + l.accel,
           *integral = w + l.integral;
    double *at = w + l.at, *value = w + l.value, *slope = w + l.slope, *curve = w + l.curve;
    double *fixed = w + l.fixed;
    for (std::size_t i = 0; i <= n; ++i) speed[i] = std::sqrt(x[i]);

    const Path path{t, c, p, dof};
    const std::size_t d = static_cast<std::size_t>(kQuintic * p), width = (d + 1) * dof;
    std::size_t pieces = 0, row = 0, kn = 0;
    double offset = 0.0;  // the stretches' time before this one
    for (std::size_t r = 0; r <= d; ++r) knots[kn++] = t.front();

    for (std::size_t i0 = 0; i0 < n;) {
        std::size_t i1 = i0 + 1;
        while (i1 < n && x[i1] > 0.0) ++i1;
        // The stretch's times from its start, the constant accelerations, and the integrals of
        // sigma up to each grid point.
        time[i0] = 0.0;
        integral[i0] = 0.0;
        for (std::size_t i = i0; i < i1; ++i) {
            const double h = s[i + 1] - s[i], dur = 2.0 * h / (speed[i] + speed[i + 1]);
            if (!(dur > 0.0 && std::isfinite(dur))) return SmoothStatus::bad_profile;
            time[i + 1] = time[i] + dur;
            accel[i] = (speed[i + 1] - speed[i]) / dur;
            integral[i + 1] = integral[i] + dur * ((s[i] - s[i0]) +
                                                   dur * (speed[i] / 2.0 + dur * accel[i] / 6.0));
        }
        accel[i1] = 0.0;
        const Stretch st{s.data(), time, speed, accel, integral, i0, i1};
        const double end = st.end() + tau;
        const double merge = kMergeShare * end / static_cast<double>(2 * (i1 - i0));
        auto average = [&](double tt) { return (st.area(tt) - st.area(tt - tau)) / tau; };

        // The piece ends: the average's breakpoints (grid times, and the same shifted by tau)
        // merged where close, and the times the average reaches each knot of the path inside
        // the stretch (fixed there to the knot itself).
        std::size_t count = 0;
        auto keep = [&](double tt, double fix) {
            if (std::isnan(fix)) {
                // A breakpoint too close to the last end is pushed to the least distance: the
                // piece before holds it (a short piece, with its jump near an end), the next
                // one starts past it.
                if (count > 0) tt = std::max(tt, at[count - 1] + merge);
            } else {
                // A knot's time displaces the breakpoints just before it, never the start or
                // another knot's time.
                while (count > 1 && std::isnan(fixed[count - 1]) && at[count - 1] > tt - merge)
                    --count;
            }
            at[count] = tt;
            fixed[count] = fix;
            ++count;
        };
        const double nan = std::numeric_limits<double>::quiet_NaN();
        keep(0.0, s[i0]);
        std::size_t a = i0 + 1, b = i0;  // next grid time, next shifted grid time
        const double *kt = std::upper_bound(t.data(), t.data() + t.size(), s[i0]);
        const double *kend = std::lower_bound(t.data(), t.data() + t.size(), s[i1]);
        double crossing = nan;
        auto next_crossing = [&]() {
            while (kt < kend && kt + 1 < kend && kt[1] == kt[0]) ++kt;
            if (kt >= kend) return nan;
            const double target = *kt - s[i0];
            double lo = 0.0, hi = end;
            for (int step = 0; step < kRootSteps; ++step) {
                const double mid = 0.5 * (lo + hi);
                if (!(mid > lo && mid < hi)) break;
                (average(mid) < target ? lo : hi) = mid;
            }
            return 0.5 * (lo + hi);
        };
        crossing = next_crossing();
        while (true) {
            const double ta = a < i1 ? time[a] : kInfinity;
            const double tb = b <= i1 && time[b] + tau < end ? time[b] + tau : kInfinity;
            const double tc = std::isnan(crossing) ? kInfinity : crossing;
            const double next = std::min({ta, tb, tc});
            if (!(next < end)) break;
            if (next == tc) {
                keep(tc, *kt);
                ++kt;
                crossing = next_crossing();
            } else if (next == ta) {
                keep(ta, nan);
                ++a;
            } else {
                keep(tb, nan);
                ++b;
            }
        }
        while (count > 1 && std::isnan(fixed[count - 1]) && at[count - 1] > end - merge) --count;
        at[count] = end;
        fixed[count] = s[i1];
        ++count;

        // s, ds/dt and d2s/dt2 of the average at every piece end.
        for (std::size_t m = 0; m < count; ++m) {
            const double tt = at[m];
            double v = std::isnan(fixed[m]) ? s[i0] + average(tt) : fixed[m];
            v = std::clamp(v, m > 0 ? value[m - 1] : s[i0], s[i1]);
            value[m] = v;
            slope[m] = (st.sigma(tt) - st.sigma(tt - tau)) / tau;
            curve[m] = (st.rate(tt) - st.rate(tt - tau)) / tau;
        }
        slope[0] = curve[0] = slope[count - 1] = curve[count - 1] = 0.0;

        // Each piece: the quintic in the piece's own variable, scaled to [0, 1] over the
        // stretch of the path it covers, composed with the path's Bernstein form there.
        for (std::size_t m = 0; m + 1 < count; ++m) {
            const double dt = at[m + 1] - at[m];
            const double sa = value[m], sb = value[m + 1];
            const double b1 = sa + slope[m] * dt / 5.0;
            const double b2 = sa + 2.0 * slope[m] * dt / 5.0 + curve[m] * dt * dt / 20.0;
            const double b4 = sb - slope[m + 1] * dt / 5.0;
            const double b3 = sb - 2.0 * slope[m + 1] * dt / 5.0 + curve[m + 1] * dt * dt / 20.0;
            double inner[kQuintic + 1] = {0.0, 0.2, 0.4, 0.6, 0.8, 1.0};
            if (sb > sa) {
                const double span = sb - sa;
                inner[1] = (b1 - sa) / span;
                inner[2] = (b2 - sa) / span;
                inner[3] = (b3 - sa) / span;
                inner[4] = (b4 - sa) / span;
            }
            for (int k = 0; k < kQuintic; ++k)
                if (!(inner[k + 1] >= inner[k])) {
                    result.where = offset + at[m];
                    return SmoothStatus::not_monotone;
                }
            const double mid = 0.5 * (sa + sb);
            const double *it = std::upper_bound(t.data(), t.data() + t.size(), mid);
            // The non-empty span that holds the piece (the last one for a piece at the end).
            std::ptrdiff_t k = std::min<std::ptrdiff_t>((it - t.data()) - 1,
                                                        static_cast<std::ptrdiff_t>(t.size()) - 2);
            while (k > 0 && !(t[static_cast<std::size_t>(k)] < t[static_cast<std::size_t>(k) + 1]))
                --k;
            double *poly = w + l.poly;
            path.bernstein(k, sa, sb, w + l.bez, w + l.window);
            for (std::size_t mm = 0; mm <= static_cast<std::size_t>(p); ++mm)
                for (std::size_t j = 0; j < dof; ++j)
                    poly[mm * width + j] = w[l.bez + mm * dof + j];
            compose(poly, p, dof, inner, kQuintic);
            const double joint = t.front() + (offset + at[m + 1]);
            if (!(joint > knots[kn - 1])) {
                result.where = offset + at[m];
                return SmoothStatus::bad_profile;  // the time axis cannot resolve the piece
            }
            if (kn + d + 1 > knots.size() || (row + d + 1) * dof > coefs.size())
                return SmoothStatus::bad_profile;  // beyond the bound (not met by a sound plan)
            for (std::size_t r = 0; r < d; ++r) knots[kn++] = joint;
            for (std::size_t mm = pieces == 0 ? 0 : 1; mm <= d; ++mm, ++row)
                for (std::size_t j = 0; j < dof; ++j) coefs[row * dof + j] = poly[mm * dof + j];
            ++pieces;
        }
        offset += end;
        i0 = i1;
    }
    // The end's last copy, and the arrays' unused tails (their sizes are the bound).
    const double last = knots[kn - 1];
    for (std::size_t r = kn; r < knots.size(); ++r) knots[r] = last;
    for (std::size_t r = row * dof; r < coefs.size(); ++r) coefs[r] = 0.0;
    result.pieces = pieces;
    result.duration = offset;
    if (!all_finite(coefs.first(row * dof))) return SmoothStatus::bad_profile;
    return SmoothStatus::ok;
}

}  // namespace pyorvex::kernel
