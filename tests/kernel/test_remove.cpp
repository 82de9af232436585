// Knot removal: undoing insertions, the tolerance, and the cases that must stay untouched.
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

// Applies a removal to a copy and cuts the arrays to the documented front part.
template <class F>
std::pair<Spline, int> removed(const Spline &s, F &&f) {
    Spline q = s;
    const int count = f(q);
    if (count > 0) {
        q.t.resize(q.t.size() - count);
        q.c.resize(q.c.size() - count);
    }
    return {q, count};
}

double scale(const Spline &s) { return 1.0 + ops::max_abs(s.c); }

// An interior value of a clamped spline whose multiplicity stays within p after adding r.
double room_for(const Spline &s, std::mt19937 &rng) {
    for (;;) {
        const double u = std::uniform_int_distribution<int>(1, 63)(rng) / 64.0;
        if (std::count(s.t.begin(), s.t.end(), u) == 0) return u;
    }
}

}  // namespace

TEST(RemoveKnot, UndoesAnInsertionExactly) {
    std::mt19937 rng(31);
    for (ops::Shape shape : {ops::Shape::clamped, ops::Shape::unclamped, ops::Shape::overfull_ends})
        for (int p = 0; p <= 7; ++p)
            for (int rep = 0; rep < 4; ++rep) {
                const Spline s = ops::make(rng, shape, p, p + 3 + 2 * rep);
                const double u = room_for(s, rng);
                const int r = 1 + rep % (p + 1);
                SCOPED_TRACE(std::string(ops::name(shape)) + " " + ops::describe(s) +
                             " u=" + std::to_string(u) + " r=" + std::to_string(r));
                const Spline big = inserted(s, u, r);
                for (bool checked : {true, false}) {
                    auto [q, count] = removed(big, [&](Spline &x) {
                        return checked ? k::remove_knot(x.t, x.c, p, u, r + 3, 1e-9)
                                       : k::remove_knot_unchecked(x.t, x.c, p, u, r);
                    });
                    ASSERT_EQ(count, r);
                    EXPECT_EQ(q.t, s.t);
                    for (std::size_t i = 0; i < s.c.size(); ++i)
                        EXPECT_NEAR(q.c[i], s.c[i], 1e-9 * scale(s)) << i;
                }
            }
}

TEST(RemoveKnot, UndoesAnInsertionAtHighDegrees) {
    // Degrees on both sides of 17, where a removal stops keeping its intermediate values and
    // works them out a second time when it commits. One Bezier piece and u inside, so that
    // every equation has the same weight u and the undoing is well conditioned.
    std::mt19937 rng(37);
    std::uniform_real_distribution<double> coef(-2.0, 2.0);
    for (int p = 12; p <= 22; p += 2)
        for (int r : {1, 2}) {
            Spline s{std::vector<double>(p + 1, 0.0), {}, p};
            s.t.insert(s.t.end(), p + 1, 1.0);
            for (int i = 0; i <= p; ++i) s.c.push_back(coef(rng));
            const double u = r == 1 ? 0.5 : 0.375;
            const Spline big = inserted(s, u, r);
            for (bool checked : {true, false}) {
                auto [q, count] = removed(big, [&](Spline &x) {
                    return checked ? k::remove_knot(x.t, x.c, p, u, r, 1e-9)
                                   : k::remove_knot_unchecked(x.t, x.c, p, u, r);
                });
                SCOPED_TRACE("p=" + std::to_string(p) + " r=" + std::to_string(r));
                ASSERT_EQ(count, r);
                EXPECT_EQ(q.t, s.t);
                for (std::size_t i = 0; i < s.c.size(); ++i)
                    EXPECT_NEAR(q.c[i], s.c[i], 1e-9 * scale(s)) << i;
            }
        }
}

TEST(RemoveKnot, UndoesInsertionsIntoExistingAndOverfullKnots) {
    // Adding copies to a knot already present, up to and beyond p + 1, and taking them out
    // again gives back the knots and the curve.
    std::mt19937 rng(32);
    for (int p = 0; p <= 6; ++p)
        for (int rep = 0; rep < 3; ++rep) {
            const Spline s = ops::make(rng, ops::Shape::clamped, p, p + 6);
            const double u = s.t[p + 1];
            const int r = p + 2 + rep;
            const Spline big = inserted(s, u, r);
            auto [q, count] =
                removed(big, [&](Spline &x) { return k::remove_knot(x.t, x.c, p, u, r, 1e-9); });
            ASSERT_EQ(count, r) << ops::describe(s);
            EXPECT_EQ(q.t, s.t);
            EXPECT_LE(ops::max_difference(rng, s, q, 0.0, 1.0), 1e-9 * scale(s));
        }
}

TEST(RemoveKnot, ANeededKnotIsKeptAndTheArraysStayAsTheyWere) {
    std::mt19937 rng(33);
    for (int p = 0; p <= 5; ++p) {
        const Spline s = ops::make(rng, ops::Shape::clamped, p, p + 8);
        const double u = s.t[p + 2];
        auto [q, count] =
            removed(s, [&](Spline &x) { return k::remove_knot(x.t, x.c, p, u, 1, 1e-12); });
        EXPECT_EQ(count, 0);
        EXPECT_EQ(q.t, s.t);
        EXPECT_EQ(q.c, s.c);
    }
}

TEST(RemoveKnot, TheDeviationStaysWithinTheTolerance) {
    // Random splines, a range of tolerances: whatever is removed, the curve moves by at most
    // tol in total, also over several copies of one knot; some removals must happen.
    std::mt19937 rng(34);
    int removals = 0;
    for (ops::Shape shape : {ops::Shape::clamped, ops::Shape::clamped_full, ops::Shape::unclamped})
        for (int p = 0; p <= 6; ++p)
            for (int rep = 0; rep < 6; ++rep) {
                const Spline s = ops::make(rng, shape, p, p + 6);
                const double tol = 0.05 * std::pow(4.0, rep % 4);
                const double u = s.t[s.t.size() / 2];
                auto [q, count] = removed(
                    s, [&](Spline &x) { return k::remove_knot(x.t, x.c, p, u, p + 1, tol); });
                removals += count;
                EXPECT_LE(ops::max_difference(rng, s, q, 0.0, 1.0), tol * (1 + 1e-9))
                    << ops::describe(s) << " tol=" << tol << " removed " << count;
            }
    EXPECT_GT(removals, 20);
}

TEST(RemoveKnot, EndsUnknownValuesAndNaNRemoveNothing) {
    std::mt19937 rng(35);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (ops::Shape shape :
         {ops::Shape::clamped, ops::Shape::unclamped, ops::Shape::overfull_ends}) {
        const Spline s = ops::make(rng, shape, 3, 9);
        for (double u : {s.t.front(), s.t.back(), 0.5 / 128, -1.0, 2.0, nan}) {
            auto [q, count] = removed(s, [&](Spline &x) {
                return k::remove_knot(x.t, x.c, 3, u, 2, 1e300) +
                       k::remove_knot_unchecked(x.t, x.c, 3, u, 2);
            });
            EXPECT_EQ(count, 0) << u;
            EXPECT_EQ(q.t, s.t);
        }
        // A NaN tolerance removes nothing, even a knot that could go at no error.
        const Spline big = inserted(s, 0.5 / 128, 1);
        Spline x = big;
        EXPECT_EQ(k::remove_knot(x.t, x.c, 3, 0.5 / 128, 1, nan), 0);
        EXPECT_EQ(k::remove_knots(x.t, x.c, 3, nan), 0);
        EXPECT_EQ(x.c, big.c);
    }
}

TEST(RemoveKnot, NeverRemovesTheLastCoefficient) {
    // One coefficient on an unclamped vector with interior knots: nothing can go.
    Spline s{{0.0, 0.3, 0.6, 1.0}, {1.5}, 2};
    EXPECT_EQ(k::remove_knot_unchecked(s.t, s.c, 2, 0.3, 1), 0);
    EXPECT_EQ(k::remove_knots(s.t, s.c, 2, 1e300), 0);
    EXPECT_EQ(s.c[0], 1.5);
}

TEST(RemoveKnot, UncheckedRemovesAsFarAsTheMultiplicityAllows) {
    std::mt19937 rng(36);
    const Spline s = ops::make(rng, ops::Shape::clamped, 3, 10);
    const Spline big = inserted(s, 0.25, 2);  // multiplicity of 0.25 now counts from 2
    const int mult = static_cast<int>(std::count(big.t.begin(), big.t.end(), 0.25));
    auto [q, count] =
        removed(big, [&](Spline &x) { return k::remove_knot_unchecked(x.t, x.c, 3, 0.25, 50); });
    EXPECT_EQ(count, mult);
    EXPECT_EQ(std::count(q.t.begin(), q.t.end(), 0.25), 0);
    EXPECT_TRUE(ops::sorted(q.t));
}

TEST(RemoveKnots, ARefinedBezierSegmentShedsEveryAddedKnot) {
    std::mt19937 rng(41);
    for (int p = 0; p <= 7; ++p) {
        // One polynomial piece on [0, 1], refined with many values, some repeated.
        Spline bez{std::vector<double>(p + 1, 0.0), {}, p};
        bez.t.insert(bez.t.end(), p + 1, 1.0);
        std::uniform_real_distribution<double> coef(-2, 2);
        for (int i = 0; i <= p; ++i) bez.c.push_back(coef(rng));
        std::vector<double> xs;
        std::uniform_int_distribution<int> grid(1, 127);
        for (int i = 0; i < 60; ++i) {
            const double x = grid(rng) / 128.0;
            for (int rep = 0; rep <= i % std::max(1, p); ++rep) xs.push_back(x);
        }
        std::sort(xs.begin(), xs.end());
        Spline fine{std::vector<double>(bez.t.size() + xs.size()),
                    std::vector<double>(bez.c.size() + xs.size()), p};
        k::refine(bez.t, bez.c, p, xs, fine.t, fine.c);

        const double tol = 1e-9;
        auto [q, count] =
            removed(fine, [&](Spline &x) { return k::remove_knots(x.t, x.c, p, tol); });
        EXPECT_EQ(count, static_cast<int>(xs.size())) << "p=" << p;
        EXPECT_EQ(q.t, bez.t);
        EXPECT_LE(ops::max_difference(rng, fine, q, 0.0, 1.0), tol);
        for (int i = 0; i <= p; ++i) EXPECT_NEAR(q.c[i], bez.c[i], 1e-9);
    }
}

TEST(RemoveKnots, ALongRefinedSplineShedsExactlyTheAddedKnots) {
    // Every other span of a long spline split at its middle: one sweep takes the added knots
    // out again and only them, removals and kept knots alternating over the whole length.
    std::mt19937 rng(44);
    for (int p : {1, 2, 3, 5}) {
        const Spline s = reference::random_clamped(rng, p, 1500);
        std::vector<double> mids;
        for (std::size_t i = p; i + p + 1 < s.t.size(); i += 2)
            if (s.t[i] < s.t[i + 1]) mids.push_back(0.5 * (s.t[i] + s.t[i + 1]));
        Spline fine{std::vector<double>(s.t.size() + mids.size()),
                    std::vector<double>(s.c.size() + mids.size()), p};
        k::refine(s.t, s.c, p, mids, fine.t, fine.c);
        auto [q, count] =
            removed(fine, [&](Spline &x) { return k::remove_knots(x.t, x.c, p, 1e-9); });
        SCOPED_TRACE("p=" + std::to_string(p));
        ASSERT_EQ(count, static_cast<int>(mids.size()));
        ASSERT_EQ(q.t, s.t);
        for (std::size_t i = 0; i < s.c.size(); ++i)
            ASSERT_NEAR(q.c[i], s.c[i], 1e-9 * scale(s)) << i;
    }
}

TEST(RemoveKnots, RemovesOnlyWhatTheToleranceAllowsAcrossShapes) {
    // A refined random spline: the added knots go, the original ones (needed) stay, on every
    // shape; every single removal is within tol.
    std::mt19937 rng(42);
    for (ops::Shape shape : ops::all_shapes)
        for (int p = 1; p <= 6; ++p) {
            const Spline s = ops::make(rng, shape, p, p + 5);
            std::vector<double> xs;
            for (int i = 0; i < 15; ++i)
                xs.push_back((2 * std::uniform_int_distribution<int>(0, 63)(rng) + 1) / 128.0);
            std::sort(xs.begin(), xs.end());
            Spline fine{std::vector<double>(s.t.size() + xs.size()),
                        std::vector<double>(s.c.size() + xs.size()), p};
            k::refine(s.t, s.c, p, xs, fine.t, fine.c);
            auto [q, count] =
                removed(fine, [&](Spline &x) { return k::remove_knots(x.t, x.c, p, 1e-10); });
            SCOPED_TRACE(std::string(ops::name(shape)) + " " + ops::describe(s));
            EXPECT_GE(count, static_cast<int>(xs.size()));
            EXPECT_TRUE(ops::sorted(q.t));
            EXPECT_LE(ops::max_difference(rng, s, q, 0.0, 1.0), count * 1e-10 + 1e-12);
            // Every original knot with a non-zero basis function around it is still there.
            if (shape == ops::Shape::clamped) {
                for (double x : s.t) EXPECT_GE(std::count(q.t.begin(), q.t.end(), x), 1) << x;
            }
        }
}

TEST(RemoveKnots, NaNCoefficientsStayAndNothingBreaks) {
    std::mt19937 rng(43);
    Spline s = ops::make(rng, ops::Shape::clamped, 3, 12);
    s.c[5] = std::numeric_limits<double>::quiet_NaN();
    const Spline fine = inserted(s, 0.5 / 128, 1);
    Spline x = fine;
    const int count = k::remove_knots(x.t, x.c, 3, 1e-9);
    // The inserted knot far from the NaN goes; knots whose removal involves the NaN stay.
    EXPECT_GE(count, 1);
    EXPECT_EQ(std::count_if(x.c.begin(), x.c.end() - count, [](double v) { return std::isnan(v); }),
              1);
}

TEST(RemoveKnot, SizeMismatchesWriteNothing) {
    std::mt19937 rng(44);
    const Spline s = inserted(ops::make(rng, ops::Shape::clamped, 3, 8), 0.5 / 128, 1);
    for (int p : {-1, 2, 4}) {
        Spline x = s;
        EXPECT_EQ(k::remove_knot(x.t, x.c, p, 0.5 / 128, 1, 1.0), 0);
        EXPECT_EQ(k::remove_knot_unchecked(x.t, x.c, p, 0.5 / 128, 1), 0);
        EXPECT_EQ(k::remove_knots(x.t, x.c, p, 1.0), 0);
        EXPECT_EQ(x.t, s.t);
        EXPECT_EQ(x.c, s.c);
    }
    Spline x = s;
    std::span<double> c_short(x.c.data(), x.c.size() - 1);
    EXPECT_EQ(k::remove_knots(x.t, c_short, 3, 1.0), 0);
    EXPECT_EQ(x.c, s.c);
}
