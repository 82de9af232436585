// The B-spline kernel: plain C++20 numerics over caller-owned memory.
//
// A spline of degree p is described by a non-decreasing knot vector t of n + p + 2 values and
// n + 1 coefficients c; its domain is the closed interval [t.front(), t.back()], and on it the
// spline is sum_i c[i] * B_{i,p}(x) with the Cox-de Boor basis over the whole knot vector (so an
// unclamped knot vector is evaluated as it stands, not clipped to [t[p], t[n+1]]). The right end
// of the domain takes the value of the last non-empty span.
//
// Rules shared by every function:
//  - nothing here allocates, throws or touches Python;
//  - sizes are validated first: when the spans given do not agree with each other (for example
//    t.size() != c.size() + p + 1, or p < 0), the function writes nothing and returns 0;
//  - any non-decreasing knot vector is accepted: repeated interior knots of any multiplicity,
//    repeated end knots, zero-length spans; NaN and infinities never cause an out-of-bounds
//    access or an endless loop, and a NaN abscissa gives NaN;
//  - knots are compared exactly.
#pragma once

#include <cstdint>
#include <span>

namespace pyorvex::kernel {

using cspan = std::span<const double>;
using vspan = std::span<double>;

// Number of distinct knot values strictly inside (t.front(), t.back()).
int distinct_interior_knots(cspan t, int p);

// Greville abscissae: out[i] = (t[i+1] + ... + t[i+p]) / p; for p == 0 the midpoint of t[i] and
// t[i+1]. out.size() must be t.size() - p - 1.
void greville(cspan t, int p, vspan out);

// Value at x. An x outside the domain is evaluated with the polynomial of the nearest
// non-empty span; a knot vector without a non-empty span gives 0.
double value_at(double x, cspan t, cspan c, int p);

// Overwrites each xs[i] with the value at xs[i]. xs must be increasing (NaN anywhere gives NaN
// there): the spans are walked forward, never searched per point. In any other order, or if xs
// changes during the call (another thread rewriting it), the values of the points out of order
// are unspecified, but nothing outside xs, t and c is read or written: every span index the walk
// forms is clamped to the knot vector whatever the abscissae.
void values_sorted(vspan xs, cspan t, cspan c, int p);

// out[k] = derivative of order k at x, for k = 0 .. nu (out.size() must be nu + 1); orders above
// p give 0.
void derivatives_at(double x, cspan t, cspan c, int p, int nu, vspan out);

// Derivatives of orders first..last at each xs[i], written row-major into work:
// work[(k - first) * xs.size() + i]. work.size() must be (last - first + 1) * xs.size(). xs must
// be increasing; any other order is handled as in values_sorted (every entry of work is written).
void derivatives_sorted(cspan xs, cspan t, cspan c, int p, int first, int last, vspan work);

// Boehm insertion of u, r times. nt.size() == t.size() + r, nc.size() == c.size() + r. The
// result describes the same curve; r beyond what the multiplicity allows, or u at a domain end,
// still fills both arrays completely with a representation of the same curve.
void insert_knot(cspan t, cspan c, int p, double u, int r, vspan nt, vspan nc);

// Inserts every value of the increasing array xs once, in one pass. nt.size() == t.size() +
// xs.size(), nc.size() == c.size() + xs.size(). Values outside the domain or equal to existing
// knots are still inserted; the curve on the domain stays the same. A NaN in xs fills both
// outputs with NaN; a value below its predecessor is inserted as the predecessor. xs is read
// value by value, so the output stays a sorted knot vector even if xs changes meanwhile.
void refine(cspan t, cspan c, int p, cspan xs, vspan nt, vspan nc);

// Removes the knot u up to r times while the curve moves by at most tol (maximum deviation of
// the function). Works in place; returns the count removed, the result lying in the first
// t.size() - count knots and c.size() - count coefficients.
int remove_knot(vspan t, vspan c, int p, double u, int r, double tol);

// Removes as many interior knots as possible, each single removal within tol; in place as
// above; returns the total count. Linear in n.
int remove_knots(vspan t, vspan c, int p, double tol);

// Removes u r times (as far as its multiplicity allows) without a tolerance check; in place as
// above; returns the count.
int remove_knot_unchecked(vspan t, vspan c, int p, double u, int r);

// The same curve with the degree raised by nu: each distinct knot value (both ends included)
// gains nu multiplicity. nt.size() == t.size() + nu * (a + 2), nc.size() == c.size() + nu * (a +
// 1), a = distinct_interior_knots(t, p). Exact on clamped knot vectors.
void elevate_degree(cspan t, cspan c, int p, int nu, vspan nt, vspan nc);

// Antiderivative of order nu: one more knot at each end per order, value 0 at the domain start.
// nt.size() == t.size() + 2 * nu, nc.size() == c.size() + nu.
void antiderivative(cspan t, cspan c, int p, int nu, vspan nt, vspan nc);

// Derivative of order nu <= p, written to the front of nt (K + p - nu + 2 knots) and nc (K + 1
// coefficients), nt.size() >= t.size(), nc.size() >= c.size(). Returns K, the highest
// coefficient index written (n - nu for an ordinary knot vector). For nu > p, writes the zero
// function (nc[0] = 0, nt[0..1] = domain ends) and returns 0.
int derivative(cspan t, cspan c, int p, int nu, vspan nt, vspan nc);

// Size of the sum of two splines of the same degree and domain: the union knot vector, where a
// value present in both takes the larger multiplicity, has m + 1 values and the sum n + 1
// coefficients. ok is false when the inputs are unusable (bad sizes) or the sizes overflow int.
struct SumSize {
    std::int64_t m = 0;
    std::int64_t n = 0;
    bool ok = false;
};
SumSize sum_size(cspan t1, cspan t2, int p);

// The sum on the union knot vector: nt.size() == m + 1, nc.size() == n + 1 of sum_size.
void sum(cspan t1, cspan c1, cspan t2, cspan c2, int p, vspan nt, vspan nc);

}  // namespace pyorvex::kernel
