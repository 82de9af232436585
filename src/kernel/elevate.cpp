// Degree elevation.
//
// The classic streaming scheme: walk the spans left to right, turn each into its Bezier piece by
// inserting its right end up to multiplicity p, elevate the piece, and take the inserted knots
// out again (down to their old multiplicity plus nu) before handing the coefficients on. Work is
// O(n * p * (p + nu)); the state is a few arrays of p + nu + 1 values, kept on the stack (the
// kernel allocates nothing), which is why the elevated degree is capped at kMaxElevatedDegree.
//
// The scheme wants a knot vector whose ends have multiplicity exactly p + 1 and whose interior
// knots have at most p. Everything else is brought to that form around it:
//  - an end of multiplicity m < p + 1 is completed with p + 1 - m virtual copies carrying zero
//    coefficients (that is the Cox-de Boor sum of an unclamped spline on its domain, see
//    insertion), the result is elevated as usual, and the same number of knots and of (zero)
//    leading coefficients is dropped again, so the output end has multiplicity m + nu and the
//    function is kept exactly;
//  - an end or interior knot of multiplicity m > p + 1 carries m - p - 1 basis functions that
//    are identically zero; their coefficients are copied through unchanged and the knot gets
//    m + nu copies;
//  - an interior knot of multiplicity p + 1 (a jump) restarts the Bezier pieces: both sides are
//    kept.
// A knot vector that is not non-decreasing (NaN, or out of order) has no meaning here; the
// output is then NaN throughout, as it is when the elevated degree exceeds kMaxElevatedDegree.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "bspline.hpp"

namespace pyorvex::kernel {

namespace {

using index = std::ptrdiff_t;

constexpr int kMaxElevatedDegree = 256;

// Number of runs of equal values strictly inside (t.front(), t.back()).
std::int64_t interior_values(cspan t) {
    if (t.size() < 3) return 0;
    const double a = t.front(), b = t.back();
    std::int64_t count = 0;
    for (std::size_t i = 1; i + 1 < t.size(); ++i)
        if (t[i] > a && t[i] < b && t[i] != t[i - 1]) ++count;
    return count;
}

// base + factor * mult, or false when it does not fit.
bool size_of(std::size_t base, std::uint64_t factor, std::uint64_t mult, std::size_t& out) {
    std::uint64_t prod = 0, sum = 0;
    if (__builtin_mul_overflow(factor, mult, &prod) || __builtin_add_overflow(prod, base, &sum))
        return false;
    out = static_cast<std::size_t>(sum);
    return sum == out;
}

class Elevation {
public:
    // a: the number of distinct interior knot values (interior_values(t)).
    Elevation(cspan t, cspan c, int p, int nu, index a, vspan nt, vspan nc)
        : t_(t), c_(c), p_(p), nu_(nu), ph_(p + nu), nt_(nt), nc_(nc) {
        const index tn = static_cast<index>(t.size());
        n_ = static_cast<index>(c.size()) - 1;
        v0_ = t.front();
        vl_ = t.back();
        index m0 = 1, ml = 1;
        while (m0 < tn && t[m0] == v0_) ++m0;
        while (ml < tn && t[tn - 1 - ml] == vl_) ++ml;
        if (m0 >= p + 1) {
            el_ = m0 - p - 1;
            dl_ = 0;
        } else {
            el_ = 0;
            dl_ = p + 1 - m0;
        }
        if (ml >= p + 1) {
            er_ = ml - p - 1;
            dr_ = 0;
        } else {
            er_ = 0;
            dr_ = p + 1 - ml;
        }
        real_knots_ = tn - el_ - er_;
        core_knots_ = dl_ + real_knots_ + dr_;
        out_knots_ = core_knots_ + nu * (a + 2);
        out_coefs_ = core_knots_ - p - 1 + nu * (a + 1);
    }

    void run() {
        // Zero-basis coefficients and knots beyond p + 1 at the ends go straight through.
        for (index i = 0; i < el_; ++i) {
            nt_[i] = v0_;
            nc_[i] = c_[i];
        }
        const index tail_k = static_cast<index>(nt_.size()) - er_;
        const index tail_c = static_cast<index>(nc_.size()) - er_;
        for (index i = 0; i < er_; ++i) {
            nt_[tail_k + i] = vl_;
            nc_[tail_c + i] = c_[n_ - er_ + 1 + i];
        }
        core();
    }

private:
    // The clamped core: knots and coefficients with the virtual end copies.
    double U(index i) const {
        if (i < dl_) return v0_;
        if (i >= dl_ + real_knots_) return vl_;
        return t_[el_ + i - dl_];
    }
    double P(index i) const {
        if (i < dl_) return 0.0;
        const index j = el_ + i - dl_;
        return j <= n_ - er_ ? c_[j] : 0.0;
    }

    // Output of the core; the virtual copies and their coefficients are dropped.
    void set_knot(index q, double v) {
        if (q >= dl_ && q < out_knots_ - dr_) nt_[el_ + q - dl_] = v;
    }
    double knot(index q) const { return q < dl_ ? v0_ : nt_[el_ + q - dl_]; }
    double* coef(index q) {
        if (q < 0 || q >= out_coefs_) return &spare_;
        if (q < dl_) return &pre_[q];
        if (q >= out_coefs_ - dr_) return &post_[q - (out_coefs_ - dr_)];
        return &nc_[el_ + q - dl_];
    }

    void core() {
        const index p = p_, nu = nu_, ph = ph_;
        const index m = core_knots_ - 1;
        double bpts[kMaxElevatedDegree + 1], ebpts[kMaxElevatedDegree + 1], next[kMaxElevatedDegree + 1],
            alfs[kMaxElevatedDegree + 1], start[kMaxElevatedDegree + 1], ratio_p[kMaxElevatedDegree + 1],
            ratio_nu[kMaxElevatedDegree + 1];
        // Elevation weights of a Bezier piece: C(p, j) C(nu, i - j) / C(ph, i) for j from
        // max(0, i - nu); the first one of each row here, the rest by their ratio
        //   w(i, j + 1) / w(i, j) = (p - j) / (j + 1) * m / (nu - m + 1),  m = i - j,
        // whose two factors are tabulated once instead of divided out for every piece.
        for (index j = 0; j <= p; ++j)
            ratio_p[j] = static_cast<double>(p - j) / static_cast<double>(j + 1);
        for (index m = 0; m <= nu; ++m)
            ratio_nu[m] = static_cast<double>(m) / static_cast<double>(nu - m + 1);
        start[0] = 1.0;
        for (index i = 1; i <= std::min(nu, ph); ++i)
            start[i] = start[i - 1] * static_cast<double>(nu - i + 1) / static_cast<double>(ph - i + 1);
        double g = 1.0;
        for (index i = ph; i > nu; --i) {
            start[i] = g;
            g *= static_cast<double>(p - (ph - i)) / static_cast<double>(ph - (ph - i));
        }

        index kind = ph + 1, cind = 0;
        index r = -1;
        index a = p, b = p + 1;
        index run_start = 0;  // first index of the run of ua
        double ua = U(0);
        for (index i = 0; i <= ph; ++i) set_knot(i, ua);
        for (index i = 0; i <= p; ++i) bpts[i] = P(i);
        bool first = true;
        // b walks the runs; the last run ends at m (for p = 0 it also starts there).
        while (b <= m) {
            const index i0 = b;
            while (b < m && U(b) == U(b + 1)) ++b;
            const index mul = b - i0 + 1;
            const double ub = U(b);
            const index oldr = r;
            r = p - mul;
            // The first elevated points of this piece that are not shared with the last piece.
            const index lbz = first ? 0 : oldr > 0 ? (oldr + 2) / 2 : oldr == 0 ? 1 : 0;
            const index rbz = r > 0 ? ph - (r + 1) / 2 : ph;
            if (r > 0) {
                // Insert ub r times: the Bezier piece of [ua, ub], and the start of the next.
                const double numer = ub - ua;
                for (index k = p; k > mul; --k) alfs[k - mul - 1] = numer / (U(a + k) - ua);
                for (index j = 1; j <= r; ++j) {
                    const index save = r - j, s = mul + j;
                    for (index k = p; k >= s; --k)
                        bpts[k] = alfs[k - s] * bpts[k] + (1.0 - alfs[k - s]) * bpts[k - 1];
                    next[save] = bpts[p];
                }
            }
            for (index i = lbz; i <= ph; ++i) {
                double sum = 0.0, w = start[i];
                const index j1 = std::min(p, i);
                for (index j = std::max<index>(0, i - nu); j <= j1; ++j) {
                    sum += w * bpts[j];
                    w *= ratio_p[j] * ratio_nu[i - j];
                }
                ebpts[i] = sum;
            }
            if (oldr > 1) {
                // Take ua out again, oldr - 1 times, from the coefficients already written and
                // the start of this piece.
                index lo = kind - 2, hi = kind;
                const double den = ub - ua;
                const double bet = (ub - knot(kind - 1)) / den;
                for (index tr = 1; tr < oldr; ++tr) {
                    index i = lo, j = hi, kj = j - kind + 1;
                    while (j - i > tr) {
                        if (i < cind) {
                            const double alf = (ub - knot(i)) / (ua - knot(i));
                            *coef(i) = alf * *coef(i) + (1.0 - alf) * *coef(i - 1);
                        }
                        if (j >= lbz) {
                            if (j - tr <= kind - ph + oldr) {
                                const double gam = (ub - knot(j - tr)) / den;
                                ebpts[kj] = gam * ebpts[kj] + (1.0 - gam) * ebpts[kj + 1];
                            } else {
                                ebpts[kj] = bet * ebpts[kj] + (1.0 - bet) * ebpts[kj + 1];
                            }
                        }
                        ++i;
                        --j;
                        --kj;
                    }
                    --lo;
                    ++hi;
                }
            }
            if (!first) {
                for (index i = 0; i < ph - oldr; ++i) set_knot(kind++, ua);
                // Behind a knot of multiplicity beyond p + 1: its zero-basis coefficients.
                for (index e = 0; e < -oldr - 1; ++e) *coef(cind++) = P(run_start + e);
            }
            for (index j = lbz; j <= rbz; ++j) *coef(cind++) = ebpts[j];
            if (b < m) {
                for (index j = 0; j < r; ++j) bpts[j] = next[j];
                for (index j = std::max<index>(r, 0); j <= p; ++j) bpts[j] = P(b - p + j);
                a = b;
                ++b;
                ua = ub;
                run_start = i0;
            } else {
                for (index i = 0; i <= ph; ++i) set_knot(kind + i, ub);
                break;
            }
            first = false;
        }
    }

    cspan t_, c_;
    index p_, nu_, ph_;
    vspan nt_, nc_;
    index n_ = 0;
    double v0_ = 0, vl_ = 0;
    index el_ = 0, dl_ = 0, er_ = 0, dr_ = 0;  // extra (real) and virtual copies at each end
    index real_knots_ = 0, core_knots_ = 0, out_knots_ = 0, out_coefs_ = 0;
    double pre_[kMaxElevatedDegree + 1] = {}, post_[kMaxElevatedDegree + 1] = {}, spare_ = 0;
};

}  // namespace

void elevate_degree(cspan t, cspan c, int p, int nu, vspan nt, vspan nc) {
    if (p < 0 || nu < 0 || c.empty() || t.size() != c.size() + static_cast<std::size_t>(p) + 1)
        return;
    const std::int64_t a = interior_values(t);
    std::size_t want_t = 0, want_c = 0;
    if (!size_of(t.size(), static_cast<std::uint64_t>(nu), static_cast<std::uint64_t>(a) + 2, want_t) ||
        !size_of(c.size(), static_cast<std::uint64_t>(nu), static_cast<std::uint64_t>(a) + 1, want_c) ||
        nt.size() != want_t || nc.size() != want_c)
        return;
    if (nu == 0) {
        std::copy(t.begin(), t.end(), nt.begin());
        std::copy(c.begin(), c.end(), nc.begin());
        return;
    }
    bool sorted = true;
    for (std::size_t i = 0; i + 1 < t.size(); ++i)
        if (!(t[i] <= t[i + 1])) sorted = false;
    if (!sorted || static_cast<std::int64_t>(p) + nu > kMaxElevatedDegree) {
        std::fill(nt.begin(), nt.end(), std::numeric_limits<double>::quiet_NaN());
        std::fill(nc.begin(), nc.end(), std::numeric_limits<double>::quiet_NaN());
        return;
    }
    if (t.front() == t.back()) {
        // No span at all: the function is 0 whatever the coefficients; keep them and repeat
        // the last.
        std::fill(nt.begin(), nt.end(), t.front());
        std::copy(c.begin(), c.end(), nc.begin());
        std::fill(nc.begin() + static_cast<std::ptrdiff_t>(c.size()), nc.end(), c.back());
        return;
    }
    Elevation(t, c, p, nu, static_cast<index>(a), nt, nc).run();
}

}  // namespace pyorvex::kernel
