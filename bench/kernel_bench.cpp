// Micro-benchmark of the kernel's evaluation and calculus: nanoseconds per point of the batch
// evaluators over 1e6 sorted points, per call of the scalar evaluator, and the cost of derivative
// and antiderivative. A textbook de Boor walk (span by span, de Boor per point) is timed next to
// the batch evaluator for comparison. Figures are medians of repeats of the thread's CPU time,
// with the fastest repeat in parentheses. Not a test.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "bspline.hpp"

namespace k = pyorvex::kernel;

namespace {

struct Spline {
    std::vector<double> t, c;
    int p = 0;
};

Spline random_clamped(std::mt19937 &rng, int p, int n) {
    std::uniform_real_distribution<double> u(0.0, 1.0), v(-2.0, 2.0);
    Spline s;
    s.p = p;
    std::vector<double> inner(n - p);
    for (double &x : inner) x = u(rng);
    std::sort(inner.begin(), inner.end());
    s.t.assign(p + 1, 0.0);
    s.t.insert(s.t.end(), inner.begin(), inner.end());
    s.t.insert(s.t.end(), p + 1, 1.0);
    s.c.resize(n + 1);
    for (double &x : s.c) x = v(rng);
    return s;
}

std::vector<double> sorted_points(std::mt19937 &rng, std::size_t m) {
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::vector<double> xs(m);
    for (double &x : xs) x = u(rng);
    std::sort(xs.begin(), xs.end());
    return xs;
}

// CPU time of this thread: on a shared machine, time spent descheduled would otherwise swamp
// figures of a few nanoseconds.
double now() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

struct Timing {
    double median = 0.0, min = 0.0;
};

template <class Setup, class Body>
Timing seconds(int repeats, Setup &&setup, Body &&body) {
    std::vector<double> times;
    for (int r = 0; r < repeats; ++r) {
        setup();
        const double t0 = now();
        body();
        times.push_back(now() - t0);
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times.front()};
}

// "median (min)" of a timing scaled by `per`.
std::string show(Timing t, double per) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.2f (%.2f)", t.median * per, t.min * per);
    return buf;
}

// The comparison: the span walk with de Boor's algorithm per point (clamped knots, no padding).
void de_boor_walk(const Spline &s, const std::vector<double> &xs, std::vector<double> &out) {
    const int p = s.p;
    const std::size_t hi = s.c.size() - 1;  // last non-empty span of a clamped vector is n
    std::size_t k = static_cast<std::size_t>(p);
    double d[32];
    for (std::size_t i = 0; i < xs.size(); ++i) {
        const double x = xs[i];
        while (k < hi && s.t[k + 1] <= x) ++k;
        for (int j = 0; j <= p; ++j) d[j] = s.c[k - p + j];
        for (int r = 1; r <= p; ++r)
            for (int j = p; j >= r; --j) {
                const double lo = s.t[k - p + j];
                const double a = (x - lo) / (s.t[k + 1 + j - r] - lo);
                d[j] = d[j - 1] + a * (d[j] - d[j - 1]);
            }
        out[i] = d[p];
    }
}

volatile double g_sink;

}  // namespace

int main() {
    std::mt19937 rng(12345);
    const std::size_t m = 1000000;
    const int repeats = 11;
    const std::vector<double> xs = sorted_points(rng, m);
    std::vector<double> buf(m), work(m);
    const double per_point = 1e9 / m;

    std::printf("batch evaluation over %zu sorted points, ns/point, median (min) of %d\n", m,
                repeats);
    std::printf("%-7s %-7s %-15s %-15s %-15s %-15s\n", "degree", "n", "values", "deriv 1",
                "deriv 2", "de Boor walk");
    for (int p : {3, 5}) {
        for (int n : {1000, 100000}) {
            const Spline s = random_clamped(rng, p, n);
            auto copy = [&] { std::copy(xs.begin(), xs.end(), buf.begin()); };
            const Timing tv = seconds(repeats, copy, [&] { k::values_sorted(buf, s.t, s.c, s.p); });
            Timing td[3];
            for (int nu : {1, 2})
                td[nu] = seconds(
                    repeats, [] {},
                    [&] { k::derivatives_sorted(xs, s.t, s.c, s.p, nu, nu, work); });
            const Timing tb = seconds(repeats, [] {}, [&] { de_boor_walk(s, xs, work); });
            g_sink = buf[m / 2] + work[m / 3];
            std::printf("%-7d %-7d %-15s %-15s %-15s %-15s\n", p, n, show(tv, per_point).c_str(),
                        show(td[1], per_point).c_str(), show(td[2], per_point).c_str(),
                        show(tb, per_point).c_str());
        }
    }

    std::printf("\nscalar value_at, ns/call over 1e6 random points, median (min) of %d\n", repeats);
    {
        std::uniform_real_distribution<double> u(0.0, 1.0);
        std::vector<double> pts(m);
        for (double &x : pts) x = u(rng);
        for (int p : {3, 5}) {
            for (int n : {10, 1000, 100000}) {
                const Spline s = random_clamped(rng, p, n);
                const Timing tv = seconds(
                    repeats, [] {},
                    [&] {
                        double acc = 0.0;
                        for (double x : pts) acc += k::value_at(x, s.t, s.c, s.p);
                        g_sink = acc;
                    });
                std::printf("degree %d  n %-7d %s\n", p, n, show(tv, per_point).c_str());
            }
        }
    }

    std::printf("\ncalculus at n = 100000, microseconds per call, median (min) of %d\n", repeats);
    for (int p : {3, 5}) {
        const Spline s = random_clamped(rng, p, 100000);
        std::vector<double> nt(s.t.size() + 2), nc(s.c.size() + 1);
        const Timing td =
            seconds(repeats, [] {}, [&] { g_sink = k::derivative(s.t, s.c, s.p, 1, nt, nc); });
        const Timing ta = seconds(
            repeats, [] {},
            [&] {
                k::antiderivative(s.t, s.c, s.p, 1, nt, nc);
                g_sink = nc.back();
            });
        std::printf("degree %d  derivative %s   antiderivative %s\n", p, show(td, 1e6).c_str(),
                    show(ta, 1e6).c_str());
    }
    return 0;
}
