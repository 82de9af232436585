// The planning routines: interpolation through waypoints against a dense solve of the same
// conditions, extrema of a derivative against dense sampling and the evaluator, and derivatives
// at abscissae in any order against the scalar evaluator.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "bspline.hpp"
#include "spline_cases.hpp"

namespace k = pyorvex::kernel;
using cases::Kind;
using reference::Spline;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// --- interpolation ---------------------------------------------------------------------------

struct Waypoints {
    std::vector<double> times, values, start, stop;
};

// m waypoints with gaps spread over a decade, and end derivatives: k at the start, p - 1 - k at
// the stop.
Waypoints waypoints(std::mt19937 &rng, int m, int p, int k) {
    std::uniform_real_distribution<double> gap(-1.0, 0.0), v(-3.0, 3.0);
    Waypoints w;
    double x = v(rng);
    for (int i = 0; i < m; ++i) {
        w.times.push_back(x);
        w.values.push_back(v(rng));
        x += std::pow(10.0, gap(rng));
    }
    for (int i = 0; i < k; ++i) w.start.push_back(v(rng));
    for (int i = 0; i < p - 1 - k; ++i) w.stop.push_back(v(rng));
    return w;
}

// The same conditions as a dense system from the reference basis.
struct Dense {
    std::vector<std::vector<double>> a;
    std::vector<double> b;
};

Dense dense_system(const Waypoints &w, const std::vector<double> &t, int p) {
    const int n = static_cast<int>(t.size()) - p - 1;
    Dense sys;
    auto row = [&](double x, int d, double rhs) {
        std::vector<double> r(n);
        for (int j = 0; j < n; ++j) r[j] = reference::basis_derivative(t, j, p, d, x);
        sys.a.push_back(r);
        sys.b.push_back(rhs);
    };
    for (std::size_t i = 0; i < w.times.size(); ++i) row(w.times[i], 0, w.values[i]);
    for (std::size_t d = 0; d < w.start.size(); ++d) row(w.times.front(), d + 1, w.start[d]);
    for (std::size_t d = 0; d < w.stop.size(); ++d) row(w.times.back(), d + 1, w.stop[d]);
    return sys;
}

// Gaussian elimination with partial pivoting.
std::vector<double> dense_solution(Dense sys) {
    auto &a = sys.a;
    auto &b = sys.b;
    const int n = static_cast<int>(b.size());
    for (int j = 0; j < n; ++j) {
        int piv = j;
        for (int i = j + 1; i < n; ++i)
            if (std::fabs(a[i][j]) > std::fabs(a[piv][j])) piv = i;
        std::swap(a[j], a[piv]);
        std::swap(b[j], b[piv]);
        for (int i = j + 1; i < n; ++i) {
            const double f = a[i][j] / a[j][j];
            for (int c = j; c < n; ++c) a[i][c] -= f * a[j][c];
            b[i] -= f * b[j];
        }
    }
    std::vector<double> c(n);
    for (int j = n - 1; j >= 0; --j) {
        double s = b[j];
        for (int i = j + 1; i < n; ++i) s -= a[j][i] * c[i];
        c[j] = s / a[j][j];
    }
    return c;
}

struct Fit {
    k::InterpolationStatus status;
    Spline s;
};

Fit fit(const Waypoints &w, int p) {
    const k::InterpolationSize size =
        k::interpolation_size(w.times.size(), p, w.start.size(), w.stop.size());
    Fit f{k::InterpolationStatus::bad_buffers, {}};
    if (!size.ok) return f;
    f.s = {std::vector<double>(size.knots), std::vector<double>(size.coefs), p};
    std::vector<double> work(size.work);
    k::InterpolationCheck check;
    f.status = k::interpolate(w.times, w.values, p, w.start, w.stop, f.s.t, f.s.c, work, check);
    return f;
}

class Interpolation : public ::testing::TestWithParam<std::pair<int, int>> {};

// Degrees with every split of the end derivatives (the band's shape depends on it), on waypoint
// counts from the fewest to many.
std::vector<std::pair<int, int>> degree_splits() {
    std::vector<std::pair<int, int>> out;
    for (int p : {1, 2, 3, 4, 5, 6, 7, 9})
        for (int k = 0; k <= p - 1; ++k) out.push_back({p, k});
    return out;
}

TEST_P(Interpolation, SolvesTheConditionsAsADenseSolveDoes) {
    const auto [p, k] = GetParam();
    std::mt19937 rng(1600 + 17 * p + k);
    // With the end derivatives split about evenly the system is well conditioned at any length;
    // with most of them at one end it is an unstable recurrence along the waypoints, whose
    // solution no solver gets beyond a few waypoints, so those run on few.
    const bool balanced = std::abs(2 * k - (p - 1)) <= 1;
    for (int m : {2, 3, p + 2, 40}) {
        if (!balanced && m > 3) continue;
        const Waypoints w = waypoints(rng, m, p, k);
        const Fit f = fit(w, p);
        // Off balance, the error bound may not certify even a few waypoints: refused, not wrong.
        if (!balanced && f.status == k::InterpolationStatus::inaccurate) continue;
        ASSERT_EQ(f.status, k::InterpolationStatus::ok) << "m=" << m;
        std::vector<double> t(p + 1, w.times.front());
        t.insert(t.end(), w.times.begin() + 1, w.times.end() - 1);
        t.insert(t.end(), p + 1, w.times.back());
        EXPECT_EQ(f.s.t, t);
        const std::vector<double> want = dense_solution(dense_system(w, t, p));
        double scale = 0.0;
        for (double c : want) scale = std::max(scale, std::fabs(c));
        ASSERT_EQ(f.s.c.size(), want.size());
        for (std::size_t i = 0; i < want.size(); ++i)
            EXPECT_NEAR(f.s.c[i], want[i], 1e-10 * scale) << "m=" << m << " i=" << i;
        for (int i = 0; i < m; ++i)
            EXPECT_NEAR(k::value_at(w.times[i], f.s.t, f.s.c, p), w.values[i], 1e-10 * scale);
    }
}

INSTANTIATE_TEST_SUITE_P(DegreesAndEnds, Interpolation, ::testing::ValuesIn(degree_splits()),
                         [](const auto &info) {
                             return "p" + std::to_string(info.param.first) + "_start" +
                                    std::to_string(info.param.second);
                         });

TEST(InterpolationRefusal, EachBadInputHasItsCodeAndWritesNothing) {
    using S = k::InterpolationStatus;
    std::mt19937 rng(1699);
    const Waypoints good = waypoints(rng, 6, 5, 2);
    struct Case {
        std::string what;
        Waypoints w;
        int p;
        S want;
    };
    std::vector<Case> cases;
    auto with = [&](std::string what, int p, S want, auto change) {
        Waypoints w = good;
        change(w);
        cases.push_back({what, w, p, want});
    };
    with("degree 0", 0, S::bad_degree, [](Waypoints &) {});
    with("degree above the limit", k::kMaxDegree + 1, S::bad_degree, [](Waypoints &) {});
    with("lengths differ", 5, S::bad_lengths, [](Waypoints &w) { w.values.pop_back(); });
    with("one waypoint", 5, S::too_few_points, [](Waypoints &w) {
        w.times.resize(1);
        w.values.resize(1);
    });
    with("too many end derivatives", 5, S::bad_conditions,
         [](Waypoints &w) { w.stop.push_back(0.0); });
    with("too few end derivatives", 5, S::bad_conditions, [](Waypoints &w) { w.start.clear(); });
    with("repeated time", 5, S::bad_times, [](Waypoints &w) { w.times[3] = w.times[2]; });
    with("decreasing time", 5, S::bad_times,
         [](Waypoints &w) { std::swap(w.times[1], w.times[2]); });
    with("NaN time", 5, S::bad_times, [](Waypoints &w) { w.times[4] = kNaN; });
    with("infinite last time", 5, S::bad_times, [](Waypoints &w) { w.times.back() = kInf; });
    with("NaN value", 5, S::bad_values, [](Waypoints &w) { w.values[2] = kNaN; });
    with("infinite end derivative", 5, S::bad_values, [](Waypoints &w) { w.stop[0] = -kInf; });
    with("spacing that overflows", 5, S::unsolvable, [](Waypoints &w) {
        for (std::size_t i = 0; i < w.times.size(); ++i) w.times[i] = 1e-310 * i;
    });
    with("every end condition at the start of a high degree", 21, S::inaccurate,
         [](Waypoints &w) { w.start.assign(20, 0.0), w.stop.clear(); });
    with("a caller that interrupts", 5, S::interrupted, [](Waypoints &) {});
    for (const Case &c : cases) {
        const int p = std::max(1, std::min(c.p, k::kMaxDegree));
        const k::InterpolationSize size =
            k::interpolation_size(c.w.times.size(), p, c.w.start.size(), c.w.stop.size());
        std::vector<double> t(size.ok ? size.knots : 8, 7.0), co(size.ok ? size.coefs : 2, 7.0);
        std::vector<double> work(size.ok ? size.work : 0);
        k::InterpolationCheck check;
        if (c.want == S::interrupted) check.interrupted = [](void *) { return true; };
        EXPECT_EQ(
            k::interpolate(c.w.times, c.w.values, c.p, c.w.start, c.w.stop, t, co, work, check),
            c.want)
            << c.what;
        EXPECT_TRUE(std::all_of(t.begin(), t.end(), [](double x) { return x == 7.0; })) << c.what;
        EXPECT_TRUE(std::all_of(co.begin(), co.end(), [](double x) { return x == 7.0; })) << c.what;
    }
    // Buffers of other sizes than the rule's.
    const k::InterpolationSize size = k::interpolation_size(6, 5, 2, 2);
    ASSERT_TRUE(size.ok);
    std::vector<double> t(size.knots), co(size.coefs), work(size.work - 1);
    k::InterpolationCheck check;
    EXPECT_EQ(k::interpolate(good.times, good.values, 5, good.start, good.stop, t, co, work, check),
              S::bad_buffers);
}

// --- extrema ---------------------------------------------------------------------------------

// Left and right limits of the derivative of order nu at x (they differ at a knot where that
// derivative jumps).
double right_value(const Spline &s, double x, int nu) {
    std::vector<double> d(nu + 1);
    k::derivatives_at(x, s.t, s.c, s.p, nu, d);
    return d[nu];
}

double left_value(const Spline &s, double x, int nu) {
    const double y = x > s.t.front() ? std::nextafter(x, -kInf) : x;
    return right_value(s, y, nu);
}

// Splines of every kind plus a symmetric single span, whose derivative has a root exactly where
// the search halves the span.
std::vector<Spline> extrema_cases(std::mt19937 &rng, int p) {
    std::vector<Spline> out;
    for (Kind kind : cases::all_kinds) out.push_back(cases::make(rng, kind, p, 6 + rng() % 6));
    Spline sym{std::vector<double>(p + 1, 0.0), {}, p};
    sym.t.insert(sym.t.end(), p + 1, 1.0);
    std::uniform_real_distribution<double> v(-2.0, 2.0);
    sym.c.resize(p + 1);
    for (int i = 0; i <= p / 2; ++i) sym.c[i] = sym.c[p - i] = v(rng);
    out.push_back(sym);
    return out;
}

// Newton's method on the next derivative from x, within the domain: the critical point of a
// sampled peak.
double polish(const Spline &s, double x, int nu) {
    std::vector<double> d(nu + 3);
    for (int it = 0; it < 30; ++it) {
        k::derivatives_at(x, s.t, s.c, s.p, nu + 2, d);
        if (d[nu + 2] == 0.0) break;
        const double next = x - d[nu + 1] / d[nu + 2];
        if (!(next >= s.t.front() && next <= s.t.back()) ||
            !(std::fabs(next - x) < 1e-2 * (s.t.back() - s.t.front())))
            break;
        x = next;
    }
    return x;
}

class Extremum : public ::testing::TestWithParam<int> {};

TEST_P(Extremum, IsTakenWhereReportedAndBoundsTheSampledPeaks) {
    const int p = GetParam();
    std::mt19937 rng(1700 + p);
    std::vector<double> work(k::extrema_work_size(p));
    for (const Spline &s : extrema_cases(rng, p))
        for (int nu = 0; nu <= std::min(p, 3); ++nu) {
            k::Extrema e;
            ASSERT_EQ(k::extrema(s.t, s.c, p, nu, work, e), k::EvalStatus::ok);
            // Every knot from both sides and a dense grid.
            const std::vector<double> xs = cases::abscissae(rng, s, 4000);
            double lo = kInf, hi = -kInf, xlo = 0.0, xhi = 0.0, scale = 1e-300;
            for (double x : xs)
                for (double v : {right_value(s, x, nu), left_value(s, x, nu)}) {
                    if (v < lo) lo = v, xlo = x;
                    if (v > hi) hi = v, xhi = x;
                    scale = std::max(scale, std::fabs(v));
                }
            const double tol = 1e-10 * scale;
            const std::string what = "p=" + std::to_string(p) + " nu=" + std::to_string(nu);
            EXPECT_GE(e.vmax, hi - tol) << what;
            EXPECT_LE(e.vmin, lo + tol) << what;
            if (nu + 2 <= p) {  // the sampled peaks polished to their critical points
                EXPECT_GE(e.vmax, right_value(s, polish(s, xhi, nu), nu) - tol) << what;
                EXPECT_LE(e.vmin, right_value(s, polish(s, xlo, nu), nu) + tol) << what;
            }
            // Each extremum is the function's value where reported, from one side of a knot.
            for (auto [x, v] : {std::pair{e.tmax, e.vmax}, std::pair{e.tmin, e.vmin}}) {
                ASSERT_TRUE(x >= s.t.front() && x <= s.t.back()) << what;
                const double r = right_value(s, x, nu), l = left_value(s, x, nu);
                EXPECT_TRUE(std::fabs(r - v) <= tol || std::fabs(l - v) <= tol)
                    << what << " x=" << x << " v=" << v << " right=" << r << " left=" << l;
            }
        }
}

INSTANTIATE_TEST_SUITE_P(Degrees, Extremum, ::testing::Values(0, 1, 2, 3, 4, 5, 6, 7, 9, 12));

// Axes in rows: each axis's extrema those of extrema() on its own column (the same pieces and the
// same tracker: equal up to the rounding of the critical points' abscissae), and the peak ratio
// the one those extrema give, on splines of every kind with three axes.
TEST_P(Extremum, OfAxesInRowsAndTheirPeakRatioAgreeWithEachAxisAlone) {
    const int p = GetParam();
    if (p > k::kExtremaRowsMaxDegree) GTEST_SKIP();
    std::mt19937 rng(2900 + p);
    std::vector<double> work(k::extrema_work_size(p));
    for (const Spline &s : extrema_cases(rng, p)) {
        const std::size_t dof = 3, rows = s.c.size();
        std::vector<double> c(rows * dof), limits{0.5, 2.0, 1e300};
        for (std::size_t i = 0; i < rows; ++i)
            for (std::size_t a = 0; a < dof; ++a) c[i * dof + a] = s.c[i] * (1.0 + a) - a;
        std::vector<double> rows_work(k::extrema_rows_work_size(p, dof));
        // Up to four orders at once, each order's ratio the one it has alone.
        const std::vector<int> nus{p + 1, 0, p / 2, p};
        std::vector<double> all_limits;
        for (std::size_t j = 0; j < nus.size(); ++j)
            all_limits.insert(all_limits.end(), limits.begin(), limits.end());
        std::vector<k::PeakRatio> together(nus.size());
        ASSERT_EQ(k::peak_ratios(s.t, c, p, dof, nus, all_limits, rows_work, together),
                  k::EvalStatus::ok);
        for (int nu = 0; nu <= p + 1; ++nu) {
            std::vector<k::Extrema> out(dof);
            ASSERT_EQ(k::extrema_rows(s.t, c, p, dof, nu, rows_work, out), k::EvalStatus::ok);
            double ratio = 0.0;
            for (std::size_t a = 0; a < dof; ++a) {
                std::vector<double> column(rows);
                for (std::size_t i = 0; i < rows; ++i) column[i] = c[i * dof + a];
                k::Extrema e;
                ASSERT_EQ(k::extrema(s.t, column, p, nu, work, e), k::EvalStatus::ok);
                const double tol = 1e-13 * std::max({std::fabs(e.vmin), std::fabs(e.vmax), 1e-300});
                EXPECT_NEAR(out[a].vmin, e.vmin, tol) << "p=" << p << " nu=" << nu;
                EXPECT_NEAR(out[a].vmax, e.vmax, tol) << "p=" << p << " nu=" << nu;
                ratio = std::max(ratio, std::max(std::fabs(e.vmin), std::fabs(e.vmax)) / limits[a]);
            }
            k::PeakRatio r;
            ASSERT_EQ(k::peak_ratio(s.t, c, p, dof, nu, limits, rows_work, r), k::EvalStatus::ok);
            EXPECT_NEAR(r.ratio, ratio, 1e-13 * ratio) << "p=" << p << " nu=" << nu;
            EXPECT_EQ(r.exceeded, ratio > 1.0 + 1e-13) << "p=" << p << " nu=" << nu;
            for (std::size_t j = 0; j < nus.size(); ++j) {
                if (nus[j] != nu) continue;
                EXPECT_TRUE(together[j].ratio == r.ratio && together[j].exceeded == r.exceeded)
                    << "p=" << p << " nu=" << nu;
            }
        }
    }
}

TEST(ExtremumEdges, OrdersAboveTheDegreeNaNAndRefusals) {
    std::mt19937 rng(1798);
    Spline s = reference::random_clamped(rng, 4, 9);
    std::vector<double> work(k::extrema_work_size(4));
    k::Extrema e;
    ASSERT_EQ(k::extrema(s.t, s.c, 4, 5, work, e), k::EvalStatus::ok);
    EXPECT_EQ(e.tmin, s.t.front());
    EXPECT_EQ(e.tmax, s.t.front());
    EXPECT_EQ(e.vmin, 0.0);
    EXPECT_EQ(e.vmax, 0.0);
    const k::Extrema untouched{1.0, 2.0, 3.0, 4.0};
    e = untouched;
    s.c[6] = kNaN;  // no order among NaN values: refused
    EXPECT_EQ(k::extrema(s.t, s.c, 4, 1, work, e), k::EvalStatus::refused);
    s.c[6] = 0.5;
    const std::vector<double> empty_domain(s.t.size(), 2.0);  // every span empty
    EXPECT_EQ(k::extrema(empty_domain, s.c, 4, 1, work, e), k::EvalStatus::refused);
    std::vector<double> nan_inside = s.t;  // no span left to look at
    for (std::size_t i = 1; i + 1 < nan_inside.size(); ++i) nan_inside[i] = kNaN;
    EXPECT_EQ(k::extrema(nan_inside, s.c, 4, 1, work, e), k::EvalStatus::refused);
    std::vector<double> short_work(work.size() - 1);
    EXPECT_EQ(k::extrema(s.t, s.c, 4, 1, short_work, e), k::EvalStatus::refused);
    EXPECT_EQ(k::extrema(s.t, s.c, 3, 1, work, e), k::EvalStatus::refused);
    EXPECT_EQ(k::extrema(s.t, s.c, 4, -1, work, e), k::EvalStatus::refused);
    const int above = k::kMaxDegree + 1;  // refused like every operation above the limit
    const std::vector<double> t_above(above + 2, 0.0), c_above(1, 1.0);
    EXPECT_EQ(k::extrema(t_above, c_above, above, 0, {}, e), k::EvalStatus::refused);
    EXPECT_EQ(e.vmax, untouched.vmax);
    EXPECT_EQ(e.tmin, untouched.tmin);
}

// --- derivatives at abscissae in any order -----------------------------------------------------

TEST(DerivativesAnyOrder, MatchTheScalarEvaluatorPointByPoint) {
    std::mt19937 rng(1801);
    for (Kind kind : cases::all_kinds)
        for (int p : {0, 1, 3, 5, 7, 9}) {
            const Spline s = cases::make(rng, kind, p, 10);
            std::vector<double> xs = cases::abscissae(rng, s, 30);
            xs.insert(xs.begin(), s.t.front() - 1.0);
            xs.push_back(s.t.back() + 1.0);
            for (bool shuffled : {false, true}) {
                if (shuffled) {  // and a NaN among them
                    xs.push_back(kNaN);
                    std::shuffle(xs.begin(), xs.end(), rng);
                }
                const int first = 1, last = p + 1;  // a row above the degree too
                const std::size_t m = xs.size();
                std::vector<double> rows((last - first + 1) * m, 7.0), d(last + 1);
                k::derivatives_any(xs, s.t, s.c, p, first, last, rows);
                for (std::size_t i = 0; i < m; ++i) {
                    k::derivatives_at(xs[i], s.t, s.c, p, last, d);
                    for (int q = first; q <= last; ++q) {
                        const double got = rows[(q - first) * m + i];
                        const double tol = 1e-12 * (std::fabs(d[q]) + 1.0);
                        EXPECT_TRUE(std::isnan(d[q]) ? std::isnan(got)
                                                     : std::fabs(got - d[q]) <= tol)
                            << cases::name(kind) << " p=" << p << " q=" << q << " x=" << xs[i]
                            << " shuffled=" << shuffled;
                    }
                }
            }
        }
}

}  // namespace
