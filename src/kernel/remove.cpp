// Knot removal, in place.
//
// Removing one copy of u (last copy at index r, multiplicity s) replaces the coefficients
// r-p .. r-s by one fewer: inserting u back into the result must give the old ones, which is one
// equation more than there are unknowns. The unknowns are solved from both ends towards the
// middle (a chain from the left divides by alpha, one from the right by 1 - alpha, so neither
// runs long), and the equation left over measures the error. Re-inserting u into the result
// reproduces the old coefficients except one (odd count: the unused middle equation) or two
// (even count: the two chains meet on one unknown, which takes their mean); since the basis
// functions are at most 1 and sum to at most 1, that mismatch bounds the largest deviation of
// the function:
//   odd:  |P_mid - (a Q_mid + (1 - a) Q_mid-1)|      even: |Q_left - Q_right| / 2.
// A knot repeated more than p + 1 times carries a basis function that is identically zero; one
// copy of it goes with that coefficient, at no error.
//
// Coefficients outside 0..n are 0, as for insertion, so knots near an unclamped end can be
// removed too. The domain ends are never removed.
//
// The arrays are worked on with a gap: the knots and the coefficients left of the gap are the
// front of the current arrays, those right of it the rest, so a removal only drops the element
// in front of the gap and moving the gap to the next place shifts just the elements in between.
// A left-to-right sweep therefore moves every element O(1) times, and removing any number of
// knots costs O(n * p) instead of a shift of the whole tail for each of them.
#include <algorithm>
#include <cmath>
#include <cstddef>

#include "bspline.hpp"

namespace pyorvex::kernel {

namespace {

using index = std::ptrdiff_t;

class Gapped {
public:
    explicit Gapped(vspan a) : a_(a), size_(static_cast<index>(a.size())), l_(0), r_(0) {}

    index size() const { return l_ + size_ - r_; }
    double &operator[](index i) const {
        return a_[static_cast<std::size_t>(i < l_ ? i : i - l_ + r_)];
    }

    // Puts the gap in front of element g (0 <= g <= size()).
    void move_to(index g) {
        if (l_ == r_) {
            l_ = r_ = g;
            return;
        }
        while (l_ < g) a_[static_cast<std::size_t>(l_++)] = a_[static_cast<std::size_t>(r_++)];
        while (l_ > g) a_[static_cast<std::size_t>(--r_)] = a_[static_cast<std::size_t>(--l_)];
    }

    // The elements as they stand, for a stretch of work that does not move the gap: plain
    // values in registers instead of members read through this at every access.
    struct View {
        double *a;
        index l, skip;
        double &operator[](index i) const { return a[i < l ? i : i + skip]; }
    };
    View view() const { return {a_.data(), l_, r_ - l_}; }

    // Elements 0 .. g - 1 as a plain array when the gap is not among them, else null.
    double *plain(index g) const { return (l_ == r_ || g <= l_) ? a_.data() : nullptr; }

    // Drops element g - 1, the gap being at g.
    void drop_before(index g) {
        move_to(g);
        --l_;
    }

    // Leaves the elements at the front of the array.
    void close() { move_to(size()); }

private:
    vspan a_;
    index size_, l_, r_;
};

class Remover {
public:
    static constexpr index kKept = 8;

    Remover(vspan t, vspan c, int p) : t_(t), c_(c), p_(p) {}

    // One removal of the knot whose copies occupy r - s + 1 .. r (1 <= s, 0 < r - s + 1,
    // r < last knot). Commits it when its bound is <= allowed (always when !checked) and
    // returns whether it did; bound receives the bound.
    bool remove_once(index r, index s, bool checked, double allowed, double &bound) {
        const index n = c_.size() - 1;
        if (n < 1) return false;  // a spline keeps at least one coefficient
        if (s >= p_ + 2) {
            // Coefficient r - s + 1 belongs to a basis function that is zero everywhere.
            bound = 0.0;
            if (checked && !(bound <= allowed)) return false;
            c_.drop_before(r - s + 2);
            t_.drop_before(r + 1);
            return true;
        }
        const index lo = std::max<index>(r - p_, 0);
        const index hi = std::min<index>(r - s, n);
        const index e = hi - lo + 1;  // equations; one more than unknowns
        const index half = e / 2;     // equations used by each chain
        // Read below: knots up to max(r, hi + p + 1), coefficients up to hi + 1; usually the
        // gap is not among them (always before the first removal) and plain arrays do.
        double *tp = t_.plain(std::max(r, hi + p_ + 1) + 1);
        double *cp = c_.plain(std::min(hi + 2, c_.size()));
        const bool done = (tp != nullptr && cp != nullptr)
                              ? solve(tp, cp, r, n, lo, hi, checked, allowed, bound)
                              : solve(t_.view(), c_.view(), r, n, lo, hi, checked, allowed, bound);
        if (!done) return false;
        c_.drop_before(lo + half + 1);
        t_.drop_before(r + 1);
        return true;
    }

    // The removal proper on coefficients lo .. hi (see the top of the file): works out the
    // bound and, when it is allowed, writes the new coefficients; the caller drops the one
    // left over. T and C index the knots and coefficients as they stand.
    template <class T, class C>
    bool solve(T t, C c, index r, index n, index lo, index hi, bool checked, double allowed,
               double &bound) {
        const index e = hi - lo + 1;
        const index half = e / 2;
        const double u = t[r];
        auto alpha = [&](index i) { return (u - t[i]) / (t[i + p_ + 1] - t[i]); };
        const double left_known = lo >= 1 ? c[lo - 1] : 0.0;
        const double right_known = hi + 1 <= n ? c[hi + 1] : 0.0;

        // Dry run: the two chains, without writing. Their values are kept for the commit when
        // they fit the small buffer (up to p of about 17); beyond it the commit works them out
        // again.
        double kept_left[kKept], kept_right[kKept];
        const bool keep = half <= kKept;
        double left = left_known, right = right_known;
        for (index i = lo; i < lo + half; ++i) {
            const double a = alpha(i);
            left = (c[i] - (1.0 - a) * left) / a;
            if (keep) kept_left[i - lo] = left;
        }
        for (index i = hi; i > hi - half; --i) {
            const double a = alpha(i);
            right = (c[i] - a * right) / (1.0 - a);
            if (keep) kept_right[hi - i] = right;
        }
        if (e % 2 == 0) {
            bound = std::fabs(left - right) / 2;
        } else {
            const double a = alpha(lo + half);
            bound = std::fabs(c[lo + half] - (a * right + (1.0 - a) * left));
        }
        if (checked && !(bound <= allowed)) return false;

        // Commit: the left chain overwrites its own slots, the right chain writes Q[i-1] into
        // slot i (P[i-1] is still needed by its next step); slot lo + half then holds the
        // duplicate (even) or the unused middle coefficient (odd) and goes.
        if (keep) {
            for (index q = 0; q < half; ++q) c[lo + q] = kept_left[q];
            for (index q = 0; q < half; ++q) c[hi - q] = kept_right[q];
        } else {
            left = left_known;
            for (index i = lo; i < lo + half; ++i) {
                const double a = alpha(i);
                left = (c[i] - (1.0 - a) * left) / a;
                c[i] = left;
            }
            right = right_known;
            for (index i = hi; i > hi - half; --i) {
                const double a = alpha(i);
                right = (c[i] - a * right) / (1.0 - a);
                c[i] = right;
            }
        }
        if (e % 2 == 0) c[lo + half - 1] = 0.5 * (left + right);
        return true;
    }

    index knots() const { return t_.size(); }
    double knot(index i) const { return t_[i]; }

    void close() {
        t_.close();
        c_.close();
    }

private:
    Gapped t_, c_;
    index p_;
};

bool usable(vspan t, vspan c, int p) {
    return p >= 0 && p <= kMaxDegree && !c.empty() &&
           t.size() == c.size() + static_cast<std::size_t>(p) + 1;
}

// Removes up to count copies of u. The bounds add up against tol when checked, so that the
// total deviation stays within tol.
int remove_value(vspan t, vspan c, int p, double u, int count, bool checked, double tol) {
    if (!usable(t, c, p) || count <= 0) return 0;
    if (checked && std::isnan(tol)) return 0;
    const index last = static_cast<index>(t.size()) - 1;
    if (!(u > t.front() && u < t.back())) return 0;  // ends, outside, NaN
    // Last index with t[i] <= u, by bisection (bounded whatever the values are).
    index lo = 0, hi = last;  // invariant: the answer lies in [lo, hi]
    while (lo < hi) {
        const index mid = lo + (hi - lo + 1) / 2;
        if (t[static_cast<std::size_t>(mid)] <= u)
            lo = mid;
        else
            hi = mid - 1;
    }
    index r = lo;
    if (t[static_cast<std::size_t>(r)] != u || r >= last) return 0;
    index first = r;
    while (first > 0 && t[static_cast<std::size_t>(first - 1)] == u) --first;
    if (first == 0) return 0;

    Remover rem(t, c, p);
    index s = r - first + 1;
    int removed = 0;
    double used = 0.0;
    while (removed < count && s > 0) {
        double bound = 0.0;
        if (!rem.remove_once(r, s, checked, tol - used, bound)) break;
        used += bound;
        ++removed;
        --r;
        --s;
    }
    rem.close();
    return removed;
}

}  // namespace

int remove_knot(vspan t, vspan c, int p, double u, int r, double tol) {
    return remove_value(t, c, p, u, r, true, tol);
}

int remove_knot_unchecked(vspan t, vspan c, int p, double u, int r) {
    return remove_value(t, c, p, u, r, false, 0.0);
}

int remove_knots(vspan t, vspan c, int p, double tol) {
    if (!usable(t, c, p) || std::isnan(tol)) return 0;
    const double front = t.front(), back = t.back();
    Remover rem(t, c, p);
    int removed = 0;
    // One sweep over the runs of equal knots strictly between the end runs.
    index pos = 1;
    while (pos < rem.knots() - 1) {
        const double v = rem.knot(pos);
        index end = pos;
        while (end + 1 < rem.knots() && rem.knot(end + 1) == v) ++end;
        if (end >= rem.knots() - 1 || !(v > front && v < back) || rem.knot(pos - 1) == v) {
            pos = end + 1;
            continue;
        }
        index s = end - pos + 1;
        index r = end;
        double bound = 0.0;
        while (s > 0 && rem.remove_once(r, s, true, tol, bound)) {
            ++removed;
            --r;
            --s;
        }
        pos = r + 1;
    }
    rem.close();
    return removed;
}

}  // namespace pyorvex::kernel
