// Test material shared by the evaluation, calculus and knot tests: random splines on awkward knot
// vectors, and reference values with an error scale, built on reference.hpp.
#pragma once

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "reference.hpp"

namespace cases {

using reference::Spline;

enum class Kind {
    clamped,         // end multiplicity p + 1, simple interior knots
    clamped_repeat,  // interior multiplicities up to p + 2 (beyond continuity)
    unclamped,       // distinct knots, no end multiplicity
    end_heavy,       // end knots repeated more than p + 1 times, repeated interior knots
    lattice,         // knots drawn from a few values: many zero-length spans, odd multiplicities
    few_coeffs,      // unclamped with n < p
};

inline const Kind all_kinds[] = {Kind::clamped,   Kind::clamped_repeat, Kind::unclamped,
                                 Kind::end_heavy, Kind::lattice,        Kind::few_coeffs};

inline std::string name(Kind k) {
    switch (k) {
        case Kind::clamped:
            return "clamped";
        case Kind::clamped_repeat:
            return "clamped_repeat";
        case Kind::unclamped:
            return "unclamped";
        case Kind::end_heavy:
            return "end_heavy";
        case Kind::lattice:
            return "lattice";
        case Kind::few_coeffs:
            return "few_coeffs";
    }
    return "?";
}

inline Spline with_knots(std::mt19937 &rng, int p, std::vector<double> t) {
    std::sort(t.begin(), t.end());
    std::uniform_real_distribution<double> v(-2.0, 2.0);
    Spline s;
    s.p = p;
    s.t = std::move(t);
    s.c.resize(s.t.size() - p - 1);
    for (double &x : s.c) x = v(rng);
    return s;
}

// A random spline of degree p of the given kind, with about n + 1 coefficients, on about [a, b].
inline Spline make(std::mt19937 &rng, Kind kind, int p, int n, double a = -1.0, double b = 2.0) {
    std::uniform_real_distribution<double> u(a, b);
    std::vector<double> t;
    switch (kind) {
        case Kind::clamped:
            return reference::random_clamped(rng, p, std::max(n, p), a, b, 1);
        case Kind::clamped_repeat:
            return reference::random_clamped(rng, p, std::max(n, p + 3), a, b, p + 2);
        case Kind::unclamped:
            for (int i = 0; i < n + p + 2; ++i) t.push_back(u(rng));
            return with_knots(rng, p, t);
        case Kind::end_heavy: {
            const int extra = 1 + static_cast<int>(rng() % 3);
            t.assign(p + 1 + extra, a);
            for (int i = 0; i < n - p - 2 * extra; ++i) t.push_back(u(rng));
            if (t.size() > static_cast<std::size_t>(p + 1 + extra)) t.push_back(t.back());
            t.insert(t.end(), p + 1 + extra, b);
            return with_knots(rng, p, t);
        }
        case Kind::lattice: {
            std::uniform_int_distribution<int> pick(0, 4);
            for (int i = 0; i < n + p + 2; ++i) t.push_back(a + (b - a) * pick(rng) / 4.0);
            t.front() = a;
            t.back() = b;
            return with_knots(rng, p, t);
        }
        case Kind::few_coeffs: {
            const int m = p + 2 + static_cast<int>(rng() % (p + 1));  // n = m - p - 2 < p
            for (int i = 0; i < m; ++i) t.push_back(u(rng));
            return with_knots(rng, p, t);
        }
    }
    return {};
}

// Reference derivative of order k at x, summed over the basis functions whose support holds x,
// and the matching error scale: max |c| times the sum of |B^(k)_j(x)| over those functions, the
// size of the terms that any evaluation has to combine.
struct RefValue {
    double value = 0.0;
    double scale = 0.0;
};

inline RefValue ref(const Spline &s, double x, int k = 0) {
    RefValue r;
    double cmax = 0.0;
    for (double c : s.c) cmax = std::max(cmax, std::fabs(c));
    double sum_abs = 0.0;
    for (int j = 0; j < static_cast<int>(s.c.size()); ++j) {
        if (!(s.t[j] <= x && x <= s.t[j + s.p + 1])) continue;
        const double b = reference::basis_derivative(s.t, j, s.p, k, x);
        r.value += s.c[j] * b;
        sum_abs += std::fabs(b);
    }
    r.scale = cmax * std::max(sum_abs, 1.0);
    return r;
}

// |got - want| within rel of the scale (NaN only matches NaN).
inline bool near(double got, const RefValue &want, double rel = 1e-12) {
    if (std::isnan(got) || std::isnan(want.value)) return std::isnan(got) && std::isnan(want.value);
    return std::fabs(got - want.value) <= rel * want.scale + 1e-300;
}

// Test abscissae over the closed domain: every knot, both ends, points next to knots, and random
// points, sorted and without duplicates.
inline std::vector<double> abscissae(std::mt19937 &rng, const Spline &s, int random_count) {
    const double a = s.t.front(), b = s.t.back();
    std::vector<double> xs(s.t.begin(), s.t.end());
    for (double k : s.t) {
        xs.push_back(std::nextafter(k, -INFINITY));
        xs.push_back(std::nextafter(k, INFINITY));
    }
    std::uniform_real_distribution<double> u(a, b);
    for (int i = 0; i < random_count; ++i) xs.push_back(u(rng));
    xs.erase(std::remove_if(xs.begin(), xs.end(), [&](double x) { return x < a || x > b; }),
             xs.end());
    std::sort(xs.begin(), xs.end());
    xs.erase(std::unique(xs.begin(), xs.end()), xs.end());
    return xs;
}

}  // namespace cases
