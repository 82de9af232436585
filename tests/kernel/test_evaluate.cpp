// Evaluation: value_at, values_sorted, derivatives_at and derivatives_sorted against the
// brute-force Cox-de Boor reference, on clamped and awkward knot vectors, plus the behaviour at
// and beyond the domain ends, on NaN, on bad sizes and on hostile input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <utility>
#include <vector>

#include "bspline.hpp"
#include "eval_detail.hpp"
#include "spline_cases.hpp"

// The batch evaluators are built for baseline x86-64, for AVX2 with FMA and for AVX-512VL, and the
// kernel picks one at run time. This machine runs one of them through the public functions; the
// baseline and AVX2 builds are compiled here from the same source so that they are tested too.
#pragma GCC diagnostic ignored "-Wpsabi"
namespace pyorvex::kernel::baseline_build {
#include "eval_batch_portable.hpp"
}  // namespace pyorvex::kernel::baseline_build

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define PYORVEX_TEST_AVX2 1
#pragma GCC push_options
#pragma GCC target("avx2,fma")
namespace pyorvex::kernel::avx2_build {
#include "eval_batch_x86.hpp"
}  // namespace pyorvex::kernel::avx2_build
#pragma GCC pop_options
#endif

namespace k = pyorvex::kernel;
using cases::Kind;
using reference::Spline;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Degrees 0..7 have specialised code; 8 and 9 take the generic path. The reference is
// exponential in the degree, so the high ones get fewer cases.
int reps_for(int p) { return p <= 5 ? 6 : (p <= 7 ? 3 : 1); }

std::string what(Kind kind, int p, double x, int order = 0) {
    return cases::name(kind) + " p=" + std::to_string(p) + " order=" + std::to_string(order) +
           " x=" + std::to_string(x);
}

double cmax(const Spline &s) {
    double m = 0.0;
    for (double c : s.c) m = std::max(m, std::fabs(c));
    return m;
}

// Sorted test points: with dense = true every knot, its neighbours and random points (see
// cases::abscissae); otherwise only random points and the two domain ends, so that a knot vector
// with more spans than points makes the walk jump.
std::vector<double> sorted_points(std::mt19937 &rng, const Spline &s, int count, bool dense) {
    if (dense) return cases::abscissae(rng, s, count);
    std::uniform_real_distribution<double> u(s.t.front(), s.t.back());
    std::vector<double> xs = {s.t.front(), s.t.back()};
    for (int i = 0; i < count; ++i) xs.push_back(u(rng));
    std::sort(xs.begin(), xs.end());
    xs.erase(std::unique(xs.begin(), xs.end()), xs.end());
    return xs;
}

}  // namespace

TEST(ValueAt, MatchesTheReferenceOnEveryKindOfKnotVector) {
    std::mt19937 rng(101);
    for (Kind kind : cases::all_kinds)
        for (int p = 0; p <= 9; ++p)
            for (int rep = 0; rep < reps_for(p); ++rep) {
                const Spline s = cases::make(rng, kind, p, 8 + static_cast<int>(rng() % 8));
                for (double x : cases::abscissae(rng, s, 25)) {
                    const auto want = cases::ref(s, x);
                    const double got = k::value_at(x, s.t, s.c, p);
                    EXPECT_TRUE(cases::near(got, want))
                        << what(kind, p, x) << " got " << got << " want " << want.value;
                }
            }
}

TEST(DerivativesAt, EveryOrderMatchesTheReferenceAndOrdersAboveTheDegreeVanish) {
    std::mt19937 rng(102);
    for (Kind kind : cases::all_kinds)
        for (int p = 0; p <= 9; ++p)
            for (int rep = 0; rep < reps_for(p); ++rep) {
                const Spline s = cases::make(rng, kind, p, 8 + static_cast<int>(rng() % 6));
                const int nu = p + 2;
                std::vector<double> out(nu + 1);
                for (double x : cases::abscissae(rng, s, 12)) {
                    k::derivatives_at(x, s.t, s.c, p, nu, out);
                    for (int q = 0; q <= p; ++q) {
                        const auto want = cases::ref(s, x, q);
                        EXPECT_TRUE(cases::near(out[q], want))
                            << what(kind, p, x, q) << " got " << out[q] << " want " << want.value;
                    }
                    for (int q = p + 1; q <= nu; ++q) EXPECT_EQ(out[q], 0.0) << what(kind, p, x, q);
                }
            }
}

// Checks a pair of batch evaluators (values in place; derivative rows first..last) against the
// reference on every kind of knot vector, with four densities of points: long runs per span,
// about ten points per span (spans taken four at a time), short runs, and fewer points than
// spans (long jumps in the walk).
template <class Values, class Derivatives>
void check_batch(int max_p, std::uint32_t seed, Values &&values, Derivatives &&derivatives) {
    std::mt19937 rng(seed);
    const int shapes[][2] = {{6, 300}, {40, 400}, {40, 80}, {150, 12}};  // coefficients, points
    for (Kind kind : cases::all_kinds)
        for (int p = 0; p <= max_p; ++p)
            for (const auto &shape : shapes) {
                if (p >= 8 && shape[0] > 40) continue;  // the reference is slow there
                const Spline s = cases::make(rng, kind, p, shape[0]);
                const int count = shape[1] / (p >= 8 ? 5 : p >= 6 ? 2 : 1);
                const std::vector<double> xs = sorted_points(rng, s, count, shape[0] <= 40);
                const std::size_t m = xs.size();
                std::vector<cases::RefValue> want((p + 1) * m);  // order q at xs[i]: q * m + i
                for (int q = 0; q <= p; ++q)
                    for (std::size_t i = 0; i < m; ++i) want[q * m + i] = cases::ref(s, xs[i], q);
                std::vector<double> vals = xs;
                values(s, vals);
                for (std::size_t i = 0; i < m; ++i)
                    ASSERT_TRUE(cases::near(vals[i], want[i]))
                        << what(kind, p, xs[i]) << " n=" << shape[0] << " got " << vals[i]
                        << " want " << want[i].value;
                const int ranges[][2] = {
                    {0, p + 1}, {1, 1}, {std::min(2, p), std::min(2, p)}, {p, p + 2}};
                for (const auto &r : ranges) {
                    const int first = r[0], last = r[1];
                    std::vector<double> work((last - first + 1) * m, -12345.0);
                    derivatives(s, xs, first, last, work);
                    for (int q = first; q <= last; ++q)
                        for (std::size_t i = 0; i < m; ++i) {
                            const double got = work[(q - first) * m + i];
                            if (q > p) {
                                ASSERT_EQ(got, 0.0) << what(kind, p, xs[i], q);
                                continue;
                            }
                            ASSERT_TRUE(cases::near(got, want[q * m + i]))
                                << what(kind, p, xs[i], q) << " rows " << first << ".." << last
                                << " n=" << shape[0] << " got " << got << " want "
                                << want[q * m + i].value;
                        }
                }
            }
}

TEST(SortedEvaluation, ValuesAndEveryOrderRangeAgreeWithTheReference) {
    auto values = [](const Spline &s, std::vector<double> &xs) {
        k::values_sorted(xs, s.t, s.c, s.p);
    };
    auto derivatives = [](const Spline &s, const std::vector<double> &xs, int first, int last,
                          std::vector<double> &work) {
        k::derivatives_sorted(xs, s.t, s.c, s.p, first, last, work);
    };
    check_batch(8, 103, values, derivatives);  // 8: the generic path
}

// The batch code of one build proper; what the public functions settle before calling it
// (sizes, no span, orders above the degree) is left to them.
template <class Values, class Derivatives>
void check_build(std::uint32_t seed, Values &&values_switch, Derivatives &&derivatives_switch) {
    auto view = [](const Spline &s) {
        k::detail::View v;
        const bool ok = k::detail::make_view(s.t, s.c, s.p, v) && k::detail::has_span(v);
        return std::pair{ok, v};
    };
    auto values = [&](const Spline &s, std::vector<double> &xs) {
        const auto [ok, v] = view(s);
        if (ok)
            values_switch(v, xs.data(), xs.size());
        else
            k::values_sorted(xs, s.t, s.c, s.p);
    };
    auto derivatives = [&](const Spline &s, const std::vector<double> &xs, int first, int last,
                           std::vector<double> &work) {
        const auto [ok, v] = view(s);
        if (ok && last <= s.p)
            derivatives_switch(v, xs.data(), xs.size(), first, last, work.data());
        else
            k::derivatives_sorted(xs, s.t, s.c, s.p, first, last, work);
    };
    check_batch(7, seed, values, derivatives);
}

TEST(SortedEvaluation, BaselineBuildAgreesWithTheReference) {
    namespace base = pyorvex::kernel::baseline_build;
    check_build(104, base::values_switch, base::derivatives_switch);
}

#ifdef PYORVEX_TEST_AVX2
TEST(SortedEvaluation, Avx2BuildAgreesWithTheReference) {
    if (!__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("fma"))
        GTEST_SKIP() << "no AVX2 with FMA here";
    namespace avx2 = pyorvex::kernel::avx2_build;
    check_build(109, avx2::values_switch, avx2::derivatives_switch);
}
#endif

// The derivative values of a mesh whose spans differ by orders of magnitude in length vary
// strongly inside one span; the batch forms must keep them to the accuracy of the recursion:
// a few points per span (de Boor per point) and many (the span's Bernstein form), for all
// orders together and for each order alone.
TEST(DerivativesSorted, GradedMeshKeepsTheAccuracyOfTheRecursion) {
    std::mt19937 rng(105);
    for (int p = 2; p <= 7; ++p)
        for (int per_span : {9, 64}) {
            std::vector<double> t(p + 1, 0.0);
            for (double x = 1e-6; x < 1.0; x *= 7.0) t.push_back(x);
            t.insert(t.end(), p + 1, 1.0);
            const Spline s = cases::with_knots(rng, p, t);
            std::vector<double> xs;
            for (std::size_t j = 0; j + 1 < s.t.size(); ++j)
                if (s.t[j] < s.t[j + 1])
                    for (int q = 0; q < per_span; ++q)
                        xs.push_back(s.t[j] + (s.t[j + 1] - s.t[j]) * q / per_span);
            const std::size_t m = xs.size();
            std::vector<double> all((p + 1) * m), one(m);
            k::derivatives_sorted(xs, s.t, s.c, p, 0, p, all);
            for (int q = 0; q <= p; ++q) {
                k::derivatives_sorted(xs, s.t, s.c, p, q, q, one);
                for (std::size_t i = 0; i < m; ++i) {
                    const auto want = cases::ref(s, xs[i], q);
                    EXPECT_TRUE(cases::near(all[q * m + i], want) && cases::near(one[i], want))
                        << "p=" << p << " q=" << q << " per span " << per_span << " x=" << xs[i]
                        << " got " << all[q * m + i] << " and " << one[i] << " want " << want.value;
                }
            }
        }
}

// Outside the domain each function continues the polynomial of the nearest non-empty span: the
// Taylor series of the reference at the domain end (one-sided there) gives its values.
TEST(Evaluation, OutsideTheDomainContinuesTheNearestSpan) {
    std::mt19937 rng(106);
    for (Kind kind : {Kind::clamped, Kind::unclamped, Kind::end_heavy, Kind::few_coeffs})
        for (int p = 0; p <= 8; ++p) {
            const Spline s = cases::make(rng, kind, p, 10);
            const double a = s.t.front(), b = s.t.back(), len = b - a;
            std::vector<double> da(p + 1), db(p + 1);  // derivatives at the ends / q!
            double fact = 1.0;
            for (int q = 0; q <= p; ++q) {
                if (q > 0) fact *= q;
                da[q] = cases::ref(s, a, q).value / fact;
                db[q] = cases::ref(s, b, q).value / fact;
            }
            auto series = [&](const std::vector<double> &d, double u, int order) {
                // order-th derivative of sum d[q] u^q
                double v = 0.0;
                for (int q = p; q >= order; --q) {
                    double f = 1.0;
                    for (int r = 0; r < order; ++r) f *= q - r;
                    v = v * u + d[q] * f;
                }
                return v;
            };
            const std::vector<double> xs = {a - 0.1 * len, a - 1e-3 * len, b + 1e-3 * len,
                                            b + 0.1 * len};
            std::vector<double> sorted = xs;
            k::values_sorted(sorted, s.t, s.c, p);
            std::vector<double> work(2 * xs.size());
            k::derivatives_sorted(xs, s.t, s.c, p, 0, 1, work);
            for (std::size_t i = 0; i < xs.size(); ++i) {
                const double x = xs[i];
                const bool left = x < a;
                const double u = left ? x - a : x - b;
                const double v0 = series(left ? da : db, u, 0);
                const double v1 = p >= 1 ? series(left ? da : db, u, 1) : 0.0;
                const double tol0 = 1e-10 * std::max(cmax(s), std::fabs(v0));
                const double tol1 = 1e-9 * std::max(std::fabs(v1), cmax(s) / len);
                EXPECT_NEAR(k::value_at(x, s.t, s.c, p), v0, tol0) << what(kind, p, x);
                EXPECT_NEAR(sorted[i], v0, tol0) << what(kind, p, x);
                EXPECT_NEAR(work[i], v0, tol0) << what(kind, p, x);
                std::vector<double> out(2);
                k::derivatives_at(x, s.t, s.c, p, 1, out);
                EXPECT_NEAR(out[1], v1, tol1) << what(kind, p, x, 1);
                EXPECT_NEAR(work[xs.size() + i], v1, tol1) << what(kind, p, x, 1);
            }
        }
}

TEST(Evaluation, NaNAbscissaeGiveNaNAndLeaveTheirNeighboursAlone) {
    std::mt19937 rng(107);
    for (int p = 0; p <= 9; ++p)
        for (int n : {5, 60, 200}) {
            const Spline s = cases::make(rng, Kind::clamped, p, std::max(n, p));
            EXPECT_TRUE(std::isnan(k::value_at(kNaN, s.t, s.c, p))) << p;
            std::vector<double> out(p + 3, 0.5);
            k::derivatives_at(kNaN, s.t, s.c, p, p + 2, out);
            for (double v : out) EXPECT_TRUE(std::isnan(v)) << p;

            // A dense increasing array with NaN at the start, inside runs and at the end.
            std::vector<double> xs;
            for (int i = 0; i <= 300; ++i) xs.push_back(i / 300.0 * 3.0 - 1.0);
            for (std::size_t pos : {0, 1, 7, 8, 150, 151, 298, 300}) xs[pos] = kNaN;
            std::vector<double> vals = xs;
            k::values_sorted(vals, s.t, s.c, p);
            const std::size_t m = xs.size();
            std::vector<double> work(2 * m);
            k::derivatives_sorted(xs, s.t, s.c, p, 0, 1, work);
            for (std::size_t i = 0; i < m; ++i) {
                if (std::isnan(xs[i])) {
                    EXPECT_TRUE(std::isnan(vals[i]) && std::isnan(work[i]) &&
                                std::isnan(work[m + i]))
                        << p << " " << i;
                    continue;
                }
                const double want = k::value_at(xs[i], s.t, s.c, p);
                EXPECT_NEAR(vals[i], want, 1e-12 * cmax(s)) << p << " " << i;
                EXPECT_NEAR(work[i], want, 1e-12 * cmax(s)) << p << " " << i;
                std::vector<double> d(2);
                k::derivatives_at(xs[i], s.t, s.c, p, 1, d);
                EXPECT_NEAR(work[m + i], d[1], 1e-11 * std::max(1.0, std::fabs(d[1])))
                    << p << " " << i;
            }
        }
}

TEST(Evaluation, SizeMismatchesWriteNothing) {
    std::mt19937 rng(108);
    const Spline s = cases::make(rng, Kind::clamped, 3, 8);
    const std::vector<double> short_t(s.t.begin(), s.t.end() - 1);
    const std::vector<double> xs = {0.1, 0.2, 0.3};

    EXPECT_EQ(k::value_at(0.5, short_t, s.c, 3), 0.0);
    EXPECT_EQ(k::value_at(0.5, s.t, s.c, 2), 0.0);
    EXPECT_EQ(k::value_at(0.5, s.t, s.c, -1), 0.0);

    std::vector<double> v = xs;
    k::values_sorted(v, short_t, s.c, 3);
    k::values_sorted(v, s.t, s.c, 4);
    k::values_sorted(v, s.t, s.c, -3);
    EXPECT_EQ(v, xs);

    std::vector<double> out(3, 7.0);
    k::derivatives_at(0.5, s.t, s.c, 3, 3, out);   // needs 4 slots
    k::derivatives_at(0.5, s.t, s.c, 3, 1, out);   // needs 2 slots
    k::derivatives_at(0.5, s.t, s.c, 3, -1, out);  // negative order
    k::derivatives_at(0.5, short_t, s.c, 3, 2, out);
    EXPECT_EQ(out, std::vector<double>(3, 7.0));

    std::vector<double> work(6, 7.0);
    k::derivatives_sorted(xs, s.t, s.c, 3, 0, 2, work);   // needs 9
    k::derivatives_sorted(xs, s.t, s.c, 3, 1, 0, work);   // first > last
    k::derivatives_sorted(xs, s.t, s.c, 3, -1, 0, work);  // negative order
    k::derivatives_sorted(xs, short_t, s.c, 3, 0, 1, work);
    EXPECT_EQ(work, std::vector<double>(6, 7.0));
}

TEST(Evaluation, NoNonEmptySpanOrNoCoefficientGivesZero) {
    for (int p = 0; p <= 9; ++p) {
        // All knots equal: no span at all.
        const std::vector<double> t(p + 4, 0.25), c(3, 1.5);
        EXPECT_EQ(k::value_at(0.25, t, c, p), 0.0);
        EXPECT_EQ(k::value_at(3.0, t, c, p), 0.0);
        EXPECT_TRUE(std::isnan(k::value_at(kNaN, t, c, p)));
        std::vector<double> xs = {0.0, 0.25, kNaN, 1.0};
        std::vector<double> vals = xs;
        k::values_sorted(vals, t, c, p);
        EXPECT_EQ(vals[0], 0.0);
        EXPECT_EQ(vals[1], 0.0);
        EXPECT_TRUE(std::isnan(vals[2]));
        EXPECT_EQ(vals[3], 0.0);
        std::vector<double> work(2 * xs.size(), 9.0);
        k::derivatives_sorted(xs, t, c, p, 0, 1, work);
        for (std::size_t i = 0; i < work.size(); ++i)
            EXPECT_TRUE(i % 4 == 2 ? std::isnan(work[i]) : work[i] == 0.0) << p << " " << i;

        // Spans but no coefficients (t.size() == p + 1): the empty sum.
        std::vector<double> t2(p + 1);
        for (int i = 0; i <= p; ++i) t2[i] = i;
        if (p >= 1) {
            EXPECT_EQ(k::value_at(0.5, t2, {}, p), 0.0);
            std::vector<double> out(2, 3.0);
            k::derivatives_at(0.5, t2, {}, p, 1, out);
            EXPECT_EQ(out, std::vector<double>(2, 0.0));
        }
    }
}

// Garbage knots (unsorted, NaN, infinite), garbage abscissae in any order and extreme degrees:
// whatever the values, nothing outside the given spans is read (checked by the sanitizer build)
// or written (checked here through canaries around every output), and every output is written.
// Long arrays over many spans reach the four-lane runs and the groups of spans; unsorted ones
// come shuffled, reversed, or as sorted blocks laid out last first (long runs that jump back), as
// a caller's array rewritten by another thread between the checks and the kernel could be.
TEST(Evaluation, HostileInputStaysInBounds) {
    std::mt19937 rng(109);
    const double specials[] = {kNaN, kInf, -kInf, 0.0, 1.0, 1e308, -1e308, 5e-324};
    auto value = [&]() {
        return (rng() % 4 == 0) ? specials[rng() % 8]
                                : std::uniform_real_distribution<double>(-2, 2)(rng);
    };
    const double canary = 424242.0;
    for (int trial = 0; trial < 400; ++trial) {
        const int p =
            (trial % 5 == 0) ? 20 + static_cast<int>(rng() % 30) : static_cast<int>(rng() % 10);
        const bool many = trial % 4 == 1;
        const int n = many ? 60 + static_cast<int>(rng() % 60)
                           : static_cast<int>(rng() % 12) - 1;  // -1: no coefficient at all
        std::vector<double> t(n + p + 2), c(std::max(n + 1, 0));
        for (double &x : t) x = value();
        if (trial % 2 == 0 || many) std::sort(t.begin(), t.end());
        for (double &x : c) x = value();
        const std::size_t m = many ? 200 + rng() % 400 : 1 + rng() % 40;
        std::vector<double> xs(m);
        for (double &x : xs) x = value();
        switch (trial % 6) {
            case 0:
                break;  // unsorted as drawn
            case 3:
                std::sort(xs.rbegin(), xs.rend());
                break;
            case 5: {
                std::sort(xs.begin(), xs.end());
                const std::size_t block = 1 + rng() % 50;
                std::vector<double> blocks;
                for (std::size_t end = m; end > 0; end -= std::min(block, end))
                    blocks.insert(blocks.end(), xs.begin() + (end - std::min(block, end)),
                                  xs.begin() + end);
                xs = blocks;
                break;
            }
            default:
                std::sort(xs.begin(), xs.end());
        }

        (void)k::value_at(value(), t, c, p);

        std::vector<double> buf(m + 8, canary);
        std::copy(xs.begin(), xs.end(), buf.begin() + 4);
        k::values_sorted(std::span<double>(buf.data() + 4, m), t, c, p);
        for (int g = 0; g < 4; ++g) ASSERT_EQ(buf[g], canary) << trial;
        for (int g = 0; g < 4; ++g) ASSERT_EQ(buf[m + 4 + g], canary) << trial;

        const int nu = static_cast<int>(rng() % 12);
        std::vector<double> out(nu + 9, canary);
        k::derivatives_at(value(), t, c, p, nu, std::span<double>(out.data() + 4, nu + 1));
        for (int g = 0; g < 4; ++g) ASSERT_EQ(out[g], canary) << trial;
        for (int g = 0; g < 4; ++g) ASSERT_EQ(out[nu + 5 + g], canary) << trial;

        const int first = static_cast<int>(rng() % 4), last = first + static_cast<int>(rng() % 4);
        const std::size_t rows = last - first + 1;
        std::vector<double> work(rows * m + 8, canary);
        k::derivatives_sorted(xs, t, c, p, first, last,
                              std::span<double>(work.data() + 4, rows * m));
        for (int g = 0; g < 4; ++g) ASSERT_EQ(work[g], canary) << trial;
        for (int g = 0; g < 4; ++g) ASSERT_EQ(work[rows * m + 4 + g], canary) << trial;
        for (std::size_t j = 0; j < rows * m; ++j) ASSERT_NE(work[4 + j], canary) << trial;
    }
}
