// Facts about a knot vector: its distinct interior values and the Greville abscissae.
#include <cmath>
#include <cstddef>
#include <limits>
#include <numeric>

#include "bspline.hpp"

namespace pyorvex::kernel {

int distinct_interior_knots(cspan t, int p) {
    if (p < 0 || p > kMaxDegree || t.size() < 3) return 0;
    const double a = t.front(), b = t.back();
    // Counts the runs of equal values strictly inside (a, b); on a non-decreasing vector that is
    // the number of distinct values. NaN knots are never inside.
    int count = 0;
    for (std::size_t i = 1; i + 1 < t.size(); ++i)
        if (t[i] > a && t[i] < b && t[i] != t[i - 1]) ++count;
    return count;
}

void greville(cspan t, int p, vspan out) {
    if (p < 0 || p > kMaxDegree || t.size() < static_cast<std::size_t>(p) + 1 ||
        out.size() != t.size() - static_cast<std::size_t>(p) - 1)
        return;
    const std::size_t count = out.size();
    if (p == 0) {
        for (std::size_t i = 0; i < count; ++i) out[i] = std::midpoint(t[i], t[i + 1]);
        return;
    }
    const std::size_t w = static_cast<std::size_t>(p);
    // Short windows are summed directly. Long ones slide a running sum of the finite knots in the
    // window, re-summed from scratch every w steps so that rounding cannot build up beyond what
    // one direct sum carries; non-finite knots are counted instead of summed, so that one of them
    // leaving the window does not poison the windows after it. O(count + w), not O(count * w).
    if (w <= 16) {
        for (std::size_t i = 0; i < count; ++i) {
            double s = 0.0;
            for (std::size_t j = 1; j <= w; ++j) s += t[i + j];
            out[i] = s / p;
        }
        return;
    }
    double s = 0.0;
    std::size_t pos = 0, neg = 0, nan = 0;  // infinities and NaNs in the window
    auto add = [&](double x, int sign) {
        if (std::isfinite(x))
            s += sign * x;
        else if (x != x)
            nan += sign;
        else if (x > 0)
            pos += sign;
        else
            neg += sign;
    };
    for (std::size_t i = 0; i < count; ++i) {
        if (i % w == 0) {
            s = 0.0;
            pos = neg = nan = 0;
            for (std::size_t j = 1; j <= w; ++j) add(t[i + j], 1);
        } else {
            add(t[i + w], 1);
            add(t[i], -1);
        }
        if (nan > 0 || (pos > 0 && neg > 0))
            out[i] = std::numeric_limits<double>::quiet_NaN();
        else if (pos > 0 || neg > 0)
            out[i] = pos > 0 ? std::numeric_limits<double>::infinity()
                             : -std::numeric_limits<double>::infinity();
        else
            out[i] = s / p;
    }
}

}  // namespace pyorvex::kernel
