// Derivative and antiderivative of a spline as new splines, from the control-point formulas.
#include <algorithm>
#include <cstddef>

#include "bspline.hpp"

namespace pyorvex::kernel {

namespace {

// Sizes agree: p >= 0, at least one coefficient and t.size() == c.size() + p + 1.
bool sizes_ok(cspan t, cspan c, int p) {
    return p >= 0 && !c.empty() && t.size() > c.size() &&
           t.size() - c.size() == static_cast<std::size_t>(p) + 1;
}

}  // namespace

// Differencing nu times: at step j (1-based) the coefficients of degree p - j + 1 become
//   c_i <- (p - j + 1) (c_{i+1} - c_i) / (t_{i+p+1} - t_{i+j}),   i = 0 .. n - j,
// on the knots t[j .. n + p + 1 - j]. This drops the two end terms of the exact derivative, which
// vanish on clamped knot vectors (end multiplicity >= p + 1), so the result is exact there; on an
// unclamped vector it agrees with the derivative on [t[p], t[n+1]) only. A zero knot difference
// belongs to a basis function that is identically zero, whose coefficient is set to 0.
//
// When n < nu (possible only on unclamped vectors, which have fewer coefficients than p + 1) no
// coefficient is left: the zero function of degree p - nu on the whole domain is written instead
// (its first p - nu + 1 knots at the start, one at the end) and 0 returned.
int derivative(cspan t, cspan c, int p, int nu, vspan nt, vspan nc) {
    if (!sizes_ok(t, c, p) || nu < 0 || nt.size() < t.size() || nc.size() < c.size()) return 0;
    const std::size_t L = t.size() - 1;
    const int n = static_cast<int>(c.size()) - 1;
    if (nu > p) {
        nc[0] = 0.0;
        nt[0] = t[0];
        nt[1] = t[L];
        return 0;
    }
    if (n < nu) {
        nc[0] = 0.0;
        for (int i = 0; i <= p - nu; ++i) nt[i] = t[0];
        nt[p - nu + 1] = t[L];
        return 0;
    }
    std::copy(c.begin(), c.end(), nc.begin());
    for (int j = 1; j <= nu; ++j) {
        const double factor = p - j + 1;
        for (int i = 0; i <= n - j; ++i) {
            const double h = t[i + p + 1] - t[i + j];
            nc[i] = h == 0.0 ? 0.0 : factor * (nc[i + 1] - nc[i]) / h;
        }
    }
    const std::size_t count = L + 1 - 2 * static_cast<std::size_t>(nu);
    std::copy_n(t.begin() + nu, count, nt.begin());
    return n - nu;
}

// Integration nu times, each time from the start of the domain: one more knot at each end and
//   C_0 = 0,   C_{i+1} = C_i + c_i (u_{i+q+1} - u_i) / (q + 1),   i = 0 .. N - 1,
// for the current degree q, knots u and N coefficients. The final knot vector is t with nu more
// copies of each end knot, so it is laid out once and every step reads its knots from the middle
// of it; the coefficients are accumulated in place in nc. The result is 0 at the domain start and
// exact on knot vectors clamped at the right end (last knot of multiplicity >= p + 1); elsewhere
// it is exact up to t[n+1], beyond which no spline of the new size can hold the integral.
void antiderivative(cspan t, cspan c, int p, int nu, vspan nt, vspan nc) {
    if (!sizes_ok(t, c, p) || nu < 0) return;
    const std::size_t unu = static_cast<std::size_t>(nu);
    if (nt.size() != t.size() + 2 * unu || nc.size() != c.size() + unu) return;
    const std::size_t L = t.size() - 1;
    std::fill_n(nt.begin(), unu, t[0]);
    std::copy(t.begin(), t.end(), nt.begin() + unu);
    std::fill_n(nt.begin() + unu + L + 1, unu, t[L]);
    std::copy(c.begin(), c.end(), nc.begin());
    std::size_t N = c.size();
    for (std::size_t r = 1; r <= unu; ++r) {
        const std::size_t q = static_cast<std::size_t>(p) + r - 1;  // current degree
        const double* u = nt.data() + (unu - r + 1);                // current knots
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
