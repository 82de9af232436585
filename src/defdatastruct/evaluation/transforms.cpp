// Moving and stretching a trajectory along its abscissa, in place: a relative shift, a shift that
// puts the domain start at a given abscissa, a scaling about the domain start, and the adaptation
// to a new domain. Only the knots change (through c_hshift and c_hscale); the control points, the
// degree and the order stay, so the moved trajectory takes at each moved abscissa the value the
// old one had at the old abscissa.
//
// A transform never leaves the knot vector unusable: arguments that would make it NaN, infinite,
// collapsed or reversed, or results that would merge distinct knots, are refused before anything
// changes.
#include <cmath>

#include "evaluation.hpp"

namespace pyorvex::dds::evaluation {

namespace {

// The start (or stop) property as a double, the way Python arithmetic on it behaves: straight
// from the knots for the plain type, through the attribute (and the interpreter's subtraction,
// with its TypeError for a missing knot vector) otherwise.
bool plain_record(Traj *self) {
    return self->_knotvector != nullptr && !capi::may_override(reinterpret_cast<PyObject *>(self));
}

// d = x - start.
bool offset_from_start(Traj *self, double x, double *d) {
    if (plain_record(self)) {
        *d = x - self->_knotvector[0];
        return true;
    }
    Ref value(PyFloat_FromDouble(x));
    if (!value) return false;
    Ref start(PyObject_GetAttrString(reinterpret_cast<PyObject *>(self), "start"));
    if (!start) return false;
    Ref diff(PyNumber_Subtract(value.get(), start.get()));
    return diff && capi::to_double(diff.get(), d);
}

// s0 = start and the length stop - start.
bool domain_of(Traj *self, double *s0, double *length) {
    if (plain_record(self)) {
        *s0 = self->_knotvector[0];
        *length = self->_knotvector[trajectory::knot_count(self) - 1] - *s0;
        return true;
    }
    auto *obj = reinterpret_cast<PyObject *>(self);
    Ref stop(PyObject_GetAttrString(obj, "stop"));
    if (!stop) return false;
    Ref start(PyObject_GetAttrString(obj, "start"));
    if (!start) return false;
    Ref diff(PyNumber_Subtract(stop.get(), start.get()));
    return diff && capi::to_double(diff.get(), length) && capi::to_double(start.get(), s0);
}

int require_finite(double x, const char *message) {
    return std::isfinite(x) ? 0 : raise_value_error(message);
}

}  // namespace

int rshift_op(Traj *self, double x, int skip_dispatch) {
    if (const int ran = capi::dispatch_status(self, skip_dispatch, "rshift", py_rshift, x))
        return ran < 0 ? -1 : 0;
    if (require_finite(x, "'x' must be a finite number") < 0) return -1;
    if (check_transformed_knots(self, false, 1.0, true, x) < 0) return -1;
    vt(self)->c_hshift(self, x);
    return 0;
}

int ashift_op(Traj *self, double x, int skip_dispatch) {
    if (const int ran = capi::dispatch_status(self, skip_dispatch, "ashift", py_ashift, x))
        return ran < 0 ? -1 : 0;
    double d;
    if (!offset_from_start(self, x, &d)) return -1;
    if (require_finite(x, "'x' must be a finite number") < 0) return -1;
    if (check_transformed_knots(self, false, 1.0, true, d) < 0) return -1;
    vt(self)->c_hshift(self, d);
    return 0;
}

int hscale_op(Traj *self, double k, int skip_dispatch) {
    if (const int ran = capi::dispatch_status(self, skip_dispatch, "hscale", py_hscale, k))
        return ran < 0 ? -1 : 0;
    // Zero would collapse the knots onto the first and a negative factor reverse them.
    if (!(k > 0.0) || !std::isfinite(k))
        return raise_value_error("'k' must be a finite number greater than zero");
    if (check_transformed_knots(self, true, k, false, 0.0) < 0) return -1;
    vt(self)->c_hscale(self, k);
    return 0;
}

int adapt_op(Traj *self, double start, double stop, int skip_dispatch) {
    if (const int ran = capi::dispatch_status(self, skip_dispatch, "adapt", py_adapt, start, stop))
        return ran < 0 ? -1 : 0;
    // Written so that a NaN bound is refused too.
    if (!(start < stop)) return raise_value_error("'stop' must be strictly greater than 'start'");
    if (!std::isfinite(start) || !std::isfinite(stop))
        return raise_value_error("'start' and 'stop' must be finite numbers");
    double s0, length;
    if (!domain_of(self, &s0, &length)) return -1;
    if (length == 0.0) {
        PyErr_SetString(PyExc_ZeroDivisionError, "float division by zero");
        return -1;
    }
    const double k = (stop - start) / length;
    if (check_transformed_knots(self, true, k, s0 != start, start - s0) < 0) return -1;
    vt(self)->c_hscale(self, k);
    if (s0 != start) vt(self)->c_hshift(self, start - s0);
    return 0;
}

// --- Python-visible methods ----------------------------------------------------------------------

namespace {

using DoubleOperation = int (*)(Traj *, double, int);

PyObject *call_with_double(DoubleOperation op, PyObject *self, PyObject *arg) {
    double value;
    if (!capi::to_double(arg, &value)) return nullptr;
    if (op(reinterpret_cast<Traj *>(self), value, 1) < 0) return nullptr;
    return capi::none();
}

const char *const adapt_names[] = {"start", "stop"};
const capi::ArgSpec adapt_spec{"adapt", adapt_names, 2, 2};

}  // namespace

PyObject *py_rshift(PyObject *self, PyObject *x) { return call_with_double(rshift_op, self, x); }
PyObject *py_ashift(PyObject *self, PyObject *x) { return call_with_double(ashift_op, self, x); }
PyObject *py_hscale(PyObject *self, PyObject *k) { return call_with_double(hscale_op, self, k); }

PyObject *py_adapt(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    PyObject *a[2];
    if (!capi::parse_args(adapt_spec, args, nargs, kw, a)) return nullptr;
    double start, stop;
    if (!capi::to_double(a[0], &start) || !capi::to_double(a[1], &stop)) return nullptr;
    if (adapt_op(reinterpret_cast<Traj *>(self), start, stop, 1) < 0) return nullptr;
    return capi::none();
}

const char rshift_doc[] =
    "Relative translation of 'self' along x-axis.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "x: float\n"
    "    Translation value.\n"
    "\n"
    "Returns\n"
    "-------\n"
    "out: None\n"
    "    'self' is changed in place.\n"
    "\n"
    "Notes\n"
    "-----\n"
    "Every knot is moved by 'x'; the control points are unchanged. 'x' must be finite.\n"
    "Distinct knots that would merge after rounding (or come closer than the smallest\n"
    "normal double) raise ValueError, knots that would overflow OverflowError; 'self' is\n"
    "then left unchanged.\n";

const char ashift_doc[] =
    "Translates 'self' along the x-axis so that the curve starts at the 'x' coordinate.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "x: float\n"
    "    Reference x-coordinate.\n"
    "\n"
    "Returns\n"
    "-------\n"
    "out: None\n"
    "    'self' is changed in place.\n"
    "\n"
    "Notes\n"
    "-----\n"
    "Every knot is moved by x - self.start; the control points are unchanged.\n"
    "Distinct knots that would merge after rounding (or come closer than the smallest\n"
    "normal double) raise ValueError, knots that would overflow OverflowError; 'self' is\n"
    "then left unchanged.\n";

const char hscale_doc[] =
    "Scales 'self' horizontally keeping the start of the domain fixed.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "k: float\n"
    "    Scale factor.\n"
    "\n"
    "Returns\n"
    "-------\n"
    "out: None\n"
    "    'self' is changed in place.\n"
    "\n"
    "Notes\n"
    "-----\n"
    "Every knot u becomes k*u - (k - 1)*self.start. The control points are not rescaled,\n"
    "whatever the order of the trajectory. 'k' must be finite and greater than zero.\n"
    "Distinct knots that would merge after rounding (or come closer than the smallest\n"
    "normal double) raise ValueError, knots that would overflow OverflowError; 'self' is\n"
    "then left unchanged.\n";

const char adapt_doc[] =
    "Adapts 'self' in a new domain.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "start: float\n"
    "    New domain start.\n"
    "stop: float\n"
    "    New domain stop. Must be greather than 'start'.\n"
    "\n"
    "Returns\n"
    "-------\n"
    "out: None\n"
    "    'self' is changed in place.\n"
    "\n"
    "Notes\n"
    "-----\n"
    "The knots are scaled about self.start by (stop - start)/(self.stop - self.start) and then\n"
    "shifted so that the domain starts at 'start'.\n"
    "Distinct knots that would merge after rounding (or come closer than the smallest\n"
    "normal double) raise ValueError, knots that would overflow OverflowError; 'self' is\n"
    "then left unchanged.\n";

}  // namespace pyorvex::dds::evaluation
