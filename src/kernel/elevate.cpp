// Degree elevation, one degree at a time, every coefficient a convex combination of the ones
// before.
//
// Raising degree q to q + 1 puts the spline on T^, the knot vector with one more copy of each
// distinct value. New coefficient j is the blossom of degree q + 1 at the window W_j = T^[j + 1
// .. j + q + 1], and that is the mean of the degree-q blossom over the q + 1 ways of leaving one
// knot of W_j out:
//   Q_j = (n_first d_{j+1} + n_last d_j + sum over v inside W_j of n_v e^v_j) / (q + 1),
// n_x being the copies of the value x in W_j. Leaving out a copy of the window's first value
// gives d_{j+1}, the coefficient of the degree-q spline on T^ itself; a copy of its last value
// gives d_j; a copy of a value v strictly inside gives e^v_j, the coefficient of the degree-q
// spline on T^ without one copy of v. A window of one value only is a coefficient of T^'s own
// (the left or right value at a jump, or one of an identically zero basis function): d_j when
// the basis function reaches to the left of the value, else d_{j+1}.
//
// d comes from t by inserting each interior value once (Boehm steps, convex combinations), e^v
// from d by taking one copy of v out again. That removal is solved from both ends towards the
// place where the insertion weight alpha (non-increasing along the chain) crosses 1/2, so that
// every step divides by the larger of alpha and 1 - alpha and damps an error instead of growing
// it. Nothing is ever extrapolated, and the result is accurate to rounding at every degree. (The
// classic scheme, splitting into Bezier pieces, elevating them and removing the inserted knots
// again, loses about a factor two per removed copy: at degree 20 on ten spans its error is
// already 1e-6 of the coefficients.)
//
// The ends are made of multiplicity exactly p + 1 first: an unclamped end gets the missing
// copies with zero coefficients (the Cox-de Boor sum of the spline on its domain), which are
// dropped again afterwards together with that many leading (or trailing) coefficients, zero up to
// rounding since the function vanishes to that order there; an end repeated more than p + 1 times
// carries identically zero basis functions, whose coefficients are passed through. The work is
// done in the output spans, which hold two copies of the knots and two of the coefficients
// (elevation_size); the kernel allocates nothing.
//
// Cost per degree: one copy of the arrays plus O(q) per distinct interior value.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <limits>

#include "bspline.hpp"
#include "insertion_engine.hpp"

namespace pyorvex::kernel {

namespace {

using index = std::ptrdiff_t;

// One degree more: knots K (nk values, both ends of multiplicity q + 1) and coefficients C
// (nk - q - 1 values) of degree q become knots T (nk + a + 2 values) and coefficients written
// over C (one more per distinct value but the first). D is scratch for nk - q + a + 1 values.
// a is the number of distinct interior values. Returns nothing; the sizes follow from a.
void raise_once(const double *K, index nk, double *C, double *T, double *D, int q, index a) {
    const index N = nk - q - 1;  // coefficients of degree q
    const double first = K[0], last = K[nk - 1];

    // d: the degree-q spline on T, by inserting each interior value once; its knots are T
    // without the extra copy of each end, laid out at T + 1 by the insertion.
    {
        detail::Refinement ref(cspan(K, static_cast<std::size_t>(nk)),
                               cspan(C, static_cast<std::size_t>(N)), q,
                               vspan(T + 1, static_cast<std::size_t>(nk + a)),
                               vspan(D + 1, static_cast<std::size_t>(N + a)));
        for (index i = 1; i + 1 < nk; ++i)
            if (K[i] != K[i - 1] && K[i] > first && K[i] < last) ref.insert(K[i]);
        ref.finish();
    }
    const index M = nk + a + 2;  // knots of T
    T[0] = first;
    T[M - 1] = last;
    D[0] = C[0];                 // the identically zero basis function at each end of T (degree
    D[N + a + 1] = C[N - 1];     // q): any value; these keep the end values at hand
    const index NQ = N + a + 1;  // coefficients of degree q + 1

    // First and last values of each window, with their copies in it; windows of one value.
    index first_end = 1;   // last index of the run holding T[j + 1]
    index last_begin = 0;  // first index of the run holding T[j + q + 1]
    for (index j = 0; j < NQ; ++j) {
        const double lo = T[j + 1], hi = T[j + q + 1];
        if (first_end < j + 1) first_end = j + 1;
        while (first_end + 1 < M && T[first_end + 1] == lo) ++first_end;
        if (last_begin < j + 1 || T[last_begin] != hi) {
            last_begin = j + q + 1;
            while (last_begin > j + 1 && T[last_begin - 1] == hi) --last_begin;
        }
        if (lo == hi) {
            C[j] = T[j] < lo ? D[j] : D[j + 1];
        } else {
            const double n_first = static_cast<double>(first_end - j);
            const double n_last = static_cast<double>(j + q + 2 - last_begin);
            C[j] = n_first * D[j + 1] + n_last * D[j];
        }
    }

    // The values strictly inside windows: their copies times e^v on the windows that hold them.
    index s0 = 0;
    while (s0 < M && T[s0] == first) ++s0;
    while (s0 < M && T[s0] < last) {
        index s1 = s0;
        while (s1 + 1 < M && T[s1 + 1] == T[s0]) ++s1;
        const double v = T[s0];
        const index count = s1 - s0 + 1;
        if (count <= q - 1) {
            // Taking the copy at s1 out of T: e_i = d_i below lo, d_{i+1} from hi on, and
            // between them d_i = alpha_i e_i + (1 - alpha_i) e_{i-1} for i = lo .. hi.
            const index lo = s1 - q, hi = s1 - count;
            const double weight = static_cast<double>(count);
            auto alpha = [&](index i) { return (v - T[i]) / (T[i + q + 1] - T[i]); };
            double prev = D[lo - 1];
            index i = lo;
            for (; i <= hi - 1; ++i) {
                const double al = alpha(i);
                if (!(al >= 0.5)) break;
                prev = (D[i] - (1.0 - al) * prev) / al;
                C[i] += weight * prev;
            }
            double next = D[hi + 1];
            for (index k = hi; k > i; --k) {
                const double al = alpha(k);
                next = (D[k] - al * next) / (1.0 - al);
                C[k - 1] += weight * next;
            }
        }
        s0 = s1 + 1;
    }

    const double inv = static_cast<double>(q + 1);
    for (index j = 0; j < NQ; ++j)
        if (T[j + 1] != T[j + q + 1]) C[j] /= inv;
}

}  // namespace

void elevate_degree(cspan t, cspan c, int p, int nu, vspan nt, vspan nc) {
    const ElevationSize size = elevation_size(t, c, p, nu);
    if (!size.ok || nt.size() < size.work_knots || nc.size() < size.work_coefs) return;
    const double first = t.front(), last = t.back();
    if (nu == 0) {
        std::copy(t.begin(), t.end(), nt.begin());
        std::copy(c.begin(), c.end(), nc.begin());
        return;
    }
    bool sorted = true;
    for (std::size_t i = 0; i + 1 < t.size(); ++i)
        if (!(t[i] <= t[i + 1])) sorted = false;
    if (!sorted) {
        // No meaning: NaN, so that the failure cannot pass for a result.
        std::fill_n(nt.begin(), size.knots, std::numeric_limits<double>::quiet_NaN());
        std::fill_n(nc.begin(), size.coefs, std::numeric_limits<double>::quiet_NaN());
        return;
    }
    if (first == last) {
        // No span at all: the function is 0 whatever the coefficients; keep them and repeat
        // the last.
        std::fill_n(nt.begin(), size.knots, first);
        std::copy(c.begin(), c.end(), nc.begin());
        std::fill(nc.begin() + static_cast<index>(c.size()), nc.begin() + size.coefs, c.back());
        return;
    }

    // The ends, made of multiplicity p + 1: pad (zero coefficients) or strip (passed through).
    const index order = static_cast<index>(p) + 1, tn = static_cast<index>(t.size());
    const index n = static_cast<index>(c.size()) - 1;
    index m0 = 1, m1 = 1;
    while (t[m0] == first) ++m0;
    while (t[tn - 1 - m1] == last) ++m1;
    const index pad0 = std::max<index>(order - m0, 0), cut0 = std::max<index>(m0 - order, 0);
    const index pad1 = std::max<index>(order - m1, 0), cut1 = std::max<index>(m1 - order, 0);
    index nk = tn + pad0 + pad1 - cut0 - cut1;  // knots of the core
    index a = 0;
    for (index i = 1; i + 1 < tn; ++i)
        if (t[i] != t[i - 1] && t[i] > first && t[i] < last) ++a;
    const index unu = nu;
    const index cap_k = nk + unu * (a + 2);       // knots of the elevated core
    const index cap_c = cap_k - order - unu + 2;  // its coefficients, and room for d's ends
    double *K = nt.data();
    double *T = nt.data() + cap_k;
    double *C = nc.data();
    double *D = nc.data() + cap_c;
    std::fill_n(K, pad0, first);
    std::copy(t.begin() + cut0, t.end() - cut1, K + pad0);
    std::fill_n(K + pad0 + (tn - cut0 - cut1), pad1, last);
    std::fill_n(C, pad0, 0.0);
    std::copy(c.begin() + cut0, c.end() - cut1, C + pad0);
    std::fill_n(C + pad0 + (n + 1 - cut0 - cut1), pad1, 0.0);

    for (int q = p; q < p + nu; ++q) {
        raise_once(K, nk, C, T, D, q, a);
        nk += a + 2;
        std::swap(K, T);
    }

    // Back to the ends of the input: drop the padding, restore the stripped copies.
    const index core_c = nk - order - unu;
    if (K != nt.data()) std::memmove(nt.data(), K, static_cast<std::size_t>(nk) * sizeof(double));
    double *out_k = nt.data();
    double *out_c = nc.data();
    const index kept_k = nk - pad0 - pad1, kept_c = core_c - pad0 - pad1;
    std::memmove(out_k + cut0, out_k + pad0, static_cast<std::size_t>(kept_k) * sizeof(double));
    std::memmove(out_c + cut0, out_c + pad0, static_cast<std::size_t>(kept_c) * sizeof(double));
    std::fill_n(out_k, cut0, first);
    std::fill_n(out_k + cut0 + kept_k, cut1, last);
    std::copy_n(c.begin(), cut0, out_c);
    std::copy(c.end() - cut1, c.end(), out_c + cut0 + kept_c);
}

}  // namespace pyorvex::kernel
