// distinct_interior_knots and greville.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <set>
#include <vector>

#include "bspline.hpp"
#include "spline_cases.hpp"

namespace k = pyorvex::kernel;
using cases::Kind;

TEST(DistinctInteriorKnots, CountsTheValuesStrictlyInsideTheEnds) {
    std::mt19937 rng(301);
    for (Kind kind : cases::all_kinds)
        for (int p = 0; p <= 6; ++p)
            for (int rep = 0; rep < 5; ++rep) {
                const auto s = cases::make(rng, kind, p, 4 + static_cast<int>(rng() % 20));
                std::set<double> inside;
                for (double x : s.t)
                    if (x > s.t.front() && x < s.t.back()) inside.insert(x);
                EXPECT_EQ(k::distinct_interior_knots(s.t, p), static_cast<int>(inside.size()))
                    << cases::name(kind) << " p=" << p;
            }
    EXPECT_EQ(k::distinct_interior_knots(std::vector<double>{0, 0, 0.5, 0.5, 1, 1}, 1), 1);
    EXPECT_EQ(k::distinct_interior_knots(std::vector<double>(7, 2.0), 2), 0);
    EXPECT_EQ(k::distinct_interior_knots(std::vector<double>{0, 1}, 0), 0);
    EXPECT_EQ(k::distinct_interior_knots(std::vector<double>{0, 0.5, 1}, -1), 0);
}

// Marsden's identity for degree 1: sum_i g_i B_i(x) = x wherever the basis sums to one, that is
// on [t[p], t[n+1]] of any knot vector.
TEST(Greville, ReproducesTheIdentityFunction) {
    std::mt19937 rng(302);
    for (Kind kind : cases::all_kinds)
        for (int p = 1; p <= 7; ++p) {
            reference::Spline s = cases::make(rng, kind, p, 10);
            const int n = static_cast<int>(s.c.size()) - 1;
            std::vector<double> g(n + 1, -99.0);
            k::greville(s.t, p, g);
            s.c = g;
            const double lo = s.t[p], hi = s.t[n + 1];
            for (double x : cases::abscissae(rng, s, 10)) {
                if (x < lo || x > hi || !(lo < hi)) continue;
                EXPECT_NEAR(reference::value(s.t, s.c, p, x), x, 1e-13)
                    << cases::name(kind) << " p=" << p << " x=" << x;
            }
        }
}

TEST(Greville, DegreeZeroGivesMidpointsWithoutOverflow) {
    const std::vector<double> t = {-1.0, 0.0, 0.0, 3.0, 1e308, 1.5e308, 1.7e308};
    std::vector<double> g(t.size() - 1);
    k::greville(t, 0, g);
    for (std::size_t i = 0; i < g.size(); ++i)
        EXPECT_EQ(g[i], static_cast<double>((static_cast<long double>(t[i]) + t[i + 1]) / 2)) << i;
}

// Long windows use a running sum: the result must still be the plain average of each window,
// and an infinite or NaN knot only affects the windows that contain it.
TEST(Greville, LongWindowsMatchTheDirectAverage) {
    std::mt19937 rng(303);
    std::uniform_real_distribution<double> u(-5.0, 5.0);
    for (int p : {17, 40, 100})
        for (int special = 0; special < 3; ++special) {
            std::vector<double> t(3 * p + 50);
            for (double &x : t) x = u(rng);
            std::sort(t.begin(), t.end());
            const std::size_t pos = t.size() / 3;
            if (special == 1) t[pos] = std::numeric_limits<double>::infinity();
            if (special == 2) t[pos] = std::numeric_limits<double>::quiet_NaN();
            std::vector<double> g(t.size() - p - 1);
            k::greville(t, p, g);
            for (std::size_t i = 0; i < g.size(); ++i) {
                long double sum = 0;
                for (int j = 1; j <= p; ++j) sum += t[i + j];
                const double want = static_cast<double>(sum / p);
                if (std::isnan(want))
                    EXPECT_TRUE(std::isnan(g[i])) << p << " " << i;
                else if (std::isinf(want))
                    EXPECT_EQ(g[i], want) << p << " " << i;
                else
                    EXPECT_NEAR(g[i], want, 1e-13) << p << " " << i << " special " << special;
            }
        }
}

TEST(Greville, SizeMismatchesWriteNothing) {
    const std::vector<double> t = {0, 0, 0, 0.5, 1, 1, 1};
    std::vector<double> g(5, 7.0);
    k::greville(t, 2, g);   // needs 4
    k::greville(t, -1, g);  // negative degree
    k::greville(t, 9, g);   // degree beyond the knot vector
    EXPECT_EQ(g, std::vector<double>(5, 7.0));
}
