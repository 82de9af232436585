// The sum of two splines on the union knot vector.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <vector>

#include "bspline.hpp"
#include "ops_cases.hpp"
#include "reference.hpp"

namespace k = pyorvex::kernel;
using reference::Spline;

namespace {

// The union with the larger multiplicity of each value, counted the slow way.
std::vector<double> union_of(const std::vector<double>& a, const std::vector<double>& b) {
    std::map<double, int> ca, cb;
    for (double x : a) ++ca[x];
    for (double x : b) ++cb[x];
    std::map<double, int> both = ca;
    for (auto [x, m] : cb) both[x] = std::max(both[x], m);
    std::vector<double> out;
    for (auto [x, m] : both) out.insert(out.end(), m, x);
    return out;
}

Spline summed(const Spline& a, const Spline& b) {
    const k::SumSize size = k::sum_size(a.t, b.t, a.p);
    EXPECT_TRUE(size.ok);
    Spline out{std::vector<double>(size.m + 1, -99.0), std::vector<double>(size.n + 1, -99.0), a.p};
    k::sum(a.t, a.c, b.t, b.c, a.p, out.t, out.c);
    return out;
}

double tolerance(const Spline& a, const Spline& b) {
    return 1e-9 * (1.0 + ops::max_abs(a.c) + ops::max_abs(b.c));
}

}  // namespace

TEST(Sum, EvaluatesToTheSumOnEveryShapeAndDegree) {
    std::mt19937 rng(61);
    for (ops::Shape shape_a : ops::all_shapes)
        for (ops::Shape shape_b : {ops::Shape::clamped, ops::Shape::unclamped, shape_a})
            for (int p = 0; p <= 7; ++p) {
                const Spline a = ops::make(rng, shape_a, p, p + 4);
                const Spline b = ops::make(rng, shape_b, p, p + 7);
                SCOPED_TRACE(ops::describe(a) + " + " + ops::describe(b));
                const Spline s = summed(a, b);
                const std::vector<double> u = union_of(a.t, b.t);
                ASSERT_EQ(s.t, u);
                EXPECT_EQ(s.c.size(), u.size() - p - 1);
                for (double x : ops::probe_points(rng, a.t, b.t, 0.0, 1.0))
                    EXPECT_NEAR(ops::value(s, x), ops::value(a, x) + ops::value(b, x),
                                tolerance(a, b))
                        << x;
            }
}

TEST(Sum, IsSymmetricAndKeepsSharedKnots) {
    std::mt19937 rng(62);
    for (int p = 0; p <= 5; ++p) {
        Spline a = ops::make(rng, ops::Shape::clamped, p, p + 6);
        Spline b = a;  // the same knots with other coefficients: nothing to insert
        for (double& c : b.c) c = -0.5 * c + 1.0;
        const Spline same = summed(a, b);
        EXPECT_EQ(same.t, a.t);
        for (std::size_t i = 0; i < a.c.size(); ++i)
            EXPECT_NEAR(same.c[i], a.c[i] + b.c[i], 1e-12);

        const Spline c = ops::make(rng, ops::Shape::clamped_full, p, p + 5);
        const Spline ab = summed(a, c), ba = summed(c, a);
        ASSERT_EQ(ab.t, ba.t);
        for (std::size_t i = 0; i < ab.c.size(); ++i)
            EXPECT_NEAR(ab.c[i], ba.c[i], tolerance(a, c)) << i;
    }
}

TEST(Sum, DifferentDomainsCountEachOperandAsZeroOutsideItsKnots) {
    std::mt19937 rng(63);
    for (int p = 1; p <= 4; ++p) {
        const Spline a = ops::make(rng, ops::Shape::clamped, p, p + 4);  // on [0, 1]
        Spline b = ops::make(rng, ops::Shape::clamped, p, p + 4);
        for (double& x : b.t) x = 2.0 * x;  // on [0, 2]
        const Spline s = summed(a, b);
        EXPECT_EQ(s.t, union_of(a.t, b.t));
        for (double x : {0.0, 0.1, 0.37, 0.99, 1.2, 1.7, 2.0}) {
            const double want = ops::value(b, x) + (x < 1.0 ? ops::value(a, x) : 0.0);
            EXPECT_NEAR(ops::value(s, x), want, tolerance(a, b)) << x;
        }
    }
}

TEST(SumSize, RejectsUnusableInputs) {
    const std::vector<double> t{0, 0, 0.5, 1, 1};
    EXPECT_FALSE(k::sum_size(t, t, -1).ok);
    EXPECT_FALSE(k::sum_size(t, t, 4).ok);  // five knots hold no coefficient of degree 4
    EXPECT_FALSE(k::sum_size({}, t, 1).ok);
    const std::vector<double> t2{0, 0, 0.25, 0.5, 0.5, 1, 1};
    const k::SumSize s = k::sum_size(t, t2, 1);
    EXPECT_TRUE(s.ok);
    EXPECT_EQ(s.m, 6);  // 0 0 0.25 0.5 0.5 1 1
    EXPECT_EQ(s.n, 4);
}

TEST(Sum, SizeMismatchesWriteNothing) {
    std::mt19937 rng(64);
    const Spline a = ops::make(rng, ops::Shape::clamped, 3, 7);
    const Spline b = ops::make(rng, ops::Shape::clamped, 3, 9);
    const k::SumSize size = k::sum_size(a.t, b.t, 3);
    auto untouched = [](const std::vector<double>& v) {
        return std::all_of(v.begin(), v.end(), [](double x) { return x == -99.0; });
    };
    struct Case {
        long dt, dc;
        int p;
        bool short_c1;
    };
    for (const Case& cs : {Case{1, 0, 3, false}, Case{0, -1, 3, false}, Case{0, 0, 2, false},
                           Case{0, 0, -1, false}, Case{0, 0, 3, true}}) {
        std::vector<double> nt(size.m + 1 + cs.dt, -99.0), nc(size.n + 1 + cs.dc, -99.0);
        const std::vector<double> c1(a.c.begin(), a.c.end() - (cs.short_c1 ? 1 : 0));
        k::sum(a.t, c1, b.t, b.c, cs.p, nt, nc);
        EXPECT_TRUE(untouched(nt) && untouched(nc));
    }
}

TEST(Sum, NaNKnotsDoNotBreakAnything) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<double> t1{0, 0, nan, 1, 1}, c1{1, 2, 3};
    const std::vector<double> t2{0, 0, 0.5, nan, 1, 1}, c2{1, 2, 3, 4};
    const k::SumSize size = k::sum_size(t1, t2, 1);
    ASSERT_TRUE(size.ok);
    std::vector<double> nt(size.m + 1), nc(size.n + 1);
    k::sum(t1, c1, t2, c2, 1, nt, nc);
    // Every knot is written, the ends included.
    EXPECT_EQ(nt.front(), 0.0);
    EXPECT_EQ(nt.back(), 1.0);
}
