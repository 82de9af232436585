// Brute-force references for the kernel tests: the Cox-de Boor recursion written straight from
// its definition, and a generator of random splines. Slow on purpose; nothing here is shared with
// the kernel's own code.
#pragma once

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace reference {

// Index of the span used for x: the last i with t[i] <= x < t[i+1]; at the right end of the
// domain, the last non-empty span (the domain is closed). Returns -1 when there is none.
inline int span_of(const std::vector<double> &t, double x) {
    const int last = static_cast<int>(t.size()) - 1;
    int found = -1;
    for (int i = 0; i < last; ++i)
        if (t[i] < t[i + 1] && t[i] <= x && x < t[i + 1]) found = i;
    if (found < 0 && x == t[last])
        for (int i = 0; i < last; ++i)
            if (t[i] < t[i + 1]) found = i;
    return found;
}

// B_{i,p}(x) by the recursion, with 0/0 taken as 0.
inline double basis(const std::vector<double> &t, int i, int p, double x) {
    if (p == 0) return span_of(t, x) == i ? 1.0 : 0.0;
    double v = 0.0;
    const double d1 = t[i + p] - t[i];
    const double d2 = t[i + p + 1] - t[i + 1];
    if (d1 > 0) v += (x - t[i]) / d1 * basis(t, i, p - 1, x);
    if (d2 > 0) v += (t[i + p + 1] - x) / d2 * basis(t, i + 1, p - 1, x);
    return v;
}

// Derivative of order k of B_{i,p} at x, by the recursion on the derivative.
inline double basis_derivative(const std::vector<double> &t, int i, int p, int k, double x) {
    if (k == 0) return basis(t, i, p, x);
    if (k > p) return 0.0;
    double v = 0.0;
    const double d1 = t[i + p] - t[i];
    const double d2 = t[i + p + 1] - t[i + 1];
    if (d1 > 0) v += p / d1 * basis_derivative(t, i, p - 1, k - 1, x);
    if (d2 > 0) v -= p / d2 * basis_derivative(t, i + 1, p - 1, k - 1, x);
    return v;
}

inline double value(const std::vector<double> &t, const std::vector<double> &c, int p, double x,
                    int k = 0) {
    double v = 0.0;
    for (int i = 0; i < static_cast<int>(c.size()); ++i)
        v += c[i] * basis_derivative(t, i, p, k, x);
    return v;
}

struct Spline {
    std::vector<double> t;
    std::vector<double> c;
    int p = 0;
};

// A random clamped spline of degree p with n + 1 coefficients on [a, b]; interior knots may
// repeat (up to multiplicity max_mult) when max_mult > 1.
inline Spline random_clamped(std::mt19937 &rng, int p, int n, double a = 0.0, double b = 1.0,
                             int max_mult = 1) {
    std::uniform_real_distribution<double> u(a, b), v(-2.0, 2.0);
    std::uniform_int_distribution<int> m(1, std::max(1, max_mult));
    Spline s;
    s.p = p;
    std::vector<double> inner;
    while (static_cast<int>(inner.size()) < n - p) {
        const double x = u(rng);
        if (x <= a || x >= b) continue;
        const int reps = std::min(m(rng), n - p - static_cast<int>(inner.size()));
        for (int r = 0; r < reps; ++r) inner.push_back(x);
    }
    std::sort(inner.begin(), inner.end());
    s.t.assign(p + 1, a);
    s.t.insert(s.t.end(), inner.begin(), inner.end());
    s.t.insert(s.t.end(), p + 1, b);
    for (int i = 0; i <= n; ++i) s.c.push_back(v(rng));
    return s;
}

// Relative closeness for comparing against the references.
inline bool close(double a, double b, double rel = 1e-9, double abs = 1e-9) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
    return std::fabs(a - b) <= std::max(abs, rel * std::max(std::fabs(a), std::fabs(b)));
}

}  // namespace reference
