// Knot insertion and refinement against the reference evaluator.
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

Spline inserted(const Spline &s, double u, int r) {
    Spline out{std::vector<double>(s.t.size() + r), std::vector<double>(s.c.size() + r), s.p};
    k::insert_knot(s.t, s.c, s.p, u, r, out.t, out.c);
    return out;
}

Spline refined(const Spline &s, const std::vector<double> &xs) {
    Spline out{std::vector<double>(s.t.size() + xs.size()),
               std::vector<double>(s.c.size() + xs.size()), s.p};
    k::refine(s.t, s.c, s.p, xs, out.t, out.c);
    return out;
}

// The knot vector expected after inserting xs (clamped to the domain) into t.
std::vector<double> merged(std::vector<double> t, const std::vector<double> &xs) {
    const double a = t.front(), b = t.back();
    for (double x : xs) t.push_back(std::clamp(x, a, b));
    std::sort(t.begin(), t.end());
    return t;
}

double tolerance(const Spline &s) { return 1e-9 * (1.0 + ops::max_abs(s.c)); }

}  // namespace

TEST(InsertKnot, KeepsTheCurveOnEveryShapeAndDegree) {
    std::mt19937 rng(11);
    for (ops::Shape shape : ops::all_shapes)
        for (int p = 0; p <= 7; ++p)
            for (int rep = 0; rep < 3; ++rep) {
                const Spline s = ops::make(rng, shape, p, p + 4 + 2 * rep);
                // Inside, on an existing knot, on both ends and outside the domain.
                const double candidates[] = {std::uniform_real_distribution<double>(0, 1)(rng),
                                             s.t[s.t.size() / 2],
                                             0.0,
                                             1.0,
                                             -0.5,
                                             1.5};
                for (double u : candidates)
                    for (int r : {1, p + 2}) {
                        SCOPED_TRACE(std::string(ops::name(shape)) + " " + ops::describe(s) +
                                     " u=" + std::to_string(u) + " r=" + std::to_string(r));
                        const Spline q = inserted(s, u, r);
                        EXPECT_EQ(q.t, merged(s.t, std::vector<double>(r, u)));
                        EXPECT_LE(ops::max_difference(rng, s, q, 0.0, 1.0), tolerance(s));
                    }
            }
}

TEST(InsertKnot, EndInsertionRepeatsTheEndCoefficientOfAClampedSpline) {
    std::mt19937 rng(12);
    for (int p = 0; p <= 5; ++p) {
        const Spline s = ops::make(rng, ops::Shape::clamped, p, p + 3);
        const Spline right = inserted(s, 1.0, 3);
        for (int i = 0; i < 3; ++i) EXPECT_EQ(right.c[s.c.size() + i], s.c.back());
        const Spline left = inserted(s, -7.0, 2);
        EXPECT_EQ(left.c[0], s.c[0]);
        EXPECT_EQ(left.c[1], s.c[0]);
        EXPECT_EQ(left.t[0], 0.0);
    }
}

TEST(InsertKnot, BeyondFullMultiplicityStillDescribesTheCurve) {
    // An interior knot pushed far beyond p + 1: the extra basis functions vanish, the curve
    // stays, and every output element is a finite number.
    std::mt19937 rng(13);
    for (int p = 0; p <= 4; ++p) {
        const Spline s = ops::make(rng, ops::Shape::clamped, p, p + 5);
        const Spline q = inserted(s, 0.5, 3 * p + 4);
        EXPECT_LE(ops::max_difference(rng, s, q, 0.0, 1.0), tolerance(s));
        for (double v : q.c) EXPECT_TRUE(std::isfinite(v));
        EXPECT_TRUE(ops::sorted(q.t));
    }
}

TEST(Refine, KeepsTheCurveAndMatchesSingleInsertions) {
    std::mt19937 rng(21);
    for (ops::Shape shape : ops::all_shapes)
        for (int p = 0; p <= 7; ++p)
            for (int rep = 0; rep < 4; ++rep) {
                const Spline s = ops::make(rng, shape, p, p + 3 + 2 * rep);
                std::vector<double> xs;
                std::uniform_real_distribution<double> u(-0.2, 1.2);
                for (int i = 0; i < 12; ++i) xs.push_back(u(rng));
                xs.push_back(s.t[s.t.size() / 2]);  // an existing knot
                xs.push_back(s.t[s.t.size() / 2]);
                xs.push_back(1.0);
                xs.push_back(0.0);
                std::sort(xs.begin(), xs.end());
                SCOPED_TRACE(std::string(ops::name(shape)) + " " + ops::describe(s));

                const Spline q = refined(s, xs);
                EXPECT_EQ(q.t, merged(s.t, xs));
                EXPECT_LE(ops::max_difference(rng, s, q, 0.0, 1.0), tolerance(s));

                // One value at a time must give the same spline.
                Spline one = s;
                for (double x : xs) one = inserted(one, x, 1);
                ASSERT_EQ(one.t, q.t);
                for (std::size_t i = 0; i < q.c.size(); ++i)
                    EXPECT_NEAR(one.c[i], q.c[i], tolerance(s)) << i;
            }
}

TEST(Refine, ManyValuesInOneSpanAndAnEmptyArray) {
    std::mt19937 rng(22);
    const Spline s = ops::make(rng, ops::Shape::clamped, 3, 6);
    std::vector<double> xs;
    for (int i = 1; i < 200; ++i) xs.push_back(s.t[3] + (s.t[4] - s.t[3]) * i / 200.0);
    std::sort(xs.begin(), xs.end());
    EXPECT_LE(ops::max_difference(rng, s, refined(s, xs), 0.0, 1.0), tolerance(s));
    const Spline same = refined(s, {});
    EXPECT_EQ(same.t, s.t);
    EXPECT_EQ(same.c, s.c);
}

TEST(Refine, ADecreasingArrayStillGivesASortedKnotVectorAndTheSameCurve) {
    std::mt19937 rng(23);
    const Spline s = ops::make(rng, ops::Shape::clamped, 2, 7);
    const Spline q = refined(s, {0.7, 0.2, 0.9, 0.4});
    EXPECT_TRUE(ops::sorted(q.t));
    EXPECT_LE(ops::max_difference(rng, s, q, 0.0, 1.0), tolerance(s));
}

TEST(InsertKnot, OnALongSplineOnlyTheNeighbourhoodOfTheNewKnotChanges) {
    // Inserting u (r times) into span k: coefficients up to k - p stay where they are, those
    // from k - s on move up by r (s: multiplicity of u), exactly; the ones between are new
    // and keep the curve. A long spline so that the untouched stretches are long.
    std::mt19937 rng(26);
    for (int p : {1, 3, 5})
        for (int rep = 0; rep < 6; ++rep) {
            const Spline s = reference::random_clamped(rng, p, 2000);
            const bool existing = rep % 2 == 1;
            const double u = existing ? s.t[s.t.size() / 3 + rep]
                                      : std::uniform_real_distribution<double>(0.01, 0.99)(rng);
            const int r = 1 + rep % 3;
            const Spline q = inserted(s, u, r);
            SCOPED_TRACE("p=" + std::to_string(p) + " u=" + std::to_string(u));
            ASSERT_EQ(q.t, merged(s.t, std::vector<double>(r, u)));
            const int k =
                static_cast<int>(std::upper_bound(s.t.begin(), s.t.end(), u) - s.t.begin()) - 1;
            const int mult = static_cast<int>(std::count(s.t.begin(), s.t.end(), u));
            for (int i = 0; i <= k - p; ++i) ASSERT_EQ(q.c[i], s.c[i]) << i;
            for (int i = k - mult; i < static_cast<int>(s.c.size()); ++i)
                ASSERT_EQ(q.c[i + r], s.c[i]) << i;
            for (double x : {u, std::max(0.0, u - 0.002), std::min(1.0, u + 0.002)})
                EXPECT_NEAR(ops::value(q, x), ops::value(s, x), tolerance(s)) << x;
        }
}

TEST(Refine, ALongSplineWithClustersOfValuesKeepsTheCurveAndFillsEverything) {
    // Several values in one span, values on existing knots, on the ends and outside, runs of
    // untouched spans in between; the outputs start as NaN so that a gap in the copying shows.
    std::mt19937 rng(27);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (int p : {0, 2, 3, 5}) {
        const Spline s = reference::random_clamped(rng, p, 400);
        std::vector<double> xs;
        std::uniform_real_distribution<double> u(-0.1, 1.1);
        for (int i = 0; i < 30; ++i) {
            const double centre = u(rng);
            for (int j = 0; j < 1 + i % 6; ++j) xs.push_back(centre + 1e-4 * j);
        }
        for (int i = 0; i < 20; ++i) xs.push_back(s.t[(i * 37) % s.t.size()]);
        xs.push_back(0.0);
        xs.push_back(1.0);
        std::sort(xs.begin(), xs.end());
        Spline q{std::vector<double>(s.t.size() + xs.size(), nan),
                 std::vector<double>(s.c.size() + xs.size(), nan), p};
        k::refine(s.t, s.c, p, xs, q.t, q.c);
        SCOPED_TRACE("p=" + std::to_string(p));
        ASSERT_EQ(q.t, merged(s.t, xs));
        for (double c : q.c) ASSERT_FALSE(std::isnan(c));
        EXPECT_LE(ops::max_difference(rng, s, q, 0.0, 1.0), tolerance(s));
    }
}

TEST(InsertAndRefine, NaNValuesGiveAnAllNaNResult) {
    std::mt19937 rng(24);
    const Spline s = ops::make(rng, ops::Shape::clamped, 3, 6);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const Spline &q : {inserted(s, nan, 2), refined(s, {0.1, nan, 0.5})}) {
        for (double v : q.t) EXPECT_TRUE(std::isnan(v));
        for (double v : q.c) EXPECT_TRUE(std::isnan(v));
    }
}

TEST(InsertAndRefine, SizeMismatchesWriteNothing) {
    std::mt19937 rng(25);
    const Spline s = ops::make(rng, ops::Shape::clamped, 3, 6);
    auto untouched = [](const std::vector<double> &v) {
        return std::all_of(v.begin(), v.end(), [](double x) { return x == -99.0; });
    };
    struct Case {
        std::size_t t_extra, c_extra;
        int p, r;
    };
    for (const Case &cs : {Case{2, 1, 3, 2}, Case{1, 2, 3, 2}, Case{2, 2, 2, 2}, Case{2, 2, -1, 2},
                           Case{0, 0, 3, -1}}) {
        std::vector<double> nt(s.t.size() + cs.t_extra, -99.0), nc(s.c.size() + cs.c_extra, -99.0);
        k::insert_knot(s.t, s.c, cs.p, 0.5, cs.r, nt, nc);
        EXPECT_TRUE(untouched(nt) && untouched(nc));
        std::vector<double> xs{0.2, 0.4};
        if (cs.r < 0) continue;
        k::refine(s.t, s.c, cs.p, xs, nt, nc);
        EXPECT_TRUE(untouched(nt) && untouched(nc));
    }
    // Knots and coefficients that disagree with each other.
    std::vector<double> nt(s.t.size() + 1, -99.0), nc(s.c.size(), -99.0);
    const std::vector<double> c_short(s.c.begin(), s.c.end() - 1);
    k::insert_knot(s.t, c_short, 3, 0.5, 1, nt, nc);
    EXPECT_TRUE(untouched(nt) && untouched(nc));
}
