// Derivative and antiderivative of a spline as new splines, from the control-point formulas on
// the clamped equivalent of the spline (bspline.hpp, clamp_padding).
#include <algorithm>
#include <cstddef>

#include "bspline.hpp"

namespace pyorvex::kernel {

namespace {

using index = std::ptrdiff_t;

// The clamped equivalent, read through: `left` more copies of the first knot in front, more
// copies of the last behind, and coefficient 0 for every added basis function.
struct Clamped {
    const double* t;
    const double* c;
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
    for (index i = 0; i < static_cast<index>(size.knots); ++i) nt[i] = s.knot(i + nu);
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
    const std::size_t front = unu + pad.left, L = t.size() - 1;
    std::fill_n(nt.begin(), front, t[0]);
    std::copy(t.begin(), t.end(), nt.begin() + front);
    std::fill(nt.begin() + front + L + 1, nt.end(), t[L]);
    std::fill_n(nc.begin(), pad.left, 0.0);
    std::copy(c.begin(), c.end(), nc.begin() + pad.left);
    std::size_t N = c.size() + pad.left + pad.right;
    std::fill(nc.begin() + pad.left + c.size(), nc.begin() + N, 0.0);
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
