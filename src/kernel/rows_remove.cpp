// Knot removal on a spline of several coefficient columns, decided jointly: a copy of a knot
// goes only when every column can lose it within the tolerance, and then it goes from all of
// them, so the columns keep one knot vector. The arithmetic per column is that of remove.cpp
// (two chains from the ends of the affected coefficients towards the middle, the equation left
// over bounding the deviation); the bound of a removal is the largest over the columns.
//
// As in remove.cpp, the arrays are worked on with a gap, here of whole rows, so that a sweep
// over all knots moves every row O(1) times: O(n * p * dof) in all.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "bspline.hpp"

namespace pyorvex::kernel {

namespace {

using index = std::ptrdiff_t;

// Rows of width w with a gap: rows left of it at the front of the array, the others behind it.
class GappedRows {
public:
    GappedRows(double *a, index rows, index w) : a_(a), rows_(rows), w_(w) {}

    index size() const { return l_ + rows_ - r_; }
    double *row(index i) const { return a_ + (i < l_ ? i : i - l_ + r_) * w_; }

    void move_to(index g) {
        if (l_ == r_) {
            l_ = r_ = g;
            return;
        }
        const auto bytes = static_cast<std::size_t>(w_) * sizeof(double);
        while (l_ < g) std::memmove(a_ + (l_++) * w_, a_ + (r_++) * w_, bytes);
        while (l_ > g) std::memmove(a_ + (--r_) * w_, a_ + (--l_) * w_, bytes);
    }
    void drop_before(index g) {
        move_to(g);
        --l_;
    }
    void close() { move_to(size()); }

private:
    double *a_;
    index rows_, w_, l_ = 0, r_ = 0;
};

class RowRemover {
public:
    RowRemover(vspan t, vspan c, int p, std::size_t dof)
        : t_(t.data(), static_cast<index>(t.size()), 1),
          c_(c.data(), static_cast<index>(c.size() / dof), static_cast<index>(dof)),
          p_(p),
          dof_(static_cast<index>(dof)) {}

    index knots() const { return t_.size(); }
    double knot(index i) const { return *t_.row(i); }

    // One removal of the knot whose copies occupy r - s + 1 .. r; see remove.cpp.
    bool remove_once(index r, index s, bool checked, double allowed, double &bound) {
        const index n = c_.size() - 1;
        if (n < 1) return false;
        if (s >= p_ + 2) {
            bound = 0.0;
            if (checked && !(bound <= allowed)) return false;
            c_.drop_before(r - s + 2);
            t_.drop_before(r + 1);
            return true;
        }
        const index lo = std::max<index>(r - p_, 0);
        const index hi = std::min<index>(r - s, n);
        const index half = (hi - lo + 1) / 2;
        bound = 0.0;
        for (index j = 0; j < dof_; ++j) {
            const double b = column(j, r, n, lo, hi, false);
            if (b != b || b > bound) bound = b;
        }
        if (checked && !(bound <= allowed)) return false;
        for (index j = 0; j < dof_; ++j) column(j, r, n, lo, hi, true);
        c_.drop_before(lo + half + 1);
        t_.drop_before(r + 1);
        return true;
    }

    void close() {
        t_.close();
        c_.close();
    }

private:
    double &coef(index i, index j) const { return c_.row(i)[j]; }

    // The two chains of column j on coefficients lo .. hi: the bound of the removal, and when
    // commit the new coefficients (the caller drops the one left over).
    double column(index j, index r, index n, index lo, index hi, bool commit) {
        const index e = hi - lo + 1, half = e / 2;
        const double u = knot(r);
        auto alpha = [&](index i) { return (u - knot(i)) / (knot(i + p_ + 1) - knot(i)); };
        double left = lo >= 1 ? coef(lo - 1, j) : 0.0;
        double right = hi + 1 <= n ? coef(hi + 1, j) : 0.0;
        for (index i = lo; i < lo + half; ++i) {
            const double a = alpha(i);
            left = (coef(i, j) - (1.0 - a) * left) / a;
            if (commit) coef(i, j) = left;
        }
        for (index i = hi; i > hi - half; --i) {
            const double a = alpha(i);
            right = (coef(i, j) - a * right) / (1.0 - a);
            if (commit) coef(i, j) = right;
        }
        if (commit) {
            if (e % 2 == 0) coef(lo + half - 1, j) = 0.5 * (left + right);
            return 0.0;
        }
        if (e % 2 == 0) return std::fabs(left - right) / 2;
        const double a = alpha(lo + half);
        return std::fabs(coef(lo + half, j) - (a * right + (1.0 - a) * left));
    }

    GappedRows t_, c_;
    index p_, dof_;
};

bool usable(vspan t, vspan c, int p, std::size_t dof) {
    if (p < 0 || p > kMaxDegree || dof == 0 || t.size() < static_cast<std::size_t>(p) + 2)
        return false;
    const std::size_t rows = t.size() - static_cast<std::size_t>(p) - 1;
    return c.size() % dof == 0 && c.size() / dof == rows;
}

int remove_value(vspan t, vspan c, int p, std::size_t dof, double u, int count, double tol) {
    if (!usable(t, c, p, dof) || count <= 0 || std::isnan(tol)) return 0;
    const index last = static_cast<index>(t.size()) - 1;
    if (!(u > t.front() && u < t.back())) return 0;
    index lo = 0, hi = last;
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

    RowRemover rem(t, c, p, dof);
    index s = r - first + 1;
    int removed = 0;
    double used = 0.0;
    while (removed < count && s > 0) {
        double bound = 0.0;
        if (!rem.remove_once(r, s, true, tol - used, bound)) break;
        used += bound;
        ++removed;
        --r;
        --s;
    }
    rem.close();
    return removed;
}

}  // namespace

int remove_knot_rows(vspan t, vspan c, int p, std::size_t dof, double u, int r, double tol) {
    return remove_value(t, c, p, dof, u, r, tol);
}

int remove_knots_rows(vspan t, vspan c, int p, std::size_t dof, double tol) {
    if (!usable(t, c, p, dof) || std::isnan(tol)) return 0;
    const double front = t.front(), back = t.back();
    RowRemover rem(t, c, p, dof);
    int removed = 0;
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
