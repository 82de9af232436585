// Splines of several columns: values against the reference evaluator column by column (any order
// of the abscissae, both evaluation forms), and joint knot removal against one-column removal.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "bspline.hpp"
#include "reference.hpp"

namespace k = pyorvex::kernel;

namespace {

// dof columns of random coefficients on one random knot vector, row-major.
struct Rows {
    reference::Spline first;  // column 0 with the shared knots
    std::vector<double> c;
    std::size_t dof;
    std::vector<double> column(std::size_t j) const {
        std::vector<double> out;
        for (std::size_t i = j; i < c.size(); i += dof) out.push_back(c[i]);
        return out;
    }
};

Rows random_rows(std::mt19937 &rng, int p, int n, std::size_t dof, int max_mult) {
    Rows r{reference::random_clamped(rng, p, n, 0.0, 1.0, max_mult), {}, dof};
    std::uniform_real_distribution<double> v(-2.0, 2.0);
    for (std::size_t i = 0; i < r.first.c.size() * dof; ++i) r.c.push_back(v(rng));
    return r;
}

}  // namespace

TEST(Rows, ValuesMatchEachColumnInAnyOrder) {
    std::mt19937 rng(7);
    // Coefficients near the largest double overflow a span's Bernstein rows (binomials times
    // convex combinations): those spans must fall back to the recursion.
    for (const double scale : {1.0, 7e307})
        for (int p : {0, 1, 3, 5, 8}) {
            Rows r = random_rows(rng, p, p + 9, 3, p);
            for (double &c : r.c) c *= scale;
            // Dense increasing points (runs of four at a time), then the same shuffled (the basis
            // form per point), the two ends and a NaN.
            std::vector<double> xs;
            for (int i = 0; i <= 400; ++i) xs.push_back(i / 400.0);
            std::vector<double> shuffled = xs;
            std::shuffle(shuffled.begin(), shuffled.end(), rng);
            shuffled.push_back(std::nan(""));
            for (const auto &x : {xs, shuffled}) {
                std::vector<double> out(x.size() * r.dof);
                k::values_rows(x, r.first.t, r.c, p, r.dof, out);
                for (std::size_t j = 0; j < r.dof; ++j) {
                    const std::vector<double> col = r.column(j);
                    for (std::size_t i = 0; i < x.size(); ++i) {
                        const double want =
                            std::isnan(x[i]) ? x[i] : k::value_at(x[i], r.first.t, col, p);
                        EXPECT_TRUE(
                            reference::close(out[i * r.dof + j], want, 1e-12, 1e-12 * scale))
                            << "p " << p << " x " << x[i] << " column " << j;
                    }
                }
            }
        }
}

TEST(Rows, RemovalIsJointAndWithinTolerance) {
    std::mt19937 rng(3);
    for (int p : {1, 2, 3, 4}) {
        Rows r = random_rows(rng, p, p + 6, 2, 1);
        // Column 1 is smooth where column 0 may not be: a knot goes only if both allow it.
        std::vector<double> t = r.first.t, c = r.c;
        const int removed = k::remove_knots_rows(t, c, p, 2, 1e-9);
        for (std::size_t j = 0; j < 2; ++j) {
            std::vector<double> tj = r.first.t, cj = r.column(j);
            EXPECT_LE(removed, k::remove_knots(tj, cj, p, 1e-9)) << "p " << p;
        }
        t.resize(t.size() - removed);
        c.resize(c.size() - 2 * static_cast<std::size_t>(removed));
        Rows after{{t, {}, p}, c, 2};
        for (std::size_t j = 0; j < 2; ++j)
            for (int i = 0; i <= 50; ++i) {
                const double x = i / 50.0;
                EXPECT_NEAR(k::value_at(x, t, after.column(j), p),
                            k::value_at(x, r.first.t, r.column(j), p), 1e-8);
            }
        // Knots inserted into every column come out again, all of them.
        std::vector<double> nt(r.first.t.size() + 2), c0 = r.column(0), n0(c0.size() + 2);
        k::insert_knot(r.first.t, c0, p, 0.37, 2, nt, n0);
        std::vector<double> rows(n0.size() * 2);
        for (std::size_t i = 0; i < n0.size(); ++i) rows[2 * i] = rows[2 * i + 1] = n0[i];
        EXPECT_EQ(k::remove_knot_rows(nt, rows, p, 2, 0.37, 2, 1e-12), std::min(2, p + 1));
    }
}
