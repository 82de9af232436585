// pyorvex._planning: the kernel routines of the planning toolkit, for pyorvex.planning only.
// The Python side checks every argument and sizes every result (with messages a user can act
// on); this side reads and writes the caller's double buffers and turns each kernel refusal into
// ValueError, so nothing reaches the kernel unchecked even when called directly.
#include <Python.h>

#include <cstddef>

#include "args.hpp"
#include "bspline.hpp"
#include "buffer.hpp"
#include "convert.hpp"
#include "ref.hpp"
#include "scan.hpp"

namespace k = pyorvex::kernel;
namespace capi = pyorvex::capi;

namespace {

k::cspan in(const capi::DoubleBuffer &b) { return {b.data(), static_cast<std::size_t>(b.size())}; }

k::vspan out(const capi::DoubleBuffer &b) { return {b.data(), static_cast<std::size_t>(b.size())}; }

bool supported_degree(int p) {
    if (p >= 0 && p <= k::kMaxDegree) return true;
    if (p < 0)
        PyErr_Format(PyExc_ValueError, "the degree must be non-negative, got %d", p);
    else
        PyErr_Format(PyExc_ValueError, "degree %d exceeds the maximum supported degree %d", p,
                     k::kMaxDegree);
    return false;
}

// Work memory of `count` doubles from the Python allocator; MemoryError when it cannot be had.
class Work {
public:
    Work() = default;
    Work(const Work &) = delete;
    Work &operator=(const Work &) = delete;
    ~Work() { PyMem_Free(data_); }

    bool allocate(std::size_t count) {
        if (count > static_cast<std::size_t>(PY_SSIZE_T_MAX) / sizeof(double)) {
            PyErr_NoMemory();
            return false;
        }
        data_ = static_cast<double *>(PyMem_Malloc(count ? count * sizeof(double) : 1));
        if (data_ == nullptr) {
            PyErr_NoMemory();
            return false;
        }
        size_ = count;
        return true;
    }
    k::vspan span() const { return {data_, size_}; }

private:
    double *data_ = nullptr;
    std::size_t size_ = 0;
};

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
        case S::ok:
            break;
    }
    return "interpolation failed";
}

// The largest magnitude in a finite array (0 for an empty one).
double largest_magnitude(const capi::DoubleBuffer &b) {
    double m = 0.0;
    const double *d = b.data();
    for (Py_ssize_t i = 0; i < b.size(); ++i) {
        const double a = d[i] < 0.0 ? -d[i] : d[i];
        m = a > m ? a : m;
    }
    return m;
}

// interpolate(times, values, p, start, stop, knots, coefs) -> (largest |value|, largest |coef|):
// fills knots and coefs. The two magnitudes scale the caller's check of the result, read here
// in the pass that has the arrays at hand.
PyObject *interpolate(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    static const char *const names[] = {"times", "values", "p", "start", "stop", "knots", "coefs"};
    static const capi::ArgSpec signature{"interpolate", names, 7, 7};
    PyObject *a[7];
    if (!capi::parse_args(signature, args, nargs, kw, a)) return nullptr;
    capi::DoubleBuffer times, values, start, stop, knots, coefs;
    int p = 0;
    if (!times.acquire(a[0], false) || !values.acquire(a[1], false) || !capi::to_int(a[2], &p) ||
        !start.acquire(a[3], false) || !stop.acquire(a[4], false) || !knots.acquire(a[5]) ||
        !coefs.acquire(a[6]))
        return nullptr;
    const k::InterpolationSize size = k::interpolation_size(
        static_cast<std::size_t>(times.size()), p, static_cast<std::size_t>(start.size()),
        static_cast<std::size_t>(stop.size()));
    Work work;
    if (size.ok && !work.allocate(size.work)) return nullptr;
    const k::InterpolationStatus status = k::interpolate(
        in(times), in(values), p, in(start), in(stop), out(knots), out(coefs), work.span());
    if (status != k::InterpolationStatus::ok) {
        PyErr_SetString(PyExc_ValueError, interpolation_message(status));
        return nullptr;
    }
    return Py_BuildValue("(dd)", largest_magnitude(values), largest_magnitude(coefs));
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
        !capi::to_int(a[3], &nu) || !supported_degree(p))
        return nullptr;
    Work work;
    if (!work.allocate(k::extrema_work_size(p))) return nullptr;
    k::Extrema e;
    const k::EvalStatus status = k::extrema(in(knots), in(cpts), p, nu, work.span(), e);
    if (status == k::EvalStatus::overflow) {
        capi::raise_derivative_overflow(nu);
        return nullptr;
    }
    if (status != k::EvalStatus::ok) {
        PyErr_SetString(PyExc_ValueError,
                        "no extrema: the knots and control points must be finite and agree in "
                        "number with the degree, the domain must not be empty and nu must be "
                        "non-negative");
        return nullptr;
    }
    return Py_BuildValue("(dddd)", e.tmin, e.vmin, e.tmax, e.vmax);
}

// None when every row of derivatives (orders first..last, at abscissae inside the domain) holds
// values; OverflowError naming the first order that does not fit a double otherwise. The values
// (order 0) of finite data always fit.
PyObject *checked_rows(const capi::DoubleBuffer &knots, const capi::DoubleBuffer &cpts, int first,
                       int last, const capi::DoubleBuffer &rows) {
    const std::size_t m =
        static_cast<std::size_t>(rows.size()) / (static_cast<std::size_t>(last) - first + 1);
    for (int q = first; q <= last; ++q) {
        const k::cspan row{rows.data() + static_cast<std::size_t>(q - first) * m, m};
        if (q > 0 && k::derivative_status(row, in(knots), in(cpts)) == k::EvalStatus::overflow) {
            capi::raise_derivative_overflow(q);
            return nullptr;
        }
    }
    Py_RETURN_NONE;
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
        !result.acquire(a[6]) || !supported_degree(p))
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
        return checked_rows(knots, cpts, first, last, result);
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
    return checked_rows(knots, cpts, first, last, result);
}

PyMethodDef methods[] = {
    {"interpolate", capi::fastcall(interpolate), METH_FASTCALL | METH_KEYWORDS,
     "interpolate(times, values, p, start, stop, knots, coefs)\n--\n\n"
     "Fill knots and coefs with the spline of degree p through the waypoints."},
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
    "pyorvex._planning",
    "The kernel routines of pyorvex.planning (private: call the functions of pyorvex.planning).",
    0,
    methods,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__planning(void) { return PyModuleDef_Init(&module); }
