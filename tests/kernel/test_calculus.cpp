// derivative and antiderivative: the new splines against the reference derivative and against
// Gauss-Legendre quadrature of the reference, on clamped and awkward knot vectors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "bspline.hpp"
#include "spline_cases.hpp"

namespace k = pyorvex::kernel;
using cases::Kind;
using reference::Spline;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Nodes and weights of the 8-point Gauss-Legendre rule on [-1, 1] (exact to degree 15), by
// Newton's method on the Legendre polynomial.
struct Gauss {
    double x[8], w[8];
    Gauss() {
        const int N = 8;
        for (int i = 0; i < N; ++i) {
            double z = std::cos(M_PI * (i + 0.75) / (N + 0.5)), dp = 0.0;
            for (int it = 0; it < 100; ++it) {
                double p0 = 1.0, p1 = 0.0;
                for (int j = 1; j <= N; ++j) {
                    const double p2 = p1;
                    p1 = p0;
                    p0 = ((2.0 * j - 1.0) * z * p1 - (j - 1.0) * p2) / j;
                }
                dp = N * (z * p0 - p1) / (z * z - 1.0);
                const double dz = p0 / dp;
                z -= dz;
                if (std::fabs(dz) < 1e-17) break;
            }
            x[i] = z;
            w[i] = 2.0 / ((1.0 - z * z) * dp * dp);
        }
    }
};

// Integral of the reference spline from its domain start to x, piece by piece between knots.
double integral(const Spline &s, double x) {
    static const Gauss g;
    double sum = 0.0;
    for (std::size_t j = 0; j + 1 < s.t.size(); ++j) {
        const double l = s.t[j], r = std::min(s.t[j + 1], x);
        if (!(l < r)) continue;
        const double half = 0.5 * (r - l), mid = 0.5 * (r + l);
        for (int i = 0; i < 8; ++i) sum += g.w[i] * half * cases::ref(s, mid + half * g.x[i]).value;
    }
    return sum;
}

double cmax(const Spline &s) {
    double m = 0.0;
    for (double c : s.c) m = std::max(m, std::fabs(c));
    return m;
}

struct Result {
    Spline s;
    int K = 0;
};

// The derivative in buffers of the size derivative_size gives, with guards behind them.
Result derivative(const Spline &s, int nu) {
    const k::CalculusSize size = k::derivative_size(s.t, s.c, s.p, nu);
    EXPECT_TRUE(size.ok);
    std::vector<double> nt(size.knots + 3, 777.0), nc(size.coefs + 3, 777.0);
    Result r;
    r.K = k::derivative(s.t, s.c, s.p, nu, std::span<double>(nt.data(), size.knots),
                        std::span<double>(nc.data(), size.coefs));
    EXPECT_EQ(static_cast<std::size_t>(r.K) + 1, size.coefs);
    for (std::size_t i = size.knots; i < nt.size(); ++i) EXPECT_EQ(nt[i], 777.0);
    for (std::size_t i = size.coefs; i < nc.size(); ++i) EXPECT_EQ(nc[i], 777.0);
    const int q = std::max(s.p - nu, 0);
    r.s.p = q;
    r.s.t.assign(nt.begin(), nt.begin() + (r.K + q + 2));
    r.s.c.assign(nc.begin(), nc.begin() + (r.K + 1));
    EXPECT_EQ(r.s.t.size(), size.knots);
    return r;
}

Spline antiderivative(const Spline &s, int nu) {
    const k::CalculusSize size = k::antiderivative_size(s.t, s.c, s.p, nu);
    EXPECT_TRUE(size.ok);
    Spline a;
    a.p = s.p + nu;
    a.t.assign(size.knots, kNaN);
    a.c.assign(size.coefs, kNaN);
    k::antiderivative(s.t, s.c, s.p, nu, a.t, a.c);
    return a;
}

// Knot vectors with both ends clamped (multiplicity >= p + 1), where nothing is padded.
const Kind right_clamped[] = {Kind::clamped, Kind::clamped_repeat, Kind::end_heavy};

// Unclamped at the left end, clamped at the right one.
Spline left_open(std::mt19937 &rng, int p, int n) {
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::vector<double> t;
    for (int i = 0; i < n + 1; ++i) t.push_back(u(rng));
    t.insert(t.end(), p + 1, 1.0);
    return cases::with_knots(rng, p, t);
}

}  // namespace

TEST(Derivative, IsTheDerivativeOnClampedKnotVectors) {
    std::mt19937 rng(201);
    for (Kind kind : right_clamped)
        for (int p = 0; p <= 7; ++p)
            for (int nu = 0; nu <= p; ++nu) {
                const Spline s = cases::make(rng, kind, p, 10);
                const int n = static_cast<int>(s.c.size()) - 1;
                const Result d = derivative(s, nu);
                ASSERT_EQ(d.K, n - nu);
                for (int i = 0; i < d.K + p - nu + 2; ++i) EXPECT_EQ(d.s.t[i], s.t[i + nu]);
                for (double x : cases::abscissae(rng, s, 15)) {
                    const auto want = cases::ref(s, x, nu);
                    const double got = k::value_at(x, d.s.t, d.s.c, d.s.p);
                    EXPECT_TRUE(cases::near(got, want, 1e-11))
                        << cases::name(kind) << " p=" << p << " nu=" << nu << " x=" << x << " got "
                        << got << " want " << want.value;
                }
            }
}

// Without clamped ends the derivative is that of the clamped equivalent: exact on the whole
// domain, with p + 1 - m more coefficients for each end of multiplicity m < p + 1.
TEST(Derivative, UnclampedKnotVectorsAreExactOnTheWholeDomain) {
    std::mt19937 rng(202);
    for (Kind kind : {Kind::unclamped, Kind::lattice, Kind::few_coeffs})
        for (int p = 1; p <= 7; ++p)
            for (int nu = 1; nu <= p; ++nu) {
                const Spline s = cases::make(rng, kind, p, 12);
                const int n = static_cast<int>(s.c.size()) - 1;
                const k::EndPadding pad = k::clamp_padding(s.t, p);
                const Result d = derivative(s, nu);
                ASSERT_EQ(d.K, n + static_cast<int>(pad.left + pad.right) - nu);
                EXPECT_EQ(d.s.t.front(), s.t.front());
                EXPECT_EQ(d.s.t.back(), s.t.back());
                for (double x : cases::abscissae(rng, s, 15)) {
                    const auto want = cases::ref(s, x, nu);
                    const double got = k::value_at(x, d.s.t, d.s.c, d.s.p);
                    EXPECT_TRUE(cases::near(got, want, 1e-11))
                        << cases::name(kind) << " p=" << p << " nu=" << nu << " x=" << x << " got "
                        << got << " want " << want.value;
                }
            }
}

TEST(Derivative, OrderAboveTheDegreeIsTheZeroFunction) {
    std::mt19937 rng(203);
    for (int p = 0; p <= 4; ++p)
        for (int nu : {p + 1, p + 5}) {
            const Spline s = cases::make(rng, Kind::clamped, p, 6);
            const Result d = derivative(s, nu);
            EXPECT_EQ(d.K, 0);
            EXPECT_EQ(d.s.c[0], 0.0);
            std::vector<double> nt(s.t.size(), 5.0), nc(s.c.size(), 5.0);
            k::derivative(s.t, s.c, p, nu, nt, nc);
            EXPECT_EQ(nt[0], s.t.front());
            EXPECT_EQ(nt[1], s.t.back());
            EXPECT_EQ(nc[0], 0.0);
            for (std::size_t i = 2; i < nt.size(); ++i) EXPECT_EQ(nt[i], 5.0);
            for (std::size_t i = 1; i < nc.size(); ++i) EXPECT_EQ(nc[i], 5.0);
        }
}

TEST(Antiderivative, IsTheIntegralFromTheDomainStart) {
    std::mt19937 rng(204);
    for (int variant = 0; variant < 5; ++variant)
        for (int p = 0; p <= 7; ++p) {
            const Spline s = variant < 3    ? cases::make(rng, right_clamped[variant], p, 9)
                             : variant == 3 ? left_open(rng, p, 9)
                                            : cases::make(rng, Kind::unclamped, p, 9);
            const Spline a = antiderivative(s, 1);
            const double scale = cmax(s) * (s.t.back() - s.t.front());
            EXPECT_EQ(k::value_at(s.t.front(), a.t, a.c, a.p), 0.0) << variant << " p=" << p;
            for (double x : cases::abscissae(rng, s, 10)) {
                const double want = integral(s, x);
                EXPECT_NEAR(k::value_at(x, a.t, a.c, a.p), want, 1e-12 * scale)
                    << variant << " p=" << p << " x=" << x;
            }
        }
}

// Repeated integration: the nu-th derivative gives the spline back and every lower derivative
// starts at 0; derivative() of the antiderivative recovers knots and values.
TEST(Antiderivative, RepeatedIntegrationInvertsDifferentiation) {
    std::mt19937 rng(205);
    for (Kind kind : right_clamped)
        for (int p = 0; p <= 5; ++p)
            for (int nu = 1; nu <= 3; ++nu) {
                const Spline s = cases::make(rng, kind, p, 8);
                const Spline a = antiderivative(s, nu);
                std::vector<double> at_start(nu + 1);
                k::derivatives_at(s.t.front(), a.t, a.c, a.p, nu, at_start);
                for (int j = 0; j < nu; ++j)
                    EXPECT_NEAR(at_start[j], 0.0, 1e-14 * cmax(s)) << p << " " << nu << " " << j;

                const Result back = derivative(a, nu);
                ASSERT_EQ(back.K + 1, static_cast<int>(s.c.size()));
                EXPECT_EQ(back.s.t, s.t);
                for (double x : cases::abscissae(rng, s, 10)) {
                    const auto want = cases::ref(s, x);
                    std::vector<double> d(nu + 1);
                    k::derivatives_at(x, a.t, a.c, a.p, nu, d);
                    EXPECT_TRUE(cases::near(d[nu], want, 1e-10))
                        << cases::name(kind) << " p=" << p << " nu=" << nu << " x=" << x;
                    EXPECT_TRUE(
                        cases::near(k::value_at(x, back.s.t, back.s.c, back.s.p), want, 1e-10))
                        << cases::name(kind) << " p=" << p << " nu=" << nu << " x=" << x;
                }
            }
}

// The first-order cases run vector loops four and eight values wide over the middle of the
// arrays, the padding of an unclamped end apart: every length, so that every remainder, and
// both kinds of ends.
TEST(Calculus, FirstOrderResultsOnEveryLength) {
    std::mt19937 rng(208);
    for (int n = 0; n <= 40; ++n)
        for (Kind kind : {Kind::clamped, Kind::unclamped}) {
            const int p = 3;
            const Spline s = kind == Kind::clamped ? cases::make(rng, kind, p, std::max(n, p))
                                                   : cases::make(rng, kind, p, n);
            const Result d = derivative(s, 1);
            const Spline a = antiderivative(s, 1);
            const double scale = cmax(s) * (s.t.back() - s.t.front());
            for (double x : cases::abscissae(rng, s, 6)) {
                const auto want = cases::ref(s, x, 1);
                EXPECT_TRUE(cases::near(k::value_at(x, d.s.t, d.s.c, d.s.p), want, 1e-11))
                    << cases::name(kind) << " n=" << n << " x=" << x;
                EXPECT_NEAR(k::value_at(x, a.t, a.c, a.p), integral(s, x), 1e-12 * scale)
                    << cases::name(kind) << " n=" << n << " x=" << x;
            }
        }
}

TEST(Calculus, SizeMismatchesWriteNothing) {
    std::mt19937 rng(206);
    const Spline s = cases::make(rng, Kind::clamped, 3, 6);
    const std::vector<double> short_t(s.t.begin(), s.t.end() - 1);
    std::vector<double> nt(s.t.size() + 2, 9.0), nc(s.c.size() + 1, 9.0);
    const auto nt0 = nt, nc0 = nc;

    EXPECT_EQ(k::derivative(short_t, s.c, 3, 1, nt, nc), 0);
    EXPECT_EQ(k::derivative(s.t, s.c, 3, -1, nt, nc), 0);
    EXPECT_EQ(k::derivative(s.t, s.c, -3, 1, nt, nc), 0);
    const k::CalculusSize ds = k::derivative_size(s.t, s.c, 3, 1);
    EXPECT_EQ(k::derivative(s.t, s.c, 3, 1, std::span<double>(nt.data(), ds.knots - 1), nc), 0);
    EXPECT_EQ(k::derivative(s.t, s.c, 3, 1, nt, std::span<double>(nc.data(), ds.coefs - 1)), 0);

    k::antiderivative(short_t, s.c, 3, 1, nt, nc);
    k::antiderivative(s.t, s.c, 3, 2, nt, nc);  // needs two more of each
    k::antiderivative(s.t, s.c, 3, -1, nt, nc);
    k::antiderivative(s.t, s.c, 3, 1, nt, std::span<double>(nc.data(), s.c.size()));
    // An unclamped spline needs room for its clamped equivalent: the sizes of a clamped one are
    // refused.
    const Spline u = cases::make(rng, Kind::unclamped, 3, 6);
    EXPECT_EQ(k::derivative(u.t, u.c, 3, 1, std::span<double>(nt.data(), u.t.size()), nc), 0);
    k::antiderivative(u.t, u.c, 3, 1, std::span<double>(nt.data(), u.t.size() + 2),
                      std::span<double>(nc.data(), u.c.size() + 1));
    EXPECT_EQ(nt, nt0);
    EXPECT_EQ(nc, nc0);
}

// Garbage knots and coefficients: no write outside the documented part of the outputs.
TEST(Calculus, HostileInputStaysInBounds) {
    std::mt19937 rng(207);
    const double specials[] = {kNaN, std::numeric_limits<double>::infinity(), 0.0, 1.0, -1e308};
    for (int trial = 0; trial < 300; ++trial) {
        const int p = static_cast<int>(rng() % 8), n = static_cast<int>(rng() % 8);
        const int nu = static_cast<int>(rng() % 10);
        std::vector<double> t(n + p + 2), c(n + 1);
        for (double &x : t) x = rng() % 3 == 0 ? specials[rng() % 5] : (rng() % 100) / 50.0;
        if (trial % 2 == 0) std::sort(t.begin(), t.end());
        for (double &x : c) x = rng() % 5 == 0 ? specials[rng() % 5] : (rng() % 100) / 25.0;

        const k::CalculusSize ds = k::derivative_size(t, c, p, nu);
        ASSERT_TRUE(ds.ok);
        std::vector<double> nt(ds.knots + 4, 1234.0), nc(ds.coefs + 4, 1234.0);
        const int K = k::derivative(t, c, p, nu, std::span<double>(nt.data() + 2, ds.knots),
                                    std::span<double>(nc.data() + 2, ds.coefs));
        EXPECT_EQ(static_cast<std::size_t>(K) + 1, ds.coefs);
        for (int g : {0, 1}) EXPECT_EQ(nt[g], 1234.0);
        for (int g : {0, 1}) EXPECT_EQ(nc[g], 1234.0);
        EXPECT_EQ(nt[ds.knots + 2], 1234.0);
        EXPECT_EQ(nc[ds.coefs + 2], 1234.0);

        const k::CalculusSize as = k::antiderivative_size(t, c, p, nu);
        ASSERT_TRUE(as.ok);
        std::vector<double> at(as.knots + 4, 1234.0), ac(as.coefs + 4, 1234.0);
        k::antiderivative(t, c, p, nu, std::span<double>(at.data() + 2, as.knots),
                          std::span<double>(ac.data() + 2, as.coefs));
        for (int g : {0, 1}) EXPECT_EQ(at[g], 1234.0);
        for (int g : {0, 1}) EXPECT_EQ(ac[g], 1234.0);
        EXPECT_EQ(at[as.knots + 2], 1234.0);
        EXPECT_EQ(ac[as.coefs + 2], 1234.0);
    }
}
