// kMaxDegree: every function works up to it and refuses beyond it, given or produced, without
// writing anything.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "bspline.hpp"
#include "reference.hpp"

namespace k = pyorvex::kernel;
using reference::Spline;

namespace {

constexpr double kUnwritten = 4242.0;

bool untouched(const std::vector<double> &v) {
    for (double x : v)
        if (x != kUnwritten) return false;
    return true;
}

// A clamped spline of degree p on [0, 1] with two interior knots.
Spline piece(std::mt19937 &rng, int p) { return reference::random_clamped(rng, p, p + 2); }

}  // namespace

TEST(DegreeLimit, TheLargestDegreeWorks) {
    std::mt19937 rng(901);
    const int top = k::kMaxDegree;
    const Spline s = piece(rng, top - 3);
    const std::vector<double> xs = {0.0, 0.3, 0.71, 1.0};

    // Elevation to exactly the limit keeps the curve; evaluation works there.
    const k::ElevationSize es = k::elevation_size(s.t, s.c, s.p, 3);
    ASSERT_TRUE(es.ok);
    Spline e{std::vector<double>(es.work_knots), std::vector<double>(es.work_coefs), top};
    k::elevate_degree(s.t, s.c, s.p, 3, e.t, e.c);
    e.t.resize(es.knots);
    e.c.resize(es.coefs);
    for (double x : xs)
        EXPECT_NEAR(k::value_at(x, e.t, e.c, top), k::value_at(x, s.t, s.c, s.p), 1e-12) << x;

    // Antiderivative to exactly the limit: its derivative is the spline again.
    const Spline s1 = piece(rng, top - 1);
    const k::CalculusSize as = k::antiderivative_size(s1.t, s1.c, s1.p, 1);
    ASSERT_TRUE(as.ok);
    Spline anti{std::vector<double>(as.knots), std::vector<double>(as.coefs), top};
    k::antiderivative(s1.t, s1.c, s1.p, 1, anti.t, anti.c);
    std::vector<double> d(2);
    for (double x : xs) {
        k::derivatives_at(x, anti.t, anti.c, top, 1, d);
        EXPECT_NEAR(d[1], k::value_at(x, s1.t, s1.c, s1.p), 1e-12) << x;
    }
}

TEST(DegreeLimit, AboveItNothingIsWritten) {
    std::mt19937 rng(902);
    const int p = k::kMaxDegree + 1;
    const Spline s = piece(rng, p), low = piece(rng, k::kMaxDegree);
    std::vector<double> xs = {0.25, 0.5}, work(4, kUnwritten), nt(s.t.size() + 8, kUnwritten),
                        nc(s.c.size() + 8, kUnwritten), t2 = s.t, c2 = s.c;
    const std::vector<double> xs0 = xs;

    EXPECT_EQ(k::distinct_interior_knots(s.t, p), 0);
    EXPECT_EQ(k::value_at(0.5, s.t, s.c, p), 0.0);
    k::values_sorted(xs, s.t, s.c, p);
    EXPECT_EQ(xs, xs0);
    k::derivatives_at(0.5, s.t, s.c, p, 1, std::span<double>(work.data(), 2));
    k::derivatives_sorted(xs, s.t, s.c, p, 0, 1, work);
    EXPECT_TRUE(untouched(work));
    k::greville(s.t, p, std::span<double>(nc.data(), s.c.size()));
    k::insert_knot(s.t, s.c, p, 0.5, 1, std::span<double>(nt.data(), s.t.size() + 1),
                   std::span<double>(nc.data(), s.c.size() + 1));
    k::refine(s.t, s.c, p, xs, std::span<double>(nt.data(), s.t.size() + 2),
              std::span<double>(nc.data(), s.c.size() + 2));
    EXPECT_EQ(k::derivative(s.t, s.c, p, 1, nt, nc), 0);
    EXPECT_FALSE(k::derivative_size(s.t, s.c, p, 1).ok);
    EXPECT_FALSE(k::antiderivative_size(s.t, s.c, p, 1).ok);
    EXPECT_FALSE(k::antiderivative_size(low.t, low.c, low.p, 1).ok);  // the result's degree
    k::antiderivative(low.t, low.c, low.p, 1, std::span<double>(nt.data(), low.t.size() + 2),
                      std::span<double>(nc.data(), low.c.size() + 1));
    EXPECT_FALSE(k::elevation_size(low.t, low.c, low.p, 1).ok);
    k::elevate_degree(low.t, low.c, low.p, 1, nt, nc);
    EXPECT_FALSE(k::sum_size(s.t, s.t, p).ok);
    k::sum(s.t, s.c, s.t, s.c, p, std::span<double>(nt.data(), s.t.size()),
           std::span<double>(nc.data(), s.c.size()));
    EXPECT_TRUE(untouched(nt));
    EXPECT_TRUE(untouched(nc));

    const double u = s.t[p + 1];  // an interior knot
    EXPECT_EQ(k::remove_knot(t2, c2, p, u, 1, 1.0), 0);
    EXPECT_EQ(k::remove_knots(t2, c2, p, 1.0), 0);
    EXPECT_EQ(k::remove_knot_unchecked(t2, c2, p, u, 1), 0);
    EXPECT_EQ(t2, s.t);
    EXPECT_EQ(c2, s.c);
}
