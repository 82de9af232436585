// pyorvex.planning._kernel: the kernel routines of the planning toolkit, for pyorvex.planning
// only. The kernel is linked in statically (one of the three ways into it: defdatastruct calls
// the function table bound from curvekit, and compiles in only the kernel's header-only helpers).
// The Python side checks every argument and sizes every result (with messages a user can act
// on); this side reads and writes the caller's double buffers and turns each kernel refusal into
// ValueError, so nothing reaches the kernel unchecked even when called directly.
#include <Python.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <span>

#include "args.hpp"
#include "bspline.hpp"
#include "buffer.hpp"
#include "convert.hpp"
#include "degree.hpp"
#include "planning.hpp"
#include "ref.hpp"
#include "scan.hpp"
#include "scratch.hpp"

namespace capi = pyorvex::capi;

namespace pyorvex::planning {

bool signalled(void *) { return PyErr_CheckSignals() != 0; }

bool spline_sound(k::cspan t, k::cspan cpts) {
    bool ok = !t.empty() && k::all_finite(t) && k::all_finite(cpts) && t.front() < t.back();
    for (std::size_t i = 1; ok && i < t.size(); ++i) ok = t[i - 1] <= t[i];
    return ok;
}

namespace {

k::cspan in(const capi::DoubleBuffer &b) { return {b.data(), static_cast<std::size_t>(b.size())}; }

k::vspan out(const capi::DoubleBuffer &b) { return {b.data(), static_cast<std::size_t>(b.size())}; }

const char *interpolation_message(k::InterpolationStatus status) {
    using S = k::InterpolationStatus;
    switch (status) {
        case S::bad_degree:
            return "the degree must be between 1 and the maximum supported degree";
        case S::bad_lengths:
            return "times and values must have the same length";
        case S::too_few_points:
            return "at least 2 waypoints are needed";
        case S::bad_conditions:
            return "the end conditions must number p - 1 in all";
        case S::bad_buffers:
            return "the result arrays do not have the sizes of the interpolant";
        case S::bad_times:
            return "the times must be finite and strictly increasing";
        case S::bad_values:
            return "the values and end conditions must be finite";
        case S::unsolvable:
            return "the waypoints and end conditions admit no interpolant in floating point "
                   "(the collocation system is singular to working precision)";
        case S::inaccurate:
        case S::interrupted:
        case S::ok:
            break;
    }
    return "interpolation failed";
}

// interpolate(times, values, dof, p, start, stop, knots, coefs, tolerance): fills knots and coefs
// with the interpolant of dof axes (values, start, stop and coefs hold rows of dof), accepted when
// each axis's error bound is within tolerance of its data's scale.
PyObject *interpolate(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    static const char *const names[] = {"times", "values", "dof",   "p",        "start",
                                        "stop",  "knots",  "coefs", "tolerance"};
    static const capi::ArgSpec signature{"interpolate", names, 9, 9};
    PyObject *a[9];
    if (!capi::parse_args(signature, args, nargs, kw, a)) return nullptr;
    capi::DoubleBuffer times, values, start, stop, knots, coefs;
    int p = 0, dof = 0;
    k::InterpolationCheck check;
    check.interrupted = signalled;
    if (!times.acquire(a[0], false) || !values.acquire(a[1], false) || !capi::to_int(a[2], &dof) ||
        !capi::to_int(a[3], &p) || !start.acquire(a[4], false) || !stop.acquire(a[5], false) ||
        !knots.acquire(a[6]) || !coefs.acquire(a[7]) || !capi::to_double(a[8], &check.tolerance))
        return nullptr;
    const std::size_t axes = dof > 0 ? static_cast<std::size_t>(dof) : 0;
    const k::InterpolationSize size =
        axes ? k::interpolation_size(static_cast<std::size_t>(times.size()), p,
                                     static_cast<std::size_t>(start.size()) / axes,
                                     static_cast<std::size_t>(stop.size()) / axes, axes)
             : k::InterpolationSize{};
    capi::Scratch work;
    if (size.ok && !work.allocate(static_cast<Py_ssize_t>(size.work))) return nullptr;
    const k::InterpolationStatus status =
        k::interpolate_axes(in(times), in(values), axes, p, in(start), in(stop), out(knots),
                            out(coefs), work.span(), check);
    if (status == k::InterpolationStatus::interrupted) return nullptr;  // the signal's exception
    if (status == k::InterpolationStatus::inaccurate) {
        capi::Ref bound = capi::Ref::steal(capi::float_text(check.bound));
        capi::Ref scale = capi::Ref::steal(capi::float_text(check.scale));
        capi::Ref where = capi::Ref::steal(
            axes > 1 ? PyUnicode_FromFormat(" of axis %zu", check.axis) : PyUnicode_FromString(""));
        if (bound && scale && where)
            PyErr_Format(PyExc_ValueError,
                         "the interpolant%U cannot be computed to the accuracy of its data: the "
                         "collocation system is too ill-conditioned in floating point (error "
                         "bound %U against the data's scale %U); balance the end conditions "
                         "between 'start' and 'stop', lower the degree or use fewer waypoints",
                         where.get(), bound.get(), scale.get());
        return nullptr;
    }
    if (status != k::InterpolationStatus::ok) {
        PyErr_SetString(PyExc_ValueError, interpolation_message(status));
        return nullptr;
    }
    Py_RETURN_NONE;
}

// Column c of the control points of dof axes (rows of dof), gathered where the kernel reads one
// axis: the kernel's routines take one contiguous control polygon.
void gather_axis(k::cspan cpts, Py_ssize_t dof, Py_ssize_t c, double *column) {
    const double *src = cpts.data();
    const Py_ssize_t rows = static_cast<Py_ssize_t>(cpts.size()) / dof;
    for (Py_ssize_t i = 0; i < rows; ++i) column[i] = src[i * dof + c];
}

// True when knots and control points of dof axes agree with the degree: len(knots) = rows + p + 1.
bool sizes_agree(const capi::DoubleBuffer &knots, const capi::DoubleBuffer &cpts, int dof, int p) {
    if (dof >= 1 && cpts.size() >= dof && cpts.size() % dof == 0 &&
        knots.size() == cpts.size() / dof + p + 1)
        return true;
    PyErr_SetString(PyExc_ValueError, "the arrays do not agree in size with the degree");
    return false;
}

PyObject *refuse_extrema() {
    PyErr_SetString(PyExc_ValueError,
                    "no extrema: the knots and control points must be finite and agree in number "
                    "with the degree, the domain must not be empty and nu must be non-negative");
    return nullptr;
}

// False with the exception of a status that is not ok.
bool extrema_status(k::EvalStatus status, int nu) {
    if (status == k::EvalStatus::ok) return true;
    if (status == k::EvalStatus::overflow)
        capi::raise_derivative_overflow(nu);
    else
        refuse_extrema();
    return false;
}

}  // namespace

// Whether the extrema of dof axes take the rows' search. Rows share each span's knot work among
// the axes; one axis alone gains nothing from that, and its own routine bounds every span by its
// coefficients' hull first and converts only the spans that could hold an extremum.
bool rows_search(int dof, int p) { return dof > 1 && p <= k::kExtremaRowsMaxDegree; }

bool axis_extrema(k::cspan knots, k::cspan cpts, int dof, int p, int nu, capi::Scratch<> &work,
                  capi::Scratch<> &column, std::span<k::Extrema> e) {
    const std::size_t axes = static_cast<std::size_t>(dof);
    if (rows_search(dof, p)) {
        const auto size = static_cast<Py_ssize_t>(k::extrema_rows_work_size(p, axes));
        if (work.span().size() != static_cast<std::size_t>(size) && !work.allocate(size))
            return false;
        return extrema_status(k::extrema_rows(knots, cpts, p, axes, nu, work.span(), e), nu);
    }
    const Py_ssize_t rows = static_cast<Py_ssize_t>(cpts.size()) / dof;
    if ((work.span().empty() && !work.allocate(static_cast<Py_ssize_t>(k::extrema_work_size(p)))) ||
        (column.span().empty() && dof > 1 && !column.allocate(rows)))
        return false;
    for (Py_ssize_t c = 0; c < dof; ++c) {
        k::cspan axis = cpts;
        if (dof > 1) {
            gather_axis(cpts, dof, c, column.data());
            axis = {column.data(), static_cast<std::size_t>(rows)};
        }
        if (!extrema_status(k::extrema(knots, axis, p, nu, work.span(), e[c]), nu)) return false;
    }
    return true;
}

namespace {

// extrema(knots, cpts, dof, p, nus, out): for every order nus[j] and axis c, out[4 (j dof + c)
// + 0..3] = (tmin, vmin, tmax, vmax) of that axis's derivative of that order over the domain.
PyObject *extrema(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    static const char *const names[] = {"knots", "cpts", "dof", "p", "nus", "out"};
    static const capi::ArgSpec signature{"extrema", names, 6, 6};
    PyObject *a[6];
    if (!capi::parse_args(signature, args, nargs, kw, a)) return nullptr;
    capi::DoubleBuffer knots, cpts, nus, result;
    int p = 0, dof = 0;
    if (!knots.acquire(a[0], false) || !cpts.acquire(a[1], false) || !capi::to_int(a[2], &dof) ||
        !capi::to_int(a[3], &p) || !nus.acquire(a[4], false) || !result.acquire(a[5]) ||
        !capi::supported_degree(p) || !sizes_agree(knots, cpts, dof, p))
        return nullptr;
    if (result.size() != 4 * nus.size() * dof) {
        PyErr_SetString(PyExc_ValueError, "the result does not hold four numbers a derivative");
        return nullptr;
    }
    for (Py_ssize_t j = 0; j < nus.size(); ++j)
        if (!(nus.data()[j] >= 0.0 && nus.data()[j] <= k::kMaxDegree + 1)) return refuse_extrema();
    capi::Scratch work, column;
    capi::Scratch<k::Extrema> found;
    if (!found.allocate(dof)) return nullptr;
    const std::span<k::Extrema> e = found.span();
    for (Py_ssize_t j = 0; j < nus.size(); ++j) {
        const int nu = static_cast<int>(nus.data()[j]);
        if (!axis_extrema(in(knots), in(cpts), dof, p, nu, work, column, e)) return nullptr;
        double *o = result.data() + 4 * j * dof;
        for (Py_ssize_t c = 0; c < dof; ++c) {
            o[4 * c] = e[c].tmin;
            o[4 * c + 1] = e[c].vmin;
            o[4 * c + 2] = e[c].tmax;
            o[4 * c + 3] = e[c].vmax;
        }
    }
    Py_RETURN_NONE;
}

// The ratio of the peaks of the derivative of order nus[j] of every axis to its limit
// (limits[j * dof + c] of axis c) into r[j], each as k::peak_ratio gives it: the orders in one
// walk over the spans up to the degrees of that search, else from the extrema of every axis.
// False with the exception of the first order whose peaks are refused or overflow.
bool peak_ratios(k::cspan knots, k::cspan cpts, int dof, int p, std::span<const int> nus,
                 const double *limits, capi::Scratch<> &work, capi::Scratch<> &column,
                 std::span<k::PeakRatio> r) {
    const std::size_t axes = static_cast<std::size_t>(dof);
    if (rows_search(dof, p)) {
        const auto size = static_cast<Py_ssize_t>(k::extrema_rows_work_size(p, axes));
        if (work.size() != size && !work.allocate(size)) return false;
        const k::cspan bounds{limits, nus.size() * axes};
        if (k::peak_ratios(knots, cpts, p, axes, nus, bounds, work.span(), r) == k::EvalStatus::ok)
            return true;
        // Which order failed, for the message.
        for (std::size_t j = 0; j < nus.size(); ++j) {
            const k::EvalStatus status = k::peak_ratio(
                knots, cpts, p, axes, nus[j], {limits + j * axes, axes}, work.span(), r[j]);
            if (!extrema_status(status, nus[j])) return false;
        }
        refuse_extrema();
        return false;
    }
    capi::Scratch<k::Extrema> found;
    if (!found.allocate(dof)) return false;
    const std::span<k::Extrema> e = found.span();
    for (std::size_t j = 0; j < nus.size(); ++j) {
        if (!axis_extrema(knots, cpts, dof, p, nus[j], work, column, e)) return false;
        r[j] = {};
        for (std::size_t c = 0; c < axes; ++c) {
            const double big = std::fabs(e[c].vmin) > std::fabs(e[c].vmax) ? std::fabs(e[c].vmin)
                                                                           : std::fabs(e[c].vmax);
            const double limit = limits[j * axes + c];
            if (big / limit > r[j].ratio) r[j].ratio = big / limit;
            r[j].exceeded = r[j].exceeded || big > limit;
        }
    }
    return true;
}

// Limits are positive numbers (infinity allowed), NaN refused.
bool positive_limits(const capi::DoubleBuffer &limits, Py_ssize_t count) {
    bool positive = limits.size() == count;
    for (Py_ssize_t c = 0; c < limits.size(); ++c) positive = positive && limits.data()[c] > 0.0;
    if (!positive)
        PyErr_SetString(PyExc_ValueError, "the limits must be one positive number per axis");
    return positive;
}

// peak_ratio(knots, cpts, dof, p, nu, limits) -> (ratio, exceeded): the largest |peak| / limit
// over the axes of the derivative of order nu, and whether some |peak| > limit.
PyObject *peak_ratio(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    static const char *const names[] = {"knots", "cpts", "dof", "p", "nu", "limits"};
    static const capi::ArgSpec signature{"peak_ratio", names, 6, 6};
    PyObject *a[6];
    if (!capi::parse_args(signature, args, nargs, kw, a)) return nullptr;
    capi::DoubleBuffer knots, cpts, limits;
    int p = 0, dof = 0, nu = 0;
    if (!knots.acquire(a[0], false) || !cpts.acquire(a[1], false) || !capi::to_int(a[2], &dof) ||
        !capi::to_int(a[3], &p) || !capi::to_int(a[4], &nu) || !limits.acquire(a[5], false) ||
        !capi::supported_degree(p) || !sizes_agree(knots, cpts, dof, p) ||
        !positive_limits(limits, dof))
        return nullptr;
    if (nu < 0 || nu > k::kMaxDegree + 1) return refuse_extrema();
    k::PeakRatio out;
    capi::Scratch work, column;
    const int nus[] = {nu};
    if (!peak_ratios(in(knots), in(cpts), dof, p, nus, limits.data(), work, column, {&out, 1}))
        return nullptr;
    return Py_BuildValue("(dO)", out.ratio, out.exceeded ? Py_True : Py_False);
}

// The first factor a settle tries is the exact one grown by this many units of rounding: the
// rounding of the stretched knots and control points moves a peak by a few units, so that the
// first result usually holds every limit already, with the binding one as close as that.
constexpr double kHeadroom = 8.0;
// Attempts at a factor whose rounded result holds every limit: each one past the first adds the
// stretch still missing and a margin that doubles, from one rounding unit.
constexpr int kAttempts = 64;

// The knots stretched by f > 0 about the first one, u0 + f (u - u0) rounded once. Not hscale's
// f u - (f - 1) u0: far from zero (a wall-clock time axis) both of its terms round at the scale
// of f u0, which snaps the stretched knots to that grid, while u - u0 is exact there. False when
// a knot overflows or two distinct knots come closer than min(their gap, DBL_MIN).
bool stretch_knots(k::cspan knots, double f, k::vspan out) {
    const double u0 = knots[0];
    out[0] = u0;
    for (std::size_t i = 1; i < knots.size(); ++i) {
        out[i] = std::fma(f, knots[i] - u0, u0);
        const double gap = knots[i] - knots[i - 1];
        if (!(std::fabs(out[i]) <= DBL_MAX) ||
            (gap > 0.0 && !(out[i] - out[i - 1] >= std::min(gap, DBL_MIN))))
            return false;
    }
    return true;
}

// The motion with time stretched by f about its start into (out_knots, out_cpts), with the
// values of a trajectory of order o (the o-th derivative of its path) scaled by f ** -o. False,
// writing nothing that matters, when that leaves the range of floating point or merges knots.
bool stretch(k::cspan knots, k::cspan cpts, int order, double f, k::vspan out_knots,
             k::vspan out_cpts) {
    const double factor = std::pow(f, -order);
    if (!std::isfinite(factor)) return false;
    bool finite = true;
    for (std::size_t i = 0; i < cpts.size(); ++i) {
        out_cpts[i] = cpts[i] * factor;
        finite = finite && std::isfinite(out_cpts[i]);
    }
    return finite && stretch_knots(knots, f, out_knots);
}

}  // namespace

bool settle_motion(k::cspan knots, k::cspan cpts, int dof, int p, int order,
                   std::span<const int> qs, const double *limits, double exact, double start,
                   k::vspan out_knots, k::vspan out_cpts, Settled &found) {
    const std::size_t count = qs.size();
    int nus[k::kRatioOrders];
    for (std::size_t j = 0; j < count; ++j) nus[j] = qs[j] - order;
    const std::span<const int> orders{nus, count};
    k::PeakRatio r[k::kRatioOrders];
    const std::span<k::PeakRatio> ratios{r, count};
    capi::Scratch work, column;
    found = {exact, std::nan(""), true};
    if (!(exact > 0.0)) {
        if (!peak_ratios(knots, cpts, dof, p, orders, limits, work, column, ratios)) return false;
        exact = 0.0;
        for (std::size_t j = 0; j < count; ++j)
            exact = std::fmax(exact, std::pow(r[j].ratio, 1.0 / qs[j]));
        found.exact = exact;
        if (start < 0.0 || exact == 0.0 || !std::isfinite(exact)) return true;
    }
    double f = start > 0.0 ? start : exact * (1.0 + kHeadroom * 0x1p-53);
    double margin = 0x1p-52;
    for (int attempt = 0; attempt < kAttempts && std::isfinite(f); ++attempt) {
        found.k = f;
        if (!stretch(knots, cpts, order, f, out_knots, out_cpts)) {
            found.fits = false;
            return true;
        }
        if (!peak_ratios(out_knots, out_cpts, dof, p, orders, limits, work, column, ratios))
            return false;
        double worst = 1.0;
        for (std::size_t j = 0; j < count; ++j)
            if (r[j].exceeded)
                worst =
                    std::fmax(worst, std::fmax(std::pow(r[j].ratio, 1.0 / qs[j]), 1.0 + margin));
        if (worst == 1.0) return true;
        f *= worst * (1.0 + margin);
        margin *= 2.0;
    }
    found.k = HUGE_VAL;
    return true;
}

namespace {

// settle(knots, cpts, dof, p, order, qs, limits, exact, start, out_knots, out_cpts) ->
// (exact, k, fits): settle_motion on the caller's arrays (qs the limited orders as numbers).
PyObject *settle(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    static const char *const names[] = {"knots",  "cpts",  "dof",   "p",         "order",   "qs",
                                        "limits", "exact", "start", "out_knots", "out_cpts"};
    static const capi::ArgSpec signature{"settle", names, 11, 11};
    PyObject *a[11];
    if (!capi::parse_args(signature, args, nargs, kw, a)) return nullptr;
    capi::DoubleBuffer knots, cpts, qs, limits, out_knots, out_cpts;
    int p = 0, dof = 0, order = 0;
    double exact = 0.0, start = 0.0;
    if (!knots.acquire(a[0], false) || !cpts.acquire(a[1], false) || !capi::to_int(a[2], &dof) ||
        !capi::to_int(a[3], &p) || !capi::to_int(a[4], &order) || !qs.acquire(a[5], false) ||
        !limits.acquire(a[6], false) || !capi::to_double(a[7], &exact) ||
        !capi::to_double(a[8], &start) || !out_knots.acquire(a[9]) || !out_cpts.acquire(a[10]) ||
        !capi::supported_degree(p) || !sizes_agree(knots, cpts, dof, p))
        return nullptr;
    const Py_ssize_t count = qs.size();
    int q[k::kRatioOrders];
    bool orders_ok = count >= 1 && count <= static_cast<Py_ssize_t>(k::kRatioOrders) &&
                     order >= 0 && order <= k::kMaxDegree;
    for (Py_ssize_t j = 0; orders_ok && j < count; ++j) {
        const double v = qs.data()[j];
        orders_ok = v >= 1.0 && v <= k::kMaxDegree + 1 && v == std::floor(v) && v >= order;
        q[j] = orders_ok ? static_cast<int>(v) : 0;
    }
    if (!orders_ok) {
        PyErr_SetString(PyExc_ValueError,
                        "the limited orders must be one to four integers from 1 up, none below the "
                        "trajectory's order");
        return nullptr;
    }
    if (!positive_limits(limits, count * dof)) return nullptr;
    if (out_knots.size() != knots.size() || out_cpts.size() != cpts.size()) {
        PyErr_SetString(PyExc_ValueError, "the result arrays do not have the sizes of the motion");
        return nullptr;
    }
    if (!(start < 0.0 || start == 0.0 || (start > 0.0 && std::isfinite(start))) ||
        !(exact <= 0.0 || std::isfinite(exact))) {
        PyErr_SetString(PyExc_ValueError, "exact and start must be finite");
        return nullptr;
    }
    Settled found;
    if (!settle_motion(in(knots), in(cpts), dof, p, order, {q, static_cast<std::size_t>(count)},
                       limits.data(), exact, start, out(out_knots), out(out_cpts), found))
        return nullptr;
    return Py_BuildValue("(ddO)", found.exact, found.k, found.fits ? Py_True : Py_False);
}

// Abscissae a block of the multi-axis derivatives: a block's rows of every axis stay in cache.
constexpr Py_ssize_t kBlock = 512;

// The rows of the derivatives of orders first..last of one axis at x, into `rows` (shape
// (last - first + 1, len(x))); x is known to lie in the domain. False with OverflowError naming
// the first order whose values do not fit a double (the values, order 0, of finite data always
// do).
bool axis_rows(k::cspan x, const capi::DoubleBuffer &knots, k::cspan cpts, int p, int first,
               int last, bool ascending, k::vspan rows) {
    if (ascending)
        k::derivatives_sorted(x, in(knots), cpts, p, first, last, rows);
    else
        k::derivatives_any(x, in(knots), cpts, p, first, last, rows);
    const std::size_t m = rows.size() / (static_cast<std::size_t>(last) - first + 1);
    // The bound costs a pass over the coefficients: worth it for more values than those. Without
    // memory for it, the values are tested.
    if (m > cpts.size()) {
        capi::Scratch<> work;
        if (!work.allocate(static_cast<Py_ssize_t>(cpts.size())))
            PyErr_Clear();
        else if (k::derivatives_bounded(in(knots), cpts, p, last, work.span()))
            return true;
    }
    for (int q = first > 0 ? first : 1; q <= last; ++q) {
        const k::cspan row{rows.data() + static_cast<std::size_t>(q - first) * m, m};
        if (k::derivative_status(row, in(knots), cpts) == k::EvalStatus::overflow) {
            capi::raise_derivative_overflow(q);
            return false;
        }
    }
    return true;
}

// The rows of one order of a block, scratch[c * stride + i] for axis c and tick i, written out
// tick by tick: out[i * D + c]. False when a value is not finite (v - v is 0 for a finite v and
// NaN otherwise, and a sum stays 0 until one is NaN). A compile-time count of axes keeps a tick's
// values in registers; an even count goes two ticks and two axes at a time, a 2x2 transposition
// of vectors of two.
using pair = double __attribute__((vector_size(16)));

template <int D>
bool interleave_fixed(const double *src, Py_ssize_t stride, Py_ssize_t len, double *out) {
    pair acc{};
    Py_ssize_t i = 0;
    if constexpr (D % 2 == 0) {
        for (; i + 2 <= len; i += 2)
            for (int c = 0; c < D; c += 2) {
                pair a, b;
                std::memcpy(&a, src + c * stride + i, sizeof a);
                std::memcpy(&b, src + (c + 1) * stride + i, sizeof b);
                const pair first_tick{a[0], b[0]}, second_tick{a[1], b[1]};
                std::memcpy(out + i * D + c, &first_tick, sizeof first_tick);
                std::memcpy(out + (i + 1) * D + c, &second_tick, sizeof second_tick);
                acc += (a - a) + (b - b);
            }
    }
    double rest[D] = {};
    for (; i < len; ++i)
        for (int c = 0; c < D; ++c) {
            const double v = src[c * stride + i];
            out[i * D + c] = v;
            rest[c] += v - v;
        }
    double sum = acc[0] + acc[1];
    for (int c = 0; c < D; ++c) sum += rest[c];
    return sum == 0.0;
}

bool interleave(const double *src, Py_ssize_t stride, Py_ssize_t dof, Py_ssize_t len, double *out) {
    switch (dof) {
        case 2:
            return interleave_fixed<2>(src, stride, len, out);
        case 3:
            return interleave_fixed<3>(src, stride, len, out);
        case 4:
            return interleave_fixed<4>(src, stride, len, out);
        case 6:
            return interleave_fixed<6>(src, stride, len, out);
        case 7:
            return interleave_fixed<7>(src, stride, len, out);
        default:
            break;
    }
    double acc = 0.0;
    for (Py_ssize_t i = 0; i < len; ++i)
        for (Py_ssize_t c = 0; c < dof; ++c) {
            const double v = src[c * stride + i];
            out[i * dof + c] = v;
            acc += v - v;
        }
    return acc == 0.0;
}

// The test of a block that holds a value that is not finite, axis by axis and order by order
// over its scratch rows (axis c's rows of orders first..last at c * orders * len): false with
// OverflowError naming the first order whose values do not fit a double.
bool block_status(const double *scratch, const capi::DoubleBuffer &knots, const double *columns,
                  Py_ssize_t rows, Py_ssize_t dof, int first, int last, Py_ssize_t len) {
    const Py_ssize_t orders = static_cast<Py_ssize_t>(last) - first + 1;
    for (Py_ssize_t c = 0; c < dof; ++c) {
        const k::cspan axis{columns + c * rows, static_cast<std::size_t>(rows)};
        for (int q = first > 0 ? first : 1; q <= last; ++q) {
            const k::cspan row{scratch + (c * orders + (q - first)) * len,
                               static_cast<std::size_t>(len)};
            if (k::derivative_status(row, in(knots), axis) == k::EvalStatus::overflow) {
                capi::raise_derivative_overflow(q);
                return false;
            }
        }
    }
    return true;
}

// derivatives(knots, cpts, dof, p, x, first, last, out): out (shape (last - first + 1, len(x),
// dof), C order) receives at [q - first, i, c] the derivative of order q of axis c at x[i].
PyObject *derivatives(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    static const char *const names[] = {"knots", "cpts", "dof", "p", "x", "first", "last", "out"};
    static const capi::ArgSpec signature{"derivatives", names, 8, 8};
    PyObject *a[8];
    if (!capi::parse_args(signature, args, nargs, kw, a)) return nullptr;
    capi::DoubleBuffer knots, cpts, x, result;
    int p = 0, dof = 0, first = 0, last = 0;
    if (!knots.acquire(a[0], false) || !cpts.acquire(a[1], false) || !capi::to_int(a[2], &dof) ||
        !capi::to_int(a[3], &p) || !x.acquire(a[4], false) || !capi::to_int(a[5], &first) ||
        !capi::to_int(a[6], &last) || !result.acquire(a[7]) || !capi::supported_degree(p) ||
        !sizes_agree(knots, cpts, dof, p))
        return nullptr;
    const Py_ssize_t m = x.size();
    const Py_ssize_t orders = static_cast<Py_ssize_t>(last) - first + 1;
    if (first < 0 || last < first || result.size() / orders != m * dof ||
        result.size() % orders != 0) {
        PyErr_SetString(PyExc_ValueError, "the arrays do not agree in size with the degree");
        return nullptr;
    }
    const double lo = knots.data()[0], hi = knots.data()[knots.size() - 1];
    const double *xs = x.data();
    // The usual input, ascending: one vector scan tells it (a NaN fails it), and its two ends
    // then bound every abscissa, so it goes straight to the forward walk. Any other input takes
    // the point-by-point check that names the first abscissa outside, then the kernel's own test
    // of the order.
    const bool ascending = m > 0 && xs[0] >= lo && xs[m - 1] <= hi && k::ascending(xs, m);
    for (Py_ssize_t i = 0; i < m && !ascending; ++i) {
        if (xs[i] >= lo && xs[i] <= hi) continue;
        capi::Ref v = capi::Ref::steal(capi::float_text(xs[i]));
        capi::Ref a_text = capi::Ref::steal(capi::float_text(lo));
        capi::Ref b_text = capi::Ref::steal(capi::float_text(hi));
        if (v && a_text && b_text)
            PyErr_Format(PyExc_ValueError, "x[%zd] = %U is outside the domain [%U, %U]", i, v.get(),
                         a_text.get(), b_text.get());
        return nullptr;
    }
    if (dof == 1) {
        if (!axis_rows(in(x), knots, in(cpts), p, first, last, ascending, out(result)))
            return nullptr;
        Py_RETURN_NONE;
    }
    // Blocks of abscissae that keep every axis's rows in cache: one axis at a time into scratch
    // rows, then each order's block written out tick by tick, the dof values of a tick side by
    // side, so that the result is written in order. The values are tested for overflow as they
    // are written out; only a block holding a value that is not finite takes the axis-by-axis
    // test, which names the order as a call for each axis would.
    const Py_ssize_t rows = cpts.size() / dof;
    const Py_ssize_t block = ascending ? kBlock : (m > 0 ? m : 1);
    capi::Scratch column, scratch;
    if (!column.allocate(rows * dof) || !scratch.allocate(orders * block * dof)) return nullptr;
    for (Py_ssize_t c = 0; c < dof; ++c) gather_axis(in(cpts), dof, c, column.data() + c * rows);
    for (Py_ssize_t i0 = 0; i0 < m; i0 += block) {
        const Py_ssize_t len = m - i0 < block ? m - i0 : block;
        const k::cspan xs_part{x.data() + i0, static_cast<std::size_t>(len)};
        for (Py_ssize_t c = 0; c < dof; ++c) {
            const k::vspan dst{scratch.data() + c * orders * len,
                               static_cast<std::size_t>(orders * len)};
            const k::cspan axis{column.data() + c * rows, static_cast<std::size_t>(rows)};
            if (ascending)
                k::derivatives_sorted(xs_part, in(knots), axis, p, first, last, dst);
            else
                k::derivatives_any(xs_part, in(knots), axis, p, first, last, dst);
        }
        bool finite = true;
        for (Py_ssize_t q = 0; q < orders; ++q)
            finite &= interleave(scratch.data() + q * len, orders * len, dof, len,
                                 result.data() + (q * m + i0) * dof);
        if (!finite &&
            !block_status(scratch.data(), knots, column.data(), rows, dof, first, last, len))
            return nullptr;
    }
    Py_RETURN_NONE;
}

// optimal_size(knots, p, dof, grid) -> (segments, knots, coefs): the sizes of retime_optimal's
// result for a path on these knots (coefs counts doubles: rows of dof).
PyObject *optimal_size(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    static const char *const names[] = {"knots", "p", "dof", "grid"};
    static const capi::ArgSpec signature{"optimal_size", names, 4, 4};
    PyObject *a[4];
    if (!capi::parse_args(signature, args, nargs, kw, a)) return nullptr;
    capi::DoubleBuffer knots;
    int p = 0, dof = 0, grid = 0;
    if (!knots.acquire(a[0], false) || !capi::to_int(a[1], &p) || !capi::to_int(a[2], &dof) ||
        !capi::to_int(a[3], &grid))
        return nullptr;
    const k::OptimalSize size = dof > 0 && grid > 0
                                    ? k::optimal_size(in(knots), p, static_cast<std::size_t>(dof),
                                                      static_cast<std::size_t>(grid))
                                    : k::OptimalSize{};
    if (!size.ok) {
        PyErr_SetString(PyExc_ValueError,
                        "no plan of these sizes: the path's degree must be at least 1 and its "
                        "double at most the maximum supported degree, its domain not empty, and "
                        "the grid between 2 and 2**24 segments");
        return nullptr;
    }
    return Py_BuildValue("(nnn)", static_cast<Py_ssize_t>(size.segments),
                         static_cast<Py_ssize_t>(size.knots), static_cast<Py_ssize_t>(size.coefs));
}

// The message of a plan refused, with the stretch of the path's parameter it is about.
void raise_optimal(k::OptimalStatus status, const k::OptimalPlan &plan) {
    using S = k::OptimalStatus;
    capi::Ref lo = capi::Ref::steal(capi::float_text(plan.where_lo));
    capi::Ref hi = capi::Ref::steal(capi::float_text(plan.where_hi));
    if (!lo || !hi) return;
    switch (status) {
        case S::stands_still:
            PyErr_Format(PyExc_ValueError,
                         "the path stands still over [%U, %U] of its parameter (its derivative "
                         "is zero on every axis there): the limits set no speed along it; take "
                         "the pause out of the path",
                         lo.get(), hi.get());
            return;
        case S::broken:
            PyErr_Format(PyExc_ValueError,
                         "the path jumps at %U of its parameter (a knot of full multiplicity "
                         "with two values): no motion follows it",
                         lo.get());
            return;
        case S::infeasible:
            PyErr_Format(PyExc_ValueError,
                         "no motion along the path meets the limits with the path speeds asked "
                         "at its ends: the plan fails over [%U, %U] of its parameter",
                         lo.get(), hi.get());
            return;
        case S::bad_limits:
            PyErr_SetString(PyExc_ValueError,
                            "the limits must be positive and finite, the shrink factors in "
                            "(0, 1] and the end speeds non-negative and finite");
            return;
        case S::bad_path:
            PyErr_SetString(PyExc_ValueError,
                            "the path's knots and control points must be finite, and its "
                            "derivatives and the motion within the range of floating point");
            return;
        case S::refused:
        case S::interrupted:
        case S::ok:
            break;
    }
    PyErr_SetString(PyExc_ValueError, "the arrays do not agree in size with the plan");
}

// retime_optimal(knots, cpts, dof, p, velocity, acceleration, shrink, grid, speeds, out_knots,
// out_coefs) -> (duration, settled): the shortest motion along the path of dof axes (rows of dof)
// within the limits, ds/dt = speeds[0] and speeds[1] at its ends, into arrays of optimal_size's
// sizes; settled tells whether its binding limit was already brought to equality.
PyObject *retime_optimal(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    static const char *const names[] = {
        "knots", "cpts",   "dof",       "p",         "velocity",    "acceleration", "shrink",
        "grid",  "speeds", "out_knots", "out_coefs", "out_profile", "smooth"};
    static const capi::ArgSpec signature{"retime_optimal", names, 11, 13};
    PyObject *a[13];
    if (!capi::parse_args(signature, args, nargs, kw, a)) return nullptr;
    capi::DoubleBuffer knots, cpts, velocity, acceleration, shrink, speeds, out_knots, out_coefs;
    int p = 0, dof = 0, grid = 0;
    if (!knots.acquire(a[0], false) || !cpts.acquire(a[1], false) || !capi::to_int(a[2], &dof) ||
        !capi::to_int(a[3], &p) || !velocity.acquire(a[4], false) ||
        !acceleration.acquire(a[5], false) || !shrink.acquire(a[6], false) ||
        !capi::to_int(a[7], &grid) || !speeds.acquire(a[8], false) || !out_knots.acquire(a[9]) ||
        !out_coefs.acquire(a[10]) || !capi::supported_degree(p))
        return nullptr;
    if (dof < 1 || grid < 1 || speeds.size() != 2) {
        PyErr_SetString(PyExc_ValueError, "the arrays do not agree in size with the plan");
        return nullptr;
    }
    const k::OptimalSize size = k::optimal_size(in(knots), p, static_cast<std::size_t>(dof),
                                                static_cast<std::size_t>(grid));
    capi::Scratch work;
    if (size.ok && !work.allocate(size.work)) return nullptr;
    k::OptimalPlan plan;
    plan.start_speed = speeds.data()[0];
    plan.stop_speed = speeds.data()[1];
    plan.interrupted = signalled;
    capi::DoubleBuffer profile;
    if (a[11] != nullptr && a[11] != Py_None) {
        if (!profile.acquire(a[11])) return nullptr;
        if (!size.ok || static_cast<std::size_t>(profile.size()) != 2 * (size.segments + 1)) {
            PyErr_SetString(PyExc_ValueError, "the arrays do not agree in size with the plan");
            return nullptr;
        }
        plan.profile = profile.data();
    }
    if (a[12] != nullptr && !capi::to_int(a[12], &plan.smooth)) return nullptr;
    const k::OptimalStatus status =
        k::retime_optimal(in(knots), in(cpts), p, static_cast<std::size_t>(dof), in(velocity),
                          in(acceleration), in(shrink), static_cast<std::size_t>(grid),
                          out(out_knots), out(out_coefs), work.span(), plan);
    if (status == k::OptimalStatus::interrupted) return nullptr;  // the signal's exception
    if (status != k::OptimalStatus::ok) {
        raise_optimal(status, plan);
        return nullptr;
    }
    return Py_BuildValue("(dO)", plan.duration, plan.settled ? Py_True : Py_False);
}

// smooth_time(knots, cpts, dof, p, profile, tau, out_knots, out_coefs) -> (pieces, duration):
// the motion along the path whose time law is the plan's (profile: retime_optimal's) averaged
// over tau, into arrays of the sizes smooth_size bounds; the first pieces 5p + 5p + 2 knots and
// (pieces 5p + 1) dof coefficients are the motion's.
PyObject *smooth_time(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    static const char *const names[] = {"knots",   "cpts", "dof",       "p",
                                        "profile", "tau",  "out_knots", "out_coefs"};
    static const capi::ArgSpec signature{"smooth_time", names, 8, 8};
    PyObject *a[8];
    if (!capi::parse_args(signature, args, nargs, kw, a)) return nullptr;
    capi::DoubleBuffer knots, cpts, profile, out_knots, out_coefs;
    int p = 0, dof = 0;
    double tau = 0.0;
    if (!knots.acquire(a[0], false) || !cpts.acquire(a[1], false) || !capi::to_int(a[2], &dof) ||
        !capi::to_int(a[3], &p) || !profile.acquire(a[4], false) || !capi::to_double(a[5], &tau) ||
        !out_knots.acquire(a[6]) || !out_coefs.acquire(a[7]))
        return nullptr;
    const std::size_t half = static_cast<std::size_t>(profile.size()) / 2;
    const k::SmoothSize size = dof > 0 && half >= 2 && profile.size() % 2 == 0
                                   ? k::smooth_size(static_cast<std::size_t>(knots.size()), p,
                                                    static_cast<std::size_t>(dof), half - 1)
                                   : k::SmoothSize{};
    capi::Scratch work;
    if (!size.ok) {
        PyErr_SetString(PyExc_ValueError, "the arrays do not agree in size with the plan");
        return nullptr;
    }
    if (!work.allocate(size.work)) return nullptr;
    const auto all = in(profile);
    k::SmoothResult result;
    const k::SmoothStatus status =
        k::smooth_time(in(knots), in(cpts), p, static_cast<std::size_t>(dof), all.first(half),
                       all.subspan(half), tau, out(out_knots), out(out_coefs), work.span(), result);
    switch (status) {
        case k::SmoothStatus::ok:
            return Py_BuildValue("(nd)", static_cast<Py_ssize_t>(result.pieces), result.duration);
        case k::SmoothStatus::not_monotone: {
            capi::Ref where = capi::Ref::steal(capi::float_text(result.where));
            if (where)
                PyErr_Format(PyExc_ValueError,
                             "the smoothed time law turns back %U s after the start", where.get());
            return nullptr;
        }
        case k::SmoothStatus::bad_profile:
            PyErr_SetString(PyExc_ValueError,
                            "the plan must be finite, increasing in s and at rest at both ends, "
                            "and the window positive and finite");
            return nullptr;
        case k::SmoothStatus::refused:
            break;
    }
    PyErr_SetString(PyExc_ValueError, "the arrays do not agree in size with the plan");
    return nullptr;
}

// smooth_size(nknots, p, dof, segments) -> (pieces, knots, coefs): bounds on smooth_time's sizes.
PyObject *smooth_size(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    static const char *const names[] = {"nknots", "p", "dof", "segments"};
    static const capi::ArgSpec signature{"smooth_size", names, 4, 4};
    PyObject *a[4];
    if (!capi::parse_args(signature, args, nargs, kw, a)) return nullptr;
    int nknots = 0, p = 0, dof = 0, segments = 0;
    if (!capi::to_int(a[0], &nknots) || !capi::to_int(a[1], &p) || !capi::to_int(a[2], &dof) ||
        !capi::to_int(a[3], &segments))
        return nullptr;
    const k::SmoothSize size =
        nknots > 0 && dof > 0 && segments > 0
            ? k::smooth_size(static_cast<std::size_t>(nknots), p, static_cast<std::size_t>(dof),
                             static_cast<std::size_t>(segments))
            : k::SmoothSize{};
    if (!size.ok) {
        PyErr_SetString(PyExc_ValueError,
                        "no smoothed plan of these sizes: the path's degree must be at least 1 "
                        "and five times it at most the maximum supported degree");
        return nullptr;
    }
    return Py_BuildValue("(nnn)", static_cast<Py_ssize_t>(size.pieces),
                         static_cast<Py_ssize_t>(size.knots), static_cast<Py_ssize_t>(size.coefs));
}

// spline_ok(knots, cpts) -> bool: finite knots that never decrease over a non-empty domain, and
// finite control points: the toolkit's checks of every trajectory it reads, in one pass (the
// caller words the refusal when this says no).
PyObject *spline_ok(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    static const char *const names[] = {"knots", "cpts"};
    static const capi::ArgSpec signature{"spline_ok", names, 2, 2};
    PyObject *a[2];
    if (!capi::parse_args(signature, args, nargs, kw, a)) return nullptr;
    capi::DoubleBuffer knots, cpts;
    if (!knots.acquire(a[0], false) || !cpts.acquire(a[1], false)) return nullptr;
    return PyBool_FromLong(spline_sound(in(knots), in(cpts)));
}

PyMethodDef methods[] = {
    {"interpolate", capi::fastcall(interpolate), METH_FASTCALL | METH_KEYWORDS,
     "interpolate(times, values, dof, p, start, stop, knots, coefs, tolerance)\n--\n\n"
     "Fill knots and coefs with the spline of degree p through the waypoints of dof axes."},
    {"extrema", capi::fastcall(extrema), METH_FASTCALL | METH_KEYWORDS,
     "extrema(knots, cpts, dof, p, nus, out)\n--\n\n"
     "(tmin, vmin, tmax, vmax) of every axis's derivative of each order in nus."},
    {"peak_ratio", capi::fastcall(peak_ratio), METH_FASTCALL | METH_KEYWORDS,
     "peak_ratio(knots, cpts, dof, p, nu, limits)\n--\n\n"
     "(largest |peak| / limit over the axes, whether some |peak| > limit) of the derivative of "
     "order nu."},
    {"settle", capi::fastcall(settle), METH_FASTCALL | METH_KEYWORDS,
     "settle(knots, cpts, dof, p, order, qs, limits, exact, start, out_knots, out_cpts)\n--\n\n"
     "(exact, k, fits): the least factor found by which time stretches so that every limit "
     "holds on the exact peaks of the result, written into out_knots and out_cpts."},
    {"derivatives", capi::fastcall(derivatives), METH_FASTCALL | METH_KEYWORDS,
     "derivatives(knots, cpts, dof, p, x, first, last, out)\n--\n\n"
     "Fill out[q - first, i, c] with the derivative of order q of axis c at x[i]."},
    {"optimal_size", capi::fastcall(optimal_size), METH_FASTCALL | METH_KEYWORDS,
     "optimal_size(knots, p, dof, grid)\n--\n\n"
     "(segments, knots, coefs): the sizes of retime_optimal's result."},
    {"retime_optimal", capi::fastcall(retime_optimal), METH_FASTCALL | METH_KEYWORDS,
     "retime_optimal(knots, cpts, dof, p, velocity, acceleration, shrink, grid, speeds, "
     "out_knots, out_coefs, out_profile=None, smooth=1)\n--\n\n"
     "Fill out_knots and out_coefs with the shortest motion along the path within the limits; "
     "return (duration, settled): settled when its binding limit is already at equality."},
    {"smooth_size", capi::fastcall(smooth_size), METH_FASTCALL | METH_KEYWORDS,
     "smooth_size(nknots, p, dof, segments)\n--\n\n"
     "(pieces, knots, coefs): bounds on smooth_time's sizes."},
    {"smooth_time", capi::fastcall(smooth_time), METH_FASTCALL | METH_KEYWORDS,
     "smooth_time(knots, cpts, dof, p, profile, tau, out_knots, out_coefs)\n--\n\n"
     "Fill out_knots and out_coefs with the motion whose time law is the plan's averaged over "
     "tau; return (pieces, duration)."},
    {"spline_ok", capi::fastcall(spline_ok), METH_FASTCALL | METH_KEYWORDS,
     "spline_ok(knots, cpts)\n--\n\n"
     "Whether the knots are finite and never decrease over a non-empty domain and the control "
     "points are finite."},
    {"retime_direct", capi::fastcall(retime_direct), METH_FASTCALL | METH_KEYWORDS,
     "retime_direct(trajs, velocity, acceleration, jerk, factor)\n--\n\n"
     "retime's result (with factor, time_scale's) for one trajectory or motion and usual limits, "
     "else NotImplemented."},
    {"extrema_direct", capi::fastcall(extrema_direct), METH_FASTCALL | METH_KEYWORDS,
     "extrema_direct(traj, nu, peak)\n--\n\n"
     "(tmin, vmin, tmax, vmax), or with peak (time, value), of the derivative of order nu of a "
     "trajectory or motion (arrays of one per axis), else NotImplemented."},
    {"interpolate_direct", capi::fastcall(interpolate_direct), METH_FASTCALL | METH_KEYWORDS,
     "interpolate_direct(times, values, p, start, stop, order, tolerance)\n--\n\n"
     "interpolate's result for float64 arrays of waypoints and end derivatives as numbers, else "
     "NotImplemented."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module = {
    PyModuleDef_HEAD_INIT,
    "pyorvex.planning._kernel",
    "The kernel routines of pyorvex.planning (private: call the functions of pyorvex.planning).",
    0,
    methods,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

}  // namespace pyorvex::planning

PyMODINIT_FUNC PyInit__kernel(void) { return PyModuleDef_Init(&pyorvex::planning::module); }
