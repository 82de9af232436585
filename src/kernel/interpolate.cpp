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
using S = InterpolationStatus;

// The column-major band of an order-N matrix with kl sub- and ku super-diagonals plus kl rows of
// fill-in: A(i, j) is ab[(kv + i - j) + j * ld], kv = kl + ku, ld = 2 kl + ku + 1.
// piv[j] is the row exchanged with row j at step j of the elimination, as an offset below j.
struct Band {
    double *ab;
    index n, kl, ku, kv, ld;
    double *piv = nullptr;
    double &at(index i, index j) const { return ab[(kv + i - j) + j * ld]; }
    bool holds(index i, index j) const { return j >= i - kl && j <= i + ku && j >= 0 && j < n; }
};

// The caller's interrupt test, asked at most every `every` steps of a loop.
struct Poll {
    const InterpolationCheck &check;
    bool stop(index step, index every) const {
        return check.interrupted != nullptr && step % every == 0 &&
               check.interrupted(check.context);
    }
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

// Puts the rows of the conditions "derivative of order d at x" for d = 0..nd into rows
// row..row + nd: the span s holds x, and one table of basis derivatives serves every order.
// Entries outside the band are the basis functions that vanish at x to that order at a clamped
// end (exact zeros of the table), so they are left out.
void put_rows(const Band &A, index row, const double *t, index s, int p, double x, int nd,
              double *scratch, double *ders) {
    basis_derivatives(t, s, p, x, nd, scratch, ders);
    for (int d = 0; d <= nd; ++d) {
        for (int r = 0; r <= p; ++r) {
            const index col = s - p + r;
            if (A.holds(row + d, col)) A.at(row + d, col) = ders[d * (p + 1) + r];
        }
    }
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
void store_row(const Band &A, index row, index s, const pair *N, int lane) {
    PYORVEX_UNROLL for (int r = 0; r <= P; ++r) {
        const index col = s - P + r;
        if (A.holds(row, col)) A.at(row, col) = N[r][lane];
    }
}

// The rows of the interior waypoints: times[i] (the knot t[P + i]) on span P + i, in row k + i.
template <int P>
void put_interior_rows(const Band &A, const double *t, index k, index m) {
    pair N[P + 1];
    index i = 1;
    for (; i + 2 < m; i += 2) {
        basis_pair<P>(t, P + i, N);
        store_row<P>(A, k + i, P + i, N, 0);
        store_row<P>(A, k + i + 1, P + i + 1, N, 1);
    }
    if (i + 1 < m) {  // one row left: its lane 1 repeats it
        basis_pair<P>(t, P + i - 1, N);
        store_row<P>(A, k + i, P + i, N, 1);
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
// km is a compile-time constant for the band shapes of the usual degrees (see factor), so
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
    A.piv[j] = static_cast<double>(jp);
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
// columns, where fewer rows remain below the diagonal. A column costs about kl (kl + ku)
// operations: the interrupt test comes every 2^20 of them or so.
template <int KL>
S factor_band(const Band &A, double *b, const Poll &poll) {
    const index n = A.n, every = 1 + (index{1} << 20) / (A.kl * (A.kl + A.ku) + 1);
    index ju = 0, j = 0;
    for (; j + KL < n; ++j) {
        if (poll.stop(j, every)) return S::interrupted;
        if (!eliminate(A, b, j, ju, std::integral_constant<index, KL>{})) return S::unsolvable;
    }
    for (; j < n; ++j)
        if (!eliminate(A, b, j, ju, n - 1 - j)) return S::unsolvable;
    return S::ok;
}

S factor_band_any(const Band &A, double *b, const Poll &poll) {
    const index every = 1 + (index{1} << 20) / (A.kl * (A.kl + A.ku) + 1);
    index ju = 0;
    for (index j = 0; j < A.n; ++j) {
        if (poll.stop(j, every)) return S::interrupted;
        if (!eliminate(A, b, j, ju, A.kl < A.n - 1 - j ? A.kl : A.n - 1 - j)) return S::unsolvable;
    }
    return S::ok;
}

S factor(const Band &A, double *b, const Poll &poll) {
    switch (A.kl) {
        case 1:
            return factor_band<1>(A, b, poll);
        case 2:
            return factor_band<2>(A, b, poll);
        case 3:
            return factor_band<3>(A, b, poll);
        case 4:
            return factor_band<4>(A, b, poll);
        case 5:
            return factor_band<5>(A, b, poll);
        case 6:
            return factor_band<6>(A, b, poll);
        default:
            return factor_band_any(A, b, poll);
    }
}

// Back substitution with the upper factor (its diagonal holds reciprocals), by rows, each row's
// terms subtracted from the farthest column in: only the last term waits on the row just solved,
// which stays in a register.
void solve_upper(const Band &A, double *b) {
    const index n = A.n;
    double below = 0.0;
    for (index j = n - 1; j >= 0; --j) {
        const index end = j + A.kv < n - 1 ? j + A.kv : n - 1;
        double sum = b[j];
        for (index i = end; i > j + 1; --i) sum -= A.at(j, i) * b[i];
        if (j + 1 <= end) sum -= A.at(j, j + 1) * below;
        below = sum * A.at(j, j);
        b[j] = below;
    }
}

// Column j of the band as an array over the row index: column(A, j)[i] is A(i, j). The solves
// below walk columns, whose entries lie side by side in memory.
inline const double *column(const Band &A, index j) { return A.ab + A.kv + j * (A.ld - 1); }

inline void exchange(double *y, index j, const double *piv) {
    const index jp = j + static_cast<index>(piv[j]);
    const double a = y[j], b = y[jp];
    y[j] = b;
    y[jp] = a;
}

// The row exchanges and the lower factor, step by step as the elimination applied them.
void solve_lower(const Band &A, double *y) {
    const index n = A.n;
    for (index j = 0; j < n; ++j) {
        exchange(y, j, A.piv);
        const double *l = column(A, j);
        const double yj = y[j];
        const index end = j + A.kl < n - 1 ? j + A.kl : n - 1;
        for (index i = j + 1; i <= end; ++i) y[i] -= l[i] * yj;
    }
}

// y := A^-T y: the transposed factors in the reverse order, each a dot product down a column.
void solve_transposed(const Band &A, double *y) {
    const index n = A.n;
    for (index j = 0; j < n; ++j) {
        const double *u = column(A, j);
        double sum = 0.0;
        for (index i = j - A.kv > 0 ? j - A.kv : 0; i < j; ++i) sum += u[i] * y[i];
        y[j] = (y[j] - sum) * u[j];
    }
    for (index j = n - 1; j >= 0; --j) {
        const double *l = column(A, j);
        const index end = j + A.kl < n - 1 ? j + A.kl : n - 1;
        double sum = 0.0;
        for (index i = j + 1; i <= end; ++i) sum += l[i] * y[i];
        y[j] -= sum;
        exchange(y, j, A.piv);
    }
}

// An upper bound of || |A^-1| w ||_inf in two sweeps: the factors' inverses are bounded entry by
// entry by the inverses of their comparison matrices (|diagonal|, -|off-diagonal|), so the
// solves with every term's magnitude added bound |A^-1| w from above. It is rigorous and
// usually far from tight; when even it is within the tolerance, the estimate is not needed.
double error_majorant(const Band &A, const double *w, double *y) {
    const index n = A.n;
    for (index i = 0; i < n; ++i) y[i] = w[i];
    for (index j = 0; j < n; ++j) {
        exchange(y, j, A.piv);
        const double *l = column(A, j);
        const double yj = y[j];
        const index end = j + A.kl < n - 1 ? j + A.kl : n - 1;
        for (index i = j + 1; i <= end; ++i) y[i] += std::fabs(l[i]) * yj;
    }
    double largest = 0.0, below = 0.0;
    for (index j = n - 1; j >= 0; --j) {
        const index end = j + A.kv < n - 1 ? j + A.kv : n - 1;
        double sum = y[j];
        for (index i = end; i > j + 1; --i) sum += std::fabs(A.at(j, i)) * y[i];
        if (j + 1 <= end) sum += std::fabs(A.at(j, j + 1)) * below;
        below = sum * std::fabs(A.at(j, j));
        y[j] = below;
        largest = below > largest ? below : largest;
    }
    return largest;
}

// || A^-1 diag(w) ||_inf, estimated as Hager's method (in Higham's refinement, LAPACK's dlacn2)
// estimates the 1-norm of its transpose C = diag(w) A^-T from products with C and C^T. v, x are
// work vectors of the system's order.
double error_norm(const Band &A, const double *w, double *v, double *x) {
    const index n = A.n;
    const auto apply_c = [&](double *y) {  // y := diag(w) A^-T y
        solve_transposed(A, y);
        for (index i = 0; i < n; ++i) y[i] *= w[i];
    };
    const auto apply_ct = [&](double *y) {  // y := A^-1 diag(w) y
        for (index i = 0; i < n; ++i) y[i] *= w[i];
        solve_lower(A, y);
        solve_upper(A, y);
    };
    const auto norm1 = [&](const double *y) {
        double s = 0.0;
        for (index i = 0; i < n; ++i) s += std::fabs(y[i]);
        return s;
    };
    const auto sign = [](double a) { return a >= 0.0 ? 1.0 : -1.0; };
    for (index i = 0; i < n; ++i) v[i] = 1.0 / static_cast<double>(n);
    apply_c(v);
    double est = norm1(v);
    if (n == 1 || !std::isfinite(est)) return est;
    for (index i = 0; i < n; ++i) x[i] = sign(v[i]);
    apply_ct(x);
    index j = 0;
    for (index i = 1; i < n; ++i)
        if (std::fabs(x[i]) > std::fabs(x[j])) j = i;
    for (int iter = 2; iter <= 5; ++iter) {
        for (index i = 0; i < n; ++i) v[i] = 0.0;
        v[j] = 1.0;
        apply_c(v);
        const double old = est;
        est = norm1(v);
        bool same = true;
        for (index i = 0; i < n && same; ++i) same = sign(v[i]) == x[i];
        if (same || est <= old) break;
        for (index i = 0; i < n; ++i) x[i] = sign(v[i]);
        apply_ct(x);
        const index last = j;
        for (index i = 0; i < n; ++i)
            if (std::fabs(x[i]) > std::fabs(x[j])) j = i;
        if (std::fabs(x[last]) == std::fabs(x[j])) break;
    }
    // Higham's alternating-sign vector catches the matrices the iteration underestimates.
    for (index i = 0; i < n; ++i)
        v[i] =
            (i % 2 == 0 ? 1.0 : -1.0) * (1.0 + static_cast<double>(i) / static_cast<double>(n - 1));
    apply_c(v);
    const double alt = 2.0 * norm1(v) / (3.0 * static_cast<double>(n));
    return alt > est ? alt : est;
}

// The residual r = b - A x of the system as built (orig), and w = |r| + nz eps (|A| |x| + |b|),
// the bound on the residual of the exact solution that LAPACK's refinement routines use
// (nz: the entries of a row, plus one; eps: the unit roundoff).
void residual(const Band &orig, const double *b, const double *x, double *r, double *w) {
    const index n = orig.n;
    const index nz = orig.kl + orig.ku + 2 < n + 1 ? orig.kl + orig.ku + 2 : n + 1;
    const double nz_eps = static_cast<double>(nz) * 0x1p-53;
    for (index i = 0; i < n; ++i) {
        const index lo = i - orig.kl > 0 ? i - orig.kl : 0;
        const index hi = i + orig.ku < n - 1 ? i + orig.ku : n - 1;
        double ax = 0.0, abs_ax = 0.0;
        for (index j = lo; j <= hi; ++j) {
            const double term = orig.at(i, j) * x[j];
            ax += term;
            abs_ax += std::fabs(term);
        }
        r[i] = b[i] - ax;
        w[i] = std::fabs(r[i]) + nz_eps * (abs_ax + std::fabs(b[i]));
    }
}

// The data's scale (see InterpolationCheck) and, in tol[d], the tolerance of each derivative
// row of order d at one end: tolerance * scale * d! / h^d.
double end_scale(const double *ends, index count, double h, double scale) {
    double power = 1.0;  // h^d / d!
    for (index d = 1; d <= count; ++d) {
        power *= h / static_cast<double>(d);
        const double change = std::fabs(ends[d - 1]) * power;
        if (ends[d - 1] != 0.0 && change > scale) scale = change;
    }
    return scale;
}

// True when the residuals of the rows of one end, from row `row` on (derivatives of orders
// 1..count), are within tolerance * scale * d! / h^d.
bool end_rows_hold(const double *r, index row, index count, double h, double limit) {
    double power = 1.0;  // h^d / d!
    for (index d = 1; d <= count; ++d) {
        power *= h / static_cast<double>(d);
        if (!(std::fabs(r[row + d]) * power <= limit)) return false;
    }
    return true;
}

// The right-hand side of axis c in the order of the rows: the first value and the start
// derivatives, the interior values, the last value and the stop derivatives. Each input is read
// once, into memory the caller cannot change.
void gather_rhs(cspan values, cspan start, cspan stop, std::size_t dof, std::size_t c, index k,
                index m, double *rhs) {
    rhs[0] = values[c];
    for (index d = 1; d <= k; ++d) rhs[d] = start[(d - 1) * dof + c];
    for (index i = 1; i < m; ++i) rhs[k + i] = values[i * dof + c];
    const index l = static_cast<index>(stop.size() / dof);
    for (index d = 1; d <= l; ++d) rhs[k + m - 1 + d] = stop[(d - 1) * dof + c];
}

}  // namespace

InterpolationStatus interpolate(cspan times, cspan values, int p, cspan start, cspan stop,
                                vspan knots, vspan coefs, vspan work, InterpolationCheck &check) {
    return interpolate_axes(times, values, 1, p, start, stop, knots, coefs, work, check);
}

InterpolationStatus interpolate_axes(cspan times, cspan values, std::size_t dof, int p, cspan start,
                                     cspan stop, vspan knots, vspan coefs, vspan work,
                                     InterpolationCheck &check) {
    if (p < 1 || p > kMaxDegree) return S::bad_degree;
    if (dof < 1 || values.size() / dof != times.size() || values.size() % dof != 0)
        return S::bad_lengths;
    if (times.size() < 2) return S::too_few_points;
    if (start.size() % dof != 0 || stop.size() % dof != 0 ||
        (start.size() + stop.size()) / dof != static_cast<std::size_t>(p - 1))
        return S::bad_conditions;
    const std::size_t k_count = start.size() / dof, l_count = stop.size() / dof;
    const InterpolationSize size = interpolation_size(times.size(), p, k_count, l_count, dof);
    if (!size.ok || knots.size() != size.knots || coefs.size() != size.coefs ||
        work.size() != size.work)
        return S::bad_buffers;
    const index m = static_cast<index>(times.size()), n = static_cast<index>(size.coefs / dof);
    const index k = static_cast<index>(k_count), l = static_cast<index>(l_count);
    const index kl = k > l ? k : l, ku = p - k, ld = 2 * kl + ku + 1;
    const index axes = static_cast<index>(dof);
    double *piv = work.data() + 2 * n * ld, *r = piv + n, *w = r + n, *v = w + n, *x = v + n;
    double *sol = x + n, *rhs = sol + n * axes, *t = rhs + n * axes, *scratch = t + size.knots;
    double *ders = scratch + (p + 1) * (p + 1) + 4 * (p + 1);
    const Band A{work.data(), n, kl, ku, kl + ku, ld, piv};
    const Band orig{work.data() + n * ld, n, kl, ku, kl + ku, ld};
    const Poll poll{check};
    // The knots and the data are copied into work from one read each and checked there, so that
    // the checks hold for what is solved even if the caller's arrays change meanwhile; the
    // result reaches the caller only with a solution.
    for (index i = 0; i < m; ++i) t[p + i] = times[i];
    for (index i = p + 1; i < m + p; ++i)
        if (!(t[i - 1] < t[i])) return S::bad_times;
    if (!std::isfinite(t[p]) || !std::isfinite(t[p + m - 1])) return S::bad_times;
    for (index c = 0; c < axes; ++c) {
        gather_rhs(values, start, stop, dof, static_cast<std::size_t>(c), k, m, rhs + c * n);
        if (!all_finite({rhs + c * n, static_cast<std::size_t>(n)})) return S::bad_values;
    }
    for (index i = 0; i < p; ++i) {
        t[i] = t[p];
        t[p + m + i] = t[p + m - 1];
    }
    for (index i = 0; i < n * ld; ++i) A.ab[i] = 0.0;

    const double first = t[0], last = t[size.knots - 1];
    put_rows(A, 0, t, p, p, first, static_cast<int>(k), scratch, ders);
    switch (p) {
        case 1:
            put_interior_rows<1>(A, t, k, m);
            break;
        case 2:
            put_interior_rows<2>(A, t, k, m);
            break;
        case 3:
            put_interior_rows<3>(A, t, k, m);
            break;
        case 4:
            put_interior_rows<4>(A, t, k, m);
            break;
        case 5:
            put_interior_rows<5>(A, t, k, m);
            break;
        case 6:
            put_interior_rows<6>(A, t, k, m);
            break;
        case 7:
            put_interior_rows<7>(A, t, k, m);
            break;
        default: {
            // p^2 operations a row: the interrupt test every 2^20 of them or so.
            const index every = 1 + (index{1} << 20) / (index{p} * p);
            for (index i = 1; i + 1 < m; ++i) {
                if (poll.stop(i, every)) return S::interrupted;
                put_rows(A, k + i, t, p + i, p, t[p + i], 0, scratch, ders);
            }
        }
    }
    put_rows(A, k + m - 1, t, n - 1, p, last, static_cast<int>(l), scratch, ders);
    for (index i = 0; i < n * ld; ++i) orig.ab[i] = A.ab[i];

    // One factorisation for every axis: the first axis's right-hand side is carried through the
    // elimination, the others are solved with the factors.
    for (index i = 0; i < n * axes; ++i) sol[i] = rhs[i];
    const S factored = factor(A, sol, poll);
    if (factored != S::ok) return factored;
    solve_upper(A, sol);
    for (index c = 1; c < axes; ++c) {
        solve_lower(A, sol + c * n);
        solve_upper(A, sol + c * n);
    }
    if (!all_finite({sol, static_cast<std::size_t>(n * axes)})) return S::unsolvable;
    // An axis at rest (one value, every end derivative zero) is that constant exactly: the
    // solve's rounding would leave it wiggles of a few ulp, whose derivatives are not zero.
    for (index c = 0; c < axes; ++c) {
        const double *b = rhs + c * n;
        bool rest = true;
        for (index i = 0; i < n && rest; ++i)
            rest = (i == 0 || (i > k && i < k + m)) ? b[i] == b[0] : b[i] == 0.0;
        if (rest)
            for (index i = 0; i < n; ++i) sol[c * n + i] = b[0];
    }

    // The accuracy of each axis's solution, from its residual and the estimated |A^-1|, against
    // that axis's own scale.
    check.bound = 0.0;
    check.scale = 0.0;
    check.axis = 0;
    bool accurate = true;
    for (index c = 0; c < axes; ++c) {
        if (poll.stop(0, 1)) return S::interrupted;
        const double *b = rhs + c * n, *xc = sol + c * n;
        double scale = 0.0;
        for (index i = 0; i < n; ++i)
            if (i == 0 || (i > k && i < k + m))
                scale = std::fabs(b[i]) > scale ? std::fabs(b[i]) : scale;
        scale = end_scale(b + 1, k, t[p + 1] - t[p], scale);
        scale = end_scale(b + k + m, l, t[p + m - 1] - t[p + m - 2], scale);
        residual(orig, b, xc, r, w);
        const double limit = check.tolerance * scale;
        bool rows_hold = std::fabs(r[0]) <= limit;
        for (index i = 1; i < m && rows_hold; ++i) rows_hold = std::fabs(r[k + i]) <= limit;
        rows_hold = rows_hold && end_rows_hold(r, 0, k, t[p + 1] - t[p], limit) &&
                    end_rows_hold(r, k + m - 1, l, t[p + m - 1] - t[p + m - 2], limit);
        double bound = error_majorant(A, w, v);
        if (!(bound <= limit)) bound = error_norm(A, w, v, x);
        const bool ok = rows_hold && bound <= limit;
        // Reported: the first axis that fails, else the axis closest to its tolerance.
        if (accurate && (!ok || bound * check.scale >= check.bound * scale)) {
            check.bound = bound;
            check.scale = scale;
            check.axis = static_cast<std::size_t>(c);
        }
        accurate = accurate && ok;
    }
    if (!accurate) return S::inaccurate;
    for (index i = 0; i < static_cast<index>(size.knots); ++i) knots[i] = t[i];
    for (index i = 0; i < n; ++i)
        for (index c = 0; c < axes; ++c) coefs[i * axes + c] = sol[c * n + i];
    return S::ok;
}

}  // namespace pyorvex::kernel
