// Degree elevation against the reference evaluator.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "bspline.hpp"
#include "ops_cases.hpp"
#include "reference.hpp"

namespace k = pyorvex::kernel;
using reference::Spline;

namespace {

int interior_values(const std::vector<double> &t) {
    std::vector<double> v(t.begin(), t.end());
    v.erase(std::unique(v.begin(), v.end()), v.end());
    return static_cast<int>(v.size()) - 2;
}

// Elevated in the room elevation_size asks for, cut to the documented sizes.
Spline elevated(const Spline &s, int nu) {
    const int a = std::max(0, interior_values(s.t));
    const k::ElevationSize size = k::elevation_size(s.t, s.c, s.p, nu);
    EXPECT_TRUE(size.ok);
    EXPECT_EQ(size.knots, s.t.size() + nu * (a + 2));
    EXPECT_EQ(size.coefs, s.c.size() + nu * (a + 1));
    Spline out{std::vector<double>(size.work_knots, -777.0),
               std::vector<double>(size.work_coefs, -777.0), s.p + nu};
    k::elevate_degree(s.t, s.c, s.p, nu, out.t, out.c);
    out.t.resize(size.knots);
    out.c.resize(size.coefs);
    return out;
}

// Every distinct value with nu more copies.
std::vector<double> expected_knots(const std::vector<double> &t, int nu) {
    std::vector<double> out;
    for (std::size_t i = 0; i < t.size(); ++i) {
        out.push_back(t[i]);
        if (i + 1 == t.size() || t[i + 1] != t[i]) out.insert(out.end(), nu, t[i]);
    }
    return out;
}

double tolerance(const Spline &s) { return 1e-9 * (1.0 + ops::max_abs(s.c)); }

}  // namespace

TEST(ElevateDegree, KeepsTheCurveOnEveryShape) {
    std::mt19937 rng(51);
    for (ops::Shape shape : ops::all_shapes)
        for (int p = 0; p <= 6; ++p)
            for (int nu : {1, 2, 3})
                for (int rep = 0; rep < 2; ++rep) {
                    const Spline s = ops::make(rng, shape, p, p + 3 + 3 * rep);
                    SCOPED_TRACE(std::string(ops::name(shape)) + " " + ops::describe(s) +
                                 " nu=" + std::to_string(nu));
                    const Spline q = elevated(s, nu);
                    EXPECT_EQ(q.t, expected_knots(s.t, nu));
                    EXPECT_LE(ops::max_difference(rng, s, q, 0.0, 1.0), tolerance(s));
                }
}

TEST(ElevateDegree, InStepsEqualsAtOnce) {
    // On a clamped vector the representation is unique, so the coefficients must agree.
    std::mt19937 rng(52);
    for (int p = 0; p <= 5; ++p) {
        const Spline s = ops::make(rng, ops::Shape::clamped, p, p + 7);
        const Spline once = elevated(s, 3);
        const Spline steps = elevated(elevated(elevated(s, 1), 1), 1);
        ASSERT_EQ(once.t, steps.t);
        for (std::size_t i = 0; i < once.c.size(); ++i)
            EXPECT_NEAR(once.c[i], steps.c[i], tolerance(s)) << "p=" << p << " i=" << i;
    }
}

TEST(ElevateDegree, HighDegreesAndLongSplines) {
    std::mt19937 rng(53);
    const Spline s = ops::make(rng, ops::Shape::clamped, 4, 40);
    EXPECT_LE(ops::max_difference(rng, s, elevated(s, 5), 0.0, 1.0), tolerance(s));
    // A Bezier piece raised far: the end coefficients stay the end values.
    Spline bez{{0, 0, 0, 1, 1, 1}, {1.0, -2.0, 3.0}, 2};
    const Spline q = elevated(bez, 9);
    EXPECT_EQ(q.c.size(), 12u);
    EXPECT_NEAR(q.c.front(), 1.0, 1e-12);
    EXPECT_NEAR(q.c.back(), 3.0, 1e-12);
    for (double x : {0.0, 0.3, 0.77, 1.0}) EXPECT_NEAR(ops::value(q, x), ops::value(bez, x), 1e-9);
}

TEST(ElevateDegree, KnotVectorsWithoutMeaningGiveNaNOfTheDocumentedSize) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<std::vector<double>> bad = {
        {0, 0, 0, 0.5, 0.3, 1, 1, 1},    // out of order
        {0, 0, 0, nan, 0.5, 1, 1, 1},    // NaN inside
        {0, 0, 0, 0.5, 0.7, 1, 1, nan},  // NaN at the end
    };
    for (const auto &t : bad) {
        const Spline s{t, std::vector<double>(5, 1.0), 2};
        // The documented sizes, computed the documented way (distinct interior values).
        int distinct = 0;
        for (std::size_t i = 1; i + 1 < t.size(); ++i)
            if (t[i] > t.front() && t[i] < t.back() && t[i] != t[i - 1]) ++distinct;
        const k::ElevationSize size = k::elevation_size(t, s.c, 2, 2);
        ASSERT_TRUE(size.ok);
        EXPECT_EQ(size.knots, t.size() + 2 * (distinct + 2));
        EXPECT_EQ(size.coefs, 5 + 2 * (distinct + 1));
        std::vector<double> nt(size.work_knots, 7.0), nc(size.work_coefs, 7.0);
        k::elevate_degree(t, s.c, 2, 2, nt, nc);
        for (std::size_t i = 0; i < size.knots; ++i) EXPECT_TRUE(std::isnan(nt[i]));
        for (std::size_t i = 0; i < size.coefs; ++i) EXPECT_TRUE(std::isnan(nc[i]));
    }
}

TEST(ElevateDegree, AKnotVectorWithoutSpanIsFilled) {
    const std::vector<double> t(5, 0.25), c{1.0, 2.0};
    const k::ElevationSize size = k::elevation_size(t, c, 2, 2);
    ASSERT_EQ(size.work_knots, 5u + 2 * 2);
    ASSERT_EQ(size.work_coefs, 2u + 2);
    std::vector<double> nt(5 + 2 * 2, -1.0), nc(2 + 2, -1.0);
    k::elevate_degree(t, c, 2, 2, nt, nc);
    for (double v : nt) EXPECT_EQ(v, 0.25);
    EXPECT_EQ(nc, (std::vector<double>{1.0, 2.0, 2.0, 2.0}));
}

TEST(ElevateDegree, SizeMismatchesWriteNothing) {
    std::mt19937 rng(55);
    const Spline s = ops::make(rng, ops::Shape::clamped, 3, 8);
    const k::ElevationSize size = k::elevation_size(s.t, s.c, 3, 1);
    ASSERT_TRUE(size.ok);
    EXPECT_FALSE(k::elevation_size(s.t, s.c, 2, 1).ok);
    EXPECT_FALSE(k::elevation_size(s.t, s.c, -1, 1).ok);
    EXPECT_FALSE(k::elevation_size(s.t, s.c, 3, -1).ok);
    EXPECT_FALSE(k::elevation_size(s.t, s.c, 3, k::kMaxDegree - 2).ok);
    struct Case {
        std::size_t nt, nc;
        int p, nu;
    };
    // Too little room (the result's own sizes among them: the work needs more), or arguments
    // that do not agree.
    for (const Case &cs :
         {Case{size.work_knots - 1, size.work_coefs, 3, 1},
          Case{size.work_knots, size.work_coefs - 1, 3, 1}, Case{size.knots, size.coefs, 3, 1},
          Case{size.work_knots, size.work_coefs, 2, 1},
          Case{size.work_knots, size.work_coefs, -1, 1},
          Case{size.work_knots, size.work_coefs, 3, -1}}) {
        std::vector<double> nt(cs.nt, -99.0), nc(cs.nc, -99.0);
        k::elevate_degree(s.t, s.c, cs.p, cs.nu, nt, nc);
        EXPECT_TRUE(std::all_of(nt.begin(), nt.end(), [](double x) { return x == -99.0; }));
        EXPECT_TRUE(std::all_of(nc.begin(), nc.end(), [](double x) { return x == -99.0; }));
    }
}
