// Knot insertion and refinement.
//
// Both clamp the values to insert to the domain [t.front(), t.back()]: a knot outside it would
// move the domain, and behind the right end it would even change the value at t.back() (that
// end is evaluated from the left, a new span behind it would take over). An end value inserted
// again extends the end's multiplicity, which leaves the function on the domain as it was. A NaN
// value has no place in the knot vector; the whole output is then NaN, so that the failure cannot
// pass for a result.
#include <cmath>
#include <cstddef>
#include <limits>

#include "bspline.hpp"
#include "insertion_engine.hpp"

namespace pyorvex::kernel {

namespace {

bool usable(cspan t, cspan c, int p) {
    return p >= 0 && p <= kMaxDegree && !c.empty() &&
           t.size() == c.size() + static_cast<std::size_t>(p) + 1;
}

double clamp_to(double x, double lo, double hi) {
    if (x < lo) return lo;
    if (x > hi) return hi;
    return x;
}

}  // namespace

void insert_knot(cspan t, cspan c, int p, double u, int r, vspan nt, vspan nc) {
    if (!usable(t, c, p) || r < 0) return;
    const std::size_t extra = static_cast<std::size_t>(r);
    if (nt.size() != t.size() + extra || nc.size() != c.size() + extra) return;
    if (std::isnan(u)) {
        detail::fill(nt, std::numeric_limits<double>::quiet_NaN());
        detail::fill(nc, std::numeric_limits<double>::quiet_NaN());
        return;
    }
    const double x = clamp_to(u, t.front(), t.back());
    detail::Refinement ref(t, c, p, nt, nc);
    for (int i = 0; i < r; ++i) ref.insert(x);
    ref.finish();
}

void refine(cspan t, cspan c, int p, cspan xs, vspan nt, vspan nc) {
    if (!usable(t, c, p)) return;
    if (nt.size() != t.size() + xs.size() || nc.size() != c.size() + xs.size()) return;
    for (double x : xs) {
        if (std::isnan(x)) {
            detail::fill(nt, std::numeric_limits<double>::quiet_NaN());
            detail::fill(nc, std::numeric_limits<double>::quiet_NaN());
            return;
        }
    }
    detail::Refinement ref(t, c, p, nt, nc);
    // A decrease in xs would put a knot out of order; such a value is inserted as its
    // predecessor instead, which keeps the knot vector sorted and the curve intact. The test also
    // catches a NaN that appeared after the scan above (xs rewritten by another thread).
    double prev = -std::numeric_limits<double>::infinity();
    for (double x : xs) {
        x = clamp_to(x >= prev ? x : prev, t.front(), t.back());
        prev = x;
        ref.insert(x);
    }
    ref.finish();
}

}  // namespace pyorvex::kernel
