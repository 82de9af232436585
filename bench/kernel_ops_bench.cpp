// Cost of the knot and degree operations of the kernel on cubic splines, at n and 2n
// coefficients for a small and a large n (1,000 / 2,000 and 100,000 / 200,000 by default), with
// the ratio of the two (about 2 when the cost is linear in n, and never more should it be).
// Figures are the fastest of many repeats (the least disturbed by other work on the machine),
// gathered over several rounds through all the measurements so that a burst of load on the
// machine cannot decide a figure alone; calls too short for the clock are timed in batches. The sum
// is also given per knot of its result, alone, for sum_size alone, and for the two together as a
// caller runs them. A plain copy of a spline's two arrays is the yardstick for insert_knot. Not a
// test.
//
//   kernel_ops_bench              both pairs of sizes
//   kernel_ops_bench N1 N2 ...    the pairs (N1, 2 N1), (N2, 2 N2), ...
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
constexpr int kRounds = 3;

struct Spline {
    std::vector<double> t, c;
};

Spline random_clamped(std::mt19937 &rng, int n) {
    std::uniform_real_distribution<double> u(0.0, 1.0), v(-2.0, 2.0);
    Spline s;
    std::vector<double> inner(n - kDegree);
    for (double &x : inner) x = u(rng);
    std::sort(inner.begin(), inner.end());
    s.t.assign(kDegree + 1, 0.0);
    s.t.insert(s.t.end(), inner.begin(), inner.end());
    s.t.insert(s.t.end(), kDegree + 1, 1.0);
    s.c.resize(n + 1);
    for (double &x : s.c) x = v(rng);
    return s;
}

int distinct_interior(const std::vector<double> &t) {
    int a = 0;
    for (std::size_t i = 1; i + 1 < t.size(); ++i)
        if (t[i] > t.front() && t[i] < t.back() && t[i] != t[i - 1]) ++a;
    return a;
}

using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start) {
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

// Fastest time of one call of fn, in microseconds: at least `samples` samples and about
// `budget` seconds of them (per round). setup (untimed) runs before every call; without one, calls
// are timed in batches long enough for the clock.
double best_us(const std::function<void()> &setup, const std::function<void()> &fn,
               int samples = 20, double budget = 0.2) {
    int batch = 1;
    if (!setup) {
        for (;;) {
            const auto start = clock_type::now();
            for (int i = 0; i < batch; ++i) fn();
            if (seconds_since(start) >= 20e-6 || batch >= (1 << 20)) break;
            batch *= 2;
        }
    }
    double best = 1e300;
    const auto begin = clock_type::now();
    for (int done = 0; done < samples || seconds_since(begin) < budget; ++done) {
        if (setup) setup();
        const auto start = clock_type::now();
        for (int i = 0; i < batch; ++i) fn();
        best = std::min(best, seconds_since(start) * 1e6 / batch);
        if (done > 100000) break;
    }
    return best;
}

struct Row {
    const char *name;
    double us[2];
};

struct SumFigures {
    double knots[2], sum_us[2], size_us[2];
};

volatile double sink = 0;

// The fastest so far in slot.
void keep(double &slot, double us) { slot = slot > 0 ? std::min(slot, us) : us; }

// One round through everything at n and 2n.
void measure(int n0, std::vector<Row> &rows, SumFigures &fig) {
    for (int which = 0; which < 2; ++which) {
        const int n = which == 0 ? n0 : 2 * n0;
        std::mt19937 rng(7 + which);
        const Spline s = random_clamped(rng, n);
        const Spline s2 = random_clamped(rng, n);
        int row = 0;
        {
            std::vector<double> nt(s.t.size()), nc(s.c.size());
            keep(rows[row++].us[which], best_us(nullptr, [&] {
                     std::copy(s.t.begin(), s.t.end(), nt.begin());
                     std::copy(s.c.begin(), s.c.end(), nc.begin());
                     sink = sink + nc[nc.size() / 2];
                 }));
        }
        {
            std::vector<double> nt(s.t.size() + 1), nc(s.c.size() + 1);
            keep(rows[row++].us[which], best_us(nullptr, [&] {
                     k::insert_knot(s.t, s.c, kDegree, 0.5, 1, nt, nc);
                     sink = sink + nc[nc.size() / 2];
                 }));
        }
        {
            std::vector<double> xs(1000);
            std::uniform_real_distribution<double> u(0.0, 1.0);
            for (double &x : xs) x = u(rng);
            std::sort(xs.begin(), xs.end());
            std::vector<double> nt(s.t.size() + xs.size()), nc(s.c.size() + xs.size());
            keep(rows[row++].us[which], best_us(nullptr, [&] {
                     k::refine(s.t, s.c, kDegree, xs, nt, nc);
                     sink = sink + nc[nc.size() / 2];
                 }));
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
            keep(rows[row++].us[which],
                 best_us([&] { work = fine; },
                         [&] { sink = sink + k::remove_knots(work.t, work.c, kDegree, 1e-9); }));
            keep(rows[row++].us[which],
                 best_us([&] { work = s; },
                         [&] { sink = sink + k::remove_knots(work.t, work.c, kDegree, 1e-9); }));
        }
        {
            const k::ElevationSize size = k::elevation_size(s.t, s.c, kDegree, 1);
            std::vector<double> nt(size.work_knots), nc(size.work_coefs);
            keep(rows[row++].us[which], best_us(nullptr, [&] {
                     k::elevate_degree(s.t, s.c, kDegree, 1, nt, nc);
                     sink = sink + nc[size.coefs / 2];
                 }));
        }
        {
            const k::SumSize size = k::sum_size(s.t, s2.t, kDegree);
            std::vector<double> nt(size.m + 1), nc(size.n + 1);
            keep(fig.sum_us[which], best_us(nullptr, [&] {
                     k::sum(s.t, s.c, s2.t, s2.c, kDegree, nt, nc);
                     sink = sink + nc[nc.size() / 2];
                 }));
            keep(fig.size_us[which], best_us(nullptr, [&] {
                     sink = sink + static_cast<double>(k::sum_size(s.t, s2.t, kDegree).m);
                 }));
            rows[row++].us[which] = fig.sum_us[which];
            rows[row++].us[which] = fig.size_us[which];
            fig.knots[which] = static_cast<double>(nt.size());
        }
    }
}

}  // namespace

int main(int argc, char **argv) {
    std::vector<int> sizes = {1000, 100000};
    if (argc > 1) {
        sizes.clear();
        for (int i = 1; i < argc; ++i) sizes.push_back(std::max(100, std::atoi(argv[i])));
    }
    for (int n : sizes) {
        std::vector<Row> rows = {{"copy of t and c (yardstick)", {}},
                                 {"insert_knot (1 value, r = 1)", {}},
                                 {"refine (1,000 values)", {}},
                                 {"remove_knots (refined: half removable)", {}},
                                 {"remove_knots (nothing removable)", {}},
                                 {"elevate_degree (nu = 1)", {}},
                                 {"sum (different knots)", {}},
                                 {"sum_size (different knots)", {}}};
        SumFigures fig{};
        for (int round = 0; round < kRounds; ++round) measure(n, rows, fig);
        std::printf("cubic, n = %d and %d (fastest of repeats)\n", n, 2 * n);
        std::printf("  %-40s %13s %13s %7s\n", "", "n", "2n", "ratio");
        for (const Row &r : rows)
            std::printf("  %-40s %10.2f us %10.2f us %7.2f\n", r.name, r.us[0], r.us[1],
                        r.us[1] / r.us[0]);
        for (int which = 0; which < 2; ++which) {
            const double per = 1e3 / fig.knots[which];
            std::printf("  sum, %8.0f result knots: %6.2f ns/knot; sum_size %5.2f; both %6.2f\n",
                        fig.knots[which], fig.sum_us[which] * per, fig.size_us[which] * per,
                        (fig.sum_us[which] + fig.size_us[which]) * per);
        }
        std::printf("\n");
    }
    return 0;
}
