// The helpers the module runs before evaluation and before a time transform: the sort of unordered
// abscissae, the order scans and the check of the knots a transform would leave. Each is compared
// with a plain scalar reference; the vector paths (baseline SSE2 and AVX2) are called directly so
// that both are tested whatever this machine picks at run time.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "knot_transform.hpp"
#include "order.hpp"
#include "scan.hpp"

namespace k = pyorvex::kernel;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

std::uint64_t bits_of(double x) {
    std::uint64_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

// --- the sort --------------------------------------------------------------------------------

enum class Values { Random, Duplicates, WithNaN, SignedZeros, Infinities, AllNaN, HugeRange };

std::vector<double> values(Values kind, std::size_t m, std::mt19937_64 &rng) {
    std::uniform_real_distribution<double> u(-5.0, 5.0);
    std::uniform_int_distribution<int> pick(0, 9);
    std::vector<double> xs(m);
    for (double &x : xs) {
        x = u(rng);
        switch (kind) {
            case Values::Random:
                break;
            case Values::Duplicates:
                x = pick(rng) * 0.5;
                break;
            case Values::WithNaN:
                // A NaN with a sign and a payload, whose bits must come through.
                if (pick(rng) < 3) x = pick(rng) < 5 ? kNaN : -std::nan("7");
                break;
            case Values::SignedZeros:
                x = pick(rng) < 4 ? (pick(rng) < 5 ? 0.0 : -0.0) : x;
                break;
            case Values::Infinities:
                x = pick(rng) < 2 ? (pick(rng) < 5 ? kInf : -kInf) : x;
                break;
            case Values::AllNaN:
                x = kNaN;
                break;
            case Values::HugeRange:
                x = pick(rng) < 5 ? x * 1e307 : (pick(rng) < 5 ? DBL_MAX : -DBL_MAX);
        }
    }
    return xs;
}

struct SortCase {
    Values kind;
    std::size_t m;
};

class Sort : public ::testing::TestWithParam<SortCase> {};

TEST_P(Sort, GivesTheSortingPermutationWithNaNLast) {
    const SortCase c = GetParam();
    std::mt19937_64 rng(static_cast<std::uint64_t>(c.kind) * 7919 + c.m);
    const std::vector<double> xs = values(c.kind, c.m, rng);

    // Reference: a stable sort of the positions by value, NaN after everything.
    std::vector<std::ptrdiff_t> ref(c.m);
    for (std::size_t i = 0; i < c.m; ++i) ref[i] = static_cast<std::ptrdiff_t>(i);
    std::stable_sort(ref.begin(), ref.end(), [&](std::ptrdiff_t a, std::ptrdiff_t b) {
        const double x = xs[a], y = xs[b];
        if (std::isnan(x) || std::isnan(y)) return !std::isnan(x) && std::isnan(y);
        return x < y;
    });

    const k::SortScratchSize need = k::sort_scratch_size(c.m);
    std::vector<k::SortItem> items(need.items);
    std::vector<std::size_t> starts(need.starts);
    std::vector<double> sorted(c.m);
    std::vector<std::ptrdiff_t> order(c.m, -1);
    k::sort_positions(xs.data(), c.m, sorted.data(), order.data(), items.data(), starts.data());

    std::vector<bool> seen(c.m, false);
    for (std::size_t i = 0; i < c.m; ++i) {
        ASSERT_GE(order[i], 0);
        ASSERT_LT(order[i], static_cast<std::ptrdiff_t>(c.m));
        ASSERT_FALSE(seen[order[i]]) << "position " << order[i] << " twice";
        seen[order[i]] = true;
        ASSERT_EQ(bits_of(sorted[i]), bits_of(xs[order[i]])) << "at " << i;
        const double want = xs[ref[i]];
        // Ties (NaNs among themselves, -0 and +0) may come in any order: compare values only.
        if (std::isnan(want))
            ASSERT_TRUE(std::isnan(sorted[i])) << "at " << i;
        else
            ASSERT_EQ(sorted[i], want) << "at " << i;
    }
}

std::vector<SortCase> sort_cases() {
    std::vector<SortCase> cases;
    // Both sides of the size where the bucket sort takes over.
    for (Values kind : {Values::Random, Values::Duplicates, Values::WithNaN, Values::SignedZeros,
                        Values::Infinities, Values::AllNaN, Values::HugeRange})
        for (std::size_t m : {std::size_t{1}, std::size_t{37}, std::size_t{1023}, std::size_t{1024},
                              std::size_t{5000}})
            cases.push_back({kind, m});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Kernel, Sort, ::testing::ValuesIn(sort_cases()), [](const auto &info) {
    return "kind" + std::to_string(static_cast<int>(info.param.kind)) + "_m" +
           std::to_string(info.param.m);
});

// --- the paths of the scans and of the transform check ----------------------------------------

enum class Path { Scalar, Sse2, Avx2 };

std::string path_name(const ::testing::TestParamInfo<Path> &info) {
    return info.param == Path::Scalar ? "Scalar" : (info.param == Path::Sse2 ? "Sse2" : "Avx2");
}

void skip_unless_available(Path p) {
#if PYORVEX_KERNEL_X86
    if (p == Path::Avx2 && !__builtin_cpu_supports("avx2")) GTEST_SKIP() << "no AVX2 here";
#else
    if (p != Path::Scalar) GTEST_SKIP() << "scalar only here";
#endif
}

std::vector<Path> all_paths() { return {Path::Scalar, Path::Sse2, Path::Avx2}; }

// --- the scans ---------------------------------------------------------------------------------

template <k::scan_detail::Mark M>
bool marked(Path p, const double *a, std::ptrdiff_t from, std::ptrdiff_t end) {
    namespace s = k::scan_detail;
#if PYORVEX_KERNEL_X86
    if (p == Path::Sse2) return s::mark_sse2<M>(a, from, end) != 0;
    if (p == Path::Avx2) return s::mark_avx2<M>(a, from, end) != 0;
#endif
    (void)p;
    return s::mark_scalar<M>(a, from, end) != 0;
}

class Scan : public ::testing::TestWithParam<Path> {};

// Every window [from, end) of an increasing array, with one pair made equal, reversed or NaN
// at every offset: both marks agree with the comparisons written out.
TEST_P(Scan, AgreesWithScalarComparisonsAtEveryOffset) {
    skip_unless_available(GetParam());
    using k::scan_detail::Mark;
    constexpr std::ptrdiff_t n = 41;
    std::vector<double> base(n);
    for (std::ptrdiff_t i = 0; i < n; ++i) base[i] = -3.0 + 0.25 * static_cast<double>(i);
    for (int plant = 0; plant < 4; ++plant) {
        for (std::ptrdiff_t at = 1; at < n; ++at) {
            std::vector<double> a = base;
            if (plant == 0) a[at] = a[at - 1];
            if (plant == 1) std::swap(a[at], a[at - 1]);
            if (plant == 2) a[at] = kNaN;
            if (plant == 3) a[at - 1] = -kNaN;
            for (std::ptrdiff_t from = 1; from <= n; ++from)
                for (std::ptrdiff_t end = from; end <= n; ++end) {
                    bool ge = false, nlt = false, nle = false;
                    for (std::ptrdiff_t j = from; j < end; ++j) {
                        ge = ge || a[j - 1] >= a[j];
                        nlt = nlt || !(a[j - 1] < a[j]);
                        nle = nle || !(a[j - 1] <= a[j]);
                    }
                    const std::string where =
                        "plant " + std::to_string(plant) + " at " + std::to_string(at) +
                        " window [" + std::to_string(from) + ", " + std::to_string(end) + ")";
                    ASSERT_EQ(marked<Mark::NotIncreasing>(GetParam(), a.data(), from, end), ge)
                        << where;
                    ASSERT_EQ(marked<Mark::Suspect>(GetParam(), a.data(), from, end), nlt) << where;
                    ASSERT_EQ(marked<Mark::NotAscending>(GetParam(), a.data(), from, end), nle)
                        << where;
                }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Kernel, Scan, ::testing::ValuesIn(all_paths()), path_name);

// The public scans over arrays longer than their blocks, with a break planted at every position.
TEST(ScanPublic, OrderScansFindEveryBreak) {
    constexpr std::ptrdiff_t n = 2 * 1024 + 13;
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> step(1e-3, 1.0);
    std::vector<double> base(n);
    base[0] = -100.0;
    for (std::ptrdiff_t i = 1; i < n; ++i) base[i] = base[i - 1] + step(rng);
    ASSERT_TRUE(k::strictly_increasing(base.data(), n));
    ASSERT_FALSE(k::order_suspect(base.data(), 0, n));
    ASSERT_TRUE(k::ascending(base.data(), n));
    // The copying scan: the same answer as order_suspect, and a faithful copy, for every break.
    auto copy_agrees = [&](const std::vector<double> &a) {
        std::vector<double> out(n);
        return k::copy_order_suspect(a.data(), n, out.data()) == k::order_suspect(a.data(), 1, n) &&
               std::memcmp(out.data(), a.data(), sizeof(double) * n) == 0;
    };
    ASSERT_TRUE(copy_agrees(base));
    for (std::ptrdiff_t at = 1; at < n; ++at) {
        std::vector<double> a = base;
        a[at] = a[at - 1];
        ASSERT_FALSE(k::strictly_increasing(a.data(), n)) << "equal pair at " << at;
        ASSERT_TRUE(k::ascending(a.data(), n)) << "equal pair at " << at;
        ASSERT_TRUE(k::order_suspect(a.data(), 0, n)) << "equal pair at " << at;
        ASSERT_EQ(k::order_suspect(a.data(), at + 1, n), false) << "window after " << at;
        a[at] = a[at - 1] - 1e-3;
        ASSERT_FALSE(k::ascending(a.data(), n)) << "step down at " << at;
        a[at] = kNaN;  // NaN never fails the strict test, but is suspect, and not ascending
        ASSERT_EQ(k::strictly_increasing(a.data(), n), true) << "NaN at " << at;
        ASSERT_FALSE(k::ascending(a.data(), n)) << "NaN at " << at;
        ASSERT_TRUE(k::order_suspect(a.data(), at, at + 1)) << "NaN at " << at;
        ASSERT_TRUE(copy_agrees(a)) << "NaN at " << at;
        a[at] = a[at - 1] - 1e-3;
        ASSERT_TRUE(copy_agrees(a)) << "step down at " << at;
    }
}

// --- the transform check -----------------------------------------------------------------------

struct Transform {
    bool scale;
    double k;
    bool shift;
    double d;
};

// Reference: every knot transformed as the transform writes it, then the result compared with
// the knots as they are.
k::KnotTransformCheck reference_check(const std::vector<double> &u, const Transform &t) {
    const double u0 = u[0];
    std::vector<double> v(u.size());
    for (std::size_t i = 0; i < u.size(); ++i) {
        double x = u[i];
        if (t.scale && x != u0) {
            x = t.k * x - (t.k - 1.0) * u0;
            if (t.k > 0.0 && x < u0) x = u0;
        }
        if (t.shift) x = x + t.d;
        v[i] = x;
    }
    for (std::size_t i = 0; i < u.size(); ++i)
        if (std::isfinite(u[i]) && !std::isfinite(v[i])) return k::KnotTransformCheck::Overflow;
    if (std::isfinite(u.back() - u0) && !std::isfinite(v.back() - v[0]))
        return k::KnotTransformCheck::Overflow;
    for (std::size_t i = 1; i < u.size(); ++i) {
        const double gap = u[i] - u[i - 1];
        if (gap > 0.0 && !(v[i] - v[i - 1] >= std::min(gap, DBL_MIN)))
            return k::KnotTransformCheck::Merge;
    }
    return k::KnotTransformCheck::Ok;
}

template <bool Scale, bool Shift>
bool merges_on(Path p, const k::KnotTransform &q, const double *u, std::ptrdiff_t m) {
    namespace d = k::knot_transform_detail;
#if PYORVEX_KERNEL_X86
    if (p == Path::Sse2) return d::merges_sse2<Scale, Shift>(q, u, 1, m);
    if (p == Path::Avx2) return d::merges_avx2<Scale, Shift>(q, u, 1, m);
#endif
    (void)p;
    return d::merges_scalar<Scale, Shift>(q, u, 1, m);
}

bool merges_on(Path p, const std::vector<double> &u, const Transform &t) {
    const k::KnotTransform q{u[0], t.k, (t.k - 1.0) * u[0], t.shift ? t.d : 0.0, t.k > 0.0};
    const auto m = static_cast<std::ptrdiff_t>(u.size());
    if (!t.scale) return merges_on<false, true>(p, q, u.data(), m);
    return t.shift ? merges_on<true, true>(p, q, u.data(), m)
                   : merges_on<true, false>(p, q, u.data(), m);
}

class TransformCheck : public ::testing::TestWithParam<Path> {};

TEST_P(TransformCheck, AgreesWithTheTransformWrittenOut) {
    skip_unless_available(GetParam());
    const std::vector<Transform> transforms = {
        {true, 2.0, false, 0.0},      {false, 1.0, true, 0.75},    {true, 0.5, true, -3.0},
        {true, 1e308, false, 0.0},    {false, 1.0, true, DBL_MAX}, {true, 1e-320, false, 0.0},
        {true, -1.0, false, 0.0},     {true, 0.0, true, 1.0},      {false, 1.0, true, 1e6},
        {true, 1e-5, false, 0.0},     {true, 1e-2, false, 0.0},    {true, 3.0, true, -1e308},
        {false, 1.0, true, -DBL_MAX},
    };
    // Clamped knots with one pair planted close at every offset: from 2 spaced 1 apart with a gap
    // of 1e-12 (lost to rounding in a shift by 1e6), and from 0 spaced 1e-300 apart with a gap of
    // 1e-305 (which a factor of 1e-5 takes below the smallest normal double, exactly).
    constexpr int n = 23;
    int seen[3] = {0, 0, 0};
    for (const auto [start, spacing, close] :
         {std::array{2.0, 1.0, 1e-12}, std::array{0.0, 1e-300, 1e-305}}) {
        for (int at = 4; at < n - 4; ++at) {
            std::vector<double> u = {start, start, start};
            for (int i = 3; i < n - 3; ++i) u.push_back(u.back() + (i == at ? close : spacing));
            u.insert(u.end(), 3, u.back() + spacing);
            for (const Transform &t : transforms) {
                const k::KnotTransformCheck want = reference_check(u, t);
                ++seen[static_cast<int>(want)];
                const std::string what = "k=" + std::to_string(t.k) + " d=" + std::to_string(t.d) +
                                         " knots from " + std::to_string(start) +
                                         ", close pair at " + std::to_string(at);
                if (want != k::KnotTransformCheck::Overflow) {
                    ASSERT_EQ(merges_on(GetParam(), u, t), want == k::KnotTransformCheck::Merge)
                        << what;
                }
                ASSERT_EQ(k::check_knot_transform(u.data(), static_cast<std::ptrdiff_t>(u.size()),
                                                  t.scale, t.k, t.shift, t.d),
                          want)
                    << what;
            }
        }
    }
    // The cases above reach every outcome.
    for (int outcome : seen) EXPECT_GT(outcome, 0);
}

INSTANTIATE_TEST_SUITE_P(Kernel, TransformCheck, ::testing::ValuesIn(all_paths()), path_name);

}  // namespace
