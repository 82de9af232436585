// Knot insertion as a single left-to-right pass: the engine behind insert_knot, refine and sum.
//
// Values are inserted one Boehm step at a time, in the order given, each at the write position
// the previous ones left (so the positions never go backwards and every index stays in range
// whatever the values are, NaN included). A step at span k only changes the coefficients
// k-p+1 .. k; everything left of that can no longer change and is handed to the sink, everything
// right of it is still the input shifted by the number of values inserted so far and is not
// touched until needed. The pass therefore costs O(t.size() + count * p) and needs no memory of
// its own: the coefficients still open live in a caller-chosen window (for a plain refinement the
// output coefficients themselves).
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

// Window: double& at(index i), storage for the open coefficient i (i <= last coefficient index).
// Sink: void emit(index i, double v), called once per coefficient index, in increasing order,
// with its final value.
template <class Window, class Sink>
class Inserter {
public:
    Inserter(cspan t, cspan c, int p, vspan knots_out, Window window, Sink sink)
        : t_(t), c_(c), p_(p), nt_(knots_out), win_(window), sink_(sink),
          tn_(static_cast<index>(t.size())), n_(static_cast<index>(c.size()) - 1) {}

    // Inserts x once. The caller guarantees room for every knot and coefficient it inserts.
    void insert(double x) {
        while (s_ < tn_ && t_[s_] <= x) put_knot(t_[s_++]);
        const index k = w_ - 1;  // span of x in the current knot vector (-1: before every knot)
        put_knot(x);             // lands at k + 1; closes every coefficient <= k - p
        const index last = n_ + j_;  // last coefficient index before this step

        for (index i = h_; i <= std::min(k, last); ++i) win_.at(i) = c_[i - j_];
        h_ = std::max(h_, std::min(k, last) + 1);

        if (k > last) {
            // The step reaches past the last coefficient: the new one, last + 1, starts from the
            // value of the (virtual) coefficient behind the end.
            const double virt = (nt_[last + 1] == x) ? current(last) : 0.0;
            if (last + 1 <= k - p_) {
                // Not touched by the step either: final at once.
                emit(last + 1, virt);
            } else {
                win_.at(last + 1) = virt;
                h_ = last + 2;
            }
        } else if (k >= 0) {
            win_.at(k + 1) = current(k);  // the coefficients from k on move up by one
            h_ = k + 2;
        } else {
            win_.at(0) = 0.0;
            h_ = 1;
        }

        const index lo = std::max<index>(k - p_ + 1, 0);
        for (index i = std::min(k, last + 1); i >= lo; --i) {
            const double ti = nt_[i];
            const double tip = t_[s_ + (i + p_) - (k + 1)];
            const double a = (x - ti) / (tip - ti);
            const double left = (i >= 1) ? current(i - 1) : 0.0;
            win_.at(i) = a * win_.at(i) + (1.0 - a) * left;
        }
        ++j_;
    }

    // Closes every remaining coefficient and copies the remaining knots.
    void finish() {
        close_through(n_ + j_);
        while (s_ < tn_) put_knot(t_[s_++]);
    }

private:
    // Value of the current coefficient i, for i >= f_ - 1.
    double current(index i) const {
        if (i >= h_) return c_[i - j_];
        if (i >= f_) return win_.at(i);
        return i == f_ - 1 ? last_ : 0.0;
    }

    void emit(index i, double v) {
        sink_.emit(i, v);
        last_ = v;
        f_ = i + 1;
        h_ = std::max(h_, f_);
    }

    void close_through(index imax) {
        imax = std::min(imax, n_ + j_);
        for (index i = f_; i <= imax; ++i) emit(i, i < h_ ? win_.at(i) : c_[i - j_]);
    }

    // Coefficient i only depends on knots up to i + p + 1, so whatever a window keeps next to
    // the knots (see sum) is closed before the knot lands on it.
    void put_knot(double v) {
        close_through(w_ - p_ - 1);
        nt_[w_++] = v;
    }

    cspan t_, c_;
    index p_;
    vspan nt_;
    Window win_;
    Sink sink_;
    index tn_, n_;
    index s_ = 0;       // next input knot
    index w_ = 0;       // knots written
    index j_ = 0;       // values inserted
    index f_ = 0;       // first coefficient not yet handed to the sink
    index h_ = 0;       // coefficients >= h_ are still c[i - j_]
    double last_ = 0;   // value of coefficient f_ - 1
};

// The window of a plain refinement: the output coefficients themselves.
struct ArrayWindow {
    vspan a;
    double& at(index i) const { return a[static_cast<std::size_t>(i)]; }
};

struct StoreSink {
    vspan a;
    void emit(index i, double v) const { a[static_cast<std::size_t>(i)] = v; }
};

inline void fill(vspan a, double v) { std::fill(a.begin(), a.end(), v); }

}  // namespace pyorvex::kernel::detail
