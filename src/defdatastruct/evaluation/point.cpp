// Evaluation of a trajectory, or of one of its derivatives, at one abscissa (peval, dpeval) and
// in place over an increasing array of abscissae (ceval, dceval). The numerics are the kernel's;
// this unit checks the arguments against the record and lays out the arrays.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "evaluation.hpp"
#include "parallel.hpp"

namespace pyorvex::dds::evaluation {

namespace {

double start_of(const pyorvex_dview &knots) { return knots.data[0]; }
double stop_of(const pyorvex_dview &knots) { return knots.data[knots.size - 1]; }

// Both ends belong to the domain; NaN passes.
bool outside(double x, const pyorvex_dview &knots) {
    return x < start_of(knots) || x > stop_of(knots);
}

double raise_x_out_of_domain(double x) {
    Ref text(capi::float_text(x));
    if (text) PyErr_Format(PyExc_ValueError, "'x' out of domain: %U", text.get());
    return -1.0;
}

bool overlaps_one(const pyorvex_dview &a, const double *b, Py_ssize_t bsize) {
    const auto a0 = reinterpret_cast<std::uintptr_t>(a.data);
    const auto b0 = reinterpret_cast<std::uintptr_t>(b);
    const auto a1 = a0 + static_cast<std::uintptr_t>(a.size) * sizeof(double);
    const auto b1 = b0 + static_cast<std::uintptr_t>(bsize) * sizeof(double);
    return a0 < b1 && b0 < a1;
}

// An array that shares memory with the record (a view of its own knots or control points) is
// evaluated through a full copy, so the kernel never reads what has already been overwritten.
bool overlaps(const pyorvex_dview &xp, const pyorvex_dview &knots, const pyorvex_dview &cpts) {
    return overlaps_one(xp, knots.data, knots.size) || overlaps_one(xp, cpts.data, cpts.size);
}

// Below this many points per span (on average over the domain) a value costs more arithmetic
// than memory traffic, and threads pay; above it one thread streams the array in place about as
// fast as the memory allows, from its own cache, where the array usually is.
constexpr Py_ssize_t kDensePointsPerSpan = 64;

// The values over xs[0..m) in place, chunk by chunk (capi/parallel.hpp).
void values_chunked(double *xs, Py_ssize_t m, pyorvex_dview knots, pyorvex_dview cpts, int p) {
    const pyorvex_splcev_fn splcev = module_state.kernel.splcev;
    const Py_ssize_t spans = std::max<Py_ssize_t>(cpts.size - p, 1);
    capi::for_each_chunk(
        static_cast<std::size_t>(m),
        [&](std::size_t b, std::size_t e) {
            splcev({xs + b, static_cast<Py_ssize_t>(e - b)}, knots, cpts, p, 0);
        },
        m / spans < kDensePointsPerSpan);
}

int values_in_place(Traj *self, pyorvex_dview xp, pyorvex_dview knots, pyorvex_dview cpts) {
    if (!overlaps(xp, knots, cpts)) {
        values_chunked(xp.data, xp.size, knots, cpts, self->p);
        return 0;
    }
    Scratch<double> copy;
    if (!copy.allocate(xp.size)) return -1;
    std::memcpy(copy.data(), xp.data, static_cast<size_t>(xp.size) * sizeof(double));
    values_chunked(copy.data(), xp.size, knots, cpts, self->p);
    std::memcpy(xp.data, copy.data(), static_cast<size_t>(xp.size) * sizeof(double));
    return 0;
}

// The derivative of order nu at every abscissa, through a 1-by-m work matrix that is copied
// into xp afterwards. An array apart from the record goes block by block through a work matrix
// of one block, which stays in the cache.
int derivative_in_place(Traj *self, pyorvex_dview xp, pyorvex_dview knots, pyorvex_dview cpts,
                        int nu) {
    if (!overlaps(xp, knots, cpts)) {
        const Py_ssize_t block = std::min(xp.size, kEvaluationBlock);
        Scratch<double> work;
        if (!work.allocate(block)) return -1;
        for (Py_ssize_t i = 0; i < xp.size; i += block) {
            const Py_ssize_t len = std::min(block, xp.size - i);
            module_state.kernel.dsplcev({xp.data + i, len}, knots, cpts, self->p, nu, nu,
                                        {work.data(), len}, 0);
            if (check_derivative(work.data(), len, knots, cpts, nu) < 0) return -1;
            std::memcpy(xp.data + i, work.data(), static_cast<size_t>(len) * sizeof(double));
        }
        return 0;
    }
    Scratch<double> work;
    if (!work.allocate(xp.size)) return -1;
    module_state.kernel.dsplcev(xp, knots, cpts, self->p, nu, nu, {work.data(), xp.size}, 0);
    if (check_derivative(work.data(), xp.size, knots, cpts, nu) < 0) return -1;
    std::memcpy(xp.data, work.data(), static_cast<size_t>(xp.size) * sizeof(double));
    return 0;
}

}  // namespace

int evaluate_array(Traj *self, pyorvex_dview xp, bool derivative, int nu) {
    pyorvex_dview knots, cpts;
    if (!trajectory::record_views(self, &knots, &cpts)) return -1;
    const Py_ssize_t m = xp.data != nullptr ? xp.size : 0;
    if (m == 0) return raise_value_error("zero size arrays are not allowed");
    // A NaN breaks the order too: it has no place among increasing abscissae (and would let
    // the values after it go unchecked).
    if (order_suspect(xp.data, 1, m) || xp.data[0] != xp.data[0])
        return raise_value_error("'xp' must be increasing");
    // The increasing test makes the two end elements enough.
    if (xp.data[0] < start_of(knots) || xp.data[m - 1] > stop_of(knots))
        return raise_value_error("domain error");
    if (!derivative) return values_in_place(self, xp, knots, cpts);
    if (nu < 0) return raise_value_error("'nu' must be non-negative number");
    return derivative_in_place(self, xp, knots, cpts, nu);
}

// --- the C-level operations ----------------------------------------------------------------------

double peval_op(Traj *self, double x, int skip_dispatch) {
    Ref result;
    const int found = capi::dispatch(self, skip_dispatch, "peval", py_peval, &result, x);
    if (found < 0) return -1.0;
    if (found > 0) return capi::double_result(result.get());
    pyorvex_dview knots, cpts;
    if (!trajectory::record_views(self, &knots, &cpts)) return -1.0;
    if (outside(x, knots)) return raise_x_out_of_domain(x);
    return module_state.kernel.splpev(x, knots, cpts, self->p, 0);
}

double dpeval_op(Traj *self, double x, int skip_dispatch, pyorvex_opt_nu *opt) {
    const int nu = nu_or_default(opt);
    Ref result;
    const int found = capi::dispatch(self, skip_dispatch, "dpeval", py_dpeval, &result, x, nu);
    if (found < 0) return -1.0;
    if (found > 0) return capi::double_result(result.get());
    pyorvex_dview knots, cpts;
    if (!trajectory::record_views(self, &knots, &cpts)) return -1.0;
    if (outside(x, knots)) return raise_x_out_of_domain(x);
    if (nu < 0) {
        raise_value_error("'nu' must be non-negative number");
        return -1.0;
    }
    // Every order above p is zero (NaN at a NaN abscissa) and the kernel gives order p + 1 the
    // same way, so asking for at most p + 1 keeps the work array small whatever nu is.
    const int top = nu > self->p ? std::max(self->p + 1, 0) : nu;
    double small[16];
    Scratch<double> large;
    double *work = small;
    if (top + 1 > 16) {
        if (!large.allocate(static_cast<Py_ssize_t>(top) + 1)) return -1.0;
        work = large.data();
    }
    module_state.kernel.dsplpev(x, knots, cpts, self->p, top,
                                {work, static_cast<Py_ssize_t>(top) + 1}, 0);
    if (x == x && check_derivative(work + top, 1, knots, cpts, nu) < 0) return -1.0;
    return work[top];
}

int ceval_op(Traj *self, pyorvex_dview xp, int skip_dispatch) {
    Ref method;
    const int found = capi::lookup(self, skip_dispatch, "ceval", py_ceval, &method);
    if (found < 0) return -1;
    if (found > 0) {
        capi::DoubleArgument arg;
        if (!arg.make(xp.data, xp.size)) return -1;
        Ref result(capi::call_with(method.get(), arg.view()));
        if (!result) return -1;
        arg.copy_back(xp.data, xp.size);
        return 0;
    }
    return evaluate_array(self, xp, false, 0);
}

int dceval_op(Traj *self, pyorvex_dview xp, int skip_dispatch, pyorvex_opt_nu *opt) {
    const int nu = nu_or_default(opt);
    Ref method;
    const int found = capi::lookup(self, skip_dispatch, "dceval", py_dceval, &method);
    if (found < 0) return -1;
    if (found > 0) {
        capi::DoubleArgument arg;
        if (!arg.make(xp.data, xp.size)) return -1;
        Ref result(capi::call_with(method.get(), arg.view(), nu));
        if (!result) return -1;
        arg.copy_back(xp.data, xp.size);
        return 0;
    }
    return evaluate_array(self, xp, true, nu);
}

// --- Python-visible methods ----------------------------------------------------------------------

namespace {

PyObject *float_or_error(double value) {
    if (value == -1.0 && PyErr_Occurred()) return nullptr;
    return PyFloat_FromDouble(value);
}

const char *const dpeval_names[] = {"x", "nu"};
const capi::ArgSpec dpeval_spec{"dpeval", dpeval_names, 1, 2};
const char *const dceval_names[] = {"xp", "nu"};
const capi::ArgSpec dceval_spec{"dceval", dceval_names, 1, 2};

}  // namespace

PyObject *py_peval(PyObject *self, PyObject *x) {
    double value;
    if (!capi::to_double(x, &value)) return nullptr;
    return float_or_error(peval_op(reinterpret_cast<Traj *>(self), value, 1));
}

PyObject *py_dpeval(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    PyObject *a[2];
    if (!capi::parse_args(dpeval_spec, args, nargs, kw, a)) return nullptr;
    double x;
    if (!capi::to_double(a[0], &x)) return nullptr;
    pyorvex_opt_nu opt{0, 1};
    if (a[1] != nullptr) {
        if (!capi::to_int(a[1], &opt.nu)) return nullptr;
        opt.n_given = 1;
    }
    return float_or_error(dpeval_op(reinterpret_cast<Traj *>(self), x, 1, &opt));
}

PyObject *py_ceval(PyObject *self, PyObject *xp) {
    capi::DoubleBuffer buffer;
    if (!buffer.acquire(xp)) return nullptr;
    if (ceval_op(reinterpret_cast<Traj *>(self), buffer.view(), 1) < 0) return nullptr;
    return capi::none();
}

PyObject *py_dceval(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    PyObject *a[2];
    if (!capi::parse_args(dceval_spec, args, nargs, kw, a)) return nullptr;
    capi::DoubleBuffer buffer;
    if (!buffer.acquire(a[0])) return nullptr;
    pyorvex_opt_nu opt{0, 1};
    if (a[1] != nullptr) {
        if (!capi::to_int(a[1], &opt.nu)) return nullptr;
        opt.n_given = 1;
    }
    if (dceval_op(reinterpret_cast<Traj *>(self), buffer.view(), 1, &opt) < 0) return nullptr;
    return capi::none();
}

const char peval_doc[] =
    "Evaluates the trajectory.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "x: float\n"
    "    The x-coordinate of the data point.\n"
    "\n"
    "Returns\n"
    "-------\n"
    "out: float\n"
    "    The value of the trajectory at 'x'.\n"
    "\n"
    "Notes\n"
    "-----\n"
    "'x' must lie in the domain [self.start, self.stop], both ends included; otherwise a\n"
    "ValueError is raised.\n";

const char dpeval_doc[] =
    "Evaluates the derivative of the trajectory.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "x: float\n"
    "    The x-coordinate of the data point.\n"
    "nu: int\n"
    "    Derivative order. Must be non-negative number. Default is 1.\n"
    "\n"
    "Returns\n"
    "-------\n"
    "out: float\n"
    "    The derivative of order 'nu' of the trajectory at 'x'.\n"
    "\n"
    "Notes\n"
    "-----\n"
    "The order of the trajectory (self.order) is not changed. Derivatives of an order above\n"
    "the degree self.p are zero.\n";

const char ceval_doc[] =
    "Evaluates the trajectory in a set of data points. The array 'xp' is overwritten with the "
    "resultes.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "xp: numpy.ndarray of float64\n"
    "    The x-coordinates of the data points, must be increasing.\n"
    "\n"
    "Returns\n"
    "-------\n"
    "out: None\n"
    "    The values are written into 'xp'.\n"
    "\n"
    "Notes\n"
    "-----\n"
    "'xp' must be a writable, C-contiguous, one-dimensional array of doubles whose first and\n"
    "last elements lie in the domain [self.start, self.stop]. A NaN anywhere in 'xp' breaks\n"
    "the order ('xp' must be increasing).\n";

const char dceval_doc[] =
    "Evaluates the derivative of a set of data points. The array 'xp' is overwritten with the "
    "resultes.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "xp: numpy.ndarray of float64\n"
    "    The x-coordinates of the data points, must be increasing.\n"
    "nu: int\n"
    "    Derivative order. Must be non-negative number. Default is 1.\n"
    "\n"
    "Returns\n"
    "-------\n"
    "out: None\n"
    "    The derivatives are written into 'xp'.\n"
    "\n"
    "Notes\n"
    "-----\n"
    "For a large number of points it might be more efficient to use the 'self.derivative' and "
    "'self.ceval' functions.\n"
    "A NaN anywhere in 'xp' breaks the order ('xp' must be increasing).\n";

}  // namespace pyorvex::dds::evaluation
