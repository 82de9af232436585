// The sum of two splines on the union knot vector.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <iterator>
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
std::vector<double> union_of(const std::vector<double> &a, const std::vector<double> &b) {
    std::map<double, int> ca, cb;
    for (double x : a) ++ca[x];
    for (double x : b) ++cb[x];
    std::map<double, int> both = ca;
    for (auto [x, m] : cb) both[x] = std::max(both[x], m);
    std::vector<double> out;
    for (auto [x, m] : both) out.insert(out.end(), m, x);
    return out;
}

Spline summed(const Spline &a, const Spline &b) {
    const k::SumSize size = k::sum_size(a.t, b.t, a.p);
    EXPECT_TRUE(size.ok);
    Spline out{std::vector<double>(size.m + 1, -99.0), std::vector<double>(size.n + 1, -99.0), a.p};
    k::sum(a.t, a.c, b.t, b.c, a.p, out.t, out.c);
    return out;
}

double tolerance(const Spline &a, const Spline &b) {
    return 1e-9 * (1.0 + ops::max_abs(a.c) + ops::max_abs(b.c));
}

// The values of `all` (a multiset, sorted) beyond those of `part`, sorted.
std::vector<double> missing_from(const std::vector<double> &all, const std::vector<double> &part) {
    std::vector<double> out;
    std::set_difference(all.begin(), all.end(), part.begin(), part.end(), std::back_inserter(out));
    return out;
}

// Two long clamped splines of degree p on [0, 1] whose interior knots interleave at random:
// some values in both (with their own multiplicities), most in one only; multiplicities up to
// max_mult. Knots lie on a grid of 1/4096 so that equal values are exactly equal.
// extra_ends more copies of both ends go to b (a basis function that is zero everywhere at
// each end).
std::pair<Spline, Spline> interleaved_pair(std::mt19937 &rng, int p, int values, int max_mult,
                                           int extra_ends = 0) {
    std::uniform_int_distribution<int> grid(1, 4095), mult(1, std::max(1, max_mult)), pick(0, 2);
    std::uniform_real_distribution<double> coef(-2.0, 2.0);
    std::map<double, std::pair<int, int>> inner;  // value -> multiplicity in a, in b
    while (static_cast<int>(inner.size()) < values) {
        const double x = grid(rng) / 4096.0;
        const int where = pick(rng);  // 0: a only, 1: b only, 2: both
        inner[x] = {where != 1 ? mult(rng) : 0, where != 0 ? mult(rng) : 0};
    }
    Spline a{std::vector<double>(p + 1, 0.0), {}, p},
        b{std::vector<double>(p + 1 + extra_ends, 0.0), {}, p};
    for (auto [x, m] : inner) {
        a.t.insert(a.t.end(), m.first, x);
        b.t.insert(b.t.end(), m.second, x);
    }
    for (Spline *s : {&a, &b}) {
        s->t.insert(s->t.end(), p + 1 + (s == &b ? extra_ends : 0), 1.0);
        for (std::size_t i = 0; i + p + 1 < s->t.size(); ++i) s->c.push_back(coef(rng));
    }
    return {a, b};
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
        for (double &c : b.c) c = -0.5 * c + 1.0;
        const Spline same = summed(a, b);
        EXPECT_EQ(same.t, a.t);
        for (std::size_t i = 0; i < a.c.size(); ++i) EXPECT_NEAR(same.c[i], a.c[i] + b.c[i], 1e-12);

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
        for (double &x : b.t) x = 2.0 * x;  // on [0, 2]
        const Spline s = summed(a, b);
        EXPECT_EQ(s.t, union_of(a.t, b.t));
        for (double x : {0.0, 0.1, 0.37, 0.99, 1.2, 1.7, 2.0}) {
            const double want = ops::value(b, x) + (x < 1.0 ? ops::value(a, x) : 0.0);
            EXPECT_NEAR(ops::value(s, x), want, tolerance(a, b)) << x;
        }
    }
}

TEST(Sum, LongSplinesEvaluateToTheSum) {
    // Hundreds of knots interleaving at random, so that every kind of position (a knot from
    // one operand, from the other, from both, repeated) follows every other many times.
    std::mt19937 rng(65);
    for (int p = 0; p <= 5; ++p) {
        const auto [a, b] = interleaved_pair(rng, p, 300, std::max(1, p));
        SCOPED_TRACE("p=" + std::to_string(p));
        const Spline s = summed(a, b);
        ASSERT_EQ(s.t, union_of(a.t, b.t));
        for (double x : ops::probe_points(rng, a.t, b.t, 0.0, 1.0))
            ASSERT_NEAR(ops::value(s, x), ops::value(a, x) + ops::value(b, x), tolerance(a, b))
                << x;
    }
}

TEST(Sum, CoefficientsAreThoseOfBothOperandsRefinedToTheUnion) {
    // Each operand refined on its own (insertion, a separate code path) to the union knot
    // vector, then added: the same coefficients, every one of them, also those the
    // evaluation cannot see (zero basis functions at the ends). The outputs start as NaN so
    // that an element left unwritten shows.
    std::mt19937 rng(66);
    for (int p : {0, 1, 2, 3, 4, 5, 7, 9, 16})
        for (int max_mult : {1, p, p + 1}) {
            const int extra_ends = max_mult == p ? 1 + p % 3 : 0;
            const auto [a, b] = interleaved_pair(rng, p, 400, max_mult, extra_ends);
            SCOPED_TRACE("p=" + std::to_string(p) + " max_mult=" + std::to_string(max_mult));
            const std::vector<double> u = union_of(a.t, b.t);
            const double nan = std::numeric_limits<double>::quiet_NaN();
            auto refined_to_union = [&](const Spline &s) {
                const std::vector<double> xs = missing_from(u, s.t);
                Spline r{std::vector<double>(s.t.size() + xs.size(), nan),
                         std::vector<double>(s.c.size() + xs.size(), nan), p};
                k::refine(s.t, s.c, p, xs, r.t, r.c);
                return r;
            };
            const Spline ra = refined_to_union(a), rb = refined_to_union(b);
            ASSERT_EQ(ra.t, u);
            ASSERT_EQ(rb.t, u);

            const k::SumSize size = k::sum_size(a.t, b.t, p);
            ASSERT_TRUE(size.ok);
            std::vector<double> nt(size.m + 1, nan), nc(size.n + 1, nan);
            k::sum(a.t, a.c, b.t, b.c, p, nt, nc);
            ASSERT_EQ(nt, u);
            ASSERT_EQ(nc.size(), ra.c.size());
            for (std::size_t i = 0; i < nc.size(); ++i)
                ASSERT_NEAR(nc[i], ra.c[i] + rb.c[i], tolerance(a, b)) << i;
        }
}

TEST(Sum, OperandsOfVeryDifferentLengths) {
    // A short operand against a long one, both ways round: most of the pass has one operand
    // inserting again and again.
    std::mt19937 rng(67);
    for (int p : {1, 3, 4}) {
        const Spline shortish = reference::random_clamped(rng, p, p + 2);
        const Spline longish = reference::random_clamped(rng, p, 600);
        for (bool swap : {false, true}) {
            const Spline &a = swap ? longish : shortish;
            const Spline &b = swap ? shortish : longish;
            const Spline s = summed(a, b);
            ASSERT_EQ(s.t, union_of(a.t, b.t));
            for (double x : ops::probe_points(rng, a.t, b.t, 0.0, 1.0))
                ASSERT_NEAR(ops::value(s, x), ops::value(a, x) + ops::value(b, x), tolerance(a, b))
                    << "p=" << p << " x=" << x;
        }
    }
}

TEST(SumSize, CountsTheUnionOfLongVectorsWithRepeatedAndSharedValues) {
    // Long vectors on a coarse grid: long runs of one value, values in both, runs that start
    // in one vector and go on in the other; also operands of very different lengths and
    // domains.
    std::mt19937 rng(68);
    for (int rep = 0; rep < 40; ++rep) {
        std::uniform_int_distribution<int> len(1, rep % 4 == 0 ? 40 : 1500), grid(0, 32);
        auto make = [&](double scale) {
            std::vector<double> t(len(rng) + 4);
            for (double &x : t) x = scale * grid(rng) / 32.0;
            std::sort(t.begin(), t.end());
            return t;
        };
        const std::vector<double> a = make(1.0), b = make(rep % 3 == 0 ? 2.0 : 1.0);
        const k::SumSize size = k::sum_size(a, b, 1);
        ASSERT_TRUE(size.ok);
        EXPECT_EQ(size.m + 1, static_cast<std::int64_t>(union_of(a, b).size())) << rep;
    }
}

TEST(Sum, LongKnotVectorsOutOfOrderOrWithNaNAreStillFilledCompletely) {
    // Whatever the knots, sum writes exactly the sizes sum_size gives: every knot slot gets
    // one of the input knots, every coefficient slot a value. The fault is put near the
    // start, in the middle and among the last knots.
    std::mt19937 rng(69);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (int rep = 0; rep < 36; ++rep) {
        const int p = 1 + rep % 4;
        auto [a, b] = interleaved_pair(rng, p, 700, 1);
        std::vector<double> &t = rep % 2 ? a.t : b.t;
        const std::size_t size = t.size(), zone = rep / 12;
        // Two positions holding different values: the first knot and the first interior one,
        // two in the middle, the last interior knot and the last knot.
        const std::size_t i0 = zone == 0 ? 0 : zone == 1 ? size / 3 : size - p - 3;
        const std::size_t j0 = zone == 0 ? p + 1 : zone == 1 ? size / 3 + 1 + rep % 5 : size - 1;
        if (rep % 3 == 0)
            t[zone == 2 ? j0 : i0] = nan;
        else if (rep % 3 == 1)
            std::swap(t[i0], t[j0]);
        else
            t[zone == 0 ? 1 : j0] = -5.0;  // out of order, and outside the domain
        const k::SumSize size_ab = k::sum_size(a.t, b.t, p);
        ASSERT_TRUE(size_ab.ok);
        std::vector<double> nt(size_ab.m + 1, -99.0), nc(size_ab.n + 1, -99.0);
        k::sum(a.t, a.c, b.t, b.c, p, nt, nc);
        for (double x : nt) ASSERT_NE(x, -99.0) << rep;
        for (double x : nc) ASSERT_NE(x, -99.0) << rep;
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
    auto untouched = [](const std::vector<double> &v) {
        return std::all_of(v.begin(), v.end(), [](double x) { return x == -99.0; });
    };
    struct Case {
        long dt, dc;
        int p;
        bool short_c1;
    };
    for (const Case &cs : {Case{1, 0, 3, false}, Case{0, -1, 3, false}, Case{0, 0, 2, false},
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
