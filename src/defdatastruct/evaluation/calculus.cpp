// New trajectories from calculus on self: the derivative and antiderivative of order nu, and the
// same curve with its degree raised by nu. Each sizes and allocates the new record, lets the
// kernel fill it from self's arrays and wraps it as a new owning Trajectory1d; self never changes.
#include <climits>
#include <cstdint>

#include "degree.hpp"
#include "bspline.hpp"
#include "evaluation.hpp"

namespace pyorvex::dds::evaluation {

namespace {

PyObject *raise_negative_order(int nu) {
    PyErr_Format(PyExc_ValueError, "'nu' must be greater than or equal to zero: %d", nu);
    return nullptr;
}

// The order of a derivative must still fit the record's unsigned field.
bool derived_order(unsigned int order, int nu, unsigned int *out) {
    const std::uint64_t sum = std::uint64_t{order} + static_cast<std::uint64_t>(nu);
    if (sum > UINT_MAX) {
        PyErr_Format(PyExc_OverflowError, "the derivative order %llu does not fit an unsigned int",
                     static_cast<unsigned long long>(sum));
        return false;
    }
    *out = static_cast<unsigned int>(sum);
    return true;
}

kernel::cspan span_of(const pyorvex_dview &v) { return {v.data, static_cast<std::size_t>(v.size)}; }

// Arguments the kernel does not accept, though the checks above passed: a broken invariant.
PyObject *raise_kernel_refusal() {
    PyErr_SetString(PyExc_RuntimeError, "the spline kernel refused the trajectory's data");
    return nullptr;
}

// The derivative of an order above the degree: the zero function on the same domain, of degree 0
// with one control point, like the values dpeval gives for such orders.
PyObject *zero_function(Traj *self, unsigned int order) {
    pyorvex_dview knots, cpts;
    if (!trajectory::record_views(self, &knots, &cpts)) return nullptr;
    trajectory::NewRecord record;
    if (!record.allocate(2, 1)) return nullptr;
    record.knots()[0] = knots.data[0];
    record.knots()[1] = knots.data[knots.size - 1];
    record.cpts()[0] = 0.0;
    return record.wrap(0, 0, order);
}

}  // namespace

PyObject *derivative_op(Traj *self, int skip_dispatch, pyorvex_opt_nu *opt) {
    const int nu = nu_or_default(opt);
    Ref result;
    const int found = capi::dispatch(self, skip_dispatch, "derivative", py_derivative, &result, nu);
    if (found < 0) return nullptr;
    if (found > 0) return capi::expect_instance_or_none(result.release(), &trajectory::type);
    if (nu < 0) return raise_negative_order(nu);
    unsigned int order;
    if (!derived_order(self->order, nu, &order)) return nullptr;
    if (nu > self->p) return zero_function(self, order);

    pyorvex_dview knots, cpts;
    if (!trajectory::record_views(self, &knots, &cpts)) return nullptr;
    // On knots with an unclamped end the result is that of the clamped equivalent, which has
    // more knots than self: sized by the kernel's rule before anything is allocated.
    const kernel::CalculusSize size =
        kernel::derivative_size(span_of(knots), span_of(cpts), self->p, nu);
    if (!size.ok) return raise_kernel_refusal();
    int last;
    if (!trajectory::record_index(static_cast<long long>(size.coefs) - 1, self->p - nu, &last))
        return nullptr;
    trajectory::NewRecord record;
    if (!record.allocate(static_cast<Py_ssize_t>(size.knots), static_cast<Py_ssize_t>(size.coefs)))
        return nullptr;
    const int K = module_state.kernel.dsplcpts2(knots, cpts, self->p, nu, record.knot_view(),
                                                record.cpts_view(), 0);
    if (K != last) return raise_kernel_refusal();
    return record.wrap(self->p - nu, K, order);
}

PyObject *antiderivative_op(Traj *self, int skip_dispatch, pyorvex_opt_nu *opt) {
    const int nu = nu_or_default(opt);
    Ref result;
    const int found =
        capi::dispatch(self, skip_dispatch, "antiderivative", py_antiderivative, &result, nu);
    if (found < 0) return nullptr;
    if (found > 0) return capi::expect_instance_or_none(result.release(), &trajectory::type);
    if (nu < 0) return raise_negative_order(nu);
    if (self->order < static_cast<unsigned int>(nu)) {
        PyErr_SetString(PyExc_ValueError, "negative 'order' not allowed");
        return nullptr;
    }
    const std::int64_t degree = std::int64_t{self->p} + nu;
    pyorvex_dview knots, cpts;
    if (!trajectory::record_views(self, &knots, &cpts) || !capi::supported_degree(degree))
        return nullptr;
    // Sized like the derivative: from the clamped equivalent of self.
    const kernel::CalculusSize size =
        kernel::antiderivative_size(span_of(knots), span_of(cpts), self->p, nu);
    if (!size.ok) return raise_kernel_refusal();
    int last;
    if (!trajectory::record_index(static_cast<long long>(size.coefs) - 1, static_cast<int>(degree),
                                  &last))
        return nullptr;
    trajectory::NewRecord record;
    if (!record.allocate(static_cast<Py_ssize_t>(size.knots), static_cast<Py_ssize_t>(size.coefs)))
        return nullptr;
    module_state.kernel.asplcpts(knots, cpts, self->p, nu, record.knot_view(), record.cpts_view(),
                                 0);
    return record.wrap(static_cast<int>(degree), last, self->order - static_cast<unsigned int>(nu));
}

PyObject *degelev_op(Traj *self, int skip_dispatch, pyorvex_opt_nu *opt) {
    const int nu = nu_or_default(opt);
    Ref result;
    const int found = capi::dispatch(self, skip_dispatch, "degelev", py_degelev, &result, nu);
    if (found < 0) return nullptr;
    if (found > 0) return capi::expect_instance_or_none(result.release(), &trajectory::type);
    if (nu < 0) {
        PyErr_SetString(PyExc_ValueError, "'nu' must be non-negative number");
        return nullptr;
    }
    const std::int64_t degree = std::int64_t{self->p} + nu;
    pyorvex_dview knots, cpts;
    if (!trajectory::record_views(self, &knots, &cpts) || !capi::supported_degree(degree))
        return nullptr;
    // The kernel works in the new buffers, which need room for two copies of the result; they
    // are cut to the result's size afterwards.
    const kernel::ElevationSize size =
        kernel::elevation_size(span_of(knots), span_of(cpts), self->p, nu);
    if (!size.ok) return raise_kernel_refusal();
    int last;
    if (!trajectory::record_index(static_cast<long long>(size.coefs) - 1, static_cast<int>(degree),
                                  &last))
        return nullptr;
    constexpr std::size_t largest = static_cast<std::size_t>(PY_SSIZE_T_MAX);
    if (size.work_knots > largest || size.work_coefs > largest)
        return trajectory::raise_memory_error();
    trajectory::NewRecord record;
    if (!record.allocate(static_cast<Py_ssize_t>(size.work_knots),
                         static_cast<Py_ssize_t>(size.work_coefs)))
        return nullptr;
    module_state.kernel.degelevc(knots, cpts, self->p, nu, record.knot_view(), record.cpts_view(),
                                 0);
    if (!record.resize(static_cast<Py_ssize_t>(size.knots), static_cast<Py_ssize_t>(size.coefs)))
        return nullptr;
    return record.wrap(static_cast<int>(degree), last, self->order);
}

// --- Python-visible methods ----------------------------------------------------------------------

namespace {

const char *const nu_names[] = {"nu"};
const capi::ArgSpec derivative_spec{"derivative", nu_names, 0, 1};
const capi::ArgSpec antiderivative_spec{"antiderivative", nu_names, 0, 1};
const capi::ArgSpec degelev_spec{"degelev", nu_names, 0, 1};

using NuOperation = PyObject *(*)(Traj *, int, pyorvex_opt_nu *);

PyObject *call_with_nu(const capi::ArgSpec &sig, NuOperation op, PyObject *self,
                       PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    PyObject *a[1];
    if (!capi::parse_args(sig, args, nargs, kw, a)) return nullptr;
    pyorvex_opt_nu opt{0, 1};
    if (a[0] != nullptr) {
        if (!capi::to_int(a[0], &opt.nu)) return nullptr;
        opt.n_given = 1;
    }
    return op(reinterpret_cast<Traj *>(self), 1, &opt);
}

}  // namespace

PyObject *py_derivative(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    return call_with_nu(derivative_spec, derivative_op, self, args, nargs, kw);
}

PyObject *py_antiderivative(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    return call_with_nu(antiderivative_spec, antiderivative_op, self, args, nargs, kw);
}

PyObject *py_degelev(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    return call_with_nu(degelev_spec, degelev_op, self, args, nargs, kw);
}

const char derivative_doc[] =
    "Returns a Trajectory1d object representing the derivative.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "nu: int\n"
    "    Derivative order. Default is 1.\n"
    "\n"
    "Returns\n"
    "-------\n"
    "out: Trajectory1d\n"
    "    New Trajectory1d object of degree self.p - 'nu' and order self.order + 'nu'.\n"
    "\n"
    "Notes\n"
    "-----\n"
    "For 'nu' greater than self.p the derivative is the zero function on the same domain, of\n"
    "degree 0 with a single control point. When an end knot has multiplicity below self.p + 1,\n"
    "the derivative is taken of the clamped equivalent (that end knot repeated self.p + 1\n"
    "times, which keeps the curve): it holds on the whole domain and has more control points\n"
    "than self.n + 1 - 'nu'.\n";

const char antiderivative_doc[] =
    "Returns a Trajectory1d object representing the antiderivative.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "nu: int\n"
    "    Antiderivative order. Default is 1.\n"
    "\n"
    "Returns\n"
    "-------\n"
    "out: Trajectory1d\n"
    "    New Trajectory1d object of degree self.p + 'nu' and order self.order - 'nu'.\n"
    "\n"
    "Notes\n"
    "-----\n"
    "No integration constant is added: the antiderivative is zero at self.start. 'nu' may not\n"
    "exceed self.order. When an end knot has multiplicity below self.p + 1, the integral is\n"
    "taken of the clamped equivalent (that end knot repeated self.p + 1 times, which keeps the\n"
    "curve): it holds on the whole domain and has more control points than self.n + 1 + 'nu'.\n"
    "The new degree self.p + 'nu' may not exceed the kernel's maximum degree,\n"
    "pyorvex.curvekit.MAX_DEGREE (1024): ValueError otherwise.\n";

const char degelev_doc[] =
    "Increases the degree of the B-Spline interpolating the trajectory.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "nu: int\n"
    "    Number of degree elevation times.\n"
    "\n"
    "Returns\n"
    "-------\n"
    "out: Trajectory1d\n"
    "    New Trajectory1d object with the same shape and degree self.p + 'nu'.\n"
    "\n"
    "Notes\n"
    "-----\n"
    "Each distinct knot value gains 'nu' in multiplicity; the order and the domain are kept.\n"
    "The new degree self.p + 'nu' may not exceed the kernel's maximum degree,\n"
    "pyorvex.curvekit.MAX_DEGREE (1024): ValueError otherwise.\n";

}  // namespace pyorvex::dds::evaluation
