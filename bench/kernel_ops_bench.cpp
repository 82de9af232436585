// Cost of the knot and degree operations of the kernel on cubic splines of n = 100,000 and
// n = 200,000 coefficients, and the ratio between the two (about 2 when the cost is linear in
// n). Figures are the fastest of several repeats, in milliseconds (the least disturbed by other
// work on the machine). Not a test.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <vector>

#include "bspline.hpp"

namespace k = pyorvex::kernel;

namespace {

constexpr int kDegree = 3;

struct Spline {
    std::vector<double> t, c;
};

Spline random_clamped(std::mt19937& rng, int n) {
    std::uniform_real_distribution<double> u(0.0, 1.0), v(-2.0, 2.0);
    Spline s;
    std::vector<double> inner(n - kDegree);
    for (double& x : inner) x = u(rng);
    std::sort(inner.begin(), inner.end());
    s.t.assign(kDegree + 1, 0.0);
    s.t.insert(s.t.end(), inner.begin(), inner.end());
    s.t.insert(s.t.end(), kDegree + 1, 1.0);
    s.c.resize(n + 1);
    for (double& x : s.c) x = v(rng);
    return s;
}

int distinct_interior(const std::vector<double>& t) {
    int a = 0;
    for (std::size_t i = 1; i + 1 < t.size(); ++i)
        if (t[i] > t.front() && t[i] < t.back() && t[i] != t[i - 1]) ++a;
    return a;
}

// Fastest wall time of fn in milliseconds; setup runs before each repeat, untimed.
double best_ms(int repeats, const std::function<void()>& setup, const std::function<void()>& fn) {
    std::vector<double> times;
    for (int i = 0; i < repeats; ++i) {
        setup();
        const auto start = std::chrono::steady_clock::now();
        fn();
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    return *std::min_element(times.begin(), times.end());
}

struct Row {
    const char* name;
    double ms[2];
};

}  // namespace

int main(int argc, char** argv) {
    // Other sizes can be given: kernel_ops_bench N1 N2.
    int sizes[2] = {100000, 200000};
    if (argc == 3) {
        sizes[0] = std::max(100, std::atoi(argv[1]));
        sizes[1] = std::max(100, std::atoi(argv[2]));
    }
    Row rows[] = {{"insert_knot (1 value, r = 1)", {}},
                  {"refine (1,000 values)", {}},
                  {"remove_knots (refined: half removable)", {}},
                  {"remove_knots (nothing removable)", {}},
                  {"elevate_degree (nu = 1)", {}},
                  {"sum (different knots)", {}}};
    volatile double sink = 0;
    for (int which = 0; which < 2; ++which) {
        const int n = sizes[which];
        std::mt19937 rng(7 + which);
        const Spline s = random_clamped(rng, n);
        const Spline s2 = random_clamped(rng, n);
        const int reps = 15;

        {
            std::vector<double> nt(s.t.size() + 1), nc(s.c.size() + 1);
            rows[0].ms[which] = best_ms(reps, [] {}, [&] {
                k::insert_knot(s.t, s.c, kDegree, 0.5, 1, nt, nc);
                sink = sink + nc[nc.size() / 2];
            });
        }
        {
            std::vector<double> xs(1000);
            std::uniform_real_distribution<double> u(0.0, 1.0);
            for (double& x : xs) x = u(rng);
            std::sort(xs.begin(), xs.end());
            std::vector<double> nt(s.t.size() + xs.size()), nc(s.c.size() + xs.size());
            rows[1].ms[which] = best_ms(reps, [] {}, [&] {
                k::refine(s.t, s.c, kDegree, xs, nt, nc);
                sink = sink + nc[nc.size() / 2];
            });
        }
        {
            // Half the coefficients: every span split at its middle gives n coefficients in
            // all, and the added knots can go again.
            const Spline base = random_clamped(rng, n / 2);
            std::vector<double> mids;
            for (std::size_t i = kDegree; i + kDegree + 1 < base.t.size(); ++i)
                if (base.t[i] < base.t[i + 1]) mids.push_back(0.5 * (base.t[i] + base.t[i + 1]));
            Spline fine{std::vector<double>(base.t.size() + mids.size()),
                        std::vector<double>(base.c.size() + mids.size())};
            k::refine(base.t, base.c, kDegree, mids, fine.t, fine.c);
            Spline work;
            rows[2].ms[which] = best_ms(reps, [&] { work = fine; }, [&] {
                sink = sink + k::remove_knots(work.t, work.c, kDegree, 1e-9);
            });
            rows[3].ms[which] = best_ms(reps, [&] { work = s; }, [&] {
                sink = sink + k::remove_knots(work.t, work.c, kDegree, 1e-9);
            });
        }
        {
            const int a = distinct_interior(s.t);
            std::vector<double> nt(s.t.size() + (a + 2)), nc(s.c.size() + (a + 1));
            rows[4].ms[which] = best_ms(reps, [] {}, [&] {
                k::elevate_degree(s.t, s.c, kDegree, 1, nt, nc);
                sink = sink + nc[nc.size() / 2];
            });
        }
        {
            const k::SumSize size = k::sum_size(s.t, s2.t, kDegree);
            std::vector<double> nt(size.m + 1), nc(size.n + 1);
            rows[5].ms[which] = best_ms(reps, [] {}, [&] {
                k::sum(s.t, s.c, s2.t, s2.c, kDegree, nt, nc);
                sink = sink + nc[nc.size() / 2];
            });
        }
    }
    std::printf("%-42s %11s n=%-8d %3s n=%-8d %8s\n", "cubic", "", sizes[0], "", sizes[1], "ratio");
    for (const Row& r : rows)
        std::printf("%-42s %11.3f ms %11.3f ms %8.2f\n", r.name, r.ms[0], r.ms[1], r.ms[1] / r.ms[0]);
    return 0;
}
