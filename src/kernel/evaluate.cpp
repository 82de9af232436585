// Evaluation of a spline and its derivatives at one point and over increasing arrays.
//
// Single points: a span search and de Boor's recursion. Arrays: a forward walk over the spans,
// each run of points in one span evaluated four at a time (eval_batch.hpp) for the degrees with
// compile-time specialisations, de Boor per point above them. Nothing is kept between calls.
#include <cstdint>
#include <cstring>

#include "bspline.hpp"
#include "eval_detail.hpp"

namespace pyorvex::kernel {

// The batch loops, built three times (see eval_batch.hpp). Their four-lane vectors never cross a
// call boundary (everything is inlined into the two switch functions), so the note about the ABI
// of passing them to functions compiled without AVX does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"
namespace batch_base {
using idx = detail::idx;
#include "eval_batch_portable.hpp"
}  // namespace batch_base

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define PYORVEX_DISPATCH 1
#pragma GCC push_options
#pragma GCC target("avx2,fma")
namespace batch_avx2 {
#include "eval_batch_x86.hpp"
}  // namespace batch_avx2
#pragma GCC pop_options
// AVX-512VL adds a one-instruction lane permutation (the span groups pick each point's
// coefficients with it) and twice the vector registers; the vectors stay four lanes wide.
#pragma GCC push_options
#pragma GCC target("avx512f,avx512vl,avx2,fma")
namespace batch_avx512 {
#define PYORVEX_PICK_BY_QWORD
#include "eval_batch_x86.hpp"
#undef PYORVEX_PICK_BY_QWORD
}  // namespace batch_avx512
#pragma GCC pop_options
#else
#define PYORVEX_DISPATCH 0
#endif

namespace {

using namespace detail;

#if PYORVEX_DISPATCH
bool cpu_has_avx512vl() {
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl");
    }();
    return has;
}

bool cpu_has_avx2_fma() {
    static const bool has = [] {
        __builtin_cpu_init();  // harmless if done; needed if we run before the constructors
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    }();
    return has;
}
#endif

template <class Run>
[[gnu::always_inline]] inline void walk(const View &v, const double *xs, std::size_t m, Run &&run) {
    const double *t = v.t;
    const idx hi = last_span(v);
    idx k = first_span(v);
    std::size_t i = 0;
    while (i < m) {
        k = advance(t, k, hi, xs[i]);
        std::size_t e = i + 1;
        if (k >= hi)
            e = m;
        else
            while (e < m && !(xs[e] >= t[k + 1])) ++e;
        run(k, i, e);
        i = e;
    }
}

// Degrees above kMaxFixedDegree: de Boor per point, on the span found by the same walk.
[[gnu::noinline]] void values_dyn(const View &v, double *xs, std::size_t m) {
    double d[kMaxDegree + 1];
    walk(v, xs, m, [&](idx k, std::size_t i, std::size_t e) {
        for (std::size_t j = i; j < e; ++j) xs[j] = eval_dyn(v, k, 0, xs[j], d);
    });
}

[[gnu::noinline]] void derivatives_dyn(const View &v, const double *xs, std::size_t m, int first,
                                       int top, double *work) {
    double d[kMaxDegree + 1];
    walk(v, xs, m, [&](idx k, std::size_t i, std::size_t e) {
        for (int q = first; q <= top; ++q) {
            double *row = work + static_cast<std::size_t>(q - first) * m;
            for (std::size_t j = i; j < e; ++j) row[j] = eval_dyn(v, k, q, xs[j], d);
        }
    });
}

[[gnu::noinline]] double value_dyn(const View &v, idx k, double x) {
    if (v.p > kMaxDegree) return kNaN;
    double d[kMaxDegree + 1];
    return eval_dyn(v, k, 0, x, d);
}

template <int P>
double value_fixed(const View &v, idx k, double x) {
    double d[P + 1], T[2 * P + 1];
    load_window<P>(v, k, d, T);
    return de_boor<P>(T, d, x);
}

template <int P>
void derivatives_at_fixed(const View &v, idx k, double x, int top, double *out) {
    double d[P + 1], T[2 * P + 1], U[P + 1];
    load_window<P>(v, k, d, T);
    derivatives_unscaled<P>(T, d, x, U);
    for (int r = 0; r <= top; ++r) out[r] = U[r] * kTables.falling[P][r];
}

}  // namespace

double value_at(double x, cspan t, cspan c, int p) {
    View v;
    if (!make_view(t, c, p, v)) return 0.0;
    if (x != x) return kNaN;
    if (!has_span(v)) return 0.0;
    const idx k = span_of(v, x);
    switch (p) {
        case 0:
            return v.n >= k ? v.c[k] : 0.0;
        case 1:
            return value_fixed<1>(v, k, x);
        case 2:
            return value_fixed<2>(v, k, x);
        case 3:
            return value_fixed<3>(v, k, x);
        case 4:
            return value_fixed<4>(v, k, x);
        case 5:
            return value_fixed<5>(v, k, x);
        case 6:
            return value_fixed<6>(v, k, x);
        case 7:
            return value_fixed<7>(v, k, x);
        default:
            break;
    }
    return value_dyn(v, k, x);
}

void values_sorted(vspan xs, cspan t, cspan c, int p) {
    View v;
    if (!make_view(t, c, p, v) || xs.empty()) return;
    const std::size_t m = xs.size();
    double *x = xs.data();
    if (!has_span(v) || p > kMaxDegree) {
        const double fill = has_span(v) ? kNaN : 0.0;
        for (std::size_t i = 0; i < m; ++i) x[i] = (x[i] == x[i]) ? fill : x[i];
        return;
    }
    if (p > kMaxFixedDegree) return values_dyn(v, x, m);
#if PYORVEX_DISPATCH
    if (cpu_has_avx512vl()) return batch_avx512::values_switch(v, x, m);
    if (cpu_has_avx2_fma()) return batch_avx2::values_switch(v, x, m);
#endif
    batch_base::values_switch(v, x, m);
}

void derivatives_at(double x, cspan t, cspan c, int p, int nu, vspan out) {
    View v;
    if (!make_view(t, c, p, v) || nu < 0 || out.size() != static_cast<std::size_t>(nu) + 1) return;
    double *o = out.data();
    const bool nan = x != x;
    // Orders above p vanish; NaN abscissae give NaN for every order.
    for (std::int64_t r = std::int64_t{p} + 1; r <= nu; ++r) o[r] = nan ? kNaN : 0.0;
    const int top = nu < p ? nu : p;
    if (nan || p > kMaxDegree) {
        for (int r = 0; r <= top; ++r) o[r] = kNaN;
        return;
    }
    if (!has_span(v)) {
        for (int r = 0; r <= top; ++r) o[r] = 0.0;
        return;
    }
    const idx k = span_of(v, x);
    switch (p) {
        case 0:
            o[0] = v.n >= k ? v.c[k] : 0.0;
            return;
        case 1:
            return derivatives_at_fixed<1>(v, k, x, top, o);
        case 2:
            return derivatives_at_fixed<2>(v, k, x, top, o);
        case 3:
            return derivatives_at_fixed<3>(v, k, x, top, o);
        case 4:
            return derivatives_at_fixed<4>(v, k, x, top, o);
        case 5:
            return derivatives_at_fixed<5>(v, k, x, top, o);
        case 6:
            return derivatives_at_fixed<6>(v, k, x, top, o);
        case 7:
            return derivatives_at_fixed<7>(v, k, x, top, o);
        default:
            break;
    }
    double d[kMaxDegree + 1];
    for (int r = 0; r <= top; ++r) o[r] = eval_dyn(v, k, r, x, d);
}

void derivatives_sorted(cspan xs, cspan t, cspan c, int p, int first, int last, vspan work) {
    View v;
    if (!make_view(t, c, p, v) || first < 0 || last < first) return;
    const std::size_t m = xs.size();
    const std::uint64_t rows = static_cast<std::uint64_t>(last) - first + 1;
    std::uint64_t need = 0;
    if (__builtin_mul_overflow(rows, static_cast<std::uint64_t>(m), &need) || need != work.size())
        return;
    if (m == 0) return;
    const double *x = xs.data();
    double *w = work.data();
    // Rows of orders above p (and every row when there is nothing to evaluate): 0, NaN for NaN.
    const int top = last < p ? last : p;
    const bool usable = has_span(v) && p <= kMaxDegree;
    for (std::int64_t q = first; q <= last; ++q) {
        if (q <= top && usable) continue;
        const double fill = (q > p || !has_span(v)) ? 0.0 : kNaN;
        double *row = w + static_cast<std::size_t>(q - first) * m;
        for (std::size_t i = 0; i < m; ++i) row[i] = (x[i] == x[i]) ? fill : x[i];
    }
    if (!usable || first > top) return;
    if (p > kMaxFixedDegree) return derivatives_dyn(v, x, m, first, top, w);
#if PYORVEX_DISPATCH
    if (cpu_has_avx512vl()) return batch_avx512::derivatives_switch(v, x, m, first, top, w);
    if (cpu_has_avx2_fma()) return batch_avx2::derivatives_switch(v, x, m, first, top, w);
#endif
    batch_base::derivatives_switch(v, x, m, first, top, w);
}

void derivatives_any(cspan xs, cspan t, cspan c, int p, int first, int last, vspan work) {
    View v;
    if (!make_view(t, c, p, v) || first < 0 || last < first) return;
    const std::size_t m = xs.size();
    std::uint64_t need = 0;
    if (__builtin_mul_overflow(static_cast<std::uint64_t>(last) - first + 1,
                               static_cast<std::uint64_t>(m), &need) ||
        need != work.size())
        return;
    const double *x = xs.data();
    bool increasing = true;
    for (std::size_t i = 1; i < m && increasing; ++i) increasing = x[i - 1] <= x[i];
    if (increasing) return derivatives_sorted(xs, t, c, p, first, last, work);
    // Each point on its own: a span search and the derivatives up to the highest order that does
    // not vanish; the rows above p are 0 (NaN at a NaN abscissa), as in the walk.
    const int top = last < p ? last : p;
    double d[kMaxDegree + 1];
    double *w = work.data();
    for (std::size_t i = 0; i < m; ++i) {
        const double xi = x[i];
        if (first <= top)
            derivatives_at(xi, t, c, p, top, vspan(d, static_cast<std::size_t>(top) + 1));
        for (std::int64_t q = first; q <= last; ++q)
            w[static_cast<std::size_t>(q - first) * m + i] =
                q <= top ? d[q] : (xi == xi ? 0.0 : kNaN);
    }
}

}  // namespace pyorvex::kernel
