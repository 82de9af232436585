// The spline through waypoints with given end derivatives: the collocation system of the clamped
// knot vector on the waypoint times, solved as a band matrix.
//
// Rows, in this order: the value and the derivatives at the first time, the values at the
// interior times, the value and the derivatives at the last time. Each row's non-zero columns
// then lie within kl = max(k, l) below and ku = p - k above the diagonal (k, l the counts of end
// derivatives), so the system is a band of width kl + ku + 1. Derivative rows make it lose the
// total positivity that makes elimination without row exchanges safe for plain collocation, so
// the elimination exchanges rows within the band (partial pivoting); the upper factor then grows
// to kl + ku above the diagonal, which the band storage leaves room for.
#include <cmath>
#include <cstddef>
#include <type_traits>

#include "bspline.hpp"
#include "eval_detail.hpp"

namespace pyorvex::kernel {

namespace {

using index = std::ptrdiff_t;

// The column-major band of an order-N matrix with kl sub- and ku super-diagonals plus kl rows of
// fill-in: A(i, j) is ab[(kv + i - j) + j * ld], kv = kl + ku, ld = 2 kl + ku + 1.
struct Band {
    double *ab;
    index n, kl, ku, kv, ld;
    double &at(index i, index j) const { return ab[(kv + i - j) + j * ld]; }
    bool holds(index i, index j) const { return j >= i - kl && j <= i + ku && j >= 0 && j < n; }
};

// Values and derivatives of orders 0..nd of the p + 1 basis functions that do not vanish on span
// s at x, as the classic table algorithm computes them: ders[d * (p + 1) + r] is the derivative of
// order d of B_{s-p+r}. scratch holds (p + 1)^2 + 4 (p + 1) doubles.
void basis_derivatives(const double *t, index s, int p, double x, int nd, double *scratch,
                       double *ders) {
    const index w = p + 1;
    double *ndu = scratch, *left = ndu + w * w, *right = left + w, *a = right + w;  // a: 2 rows
    ndu[0] = 1.0;
    for (int j = 1; j <= p; ++j) {
        left[j] = x - t[s + 1 - j];
        right[j] = t[s + j] - x;
        double saved = 0.0;
        for (int r = 0; r < j; ++r) {
            ndu[j * w + r] = right[r + 1] + left[j - r];  // lower triangle: knot differences
            const double temp = ndu[r * w + j - 1] / ndu[j * w + r];
            ndu[r * w + j] = saved + right[r + 1] * temp;  // upper triangle: basis functions
            saved = left[j - r] * temp;
        }
        ndu[j * w + j] = saved;
    }
    for (int r = 0; r <= p; ++r) ders[r] = ndu[r * w + p];
    for (int r = 0; r <= p; ++r) {
        double *a0 = a, *a1 = a + w;
        a0[0] = 1.0;
        for (int k = 1; k <= nd; ++k) {
            double d = 0.0;
            const int rk = r - k, pk = p - k;
            if (r >= k) {
                a1[0] = a0[0] / ndu[(pk + 1) * w + rk];
                d = a1[0] * ndu[rk * w + pk];
            }
            const int j1 = rk >= -1 ? 1 : -rk, j2 = (r - 1 <= pk) ? k - 1 : p - r;
            for (int j = j1; j <= j2; ++j) {
                a1[j] = (a0[j] - a0[j - 1]) / ndu[(pk + 1) * w + rk + j];
                d += a1[j] * ndu[(rk + j) * w + pk];
            }
            if (r <= pk) {
                a1[k] = -a0[k - 1] / ndu[(pk + 1) * w + r];
                d += a1[k] * ndu[r * w + pk];
            }
            ders[k * w + r] = d;
            double *tmp = a0;
            a0 = a1;
            a1 = tmp;
        }
    }
    double f = p;
    for (int k = 1; k <= nd; ++k) {
        for (int r = 0; r <= p; ++r) ders[k * w + r] *= f;
        f *= p - k;
    }
}

// Puts the condition "derivative of order d at x = rhs" into row `row`: the span s holds x.
// Entries outside the band are the basis functions that vanish at x to that order at a clamped
// end (exact zeros of the table), so they are left out.
void put_row(const Band &A, double *b, index row, const double *t, index s, int p, double x, int d,
             double rhs, double *scratch, double *ders) {
    basis_derivatives(t, s, p, x, d, scratch, ders);
    for (int r = 0; r <= p; ++r) {
        const index col = s - p + r;
        if (A.holds(row, col)) A.at(row, col) = ders[d * (p + 1) + r];
    }
    b[row] = rhs;
}

// Two doubles: two rows computed side by side (SSE2, part of every x86-64; elsewhere the
// compiler's lowering). Each lane does the arithmetic of a scalar double, so the values are the
// same.
using pair = double __attribute__((vector_size(16)));

// The values of the P + 1 basis functions that do not vanish at the knots t[s] and t[s + 1] (on
// spans s and s + 1), by the same recurrence as the first part of basis_derivatives (the same
// operations in the same order, so the same doubles), unrolled for a compile-time degree and two
// points at a time. The rows of the interior waypoints are most of the system, and they are
// independent: side by side, their divisions overlap instead of waiting on one another.
//
// Each point is the left knot of its span, so left[1] = 0: from level 2 on, the last function of
// the previous level is an exact zero, and its step (a division by a non-zero difference, then
// products with 0) only carries that zero along. Those steps are left out: a third of the
// divisions at P = 5, with the same doubles as the full recurrence.
template <int P>
void basis_pair(const double *t, index s, pair *N) {
    const pair x = {t[s], t[s + 1]};
    pair left[P + 1], right[P + 1];
    N[0] = pair{1.0, 1.0};
    PYORVEX_UNROLL for (int j = 1; j <= P; ++j) {
        left[j] = x - pair{t[s + 1 - j], t[s + 2 - j]};
        right[j] = pair{t[s + j], t[s + 1 + j]} - x;
        pair saved = {0.0, 0.0};
        const int steps = j == 1 ? 1 : j - 1;
        PYORVEX_UNROLL for (int r = 0; r < steps; ++r) {
            const pair temp = N[r] / (right[r + 1] + left[j - r]);
            N[r] = saved + right[r + 1] * temp;
            saved = left[j - r] * temp;
        }
        if (j == 1) {
            N[1] = saved;  // left[1] * temp: 0
        } else {
            N[j - 1] = saved;
            N[j] = pair{0.0, 0.0};
        }
    }
}

template <int P>
void store_row(const Band &A, double *b, index row, index s, const pair *N, int lane, double rhs) {
    PYORVEX_UNROLL for (int r = 0; r <= P; ++r) {
        const index col = s - P + r;
        if (A.holds(row, col)) A.at(row, col) = N[r][lane];
    }
    b[row] = rhs;
}

// The rows of the interior waypoints: times[i] (the knot t[P + i]) on span P + i, in row k + i.
template <int P>
void put_interior_rows(const Band &A, double *b, const double *t, cspan values, index k, index m) {
    pair N[P + 1];
    index i = 1;
    for (; i + 2 < m; i += 2) {
        basis_pair<P>(t, P + i, N);
        store_row<P>(A, b, k + i, P + i, N, 0, values[i]);
        store_row<P>(A, b, k + i + 1, P + i + 1, N, 1, values[i + 1]);
    }
    if (i + 1 < m) {  // one row left: its lane 1 repeats it
        basis_pair<P>(t, P + i - 1, N);
        store_row<P>(A, b, k + i, P + i, N, 1, values[i]);
    }
}

// The update of the columns j + 1..ju and of the right-hand side by the multipliers l[1..km].
// They are at most 1 in magnitude (the pivot is the column's largest entry), so a zero in the
// pivot row updates nothing and needs no test.
template <class Count>
[[gnu::always_inline]] inline void update(const Band &A, double *b, index j, index ju, Count km,
                                          const double *l) {
    for (index c = j + 1; c <= ju; ++c) {
        double *below = &A.at(j, c);  // below[i] = A(j + i, c)
        const double f = below[0];
        for (index i = 1; i <= km; ++i) below[i] -= l[i] * f;
    }
    for (index i = 1; i <= km; ++i) b[j + i] -= l[i] * b[j];
}

// One column of Gaussian elimination with row exchanges inside the band, the right-hand side
// carried along: the pivot among the km entries below the diagonal, the exchange, the
// multipliers and the update of the columns up to ju (the last one the exchanges have reached).
// km is a compile-time constant for the band shapes of the usual degrees (see solve_band), so
// that the short loops over it unroll. False on a zero or non-finite pivot.
template <class Count>
[[gnu::always_inline]] inline bool eliminate(const Band &A, double *b, index j, index &ju,
                                             Count km) {
    double *col = &A.at(j, j);  // col[i] = A(j + i, j)
    index jp = 0;
    double best = std::fabs(col[0]);
    for (index i = 1; i <= km; ++i) {
        const double a = std::fabs(col[i]);
        jp = a > best ? i : jp;
        best = a > best ? a : best;
    }
    if (!(best > 0.0) || !std::isfinite(best)) return false;
    const index reach = j + A.ku + jp;
    if (reach > ju) ju = reach < A.n - 1 ? reach : A.n - 1;
    if (jp != 0) {
        for (index c = j; c <= ju; ++c) {
            const double tmp = A.at(j, c);
            A.at(j, c) = A.at(j + jp, c);
            A.at(j + jp, c) = tmp;
        }
        const double tmp = b[j];
        b[j] = b[j + jp];
        b[j + jp] = tmp;
    }
    // The diagonal keeps its reciprocal: back substitution then multiplies, and its chain of
    // rows, each waiting on the one below, does not wait on a division per row.
    const double inv = 1.0 / col[0];
    col[0] = inv;
    for (index i = 1; i <= km; ++i) col[i] *= inv;
    // With km fixed, the multipliers are copied where the compiler can keep them in registers
    // (the updates below write through pointers that might alias the column).
    if constexpr (std::is_integral_v<Count>) {
        update(A, b, j, ju, km, col);
    } else {
        double l[Count::value + 1];
        for (index i = 1; i <= km; ++i) l[i] = col[i];
        update(A, b, j, ju, km, l);
    }
    return true;
}

// The elimination with kl = KL sub-diagonals, its inner loops of fixed length but in the last
// columns, where fewer rows remain below the diagonal.
template <int KL>
bool factor_band(const Band &A, double *b) {
    const index n = A.n;
    index ju = 0, j = 0;
    for (; j + KL < n; ++j)
        if (!eliminate(A, b, j, ju, std::integral_constant<index, KL>{})) return false;
    for (; j < n; ++j)
        if (!eliminate(A, b, j, ju, n - 1 - j)) return false;
    return true;
}

bool factor_band_any(const Band &A, double *b) {
    index ju = 0;
    for (index j = 0; j < A.n; ++j)
        if (!eliminate(A, b, j, ju, A.kl < A.n - 1 - j ? A.kl : A.n - 1 - j)) return false;
    return true;
}

// Gaussian elimination with row exchanges, then back substitution; the solution overwrites b.
// False on a zero or non-finite pivot or a non-finite solution.
bool solve_band(const Band &A, double *b) {
    bool factored = false;
    switch (A.kl) {
        case 1:
            factored = factor_band<1>(A, b);
            break;
        case 2:
            factored = factor_band<2>(A, b);
            break;
        case 3:
            factored = factor_band<3>(A, b);
            break;
        case 4:
            factored = factor_band<4>(A, b);
            break;
        case 5:
            factored = factor_band<5>(A, b);
            break;
        case 6:
            factored = factor_band<6>(A, b);
            break;
        default:
            factored = factor_band_any(A, b);
    }
    if (!factored) return false;
    const index n = A.n;
    // Back substitution by rows, each row's terms subtracted from the farthest column in (the
    // order the column-wise form would subtract them): only the last term waits on the row just
    // solved, which stays in a register.
    double below = 0.0;
    for (index j = n - 1; j >= 0; --j) {
        const index end = j + A.kv < n - 1 ? j + A.kv : n - 1;
        double sum = b[j];
        for (index i = end; i > j + 1; --i) sum -= A.at(j, i) * b[i];
        if (j + 1 <= end) sum -= A.at(j, j + 1) * below;
        below = sum * A.at(j, j);
        b[j] = below;
    }
    for (index j = 0; j < n; ++j)
        if (!std::isfinite(b[j])) return false;
    return true;
}

}  // namespace

InterpolationStatus interpolate(cspan times, cspan values, int p, cspan start, cspan stop,
                                vspan knots, vspan coefs, vspan work) {
    using S = InterpolationStatus;
    if (p < 1 || p > kMaxDegree) return S::bad_degree;
    if (times.size() != values.size()) return S::bad_lengths;
    if (times.size() < 2) return S::too_few_points;
    if (start.size() + stop.size() != static_cast<std::size_t>(p - 1)) return S::bad_conditions;
    const InterpolationSize size = interpolation_size(times.size(), p, start.size(), stop.size());
    if (!size.ok || knots.size() != size.knots || coefs.size() != size.coefs ||
        work.size() != size.work)
        return S::bad_buffers;
    const index m = static_cast<index>(times.size()), n = static_cast<index>(size.coefs);
    const index k = static_cast<index>(start.size()), l = static_cast<index>(stop.size());
    const index kl = k > l ? k : l, ku = p - k;
    const Band A{work.data(), n, kl, ku, kl + ku, 2 * kl + ku + 1};
    double *b = work.data() + n * A.ld, *t = b + n, *scratch = t + size.knots;
    double *ders = scratch + (p + 1) * (p + 1) + 4 * (p + 1);
    // The knots are built in work from one read of each time and checked there, so that the
    // checks hold for the knots used even if the caller's array changes meanwhile; they reach the
    // caller only with a solution.
    for (index i = 0; i < m; ++i) t[p + i] = times[i];
    for (index i = p + 1; i < m + p; ++i)
        if (!(t[i - 1] < t[i])) return S::bad_times;
    if (!std::isfinite(t[p]) || !std::isfinite(t[p + m - 1])) return S::bad_times;
    if (!all_finite(values) || !all_finite(start) || !all_finite(stop)) return S::bad_values;
    for (index i = 0; i < p; ++i) {
        t[i] = t[p];
        t[p + m + i] = t[p + m - 1];
    }
    for (index i = 0; i < n * A.ld; ++i) A.ab[i] = 0.0;

    const double first = t[0], last = t[size.knots - 1];
    put_row(A, b, 0, t, p, p, first, 0, values[0], scratch, ders);
    for (index d = 1; d <= k; ++d) put_row(A, b, d, t, p, p, first, d, start[d - 1], scratch, ders);
    switch (p) {
        case 1:
            put_interior_rows<1>(A, b, t, values, k, m);
            break;
        case 2:
            put_interior_rows<2>(A, b, t, values, k, m);
            break;
        case 3:
            put_interior_rows<3>(A, b, t, values, k, m);
            break;
        case 4:
            put_interior_rows<4>(A, b, t, values, k, m);
            break;
        case 5:
            put_interior_rows<5>(A, b, t, values, k, m);
            break;
        case 6:
            put_interior_rows<6>(A, b, t, values, k, m);
            break;
        case 7:
            put_interior_rows<7>(A, b, t, values, k, m);
            break;
        default:
            for (index i = 1; i + 1 < m; ++i)
                put_row(A, b, k + i, t, p + i, p, t[p + i], 0, values[i], scratch, ders);
    }
    put_row(A, b, k + m - 1, t, n - 1, p, last, 0, values[m - 1], scratch, ders);
    for (index d = 1; d <= l; ++d)
        put_row(A, b, k + m - 1 + d, t, n - 1, p, last, d, stop[d - 1], scratch, ders);

    if (!solve_band(A, b)) return S::unsolvable;
    for (index i = 0; i < static_cast<index>(size.knots); ++i) knots[i] = t[i];
    for (index i = 0; i < n; ++i) coefs[i] = b[i];
    return S::ok;
}

}  // namespace pyorvex::kernel
