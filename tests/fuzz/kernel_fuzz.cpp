// libFuzzer target for the B-spline kernel: turns arbitrary bytes into knot vectors (sorted, with
// repeats, NaN and infinities), coefficients, degrees, parameters and abscissae, and calls every
// function of bspline.hpp with exactly sized buffers (so that AddressSanitizer sees any access
// past them), now and then with a buffer of the wrong size, which must be left untouched.
// Besides memory safety it checks a few invariants that hold for any input.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <vector>

#include "bspline.hpp"

namespace k = pyorvex::kernel;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kSentinel = -12345.678;

// A strict weak order with NaN last, so that std::sort is well defined.
bool before(double a, double b) {
    if (std::isnan(a)) return false;
    if (std::isnan(b)) return true;
    return a < b;
}

double value(FuzzedDataProvider &in) {
    static constexpr double palette[] = {0.0,    0.25,  0.5,   0.75, 1.0,  -1.0,        2.0,
                                         1e-300, 1e300, -kInf, kInf, kNaN, 0.5 + 1e-16, 3.0};
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
        case 0:
            return in.PickValueInArray(palette);
        case 1:
            return in.ConsumeIntegralInRange<int>(0, 16) / 16.0;
        case 2:
            return in.ConsumeFloatingPoint<double>();
        default:
            return in.ConsumeIntegralInRange<int>(-4, 20) / 8.0;
    }
}

std::vector<double> values(FuzzedDataProvider &in, std::size_t count, bool sorted) {
    std::vector<double> v(count);
    for (double &x : v) x = value(in);
    if (sorted) {
        std::sort(v.begin(), v.end(), before);
        // Now and then a NaN in the middle rather than at the end.
        if (count > 2 && in.ConsumeBool() && std::isnan(v.back()))
            std::swap(v.back(), v[count / 2]);
    }
    return v;
}

// A knot vector of n + p + 2 values; clamped-looking ones are frequent.
std::vector<double> knots(FuzzedDataProvider &in, int p, int ncoef) {
    const std::size_t size = static_cast<std::size_t>(std::max(0, ncoef + p + 1));
    std::vector<double> t = values(in, size, true);
    if (size >= 2 && in.ConsumeBool()) {
        const int ends =
            std::min<int>(in.ConsumeIntegralInRange<int>(1, p + 3), static_cast<int>(size) / 2);
        const double a = t.front(), b = in.ConsumeBool() ? t.back() : a + 1.0;
        for (int i = 0; i < ends; ++i) {
            t[i] = a;
            t[size - 1 - i] = b;
        }
        std::sort(t.begin(), t.end(), before);
    }
    return t;
}

// A size that is usually right and sometimes off by one.
std::size_t maybe_off(FuzzedDataProvider &in, std::size_t right) {
    switch (in.ConsumeIntegralInRange<int>(0, 15)) {
        case 0:
            return right + 1;
        case 1:
            return right > 0 ? right - 1 : 0;
        default:
            return right;
    }
}

bool untouched(const std::vector<double> &v) {
    return std::all_of(v.begin(), v.end(), [](double x) { return x == kSentinel; });
}

void check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const int p = in.ConsumeIntegralInRange<int>(-1, 9);
    const int ncoef = in.ConsumeIntegralInRange<int>(0, 40);
    std::vector<double> t = knots(in, std::max(p, 0), ncoef);
    std::vector<double> c = values(in, static_cast<std::size_t>(ncoef), false);
    if (in.ConsumeIntegralInRange<int>(0, 20) == 0 && !c.empty())
        c.pop_back();  // disagreeing sizes
    const bool valid = p >= 0 && !c.empty() && t.size() == c.size() + p + 1;

    const double u = in.ConsumeBool() && !t.empty()
                         ? t[in.ConsumeIntegralInRange<std::size_t>(0, t.size() - 1)]
                         : value(in);
    const int r = in.ConsumeIntegralInRange<int>(-1, 12);
    const int nu = in.ConsumeIntegralInRange<int>(0, 20) == 0
                       ? in.ConsumeIntegralInRange<int>(-1, 300)
                       : in.ConsumeIntegralInRange<int>(0, 4);
    double tol = value(in);
    if (in.ConsumeBool()) tol = std::fabs(tol);
    std::vector<double> xs = values(in, in.ConsumeIntegralInRange<std::size_t>(0, 64), true);
    // The evaluators and refine are meant for increasing abscissae but must stay in bounds for
    // any order: now and then reversed, or with a few pairs swapped (sorted runs that jump back).
    switch (in.ConsumeIntegralInRange<int>(0, 5)) {
        case 0:
            std::reverse(xs.begin(), xs.end());
            break;
        case 1:
            for (int swaps = in.ConsumeIntegralInRange<int>(1, 8); swaps > 0 && xs.size() > 1;
                 --swaps)
                std::swap(xs[in.ConsumeIntegralInRange<std::size_t>(0, xs.size() - 1)],
                          xs[in.ConsumeIntegralInRange<std::size_t>(0, xs.size() - 1)]);
            break;
        default:
            break;
    }

    // Queries.
    const int a = k::distinct_interior_knots(t, p);
    check(a >= 0 && (t.size() < 3 || static_cast<std::size_t>(a) <= t.size() - 2));
    if (p >= 0 && t.size() >= static_cast<std::size_t>(p) + 1) {
        std::vector<double> g(maybe_off(in, t.size() - p - 1));
        k::greville(t, p, g);
    }
    (void)k::value_at(u, t, c, p);
    {
        std::vector<double> ys = xs;
        k::values_sorted(ys, t, c, p);
    }
    {
        const int order = in.ConsumeIntegralInRange<int>(-1, 12);
        std::vector<double> out(maybe_off(in, static_cast<std::size_t>(std::max(order, 0)) + 1));
        k::derivatives_at(u, t, c, p, order, out);
        const int first = in.ConsumeIntegralInRange<int>(-1, 10);
        const int last = in.ConsumeIntegralInRange<int>(-1, 12);
        const std::size_t rows = last >= first ? static_cast<std::size_t>(last - first + 1) : 0;
        std::vector<double> work(maybe_off(in, rows * xs.size()));
        k::derivatives_sorted(xs, t, c, p, first, last, work);
        k::derivatives_any(xs, t, c, p, first, last, work);
    }

    // Extrema of a derivative: the abscissae found lie in the domain.
    {
        const std::size_t right = k::extrema_work_size(p);
        std::vector<double> work(maybe_off(in, right));
        k::Extrema e{kSentinel, kSentinel, kSentinel, kSentinel};
        const bool done = k::extrema(t, c, p, nu, work, e) == k::EvalStatus::ok;
        const bool agree = p >= 0 && t.size() == c.size() + p + 1;  // no coefficient is fine
        // Refused also on an empty domain and on NaN values, overflow on values that finite data
        // cannot hold; a result is ordered and finite or infinite, never NaN.
        if (done) check(agree && nu >= 0 && work.size() == right && t.front() < t.back());
        if (!done) check(e.tmin == kSentinel && e.vmax == kSentinel);
        if (done)
            check(e.tmin >= t.front() && e.tmin <= t.back() && e.tmax >= t.front() &&
                  e.tmax <= t.back() && e.vmin <= e.vmax);
    }

    // Interpolation through the abscissae (in any order, NaN and infinities included) with the
    // coefficients as values: written completely on success, untouched otherwise.
    if (p >= 1 && xs.size() == c.size()) {
        const std::size_t n_start = in.ConsumeIntegralInRange<std::size_t>(0, p - 1);
        std::vector<double> start = values(in, n_start, false);
        std::vector<double> stop = values(in, p - 1 - n_start, false);
        if (in.ConsumeIntegralInRange<int>(0, 20) == 0) stop.push_back(0.0);
        const k::InterpolationSize size =
            k::interpolation_size(xs.size(), p, start.size(), stop.size());
        std::vector<double> nt(maybe_off(in, size.knots), kSentinel),
            nc(maybe_off(in, size.coefs), kSentinel), work(maybe_off(in, size.work));
        k::InterpolationCheck accuracy;
        const k::InterpolationStatus status =
            k::interpolate(xs, c, p, start, stop, nt, nc, work, accuracy);
        if (status != k::InterpolationStatus::ok) check(untouched(nt) && untouched(nc));
        if (status == k::InterpolationStatus::ok)
            check(size.ok && std::is_sorted(nt.begin(), nt.end()) &&
                  std::all_of(nc.begin(), nc.end(), [](double x) { return std::isfinite(x); }));
    }

    // Insertion and refinement: exact sizes fill everything.
    if (r >= 0) {
        const std::size_t right = t.size() + r, rc = c.size() + r;
        std::vector<double> nt(maybe_off(in, right), kSentinel), nc(maybe_off(in, rc), kSentinel);
        k::insert_knot(t, c, p, u, r, nt, nc);
        const bool sized = valid && nt.size() == right && nc.size() == rc;
        if (!sized) check(untouched(nt) && untouched(nc));
        if (sized && r > 0) check(!untouched({nt.back()}) && !untouched({nc.back()}));
    }
    {
        const std::size_t right = t.size() + xs.size(), rc = c.size() + xs.size();
        std::vector<double> nt(maybe_off(in, right), kSentinel), nc(maybe_off(in, rc), kSentinel);
        k::refine(t, c, p, xs, nt, nc);
        if (!(valid && nt.size() == right && nc.size() == rc))
            check(untouched(nt) && untouched(nc));
    }

    // Removal, in place on copies; the count never exceeds what was asked or what is there.
    {
        std::vector<double> t1 = t, c1 = c;
        const int n1 = k::remove_knot(t1, c1, p, u, r, tol);
        check(n1 >= 0 && n1 <= std::max(r, 0));
        std::vector<double> t2 = t, c2 = c;
        const int n2 = k::remove_knot_unchecked(t2, c2, p, u, r);
        check(n2 >= 0 && n2 <= std::max(r, 0));
        std::vector<double> t3 = t, c3 = c;
        const int n3 = k::remove_knots(t3, c3, p, tol);
        check(n3 >= 0 && (n3 == 0 || (valid && static_cast<std::size_t>(n3) < c.size())));
        if (std::isnan(tol)) check(n1 == 0 && n3 == 0);
    }

    // Degree elevation, antiderivative, derivative.
    if (nu >= 0 && a >= 0) {
        const k::ElevationSize size = k::elevation_size(t, c, p, nu);
        const std::size_t right =
            size.ok ? size.work_knots : t.size() + static_cast<std::size_t>(nu) * (a + 2);
        const std::size_t rc =
            size.ok ? size.work_coefs : c.size() + static_cast<std::size_t>(nu) * (a + 1);
        std::vector<double> nt(maybe_off(in, right), kSentinel), nc(maybe_off(in, rc), kSentinel);
        k::elevate_degree(t, c, p, nu, nt, nc);
        const bool sized = valid && size.ok && nt.size() >= right && nc.size() >= rc;
        if (!sized) check(untouched(nt) && untouched(nc));
        if (sized)
            check(std::none_of(nt.begin(), nt.begin() + size.knots,
                               [](double x) { return x == kSentinel; }) &&
                  std::none_of(nc.begin(), nc.begin() + size.coefs,
                               [](double x) { return x == kSentinel; }));
    }
    {
        const int order = in.ConsumeIntegralInRange<int>(-1, 4);
        const k::CalculusSize size = k::antiderivative_size(t, c, p, order);
        std::vector<double> nt(maybe_off(in, size.ok ? size.knots : t.size())),
            nc(maybe_off(in, size.ok ? size.coefs : c.size()));
        k::antiderivative(t, c, p, order, nt, nc);
    }
    {
        const int order = in.ConsumeIntegralInRange<int>(-1, 12);
        const k::CalculusSize size = k::derivative_size(t, c, p, order);
        std::vector<double> nt(maybe_off(in, size.ok ? size.knots : t.size())),
            nc(maybe_off(in, size.ok ? size.coefs : c.size()));
        const int top = k::derivative(t, c, p, order, nt, nc);
        check(top >= 0 && (top == 0 || static_cast<std::size_t>(top) < nc.size()));
    }

    // Sum with a second spline of the same degree.
    {
        const int ncoef2 = in.ConsumeIntegralInRange<int>(0, 30);
        std::vector<double> t2 = knots(in, std::max(p, 0), ncoef2);
        if (in.ConsumeBool() && !t.empty() && !t2.empty()) {  // same ends, the usual case
            t2.front() = std::min(t.front(), t2.front(), before);
            t2.back() = t.back();
            std::sort(t2.begin(), t2.end(), before);
        }
        std::vector<double> c2 = values(in, static_cast<std::size_t>(ncoef2), false);
        const k::SumSize s = k::sum_size(t, t2, p);
        if (s.ok) {
            check(s.m + 1 >= static_cast<std::int64_t>(std::max(t.size(), t2.size())));
            check(s.m + 1 <= static_cast<std::int64_t>(t.size() + t2.size()));
            check(s.n == s.m - p - 1);
            const std::size_t right = static_cast<std::size_t>(s.m) + 1,
                              rc = static_cast<std::size_t>(s.n) + 1;
            std::vector<double> nt(maybe_off(in, right), kSentinel),
                nc(maybe_off(in, rc), kSentinel);
            k::sum(t, c, t2, c2, p, nt, nc);
            const bool sized = valid && c2.size() + p + 1 == t2.size() && !c2.empty() &&
                               nt.size() == right && nc.size() == rc;
            if (!sized) check(untouched(nt) && untouched(nc));
            if (sized)
                check(std::none_of(nt.begin(), nt.end(), [](double x) { return x == kSentinel; }) &&
                      std::none_of(nc.begin(), nc.end(), [](double x) { return x == kSentinel; }));
        }
    }
    // A time law smoothed along the spline as a one-axis path: a plan of increasing s (now and
    // then not, or outside the domain) with squared speeds, at rest at its ends or not.
    if (valid && p >= 1 && p <= 4) {
        const std::size_t n = in.ConsumeIntegralInRange<std::size_t>(1, 12);
        std::vector<double> s = values(in, n + 1, true), x = values(in, n + 1, false);
        for (double &v : x) v = std::fabs(v);
        if (in.ConsumeBool()) x.front() = x.back() = 0.0;
        const double tau = value(in);
        const k::SmoothSize size = k::smooth_size(t.size(), p, 1, n);
        if (size.ok) {
            std::vector<double> nt(maybe_off(in, size.knots), kSentinel),
                nc(maybe_off(in, size.coefs), kSentinel), work(maybe_off(in, size.work));
            k::SmoothResult result;
            const k::SmoothStatus status =
                k::smooth_time(t, c, p, 1, s, x, tau, nt, nc, work, result);
            if (status == k::SmoothStatus::refused) check(untouched(nt) && untouched(nc));
            if (status == k::SmoothStatus::ok)
                check(result.pieces >= 1 && std::is_sorted(nt.begin(), nt.end()));
        }
    }
    return 0;
}
