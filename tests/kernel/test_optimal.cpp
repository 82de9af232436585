// The shortest motion along a path: the closed-form optimum of a straight move, the path kept
// by the exact composition, and every refusal.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "bspline.hpp"

namespace k = pyorvex::kernel;

namespace {

struct Result {
    k::OptimalStatus status;
    std::vector<double> knots, coefs;
    k::OptimalPlan plan;
};

Result plan(const std::vector<double> &t, const std::vector<double> &c, int p, std::size_t dof,
            const std::vector<double> &v, const std::vector<double> &a, std::size_t grid,
            double start = 0.0, double stop = 0.0) {
    Result r;
    const k::OptimalSize size = k::optimal_size(t, p, dof, grid);
    EXPECT_TRUE(size.ok);
    r.knots.resize(size.knots);
    r.coefs.resize(size.coefs);
    std::vector<double> work(size.work);
    r.plan.start_speed = start;
    r.plan.stop_speed = stop;
    r.status = k::retime_optimal(t, c, p, dof, v, a, {}, grid, r.knots, r.coefs, work, r.plan);
    return r;
}

// Axis c of a result of dof axes.
std::vector<double> column(const std::vector<double> &c, std::size_t dof, std::size_t j) {
    std::vector<double> out;
    for (std::size_t i = j; i < c.size(); i += dof) out.push_back(c[i]);
    return out;
}

TEST(Optimal, StraightMoveTakesTheClosedFormTime) {
    // s from 0 to L = 2 v^2 / a: a quarter accelerating, half at speed v, a quarter braking; the
    // switches lie on grid points, so the grid's plan is the exact optimum L / v + v / a.
    const double v = 1.5, a = 2.0, length = 2.0 * v * v / a;
    const Result r = plan({0.0, 0.0, length, length}, {0.0, length}, 1, 1, {v}, {a}, 64);
    ASSERT_EQ(r.status, k::OptimalStatus::ok);
    // The common time scale leaves the binding peak about 6e-11 below its limit.
    EXPECT_NEAR(r.plan.duration, length / v + v / a, 1e-9);
    EXPECT_EQ(r.knots.front(), 0.0);
    EXPECT_NEAR(k::value_at(r.knots.back(), r.knots, r.coefs, 2), length, 1e-12);
}

TEST(Optimal, CompositionKeepsThePath) {
    // Axis 0 is s itself, so the result's axis 0 is s(t) and axis 1 must be q1(s(t)).
    const std::vector<double> t{-1.0, -1.0, -1.0, -1.0, 0.2, 0.5, 2.0, 2.0, 2.0, 2.0};
    const std::vector<double> q1{0.3, -1.0, 2.0, 0.5, -0.7, 1.1};
    std::vector<double> c;
    for (std::size_t i = 0; i < q1.size(); ++i) {
        double g = 0.0;  // Greville abscissa: the cubic's coefficients of the identity
        for (std::size_t m = 1; m <= 3; ++m) g += t[i + m] / 3.0;
        c.push_back(g);
        c.push_back(q1[i]);
    }
    const Result r = plan(t, c, 3, 2, {2.0, 3.0}, {4.0, 5.0}, 40);
    ASSERT_EQ(r.status, k::OptimalStatus::ok);
    const std::vector<double> s = column(r.coefs, 2, 0), y = column(r.coefs, 2, 1);
    EXPECT_EQ(r.knots.front(), -1.0);
    double last = -1.0;
    for (int i = 0; i <= 500; ++i) {
        const double time = r.knots.front() + (r.knots.back() - r.knots.front()) * i / 500.0;
        const double si = k::value_at(time, r.knots, s, 6);
        EXPECT_GE(si, last - 1e-14);
        last = si;
        EXPECT_NEAR(k::value_at(time, r.knots, y, 6), k::value_at(si, t, q1, 3), 1e-12);
    }
    EXPECT_NEAR(last, 2.0, 1e-13);
}

TEST(Optimal, Refusals) {
    const std::vector<double> t{0.0, 0.0, 1.0, 1.0};
    const std::vector<double> still{0.5, 0.5}, move{0.0, 1.0};
    EXPECT_EQ(plan(t, still, 1, 1, {1.0}, {1.0}, 8).status, k::OptimalStatus::stands_still);
    EXPECT_EQ(plan(t, move, 1, 1, {0.0}, {1.0}, 8).status, k::OptimalStatus::bad_limits);
    EXPECT_EQ(plan(t, move, 1, 1, {1.0}, {NAN}, 8).status, k::OptimalStatus::bad_limits);
    // Entering at twice the speed limit, or too fast to stop in the length given.
    EXPECT_EQ(plan(t, move, 1, 1, {1.0}, {1.0}, 8, 2.0).status, k::OptimalStatus::infeasible);
    EXPECT_EQ(plan(t, move, 1, 1, {1.0}, {1.0}, 8, 1.0, 0.0).status, k::OptimalStatus::ok);
    EXPECT_EQ(plan(t, move, 1, 1, {10.0}, {1.0}, 8, 3.0, 0.0).status, k::OptimalStatus::infeasible);
    // A jump: a linear path with a double knot holding two values.
    const std::vector<double> jt{0.0, 0.0, 0.5, 0.5, 1.0, 1.0}, jc{0.0, 0.5, 0.7, 1.0};
    EXPECT_EQ(plan(jt, jc, 1, 1, {1.0}, {1.0}, 8).status, k::OptimalStatus::broken);
    EXPECT_FALSE(k::optimal_size(t, 1, 1, 1).ok);
    EXPECT_FALSE(k::optimal_size(t, 600, 1, 8).ok);
}

TEST(Optimal, CornerIsPassedAtRest) {
    // An L-shaped path of two axes: the motion stops at the corner, where the speed must vanish.
    const std::vector<double> t{0.0, 0.0, 1.0, 2.0, 2.0}, c{0.0, 0.0, 1.0, 0.0, 1.0, 1.0};
    const Result r = plan(t, c, 1, 2, {1.0, 1.0}, {1.0, 1.0}, 8);
    ASSERT_EQ(r.status, k::OptimalStatus::ok);
    // Each leg of length 1 from rest to rest at acceleration 1: 2 s.
    EXPECT_NEAR(r.plan.duration, 4.0, 1e-9);
}

}  // namespace
