// Derivative and antiderivative of a spline as new splines, from the control-point formulas on
// the clamped equivalent of the spline (bspline.hpp, clamp_padding).
//
// Both are a single pass over arrays that are usually far larger than the caches, so their cost
// is that of a copy when the arithmetic keeps pace with memory: the first-order cases (the
// common ones) run vectorised loops over the part of the arrays that the padding does not touch,
// built for the baseline and, on x86-64, for AVX2 too, picked at run time. The integral's running
// sum is formed eight terms at a time (a prefix sum within each group, then the carry), so that
// it does not wait one addition latency per term; that changes the order of the additions, not
// their accuracy.
#include <algorithm>
#include <cstddef>

#include "bspline.hpp"

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define PYORVEX_CALCULUS_DISPATCH 1
#else
#define PYORVEX_CALCULUS_DISPATCH 0
#endif

namespace pyorvex::kernel {

namespace {

using index = std::ptrdiff_t;

// --- the first-order loops ---------------------------------------------------------------------

// Four-lane vectors never cross a call boundary here (everything is inlined into the two
// builds), so the note about the ABI of passing them without AVX does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"

using vec4 = double __attribute__((vector_size(32)));
using mask4 = long long __attribute__((vector_size(32)));

[[gnu::always_inline]] inline vec4 load4(const double *p) {
    vec4 v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
}

[[gnu::always_inline]] inline void store4(double *p, vec4 v) { __builtin_memcpy(p, &v, sizeof v); }

[[gnu::always_inline]] inline vec4 splat(double x) { return vec4{x, x, x, x}; }

// Inclusive prefix sum of the four lanes.
[[gnu::always_inline]] inline vec4 scan4(vec4 v) {
    const vec4 zero = {0.0, 0.0, 0.0, 0.0};
    v += __builtin_shufflevector(zero, v, 0, 4, 5, 6);
    v += __builtin_shufflevector(zero, v, 0, 1, 4, 5);
    return v;
}

// out[j] = factor (c[j+1] - c[j]) / (t[j+p+1] - t[j+1]) for j < count, 0 where the knots agree
// (a basis function that is identically zero), and knots[j] = t[j+1], which the loop reads
// anyway. Written with vectors: the compiler does not turn the choice into a select on its own,
// since the division it would then do for every lane may raise a flag the source does not.
[[gnu::always_inline]] inline void difference_loop(const double *__restrict c,
                                                   const double *__restrict t,
                                                   double *__restrict out, double *__restrict knots,
                                                   std::size_t count, std::size_t p,
                                                   double factor) {
    const vec4 f = splat(factor), zero = splat(0.0);
    std::size_t j = 0;
    for (; j + 4 <= count; j += 4) {
        const vec4 lo = load4(t + j + 1);
        const vec4 h = load4(t + j + p + 1) - lo;
        const vec4 v = f * (load4(c + j + 1) - load4(c + j)) / h;
        store4(out + j, h == zero ? zero : v);
        store4(knots + j, lo);
    }
    for (; j < count; ++j) {
        const double h = t[j + p + 1] - t[j + 1];
        out[j] = h == 0.0 ? 0.0 : factor * (c[j + 1] - c[j]) / h;
        knots[j] = t[j + 1];
    }
}

// out[k + 1] = out[k] + c[k] ((t[k+p+1] - t[k]) / order) for k < count, from out[0] = carry (not
// written), and knots[k] = t[k]; returns the last sum.
[[gnu::always_inline]] inline double integral_loop(const double *__restrict c,
                                                   const double *__restrict t,
                                                   double *__restrict out, double *__restrict knots,
                                                   std::size_t count, std::size_t p, double order,
                                                   double carry) {
    const vec4 div = splat(order);
    std::size_t k = 0;
    for (; k + 8 <= count; k += 8) {
        const vec4 lo0 = load4(t + k), lo1 = load4(t + k + 4);
        vec4 w0 = load4(c + k) * ((load4(t + k + p + 1) - lo0) / div);
        vec4 w1 = load4(c + k + 4) * ((load4(t + k + p + 5) - lo1) / div);
        store4(knots + k, lo0);
        store4(knots + k + 4, lo1);
        w0 = scan4(w0);
        w1 = scan4(w1) + splat(w0[3]);
        const vec4 base = splat(carry);
        store4(out + k + 1, w0 + base);
        store4(out + k + 5, w1 + base);
        carry += w1[3];
    }
    for (; k < count; ++k) {
        carry += c[k] * ((t[k + p + 1] - t[k]) / order);
        out[k + 1] = carry;
        knots[k] = t[k];
    }
    return carry;
}

void difference_base(const double *c, const double *t, double *out, double *knots,
                     std::size_t count, std::size_t p, double factor) {
    difference_loop(c, t, out, knots, count, p, factor);
}

double integral_base(const double *c, const double *t, double *out, double *knots,
                     std::size_t count, std::size_t p, double order, double carry) {
    return integral_loop(c, t, out, knots, count, p, order, carry);
}

#if PYORVEX_CALCULUS_DISPATCH
// No FMA: the two builds must give the same numbers.
[[gnu::target("avx2")]] void difference_avx2(const double *c, const double *t, double *out,
                                             double *knots, std::size_t count, std::size_t p,
                                             double factor) {
    difference_loop(c, t, out, knots, count, p, factor);
}

[[gnu::target("avx2")]] double integral_avx2(const double *c, const double *t, double *out,
                                             double *knots, std::size_t count, std::size_t p,
                                             double order, double carry) {
    return integral_loop(c, t, out, knots, count, p, order, carry);
}

bool cpu_has_avx2() {
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2");
    }();
    return has;
}
#endif

void difference(const double *c, const double *t, double *out, double *knots, std::size_t count,
                std::size_t p, double factor) {
#if PYORVEX_CALCULUS_DISPATCH
    if (cpu_has_avx2()) return difference_avx2(c, t, out, knots, count, p, factor);
#endif
    difference_base(c, t, out, knots, count, p, factor);
}

double integral(const double *c, const double *t, double *out, double *knots, std::size_t count,
                std::size_t p, double order, double carry) {
#if PYORVEX_CALCULUS_DISPATCH
    if (cpu_has_avx2()) return integral_avx2(c, t, out, knots, count, p, order, carry);
#endif
    return integral_base(c, t, out, knots, count, p, order, carry);
}

// nt[0 .. count) = knots from..from+count-1 of the clamped equivalent of t (left copies of t[0]
// in front, right copies of t.back() behind).
void clamped_knots(cspan t, std::size_t left, std::size_t from, std::size_t count, double *nt) {
    const std::size_t tn = t.size();
    std::size_t i = 0;
    for (; i < count && from + i < left; ++i) nt[i] = t[0];
    const std::size_t begin = i < count ? from + i - left : tn;  // index into t
    if (begin < tn) {
        const std::size_t run = std::min(count - i, tn - begin);
        std::copy_n(t.data() + begin, run, nt + i);
        i += run;
    }
    for (; i < count; ++i) nt[i] = t[tn - 1];
}

// The clamped equivalent, read through: `left` more copies of the first knot in front, more
// copies of the last behind, and coefficient 0 for every added basis function.
struct Clamped {
    const double *t;
    const double *c;
    index left;  // copies added in front
    index L;     // last index of t
    index n;     // last index of c

    double knot(index i) const {
        i -= left;
        return t[i < 0 ? 0 : (i > L ? L : i)];
    }
    double coef(index i) const {
        i -= left;
        return (i < 0 || i > n) ? 0.0 : c[i];
    }
};

}  // namespace

// Differencing nu times on the clamped equivalent (knots t', coefficients c', last index n'): at
// step j (1-based) the coefficients of degree p - j + 1 become
//   c_i <- (p - j + 1) (c_{i+1} - c_i) / (t'_{i+p+1} - t'_{i+j}),   i = 0 .. n' - j,
// on the knots t'[j .. n' + p + 1 - j]. This drops the two end terms of the exact derivative,
// which vanish on clamped ends, so the result is exact on the whole domain. A zero knot
// difference belongs to a basis function that is identically zero, whose coefficient is set to 0.
//
// The steps run as one stream over c': last[j] holds the newest coefficient of step j, so each
// input coefficient goes through all nu steps at once and only the results are stored.
//
// When n' < nu (only when every knot is equal, so that nothing is padded and n < nu) no
// coefficient is left: the zero function of degree p - nu is written instead (its first p - nu
// + 1 knots at the start, one at the end).
int derivative(cspan t, cspan c, int p, int nu, vspan nt, vspan nc) {
    const CalculusSize size = derivative_size(t, c, p, nu);
    if (!size.ok || nt.size() < size.knots || nc.size() < size.coefs) return 0;
    const index L = static_cast<index>(t.size()) - 1;
    if (nu > p) {
        nc[0] = 0.0;
        nt[0] = t[0];
        nt[1] = t[L];
        return 0;
    }
    const EndPadding pad = clamp_padding(t, p);
    const Clamped s{t.data(), c.data(), static_cast<index>(pad.left), L,
                    static_cast<index>(c.size()) - 1};
    const index n1 = s.n + static_cast<index>(pad.left + pad.right);  // n'
    if (n1 < nu) {
        nc[0] = 0.0;
        for (int i = 0; i <= p - nu; ++i) nt[i] = t[0];
        nt[p - nu + 1] = t[L];
        return 0;
    }
    if (nu == 1) {
        // c'_i -> p (c'_{i+1} - c'_i) / (t'_{i+p+1} - t'_{i+1}) and knot i = t'_{i+1}: through
        // the padding at each end, and straight over the arrays in between (i = left + j, j = 0
        // .. n - 1).
        auto one = [&](index i) {
            const double h = s.knot(i + p + 1) - s.knot(i + 1);
            nc[i] = h == 0.0 ? 0.0 : p * (s.coef(i + 1) - s.coef(i)) / h;
        };
        const std::size_t left = pad.left, n = static_cast<std::size_t>(s.n);
        for (index i = 0; i < s.left; ++i) one(i);
        clamped_knots(t, left, 1, left, nt.data());
        difference(c.data(), t.data(), nc.data() + left, nt.data() + left, n,
                   static_cast<std::size_t>(p), static_cast<double>(p));
        for (index i = s.left + s.n; i < n1; ++i) one(i);
        clamped_knots(t, left, left + n + 1, size.knots - left - n, nt.data() + left + n);
        return static_cast<int>(n1 - 1);
    }
    clamped_knots(t, pad.left, static_cast<std::size_t>(nu), size.knots, nt.data());
    double last[kMaxDegree + 1];
    for (index k = 0; k <= n1; ++k) {
        double v = s.coef(k);  // step 0 at index k
        const int top = static_cast<int>(std::min<index>(k, nu));
        for (int j = 1; j <= top; ++j) {
            // Step j at index i = k - j, from step j - 1 at i + 1 (v) and at i (last[j - 1]).
            const index i = k - j;
            const double h = s.knot(i + p + 1) - s.knot(i + j);
            const double next = h == 0.0 ? 0.0 : (p - j + 1) * (v - last[j - 1]) / h;
            last[j - 1] = v;
            v = next;
        }
        if (top < nu)
            last[top] = v;
        else
            nc[k - nu] = v;
    }
    return static_cast<int>(n1 - nu);
}

// Integration nu times, each time from the start of the domain, on the clamped equivalent: one
// more knot at each end and
//   C_0 = 0,   C_{i+1} = C_i + c_i (u_{i+q+1} - u_i) / (q + 1),   i = 0 .. N - 1,
// for the current degree q, knots u and N coefficients. The final knot vector is the clamped
// equivalent with nu more copies of each end knot, so it is laid out once and every step reads
// its knots from the middle of it; the coefficients are accumulated in place in nc. With the
// last knot of multiplicity p + 1 the result holds the whole integral at the domain's end.
void antiderivative(cspan t, cspan c, int p, int nu, vspan nt, vspan nc) {
    const CalculusSize size = antiderivative_size(t, c, p, nu);
    if (!size.ok || nt.size() != size.knots || nc.size() != size.coefs) return;
    const EndPadding pad = clamp_padding(t, p);
    const std::size_t unu = static_cast<std::size_t>(nu);
    const std::size_t N0 =
        c.size() + pad.left + pad.right;  // coefficients of the clamped equivalent
    if (nu == 1) {
        // C_0 .. C_left are 0 (zero coefficients in front), then the sum over c, which the
        // padding behind leaves as it is. Knot k is t'_{k-1}, t[k - left - 1] in the middle.
        const std::size_t left = pad.left, front = left + 1;
        std::fill_n(nc.begin(), front, 0.0);
        std::fill_n(nt.begin(), front, t[0]);
        const double total =
            integral(c.data(), t.data(), nc.data() + left, nt.data() + front, c.size(),
                     static_cast<std::size_t>(p), static_cast<double>(p) + 1.0, 0.0);
        std::fill(nc.begin() + static_cast<index>(front + c.size()), nc.end(), total);
        clamped_knots(t, front, front + c.size(), size.knots - front - c.size(),
                      nt.data() + front + c.size());
        return;
    }
    clamped_knots(t, pad.left + unu, 0, size.knots, nt.data());
    std::fill_n(nc.begin(), pad.left, 0.0);
    std::copy(c.begin(), c.end(), nc.begin() + static_cast<index>(pad.left));
    std::fill(nc.begin() + static_cast<index>(pad.left + c.size()),
              nc.begin() + static_cast<index>(N0), 0.0);
    std::size_t N = N0;
    for (std::size_t r = 1; r <= unu; ++r) {
        const std::size_t q = static_cast<std::size_t>(p) + r - 1;  // current degree
        const double *u = nt.data() + (unu - r + 1);                // current knots
        double acc = 0.0;
        for (std::size_t i = 0; i < N; ++i) {
            const double ci = nc[i];
            nc[i] = acc;
            acc += ci * ((u[i + q + 1] - u[i]) / static_cast<double>(q + 1));
        }
        nc[N] = acc;
        ++N;
    }
}

}  // namespace pyorvex::kernel
