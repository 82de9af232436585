// Knot insertion as a single left-to-right pass: the engine behind insert_knot and refine.
//
// Values are inserted one Boehm step at a time, in the order given, each behind every knot not
// greater than it, at the write position the previous ones left (so the positions never go
// backwards and every index stays in range whatever the values are, NaN included). A step at
// position w changes only the coefficients w - p .. w - 1 and moves those from w on up by one
// place; between two steps knots and coefficients are merely shifted, so they are copied in
// bulk. Everything happens in the output arrays: coefficient i of the knot vector built so far
// is in nc[i] as soon as the pass has reached position i. The whole refinement therefore costs
// one copy of the arrays plus O(p) per value inserted (and a search of O(log gap) for where it
// goes), and needs no memory of its own.
//
// Coefficients outside 0..n are taken as 0: on the closed domain an unclamped spline is its
// Cox-de Boor sum, which is what a clamped spline with zero coefficients for the missing basis
// functions gives too, so the steps stay exact at an unclamped end. The one exception is a value
// appended behind the last knot: when the new basis function is identically zero there (the end
// already has multiplicity p + 1) the last coefficient is repeated instead of a 0, which leaves
// the function alone and keeps the control polygon tidy.
#pragma once

#include <algorithm>
#include <cstddef>

#include "bspline.hpp"

namespace pyorvex::kernel::detail {

using index = std::ptrdiff_t;

class Refinement {
public:
    Refinement(cspan t, cspan c, int p, vspan knots_out, vspan coefs_out)
        : t_(t.data()),
          c_(c.data()),
          nt_(knots_out.data()),
          nc_(coefs_out.data()),
          p_(p),
          tn_(static_cast<index>(t.size())),
          n_(static_cast<index>(c.size()) - 1) {}

    // Inserts x once. The caller guarantees room for every value it inserts.
    void insert(double x) {
        copy_knots_up_to(x);
        const index w = w_, p = p_;
        const index last = n_ + (w - s_);  // last coefficient of the current knot vector
        auto get = [&](index i) { return (i >= 0 && i <= last) ? nc_[i] : 0.0; };
        if (w <= last + 1) nc_[w] = get(w - 1);  // the coefficients from w on move up
        for (index i = w - 1; i >= w - p && i >= 0; --i) {
            const index u = s_ + (i + p - w);  // knot i + p of the current vector
            if (u >= tn_) continue;            // i > last + 1: 0 stays 0
            const double lo = nt_[i], hi = t_[u];
            const double al = (x - lo) / (hi - lo);
            nc_[i] = get(i - 1) + al * (get(i) - get(i - 1));
        }
        if (s_ >= tn_) {
            // Behind every knot: coefficient w - p - 1 (last + 1, with last >= 0) is new.
            nc_[w - p - 1] = nt_[w - p - 1] == x ? nc_[w - p - 2] : 0.0;
        }
        nt_[w] = x;
        ++w_;
    }

    // Copies the knots and coefficients that are left.
    void finish() { copy_run(tn_); }

private:
    // Copies the input knots <= x (stopping at the first one that is not) and their
    // coefficients. The end of the run is found by a galloping search from the current place,
    // so a run of length L costs O(log L) comparisons on top of the copy.
    void copy_knots_up_to(double x) {
        index lo = s_;
        if (lo >= tn_ || !(t_[lo] <= x)) return;
        index step = 1;
        while (lo + step < tn_ && t_[lo + step] <= x) {
            lo += step;
            step *= 2;
        }
        index hi = std::min(lo + step, tn_);  // t[lo] <= x; hi is past the end or not <= x
        while (hi - lo > 1) {
            const index mid = lo + (hi - lo) / 2;
            if (t_[mid] <= x)
                lo = mid;
            else
                hi = mid;
        }
        copy_run(hi);
    }

    // Moves over the input knots s .. e - 1 without inserting: knot s lands at w and carries
    // coefficient s along (when there is one).
    void copy_run(index e) {
        std::copy(t_ + s_, t_ + e, nt_ + w_);
        if (s_ <= n_) {
            const index stop = std::min(e, n_ + 1);
            std::copy(c_ + s_, c_ + stop, nc_ + w_);
        }
        w_ += e - s_;
        s_ = e;
    }

    const double *t_;
    const double *c_;
    double *nt_;
    double *nc_;
    index p_, tn_, n_;
    index s_ = 0;  // next input knot
    index w_ = 0;  // knots written
};

inline void fill(vspan a, double v) { std::fill(a.begin(), a.end(), v); }

}  // namespace pyorvex::kernel::detail
