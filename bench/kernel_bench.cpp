// Micro-benchmark of the kernel's evaluation and calculus: nanoseconds per point of the batch
// evaluators over 1e6 sorted points, per call of the scalar evaluator, and the cost of derivative
// and antiderivative. A textbook de Boor walk (span by span, de Boor per point) is timed next to
// the batch evaluator for comparison. Figures are medians of repeats. Not a test.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

#include "bspline.hpp"

namespace k = pyorvex::kernel;

namespace {

struct Spline {
    std::vector<double> t, c;
    int p = 0;
};

Spline random_clamped(std::mt19937& rng, int p, int n) {
    std::uniform_real_distribution<double> u(0.0, 1.0), v(-2.0, 2.0);
    Spline s;
    s.p = p;
    std::vector<double> inner(n - p);
    for (double& x : inner) x = u(rng);
    std::sort(inner.begin(), inner.end());
    s.t.assign(p + 1, 0.0);
    s.t.insert(s.t.end(), inner.begin(), inner.end());
    s.t.insert(s.t.end(), p + 1, 1.0);
    s.c.resize(n + 1);
    for (double& x : s.c) x = v(rng);
    return s;
}

std::vector<double> sorted_points(std::mt19937& rng, std::size_t m) {
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::vector<double> xs(m);
    for (double& x : xs) x = u(rng);
    std::sort(xs.begin(), xs.end());
    return xs;
}

using clock_type = std::chrono::steady_clock;

template <class Setup, class Body>
double median_seconds(int repeats, Setup&& setup, Body&& body) {
    std::vector<double> times;
    for (int r = 0; r < repeats; ++r) {
        setup();
        const auto t0 = clock_type::now();
        body();
        const auto t1 = clock_type::now();
        times.push_back(std::chrono::duration<double>(t1 - t0).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// The comparison: the span walk with de Boor's algorithm per point (clamped knots, no padding).
void de_boor_walk(const Spline& s, const std::vector<double>& xs, std::vector<double>& out) {
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
    const int repeats = 9;
    const std::vector<double> xs = sorted_points(rng, m);
    std::vector<double> buf(m), work(m);

    std::printf("batch evaluation over %zu sorted points, ns/point (median of %d)\n", m, repeats);
    std::printf("%-8s %-8s %12s %12s %12s %12s\n", "degree", "n", "values", "deriv 1",
                "deriv 2", "de Boor");
    for (int p : {3, 5}) {
        for (int n : {1000, 100000}) {
            const Spline s = random_clamped(rng, p, n);
            auto copy = [&] { std::copy(xs.begin(), xs.end(), buf.begin()); };
            const double tv = median_seconds(repeats, copy, [&] {
                k::values_sorted(buf, s.t, s.c, s.p);
            });
            double td[3] = {0, 0, 0};
            for (int nu : {1, 2})
                td[nu] = median_seconds(repeats, [] {}, [&] {
                    k::derivatives_sorted(xs, s.t, s.c, s.p, nu, nu, work);
                });
            const double tb = median_seconds(repeats, [] {}, [&] { de_boor_walk(s, xs, work); });
            g_sink = buf[m / 2] + work[m / 3];
            std::printf("%-8d %-8d %12.2f %12.2f %12.2f %12.2f\n", p, n, tv * 1e9 / m,
                        td[1] * 1e9 / m, td[2] * 1e9 / m, tb * 1e9 / m);
        }
    }

    std::printf("\nscalar value_at, ns/call over 1e6 random points (median of %d)\n", repeats);
    {
        std::uniform_real_distribution<double> u(0.0, 1.0);
        std::vector<double> pts(m);
        for (double& x : pts) x = u(rng);
        for (int p : {3, 5}) {
            for (int n : {1000, 100000}) {
                const Spline s = random_clamped(rng, p, n);
                const double tv = median_seconds(repeats, [] {}, [&] {
                    double acc = 0.0;
                    for (double x : pts) acc += k::value_at(x, s.t, s.c, s.p);
                    g_sink = acc;
                });
                std::printf("degree %d  n %-8d %8.2f\n", p, n, tv * 1e9 / m);
            }
        }
    }

    std::printf("\ncalculus at n = 100000, microseconds per call (median of %d)\n", repeats);
    for (int p : {3, 5}) {
        const Spline s = random_clamped(rng, p, 100000);
        std::vector<double> nt(s.t.size() + 2), nc(s.c.size() + 1);
        const double td = median_seconds(repeats, [] {}, [&] {
            g_sink = k::derivative(s.t, s.c, s.p, 1, nt, nc);
        });
        const double ta = median_seconds(repeats, [] {}, [&] {
            k::antiderivative(s.t, s.c, s.p, 1, nt, nc);
            g_sink = nc.back();
        });
        std::printf("degree %d  derivative %8.1f   antiderivative %8.1f\n", p, td * 1e6,
                    ta * 1e6);
    }
    return 0;
}
