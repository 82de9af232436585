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
//  - so is the degree: a spline of degree above kMaxDegree, or a result of such a degree, is
//    refused in the same way (nothing written, 0 returned);
//  - any non-decreasing knot vector is accepted: repeated interior knots of any multiplicity,
//    repeated end knots, zero-length spans; NaN and infinities never cause an out-of-bounds
//    access or an endless loop, and a NaN abscissa gives NaN;
//  - knots are compared exactly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace pyorvex::kernel {

using cspan = std::span<const double>;
using vspan = std::span<double>;

// The largest degree the kernel works with, given or produced. Every operation stays accurate to
// about 1e-14 of the scale of the data up to it and far beyond (measured to degree 16000 against
// 50-digit arithmetic and against the input curve: scripts/max_degree.py), so accuracy does not
// set it. What does is cost: evaluation keeps a window of p + 1 values on the stack (the kernel
// never allocates; 8 KiB here) and costs O(p^2) per point, and the calculus and degree
// elevation to a degree q cost O(q) and O(q^2) passes; 1024 keeps every call short and bounded.
inline constexpr int kMaxDegree = 1024;

// Number of distinct knot values strictly inside (t.front(), t.back()).
int distinct_interior_knots(cspan t, int p);

// Greville abscissae: out[i] = (t[i+1] + ... + t[i+p]) / p; for p == 0 the midpoint of t[i] and
// t[i+1]. out.size() must be t.size() - p - 1.
void greville(cspan t, int p, vspan out);

// What an evaluation or search of derivatives reports besides its results.
enum class EvalStatus : int {
    ok = 0,
    refused,   // the arguments or the data are outside what the operation takes (see each one)
    overflow,  // the derivative, or its B-spline coefficients on the way, do not fit a double
};

// The status of derivative values computed at finite abscissae of the spline (t, c): overflow
// when a value is not finite while every knot and coefficient is (with finite data nothing else
// makes one: the derivative or its differenced coefficients went past the largest double, and
// inf - inf or inf * 0 may have followed), ok otherwise. Every entry point that evaluates
// derivatives asks this one test. The data is read only when some value is not finite.
inline bool all_finite(cspan a) {
    // x - x is 0 for a finite x and NaN otherwise, and the sums stay 0 until one is NaN: vector
    // arithmetic the compiler keeps as written (it leaves a loop of comparisons or a
    // floating-point sum scalar), a few operations per four values and no branch.
    using vec = double __attribute__((vector_size(32)));
    vec acc0{}, acc1{};
    const double *p = a.data();
    const std::size_t n = a.size();
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        vec x0, x1;
        __builtin_memcpy(&x0, p + i, sizeof x0);
        __builtin_memcpy(&x1, p + i + 4, sizeof x1);
        acc0 += x0 - x0;
        acc1 += x1 - x1;
    }
    double tail = 0.0;
    for (; i < n; ++i) tail += p[i] - p[i];
    const vec acc = acc0 + acc1;
    return (acc[0] + acc[1]) + (acc[2] + acc[3]) + tail == 0.0;
}

inline EvalStatus derivative_status(cspan values, cspan t, cspan c) {
    if (all_finite(values)) return EvalStatus::ok;
    return all_finite(t) && all_finite(c) ? EvalStatus::overflow : EvalStatus::ok;
}

// A bound that spares derivative_status a pass over many values: true when no derivative of
// order 1..last of the clamped spline (t, c) of degree p, nor a step of its evaluation, can leave
// the range of doubles inside the domain. That holds with knots within 2^64 and the B-spline
// coefficients of each of those derivatives within 2^900: every value is a convex combination of
// them, and every intermediate of the kernel is bounded by them times a span's length. False
// says nothing (the values are then tested). work holds c.size() doubles.
inline bool derivatives_bounded(cspan t, cspan c, int p, int last, vspan work) {
    constexpr double kKnots = 0x1p64, kValues = 0x1p900;
    const std::size_t n = c.size(), P = static_cast<std::size_t>(p);
    if (last < 1) return true;
    if (p < 0 || t.size() != n + P + 1 || n <= P || work.size() != n) return false;
    for (std::size_t i = 0; i < P; ++i)
        if (t[i] != t[P] || t[n + i + 1] != t[n]) return false;
    if (!(t[0] >= -kKnots && t[0] <= kKnots && t[n + P] >= -kKnots && t[n + P] <= kKnots))
        return false;
    double *d = work.data();
    for (std::size_t i = 0; i < n; ++i) d[i] = c[i];
    for (int r = 1; r <= last && r <= p; ++r) {
        const double q = p - r + 1;
        for (std::size_t i = 0; i + static_cast<std::size_t>(r) < n; ++i) {
            const double h = t[i + P + 1] - t[i + static_cast<std::size_t>(r)];
            d[i] = h > 0.0 ? q * (d[i + 1] - d[i]) / h : 0.0;
            if (!(d[i] >= -kValues && d[i] <= kValues)) return false;
        }
    }
    return true;
}

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

// Derivatives of orders first..last at each xs[i] in any order, written as derivatives_sorted
// writes them (same sizes, same rows, every entry written). An increasing xs takes the forward
// walk of derivatives_sorted; any other order searches the span of each point.
void derivatives_any(cspan xs, cspan t, cspan c, int p, int first, int last, vspan work);

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

// Sizes of degree elevation: the result (knots, coefs) and the room the operation works in
// (work_knots, work_coefs), which the output spans must have; ok is false when the arguments do
// not agree or the new degree is above kMaxDegree.
struct ElevationSize {
    std::size_t knots = 0;
    std::size_t coefs = 0;
    std::size_t work_knots = 0;
    std::size_t work_coefs = 0;
    bool ok = false;
};

inline ElevationSize elevation_size(cspan t, cspan c, int p, int nu) {
    ElevationSize s;
    if (p < 0 || nu < 0 || nu > kMaxDegree - p || c.empty() ||
        t.size() != c.size() + static_cast<std::size_t>(p) + 1)
        return s;
    const std::size_t unu = static_cast<std::size_t>(nu), order = static_cast<std::size_t>(p) + 1;
    std::size_t a = 0;  // distinct values strictly inside, as distinct_interior_knots counts them
    for (std::size_t i = 1; i + 1 < t.size(); ++i)
        if (t[i] > t.front() && t[i] < t.back() && t[i] != t[i - 1]) ++a;
    s.knots = t.size() + unu * (a + 2);
    s.coefs = c.size() + unu * (a + 1);
    s.work_knots = s.knots;
    s.work_coefs = s.coefs;
    s.ok = true;
    if (!(t.front() < t.back())) return s;  // no span (or no order): nothing to work on
    // The work is done on the knot vector with both ends of multiplicity exactly p + 1, in two
    // copies of the knots and two of the coefficients.
    std::size_t m0 = 1, m1 = 1;
    while (m0 < t.size() && t[m0] == t.front()) ++m0;
    while (m1 < t.size() && t[t.size() - 1 - m1] == t.back()) ++m1;
    const std::size_t core = t.size() + (order > m0 ? order - m0 : 0) +
                             (order > m1 ? order - m1 : 0) - (m0 > order ? m0 - order : 0) -
                             (m1 > order ? m1 - order : 0);
    const std::size_t core_knots = core + unu * (a + 2), core_coefs = core_knots - order - unu;
    if (2 * core_knots > s.work_knots) s.work_knots = 2 * core_knots;
    if (2 * (core_coefs + 2) > s.work_coefs) s.work_coefs = 2 * (core_coefs + 2);
    return s;
}

// The same curve with the degree raised by nu: each distinct knot value (both ends included)
// gains nu multiplicity. nt and nc must hold at least the work sizes of elevation_size; the
// result is written to their front (knots, coefs of elevation_size). Exact on the whole domain,
// unclamped ends included, and accurate at every degree up to kMaxDegree.
void elevate_degree(cspan t, cspan c, int p, int nu, vspan nt, vspan nc);

// Calculus works on the clamped equivalent of a spline: an end knot of multiplicity m < p + 1
// gets p + 1 - m more copies, whose basis functions are weighted 0. That leaves the function on
// the domain as it is (every existing basis function keeps its knots), and on clamped ends the
// control-point formulas of the derivative and the antiderivative are exact, so both results
// hold on the whole domain. On clamped knot vectors nothing is added.
struct EndPadding {
    std::size_t left = 0;   // copies of t.front() to add
    std::size_t right = 0;  // copies of t.back() to add
};

inline EndPadding clamp_padding(cspan t, int p) {
    EndPadding pad;
    if (p < 0 || t.empty()) return pad;
    const std::size_t want = static_cast<std::size_t>(p) + 1, last = t.size() - 1;
    std::size_t m = 1;
    while (m < want && m <= last && t[m] == t[0]) ++m;
    pad.left = want - m;
    m = 1;
    while (m < want && m <= last && t[last - m] == t[last]) ++m;
    pad.right = want - m;
    return pad;
}

// Sizes of the result of derivative or antiderivative, for the caller to allocate; ok is false
// when the arguments do not agree (then the operation writes nothing).
struct CalculusSize {
    std::size_t knots = 0;
    std::size_t coefs = 0;
    bool ok = false;
};

inline bool calculus_args_ok(cspan t, cspan c, int p, int nu) {
    return p >= 0 && p <= kMaxDegree && nu >= 0 && !c.empty() && t.size() > c.size() &&
           t.size() - c.size() == static_cast<std::size_t>(p) + 1;
}

// Derivative of order nu: degree p - nu on the clamped equivalent's knots less nu at each end
// (n + 1 - nu coefficients and n + p + 2 - 2 nu knots on a clamped vector). The zero function
// for nu > p (degree 0 on the two domain ends) and when fewer than nu + 1 coefficients are left
// (degree p - nu, the first knot repeated).
inline CalculusSize derivative_size(cspan t, cspan c, int p, int nu) {
    if (!calculus_args_ok(t, c, p, nu)) return {};
    if (nu > p) return {2, 1, true};
    const EndPadding pad = clamp_padding(t, p);
    const std::size_t coefs = c.size() + pad.left + pad.right, unu = static_cast<std::size_t>(nu);
    const std::size_t degree = static_cast<std::size_t>(p - nu);
    if (coefs <= unu) return {degree + 2, 1, true};
    return {coefs - unu + degree + 1, coefs - unu, true};
}

// Antiderivative of order nu: degree p + nu on the clamped equivalent's knots plus nu more at
// each end (n + 1 + nu coefficients and n + p + 2 + 2 nu knots on a clamped vector).
inline CalculusSize antiderivative_size(cspan t, cspan c, int p, int nu) {
    if (!calculus_args_ok(t, c, p, nu) || nu > kMaxDegree - p) return {};
    const EndPadding pad = clamp_padding(t, p);
    const std::size_t unu = static_cast<std::size_t>(nu), added = pad.left + pad.right;
    return {t.size() + added + 2 * unu, c.size() + added + unu, true};
}

// Antiderivative of order nu, value 0 at the domain start; nt and nc of exactly the sizes of
// antiderivative_size.
void antiderivative(cspan t, cspan c, int p, int nu, vspan nt, vspan nc);

// Derivative of order nu, written to the front of nt and nc, which must hold at least the sizes
// of derivative_size. Returns K, the highest coefficient index written (coefs - 1 of
// derivative_size).
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

// --- splines of several columns --------------------------------------------------------------
// One knot vector shared by dof >= 1 columns of coefficients, held row-major: c[i * dof + j] is
// coefficient i of column j, so c.size() == (t.size() - p - 1) * dof. Sizes that do not agree
// (or dof == 0) make a function write nothing and return 0, as above.

// out[i * dof + j] = value of column j at xs[i], for xs in any order (out.size() == xs.size() *
// dof). The basis functions of a point are computed once for all its columns. An increasing
// stretch of xs walks the spans forward; a step back searches the span of that point, so any
// order, or xs rewritten meanwhile, reads and writes nothing outside the spans given. A NaN
// abscissa gives a row of NaN; a knot vector without a non-empty span gives zeros.
void values_rows(cspan xs, cspan t, cspan c, int p, std::size_t dof, vspan out);

// remove_knot and remove_knots on every column at once: a copy of a knot goes only when the
// removal keeps every column within tol (the bounds of remove_knot, the largest over the
// columns). In place; returns the count removed, the result lying in the first t.size() - count
// knots and the first (t.size() - p - 1 - count) * dof coefficients.
int remove_knot_rows(vspan t, vspan c, int p, std::size_t dof, double u, int r, double tol);
int remove_knots_rows(vspan t, vspan c, int p, std::size_t dof, double tol);

// --- interpolation through waypoints -------------------------------------------------------------

// Outcome of interpolate. Every code but ok leaves knots and coefs as they were.
enum class InterpolationStatus : int {
    ok = 0,
    bad_degree,      // p < 1 or p > kMaxDegree
    bad_lengths,     // times and values differ in length
    too_few_points,  // fewer than 2 waypoints
    bad_conditions,  // start.size() + stop.size() != p - 1
    bad_buffers,     // knots, coefs or work not of the sizes of interpolation_size
    bad_times,       // a time that is not finite, or times not strictly increasing
    bad_values,      // a value or an end derivative that is not finite
    unsolvable,      // the system hit a zero pivot or a result that is not finite in floating point
    inaccurate,      // the solution's error bound exceeds the tolerance (ill-conditioned system)
    interrupted,     // the caller's interrupt test asked to stop
};

// What interpolate is to guarantee and may be asked, and what it found. The data's scale is the
// largest |value|, and |d| h^j / j! for an end derivative d of order j at an end whose first
// interval is h (the change it makes over that interval). The result is accepted when the error
// bound on its coefficients, as LAPACK's band routines estimate it (|A^-1| times the residual
// plus the rounding of A x, by Hager's 1-norm estimator), and every row's residual stay within
// tolerance times that scale (a derivative row's within tolerance times scale j! / h^j): the
// basis functions sum to one, so the bound on the coefficients bounds the error everywhere
// between the waypoints too. interrupted, when set, is called every few thousand operations;
// true stops the solve.
struct InterpolationCheck {
    double tolerance = 1e-9;
    bool (*interrupted)(void *) = nullptr;
    void *context = nullptr;
    double bound = 0.0;    // out: the error bound on the coefficients (of `axis`)
    double scale = 0.0;    // out: the data's scale (of `axis`)
    std::size_t axis = 0;  // out: the first axis refused, else the one closest to its tolerance
};

// Sizes for interpolate with m waypoints, degree p and the given counts of end derivatives: the
// result (knots m + 2p, coefs m + p - 1) and the work memory (the band of the collocation system
// with room for the fill-in of row exchanges, its right-hand side, a copy of the knots, and the
// basis-function table). ok is false exactly when interpolate would refuse these counts.
struct InterpolationSize {
    std::size_t knots = 0;
    std::size_t coefs = 0;
    std::size_t work = 0;
    bool ok = false;
};

inline InterpolationSize interpolation_size(std::size_t m, int p, std::size_t n_start,
                                            std::size_t n_stop, std::size_t dof = 1) {
    InterpolationSize s;
    if (dof < 1 || dof > (std::size_t{1} << 20)) return s;
    if (p < 1 || p > kMaxDegree || m < 2 || n_start > static_cast<std::size_t>(p) ||
        n_stop > static_cast<std::size_t>(p) || n_start + n_stop != static_cast<std::size_t>(p - 1))
        return s;
    const std::size_t up = static_cast<std::size_t>(p);
    const std::size_t below = n_start > n_stop ? n_start : n_stop, above = up - n_start;
    // Below 2^50 waypoint values and degree kMaxDegree nothing here overflows; the work memory is
    // then below 2^62 doubles, and any larger request is refused anyway.
    if (m >= (std::size_t{1} << 50) / dof) return s;
    const std::size_t coefs = m + up - 1, knots = coefs + up + 1;
    const std::size_t band = coefs * (2 * below + above + 1);
    // The band twice (the factors and the system itself, for the residual), five vectors of the
    // system's order (pivots, residual and the estimator's three), and the right-hand side and
    // the solution of every axis.
    const std::size_t work =
        2 * band + (5 + 2 * dof) * coefs + knots + 2 * (up + 1) * (up + 1) + 4 * (up + 1);
    s.knots = knots;
    s.coefs = coefs * dof;
    s.work = work;
    s.ok = true;
    return s;
}

// The spline of degree p through (times[i], values[i]) with knots times[0] p + 1 times, each
// interior time once and times.back() p + 1 times, whose derivatives of orders 1..start.size()
// at times[0] are start and of orders 1..stop.size() at times.back() are stop. Solves the banded
// collocation system by elimination with row exchanges inside the band and bounds the error of
// the result (see InterpolationCheck): O(m p^2) time, plus O(p^3) for the basis derivatives at
// the two ends.
InterpolationStatus interpolate(cspan times, cspan values, int p, cspan start, cspan stop,
                                vspan knots, vspan coefs, vspan work, InterpolationCheck &check);

// The same for dof axes at once, one factorisation for all: values holds m rows of dof (row i
// the waypoint i of every axis), start and stop their derivatives order by order (row d - 1 the
// derivative of order d of every axis), coefs receives n + 1 rows of dof. Each axis is checked
// against its own scale.
InterpolationStatus interpolate_axes(cspan times, cspan values, std::size_t dof, int p, cspan start,
                                     cspan stop, vspan knots, vspan coefs, vspan work,
                                     InterpolationCheck &check);

// --- extrema of a derivative ---------------------------------------------------------------------

// Least and greatest value of a derivative over the whole domain, with the abscissae where they
// are taken (the smallest such abscissa on ties).
struct Extrema {
    double tmin = 0.0;
    double vmin = 0.0;
    double tmax = 0.0;
    double vmax = 0.0;
};

// Depth to which a span is halved while isolating the critical points of its polynomial: far
// below the resolution of a double within the span.
inline constexpr int kExtremaDepth = 60;

// Work memory of extrema for degree p (0 when p is outside 0..kMaxDegree): the span's window and
// its knots, the stack of halved pieces, and two rows for evaluations.
inline std::size_t extrema_work_size(int p) {
    if (p < 0 || p > kMaxDegree) return 0;
    const std::size_t row = static_cast<std::size_t>(p) + 1;
    return row * (kExtremaDepth + 4) + 2 * static_cast<std::size_t>(p);
}

// Extrema of the derivative of order nu over [t.front(), t.back()], exact to rounding: on each
// non-empty span, the polynomial piece in Bernstein form, its values at both span ends (so both
// sides of every knot) and at every root of its derivative inside the span. Returns refused and
// writes nothing when the sizes disagree, p is above kMaxDegree, nu < 0 or work.size() !=
// extrema_work_size(p), and also when the domain is empty, or a value met is NaN from NaN
// knots or coefficients: there is then no extremum to report. With finite knots and
// coefficients, a value that is not finite is an overflow of the derivative: overflow, nothing
// written. Orders above p give 0 at t.front(). Costs O(p^2) per span and O(p^2) per critical
// point.
EvalStatus extrema(cspan t, cspan c, int p, int nu, vspan work, Extrema &out);

// The same for every axis of a spline whose coefficients c are rows of dof (row i the coefficient
// i of every axis), up to degree kExtremaRowsMaxDegree: out[a] receives the extrema of axis a.
// The work that depends on the knots alone is done once for all axes. Refuses as extrema() does,
// and also for a degree above kExtremaRowsMaxDegree, dof = 0 or out.size() != dof; the status is
// that of the first axis whose is not ok, and out is then unspecified. Work memory:
// extrema_rows_work_size(p, dof) doubles (0 when the arguments are refused).
inline constexpr int kExtremaRowsMaxDegree = 7;
std::size_t extrema_rows_work_size(int p, std::size_t dof);
EvalStatus extrema_rows(cspan t, cspan c, int p, std::size_t dof, int nu, vspan work,
                        std::span<Extrema> out);

// How far the peaks of the derivative of order nu of the axes (as for extrema_rows) are from
// their limits: ratio, the largest over the axes of |peak| / limit (each a division of doubles),
// and exceeded, whether some |peak| > limit. The result of the extrema of every axis, for the
// search of only the pieces that could change it. Refuses as extrema_rows does, and for limits
// that are not dof positive numbers (infinity allowed).
struct PeakRatio {
    double ratio = 0.0;
    bool exceeded = false;
};
EvalStatus peak_ratio(cspan t, cspan c, int p, std::size_t dof, int nu, cspan limits, vspan work,
                      PeakRatio &out);

// peak_ratio for up to kRatioOrders orders nus at once (limits holds dof per order, order j's
// from limits[j * dof]; out[j] receives order j's ratio): one walk over the spans for all of
// them, in the same work memory. Refuses as peak_ratio does, and for nus empty or longer than
// kRatioOrders, or out.size() != nus.size().
inline constexpr std::size_t kRatioOrders = 4;
EvalStatus peak_ratios(cspan t, cspan c, int p, std::size_t dof, std::span<const int> nus,
                       cspan limits, vspan work, std::span<PeakRatio> out);

// --- time-optimal retiming along a path
// ------------------------------------------------------------

// Outcome of retime_optimal. Every code but ok leaves knots and coefs unspecified.
enum class OptimalStatus : int {
    ok = 0,
    refused,       // sizes that do not agree, p < 1 or 2p above kMaxDegree, a grid below 2
    bad_limits,    // a limit that is not positive and finite, a shrink factor outside (0, 1]
    bad_path,      // knots or coefficients that are not finite, or an empty domain
    broken,        // the path jumps (a knot of full multiplicity with two values): where_*
    stands_still,  // the path's derivative is zero on every axis over [where_lo, where_hi]
    infeasible,    // no motion meets the limits with the end speeds asked; where_lo tells where
    interrupted,   // the caller's interrupt test asked to stop
};

// The problem's end conditions and the caller's interrupt test, and what the plan found.
// interrupted, when set, is asked every few dozen grid segments; true stops the plan.
struct OptimalPlan {
    double start_speed = 0.0;  // ds/dt at the start of the path
    double stop_speed = 0.0;   // ds/dt at its end
    bool (*interrupted)(void *) = nullptr;
    void *context = nullptr;
    double where_lo = 0.0;  // out: the stretch of the path's parameter a refusal is about
    double where_hi = 0.0;
    double duration = 0.0;  // out: the duration of the motion
    // out: whether one common time scale brought the binding limit to equality, less a margin
    // of about 1e-10 for rounding (the peaks at grid points were known to be the greatest).
    bool settled = false;  // The order of the path's derivative that must not jump where the motion
                           // passes at speed:
    // 1 for velocity and acceleration limits, 2 where the motion's jerk is to stay finite.
    int smooth = 1;
    // out, when set: the grid's s (segments + 1 values), then the squared speeds there.
    double *profile = nullptr;
};

// Sizes of retime_optimal for a path of degree p and dof axes on the knots t with a grid of at
// least `grid` segments: every non-empty span of t is cut into equal segments, as many as its
// share of the domain asks (at least one). The result is of degree 2p, each grid point inside
// the domain a knot of multiplicity 2p - 1: (2p + 1) + (segments - 1)(2p - 1) rows of dof
// coefficients. ok is false exactly when retime_optimal refuses the sizes.
struct OptimalSize {
    std::size_t segments = 0;
    std::size_t knots = 0;
    std::size_t coefs = 0;
    std::size_t work = 0;
    bool ok = false;
};

OptimalSize optimal_size(cspan t, int p, std::size_t dof, std::size_t grid);

// The path q(s) (knots t, coefficients c in rows of dof, degree p) traversed in the least time
// that the grid allows, with |q_j'(s) ds/dt| <= velocity[j] and |q_j''(s) (ds/dt)^2 + q_j'(s)
// d2s/dt2| <= acceleration[j] everywhere, s(t) non-decreasing, ds/dt given at both ends. The
// time starts at t.front(). On each grid segment d2s/dt2 is constant (s(t) is piecewise
// quadratic) and the limits are imposed on the Bernstein coefficients of each axis's
// acceleration and squared velocity over the whole segment (linear in the squared speeds at its
// ends), so they hold between the grid points too; the speeds come from the sets of speeds that
// can still stop in time (a backward pass) and the greatest admissible speed forward. At a knot
// where q' jumps the motion passes at rest. The result q(s(t)) is composed exactly, segment by
// segment, as Bernstein polynomials of degree 2p (convex combinations only), into the B-spline of
// optimal_size. shrink (empty, or one factor in (0, 1] per segment) scales the limits of each
// segment. O(segments dof (p^3 + p c)) time, c the constraints on a segment's boundary.
OptimalStatus retime_optimal(cspan t, cspan c, int p, std::size_t dof, cspan velocity,
                             cspan acceleration, cspan shrink, std::size_t grid, vspan knots,
                             vspan coefs, vspan work, OptimalPlan &plan);

// A time law with a bounded third derivative for a motion along a path, and the motion.
enum class SmoothStatus : int {
    ok = 0,
    refused,       // sizes that do not agree, p < 1 or 5p above kMaxDegree
    bad_profile,   // a plan that is not finite, not increasing, not at rest at its ends
    not_monotone,  // a piece of the time law would turn back (at `where`, from the start)
};

struct SmoothResult {
    std::size_t pieces = 0;  // out: the pieces of the motion (its knots and rows are cut to them)
    double duration = 0.0;   // out: the motion's duration
    double where = 0.0;      // out: where a refusal is, in time from the start
};

// Bounds on the sizes of smooth_time for a path on nknots knots of degree p and a plan of
// `segments` grid segments: knots and coefs are filled up to pieces 5p + 5p + 2 knots and
// (pieces 5p + 1) dof coefficients, the rest set to the end knot and to zero.
struct SmoothSize {
    std::size_t pieces = 0;
    std::size_t knots = 0;
    std::size_t coefs = 0;
    std::size_t work = 0;
    bool ok = false;
};

SmoothSize smooth_size(std::size_t nknots, int p, std::size_t dof, std::size_t segments);

// The plan s[0..n], x[0..n] (the squared path speed at each grid point, d2s/dt2 constant between
// them, at rest at both ends and wherever x is zero) averaged over a sliding window of length
// tau, and the motion q(s(t)) along the path (t, c, degree p, rows of dof) composed exactly: a
// spline of degree 5p starting at t.front(), C2 in time wherever the path is, each piece's time
// law a quintic. The average's speed and acceleration stay within the plan's, its third
// derivative is at most the largest jump of the plan's acceleration over tau, and it lasts tau
// longer than the plan (on each rest-to-rest stretch).
SmoothStatus smooth_time(cspan t, cspan c, int p, std::size_t dof, cspan s, cspan x, double tau,
                         vspan knots, vspan coefs, vspan work, SmoothResult &result);

}  // namespace pyorvex::kernel
