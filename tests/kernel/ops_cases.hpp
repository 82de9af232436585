// Random splines for the tests of the knot and degree operations, on clamped and awkward knot
// vectors, and a comparison of two splines on a domain through the reference evaluator.
#pragma once

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "reference.hpp"

namespace ops {

enum class Shape {
    clamped,          // ends of multiplicity p + 1, interior knots up to multiplicity p
    clamped_full,     // interior knots up to multiplicity p + 1 (jumps)
    unclamped,        // all knots distinct
    overfull_ends,    // ends repeated more than p + 1 times
    overfull_inside,  // an interior knot repeated p + 2 times
};

inline const char *name(Shape s) {
    switch (s) {
        case Shape::clamped:
            return "clamped";
        case Shape::clamped_full:
            return "clamped_full";
        case Shape::unclamped:
            return "unclamped";
        case Shape::overfull_ends:
            return "overfull_ends";
        case Shape::overfull_inside:
            return "overfull_inside";
    }
    return "?";
}

inline constexpr Shape all_shapes[] = {Shape::clamped, Shape::clamped_full, Shape::unclamped,
                                       Shape::overfull_ends, Shape::overfull_inside};

// A spline of degree p with about n + 1 coefficients on [0, 1] (the unclamped shape spreads its
// knots over [0, 1] too). Knots are drawn from a grid of 1/64 so that repeats happen and stay
// exactly representable.
inline reference::Spline make(std::mt19937 &rng, Shape shape, int p, int n) {
    std::uniform_int_distribution<int> grid(1, 63);
    std::uniform_real_distribution<double> coef(-2.0, 2.0);
    reference::Spline s;
    s.p = p;
    std::vector<double> inner;
    auto add_inner = [&](int count, int max_mult) {
        std::uniform_int_distribution<int> mult(1, std::max(1, max_mult));
        while (static_cast<int>(inner.size()) < count) {
            const double x = grid(rng) / 64.0;
            const int reps = std::min(mult(rng), count - static_cast<int>(inner.size()));
            for (int r = 0; r < reps; ++r) inner.push_back(x);
        }
    };
    switch (shape) {
        case Shape::clamped:
        case Shape::clamped_full: {
            add_inner(std::max(0, n - p), shape == Shape::clamped ? std::max(1, p) : p + 1);
            std::sort(inner.begin(), inner.end());
            // Cap multiplicities that two draws of the same value may have pushed too high.
            std::vector<double> capped;
            const int cap = shape == Shape::clamped ? std::max(1, p) : p + 1;
            for (double x : inner)
                if (std::count(capped.begin(), capped.end(), x) < cap) capped.push_back(x);
            s.t.assign(p + 1, 0.0);
            s.t.insert(s.t.end(), capped.begin(), capped.end());
            s.t.insert(s.t.end(), p + 1, 1.0);
            break;
        }
        case Shape::unclamped: {
            std::vector<int> cells(63);
            for (int i = 0; i < 63; ++i) cells[i] = i + 1;
            std::shuffle(cells.begin(), cells.end(), rng);
            const int count = std::min(n + p, 63) - 1;
            s.t.push_back(0.0);
            for (int i = 0; i < count; ++i) s.t.push_back(cells[i] / 64.0);
            s.t.push_back(1.0);
            std::sort(s.t.begin(), s.t.end());
            break;
        }
        case Shape::overfull_ends: {
            add_inner(std::max(1, n - p - 2), 1);
            std::sort(inner.begin(), inner.end());
            inner.erase(std::unique(inner.begin(), inner.end()), inner.end());
            s.t.assign(p + 2, 0.0);
            s.t.insert(s.t.end(), inner.begin(), inner.end());
            s.t.insert(s.t.end(), p + 3, 1.0);
            break;
        }
        case Shape::overfull_inside: {
            add_inner(std::max(1, n - p - 1), std::max(1, p));
            const double x = grid(rng) / 64.0;
            for (double &y : inner)
                if (y == x) y = 0.5 / 64.0;  // keep the overfull knot's multiplicity exact
            for (int r = 0; r < p + 2; ++r) inner.push_back(x);
            std::sort(inner.begin(), inner.end());
            s.t.assign(p + 1, 0.0);
            s.t.insert(s.t.end(), inner.begin(), inner.end());
            s.t.insert(s.t.end(), p + 1, 1.0);
            break;
        }
    }
    const int count = static_cast<int>(s.t.size()) - p - 1;
    for (int i = 0; i < count; ++i) s.c.push_back(coef(rng));
    return s;
}

// Points at which two splines are compared: both ends, every knot of both, the middle of every
// span and some random points.
inline std::vector<double> probe_points(std::mt19937 &rng, const std::vector<double> &t1,
                                        const std::vector<double> &t2, double a, double b) {
    std::vector<double> xs{a, b};
    for (const auto *t : {&t1, &t2})
        for (std::size_t i = 0; i < t->size(); ++i) {
            const double x = (*t)[i];
            if (x >= a && x <= b) xs.push_back(x);
            if (i + 1 < t->size()) {
                const double m = 0.5 * (x + (*t)[i + 1]);
                if (m >= a && m <= b) xs.push_back(m);
            }
        }
    std::uniform_real_distribution<double> u(a, b);
    for (int i = 0; i < 8; ++i) xs.push_back(u(rng));
    return xs;
}

// reference::value restricted to the basis functions whose support holds x (the others are 0 by
// definition), which keeps the brute-force recursion affordable for many coefficients.
inline double value(const reference::Spline &s, double x) {
    double v = 0.0;
    for (std::size_t i = 0; i < s.c.size(); ++i)
        if (s.t[i] <= x && x <= s.t[i + s.p + 1])
            v += s.c[i] * reference::basis(s.t, static_cast<int>(i), s.p, x);
    return v;
}

// Largest difference of the two splines over the probe points of [a, b].
inline double max_difference(std::mt19937 &rng, const reference::Spline &s1,
                             const reference::Spline &s2, double a, double b) {
    double worst = 0.0;
    for (double x : probe_points(rng, s1.t, s2.t, a, b)) {
        const double d = std::fabs(value(s1, x) - value(s2, x));
        worst = std::max(worst, std::isnan(d) ? INFINITY : d);
    }
    return worst;
}

inline double max_abs(const std::vector<double> &v) {
    double m = 0.0;
    for (double x : v) m = std::max(m, std::fabs(x));
    return m;
}

inline bool sorted(const std::vector<double> &t) { return std::is_sorted(t.begin(), t.end()); }

inline std::string describe(const reference::Spline &s) {
    std::string out = "p=" + std::to_string(s.p) + " t=[";
    for (double x : s.t) out += std::to_string(x) + " ";
    return out + "]";
}

}  // namespace ops
