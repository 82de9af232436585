// pyorvex.planning._kernel: the kernel routines of the planning toolkit, for pyorvex.planning
// only. The kernel is linked in statically (one of the three ways into it: defdatastruct calls
// the function table bound from curvekit, and compiles in only the kernel's header-only helpers).
// The Python side checks every argument and sizes every result (with messages a user can act
// on); this side reads and writes the caller's double buffers and turns each kernel refusal into
// ValueError, so nothing reaches the kernel unchecked even when called directly.
#include <Python.h>

#include <cstddef>

#include "args.hpp"
#include "bspline.hpp"
#include "buffer.hpp"
#include "convert.hpp"
#include "degree.hpp"
#include "ref.hpp"
#include "scan.hpp"
#include "scratch.hpp"

namespace k = pyorvex::kernel;
namespace capi = pyorvex::capi;

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

// The interrupt test the long kernel routines ask: a pending Ctrl-C (or another signal whose
// handler raises) stops them, with the exception set.
bool signalled(void *) { return PyErr_CheckSignals() != 0; }

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
    if (size.ok && !work.allocate(size.work)) return nullptr;
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

// extrema(knots, cpts, p, nu) -> (tmin, vmin, tmax, vmax)
PyObject *extrema(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    static const char *const names[] = {"knots", "cpts", "p", "nu"};
    static const capi::ArgSpec signature{"extrema", names, 4, 4};
    PyObject *a[4];
    if (!capi::parse_args(signature, args, nargs, kw, a)) return nullptr;
    capi::DoubleBuffer knots, cpts;
    int p = 0, nu = 0;
    if (!knots.acquire(a[0], false) || !cpts.acquire(a[1], false) || !capi::to_int(a[2], &p) ||
        !capi::to_int(a[3], &nu) || !capi::supported_degree(p))
        return nullptr;
    capi::Scratch work;
    if (!work.allocate(k::extrema_work_size(p))) return nullptr;
    k::Extrema e;
    if (!k::extrema(in(knots), in(cpts), p, nu, work.span(), e)) {
        PyErr_SetString(PyExc_ValueError,
                        "no extrema: the knots and control points must be finite and agree in "
                        "number with the degree, the domain must not be empty and nu must be "
                        "non-negative");
        return nullptr;
    }
    return Py_BuildValue("(dddd)", e.tmin, e.vmin, e.tmax, e.vmax);
}

// derivatives(knots, cpts, p, x, first, last, out): row q - first of out (shape (last - first +
// 1, len(x)), C order) receives the derivative of order q at every x.
PyObject *derivatives(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    static const char *const names[] = {"knots", "cpts", "p", "x", "first", "last", "out"};
    static const capi::ArgSpec signature{"derivatives", names, 7, 7};
    PyObject *a[7];
    if (!capi::parse_args(signature, args, nargs, kw, a)) return nullptr;
    capi::DoubleBuffer knots, cpts, x, result;
    int p = 0, first = 0, last = 0;
    if (!knots.acquire(a[0], false) || !cpts.acquire(a[1], false) || !capi::to_int(a[2], &p) ||
        !x.acquire(a[3], false) || !capi::to_int(a[4], &first) || !capi::to_int(a[5], &last) ||
        !result.acquire(a[6]) || !capi::supported_degree(p))
        return nullptr;
    const Py_ssize_t m = x.size();
    if (knots.size() != cpts.size() + p + 1 || cpts.size() < 1 || first < 0 || last < first ||
        result.size() / (static_cast<Py_ssize_t>(last) - first + 1) != m ||
        result.size() % (static_cast<Py_ssize_t>(last) - first + 1) != 0) {
        PyErr_SetString(PyExc_ValueError, "the arrays do not agree in size with the degree");
        return nullptr;
    }
    const double lo = knots.data()[0], hi = knots.data()[knots.size() - 1];
    const double *xs = x.data();
    // The usual input, ascending: one vector scan tells it (a NaN fails it), and its two ends
    // then bound every abscissa, so it goes straight to the forward walk. Any other input takes
    // the point-by-point check that names the first abscissa outside, then the kernel's own test
    // of the order.
    if (m > 0 && xs[0] >= lo && xs[m - 1] <= hi && k::ascending(xs, m)) {
        k::derivatives_sorted(in(x), in(knots), in(cpts), p, first, last, out(result));
        Py_RETURN_NONE;
    }
    for (Py_ssize_t i = 0; i < m; ++i) {
        if (xs[i] >= lo && xs[i] <= hi) continue;
        capi::Ref v = capi::Ref::steal(capi::float_text(xs[i]));
        capi::Ref a_text = capi::Ref::steal(capi::float_text(lo));
        capi::Ref b_text = capi::Ref::steal(capi::float_text(hi));
        if (v && a_text && b_text)
            PyErr_Format(PyExc_ValueError, "x[%zd] = %U is outside the domain [%U, %U]", i, v.get(),
                         a_text.get(), b_text.get());
        return nullptr;
    }
    k::derivatives_any(in(x), in(knots), in(cpts), p, first, last, out(result));
    Py_RETURN_NONE;
}

PyMethodDef methods[] = {
    {"interpolate", capi::fastcall(interpolate), METH_FASTCALL | METH_KEYWORDS,
     "interpolate(times, values, dof, p, start, stop, knots, coefs, tolerance)\n--\n\n"
     "Fill knots and coefs with the spline of degree p through the waypoints of dof axes."},
    {"extrema", capi::fastcall(extrema), METH_FASTCALL | METH_KEYWORDS,
     "extrema(knots, cpts, p, nu)\n--\n\n"
     "(tmin, vmin, tmax, vmax) of the derivative of order nu over the whole domain."},
    {"derivatives", capi::fastcall(derivatives), METH_FASTCALL | METH_KEYWORDS,
     "derivatives(knots, cpts, p, x, first, last, out)\n--\n\n"
     "Fill the rows of out with the derivatives of orders first..last at x."},
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

PyMODINIT_FUNC PyInit__kernel(void) { return PyModuleDef_Init(&module); }
