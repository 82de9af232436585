// The sum of two splines of one degree, on the union of their knot vectors.
//
// One left-to-right pass does everything. The two knot vectors are merged on the fly: each
// position of the union takes the smaller of the two next knots, from both operands when they
// are equal, so a value present in both comes out with the larger of its two multiplicities.
// The operand that lacks the knot gets it inserted there (a Boehm step), the other one just
// takes its own knot; both are thus refined to the same knot vector side by side. An insertion
// at position w only changes the coefficients w - p .. w - 1, so coefficient w - p - 1 of both
// operands is final once position w is done: it is written there, once, as the sum.
//
// Each operand keeps its open coefficients Q[w - p - 1 .. w] in a window: in registers for the
// common low degrees; for the others in output slots nobody needs yet (the kernel has no memory
// of its own): the first operand's coefficient i in nc[i] itself, the second one's in the knot
// slot nt[i + p + 1], which is read for the sum before the union knot is written over it.
//
// The middle of the pass, where both operands have more than p + 1 knots ahead and the windows
// hold real coefficients only, is the hot loop. Which operand has the next knot is as good as
// random, so for the low degrees a position is one straight-line step without a branch on the
// data: both operands go through the Boehm step as the two lanes of a vector, each lane dividing
// by its own operand's knots, and a select keeps the old window in the lane of an operand that
// takes its own knot. (For the other degrees the operand that inserts is picked by a branch;
// the O(p) work per position outweighs it.) Everything else (the first p + 1 positions, the
// last knots of each operand, the part of one operand's domain the other does not cover) takes
// the careful step, which treats the coefficients outside 0..n as 0: each operand is its
// Cox-de Boor sum there, exact except at an end of the shorter domain lying inside the longer
// one. When a knot is appended behind an operand whose end already has multiplicity p + 1, the
// new basis function is zero; that operand repeats its last coefficient there, as insertion
// does.
#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "bspline.hpp"

namespace pyorvex::kernel {

namespace {

using index = std::ptrdiff_t;

// Which operands give the union its next knot: the one with the smaller knot, both when they
// are equal. Anything that does not compare (NaN) counts as equal, so every position consumes
// at least one knot. sum_size and sum take exactly the same decisions.
struct Take {
    bool a, b;
};
inline Take take(double xa, double xb) { return {!(xb < xa), !(xa < xb)}; }

// Whether x is non-decreasing and free of NaN.
bool ordered(cspan x) {
    const std::size_t n = x.size();
    const double *d = x.data();
    bool all = true;
    std::size_t i = 1;
#if defined(__SSE2__)
    __m128d ok = _mm_castsi128_pd(_mm_set1_epi64x(-1));
    for (; i + 4 <= n; i += 4) {
        ok = _mm_and_pd(ok, _mm_cmple_pd(_mm_loadu_pd(d + i - 1), _mm_loadu_pd(d + i)));
        ok = _mm_and_pd(ok, _mm_cmple_pd(_mm_loadu_pd(d + i + 1), _mm_loadu_pd(d + i + 2)));
    }
    all = _mm_movemask_pd(ok) == 3;
#endif
    for (; i < n; ++i) all &= d[i - 1] <= d[i];
    return all;
}

// Number of positions of the merged walk over a[i..i_end) and b[j..j_end).
std::uint64_t walk_count(const double *a, std::size_t i, std::size_t i_end, const double *b,
                         std::size_t j, std::size_t j_end) {
    std::size_t count = 0;
    while (i < i_end && j < j_end) {
        const Take tk = take(a[i], b[j]);
        i += tk.a;
        j += tk.b;
        ++count;
    }
    return count + (i_end - i) + (j_end - j);
}

// Number of positions of the merged walk: m + 1 of sum_size, and what sum fills.
//
// Each step of the walk waits for the previous one (which knot comes next depends on the last
// comparison), so a single walk runs at the latency of a load and a compare per knot. On sorted
// input the walk never takes a knot below some value v in the same step as one at or above it,
// so it splits exactly at such values into independent walks, which run interleaved. Anything
// else (NaN, out of order) is counted by the single walk, which is what sum follows.
std::uint64_t union_count(cspan a, cspan b) {
    constexpr int kParts = 8;
    const std::size_t na = a.size(), nb = b.size();
    if (na + nb < 512 || !ordered(a) || !ordered(b))
        return walk_count(a.data(), 0, na, b.data(), 0, nb);
    // Part q covers the values in [v_q, v_q+1), the v taken from a at evenly spaced places.
    std::size_t i[kParts], iend[kParts], j[kParts], jend[kParts];
    i[0] = 0;
    j[0] = 0;
    for (int q = 1; q < kParts; ++q) {
        const double v = a[na * q / kParts];
        i[q] = static_cast<std::size_t>(std::lower_bound(a.begin(), a.end(), v) - a.begin());
        j[q] = static_cast<std::size_t>(std::lower_bound(b.begin(), b.end(), v) - b.begin());
        iend[q - 1] = i[q];
        jend[q - 1] = j[q];
    }
    iend[kParts - 1] = na;
    jend[kParts - 1] = nb;
    const double *x = a.data();
    const double *y = b.data();
    std::uint64_t count = 0;
    for (;;) {
        // A step takes at most one knot from each side, so every part can make as many steps
        // as the shorter of its two remainders without running out.
        std::size_t safe = SIZE_MAX;
        for (int q = 0; q < kParts; ++q)
            safe = std::min(safe, std::min(iend[q] - i[q], jend[q] - j[q]));
        if (safe == 0) break;
        for (std::size_t r = 0; r < safe; ++r)
            for (int q = 0; q < kParts; ++q) {
                const double xa = x[i[q]], yb = y[j[q]];
                i[q] += xa <= yb;  // sorted and without NaN here: take() in plain terms
                j[q] += yb <= xa;
            }
        count += kParts * safe;
    }
    for (int q = 0; q < kParts; ++q) count += walk_count(x, i[q], iend[q], y, j[q], jend[q]);
    return count;
}

using v2d = double __attribute__((vector_size(16)));
using v2i = std::int64_t __attribute__((vector_size(16)));

// mask ? yes : no, lane by lane (the mask lanes are all ones or all zeros).
inline v2d select(v2i mask, v2d yes, v2d no) {
    return reinterpret_cast<v2d>((reinterpret_cast<v2i>(yes) & mask) |
                                 (reinterpret_cast<v2i>(no) & ~mask));
}

// Both operands' open coefficients, lane 0 for the first and lane 1 for the second:
// q[k] = Q[w - p - 1 + k], k = 0 .. P + 1, held in registers.
template <int P>
class PairWindow {
public:
    double get(int op, index k) const { return q_[k][op]; }
    void set(int op, index k, double v) { q_[k][op] = v; }
    void advance() {
        for (int k = 0; k <= P; ++k) q_[k] = q_[k + 1];
    }
    v2d &at(index k) { return q_[k]; }

private:
    v2d q_[P + 2] = {};
};

// For any other degree: the first operand's Q[i] in nc[i], the second one's in nt[i + p + 1].
// Only real coefficients are ever read or written through it, so every index used is inside
// the arrays.
class SlotWindows {
public:
    SlotWindows(vspan nt, vspan nc, index p)
        : base_{nc.data(), nt.data() + p + 1}, first_(-p - 1) {}
    double get(int op, index k) const { return base_[op][first_ + k]; }
    void set(int op, index k, double v) { base_[op][first_ + k] = v; }
    void advance() { ++first_; }
    double &at(int op, index k) { return base_[op][first_ + k]; }

private:
    double *base_[2];
    index first_;
};

struct Operand {
    const double *t;
    const double *c;
    index tn;         // knots
    index n;          // last coefficient
    index s = 0;      // next knot
    double prev = 0;  // the coefficient finished last (kept by the careful step only)
};

template <int P, class Windows>
class SumPass {
public:
    SumPass(cspan t1, cspan c1, cspan t2, cspan c2, index p, vspan nt, vspan nc, Windows win)
        : op_{{t1.data(), c1.data(), static_cast<index>(t1.size()),
               static_cast<index>(c1.size()) - 1},
              {t2.data(), c2.data(), static_cast<index>(t2.size()),
               static_cast<index>(c2.size()) - 1}},
          win_(win),
          p_(p),
          nt_(nt.data()),
          nc_(nc.data()),
          m_(static_cast<index>(nt.size())) {}

    void run() {
        Operand &a = op_[0];
        Operand &b = op_[1];
        while (w_ < m_) {
            if (w_ > degree() && a.s <= a.n && b.s <= b.n) {
                if constexpr (P >= 0) {
                    middle_in_registers();
                } else {
                    do step();
                    while (a.s <= a.n && b.s <= b.n && w_ < m_);
                }
                continue;
            }
            if (a.s >= a.tn && b.s >= b.tn) break;  // not reached: the walks agree
            careful_step();
        }
    }

private:
    // A constant for the register windows, so that their loops unroll onto registers.
    index degree() const {
        if constexpr (P >= 0)
            return P;
        else
            return p_;
    }

    // The middle of the pass for the register windows: both operands have at least p + 2 knots
    // ahead and w > p, so every window entry is a real coefficient and every knot read exists.
    // Lane by lane, the operand whose knot is not taken gets x inserted; both lanes divide by
    // their own operand's knots, and the lane of an operand that does not insert computes a
    // value nobody uses. The state lives in locals, the last p union knots too.
    void middle_in_registers() {
        Operand &a = op_[0];
        Operand &b = op_[1];
        const double *ta = a.t, *tb = b.t, *ca = a.c, *cb = b.c;
        const index na = a.n, nb = b.n;
        index sa = a.s, sb = b.s, w = w_;
        double *const nt = nt_;
        double *const nc = nc_;
        v2d q[P + 2];
        for (int k = 0; k <= P + 1; ++k) q[k] = win_.at(k);
        v2d r[P + 1];  // r[k] = the union knot w - p - 1 + k, in both lanes
        for (int k = 1; k <= P; ++k) r[k] = v2d{nt[w - P - 1 + k], nt[w - P - 1 + k]};
        const index m = m_;
        while (sa <= na && sb <= nb && w < m) {
            const double xa = ta[sa], xb = tb[sb];
            const double x = xb < xa ? xb : xa;
            const v2d xs = {xa, xb}, swapped = {xb, xa};
            const v2i ins = swapped < xs;
            const v2d xv = {x, x};
            q[P + 1] = select(ins, q[P], v2d{ca[sa], cb[sb]});
            for (int k = P; k >= 1; --k) {
                const v2d hi = {ta[sa + k - 1], tb[sb + k - 1]};
                const v2d al = (xv - r[k]) / (hi - r[k]);
                q[k] = select(ins, q[k - 1] + al * (q[k] - q[k - 1]), q[k]);
            }
            nc[w - P - 1] = q[0][0] + q[0][1];
            nt[w] = x;
            for (int k = 0; k <= P; ++k) q[k] = q[k + 1];
            for (int k = 1; k < P; ++k) r[k] = r[k + 1];
            r[P] = xv;
            sa += !(xb < xa);
            sb += !(xa < xb);
            ++w;
        }
        for (int k = 0; k <= P + 1; ++k) win_.at(k) = q[k];
        a.s = sa;
        b.s = sb;
        w_ = w;
    }

    // The middle of the pass for the slot windows, one position.
    void step() {
        Operand &a = op_[0];
        Operand &b = op_[1];
        const index p = p_, w = w_;
        const double xa = a.t[a.s], xb = b.t[b.s];
        const double x = xb < xa ? xb : xa;
        const bool ia = xb < xa, ib = xa < xb;
        // At most one operand inserts; the knots right of x come from that one.
        const double *up = ia ? a.t + a.s : b.t + b.s;
        win_.at(0, p + 1) = ia ? win_.at(0, p) : a.c[a.s];
        win_.at(1, p + 1) = ib ? win_.at(1, p) : b.c[b.s];
        if (ia || ib) {
            const int op = ia ? 0 : 1;
            for (index k = p; k >= 1; --k) {
                const double lo = nt_[w - p - 1 + k], hi = up[k - 1];
                const double al = (x - lo) / (hi - lo);
                win_.at(op, k) = win_.at(op, k - 1) + al * (win_.at(op, k) - win_.at(op, k - 1));
            }
        }
        // The second operand's coefficient w - p - 1 sits in the knot slot written next.
        nc_[w - p - 1] = win_.at(0, 0) + win_.at(1, 0);
        nt_[w] = x;
        win_.advance();
        a.s += !ia;
        b.s += !ib;
        ++w_;
    }

    void careful_step() {
        Operand &a = op_[0];
        Operand &b = op_[1];
        const bool ha = a.s < a.tn, hb = b.s < b.tn;
        const Take tk = (ha && hb) ? take(a.t[a.s], b.t[b.s]) : Take{ha, hb};
        const double x = tk.a ? a.t[a.s] : b.t[b.s];
        const double ea = careful(0, tk.a, x);
        const double eb = careful(1, tk.b, x);
        if (w_ > degree()) nc_[w_ - degree() - 1] = ea + eb;
        nt_[w_] = x;
        win_.advance();
        ++w_;
    }

    // Moves one operand over position w (copy of its next knot, or insertion of x) and returns
    // its final coefficient w - p - 1.
    double careful(int which, bool copy, double x) {
        Operand &o = op_[which];
        const index p = degree(), w = w_;
        const index last = o.n + (w - o.s);  // last coefficient of the current knot vector
        auto get = [&](index k) {
            const index i = w - p - 1 + k;
            return (i >= 0 && i <= last) ? win_.get(which, k) : 0.0;
        };
        double done;
        if (copy) {
            if (o.s <= o.n) win_.set(which, p + 1, o.c[o.s]);  // else beyond the last one
            done = get(0);
            ++o.s;
        } else {
            if (w <= last + 1) win_.set(which, p + 1, get(p));  // coefficients from w move up
            for (index k = p; k >= 1; --k) {
                const index i = w - p - 1 + k;
                if (i < 0) break;             // left of the first coefficient: 0 stays 0
                const index u = o.s + k - 1;  // knot i + p of the current vector
                if (u >= o.tn) continue;      // i > last + 1: 0 stays 0
                const double lo = nt_[i], hi = o.t[u];
                const double al = (x - lo) / (hi - lo);
                win_.set(which, k, get(k - 1) + al * (get(k) - get(k - 1)));
            }
            if (o.s >= o.tn)  // behind every knot: coefficient w - p - 1 = last + 1 is new
                done = nt_[w - p - 1] == x ? o.prev : 0.0;
            else
                done = get(0);
        }
        o.prev = done;
        return done;
    }

    Operand op_[2];
    Windows win_;
    index p_;
    double *nt_;
    double *nc_;
    index m_;
    index w_ = 0;
};

template <int P>
void sum_in_registers(cspan t1, cspan c1, cspan t2, cspan c2, vspan nt, vspan nc) {
    SumPass<P, PairWindow<P>>(t1, c1, t2, c2, P, nt, nc, PairWindow<P>{}).run();
}

void sum_in_slots(cspan t1, cspan c1, cspan t2, cspan c2, int p, vspan nt, vspan nc) {
    SumPass<-1, SlotWindows>(t1, c1, t2, c2, p, nt, nc, SlotWindows(nt, nc, p)).run();
}

}  // namespace

SumSize sum_size(cspan t1, cspan t2, int p) {
    SumSize out;
    if (p < 0 || p > kMaxDegree) return out;
    const std::size_t min_size = static_cast<std::size_t>(p) + 2;  // one coefficient
    if (t1.size() < min_size || t2.size() < min_size) return out;
    const std::uint64_t total = union_count(t1, t2);
    out.m = static_cast<std::int64_t>(total) - 1;
    out.n = out.m - p - 1;
    out.ok = out.m <= INT_MAX && out.n >= 0;
    return out;
}

void sum(cspan t1, cspan c1, cspan t2, cspan c2, int p, vspan nt, vspan nc) {
    if (p < 0 || p > kMaxDegree || c1.empty() || c2.empty()) return;
    const std::size_t order = static_cast<std::size_t>(p) + 1;
    if (t1.size() != c1.size() + order || t2.size() != c2.size() + order) return;
    const SumSize size = sum_size(t1, t2, p);
    if (!size.ok || nt.size() != static_cast<std::size_t>(size.m) + 1 ||
        nc.size() != static_cast<std::size_t>(size.n) + 1)
        return;
    switch (p) {
        case 1:
            sum_in_registers<1>(t1, c1, t2, c2, nt, nc);
            break;
        case 2:
            sum_in_registers<2>(t1, c1, t2, c2, nt, nc);
            break;
        case 3:
            sum_in_registers<3>(t1, c1, t2, c2, nt, nc);
            break;
        default:
            sum_in_slots(t1, c1, t2, c2, p, nt, nc);
            break;
    }
}

}  // namespace pyorvex::kernel
