// Value constraints: setValueTr bends a trajectory in place by a vertical shift, setValueAm by
// an amplitude change, so that it meets one constraint point (t, val, order). Each exists in two
// specialisations, for a Point1d and for a (t, val, order) tuple, which are also the last four
// operations of the method table; the Python-visible attribute is a dispatcher over them.
#include <climits>
#include <cmath>

#include "algebra.hpp"
#include "point/point.hpp"

namespace pyorvex::dds::algebra {

namespace {

const char set_value_tr_doc[] =
    "Sets a constraint on the trajectory by a vertical shift: the same value is added to every\n"
    "control point, so that the trajectory takes the value 'val' at 't'.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "p: constr (fused type: Point1d or 3-elements tuple)\n"
    "    The constraint point (t, val, order), of the order of the trajectory.\n"
    "\n"
    "Returns\n"
    "-------\n"
    "out: None\n"
    "    The trajectory is changed in place.\n"
    "\n"
    "Notes\n"
    "-----\n"
    "This method cannot be used to set a constraint on the n-th antiderivative, nor on a\n"
    "derivative (a constraint of higher order): a shift leaves the derivatives unchanged. Use\n"
    "setValueAm for those. 'val' must be finite.\n";

const char set_value_am_doc[] =
    "Sets a constraint on the trajectory by an amplitude change: every control point is\n"
    "multiplied by the same factor, so that the quantity of the constraint's order takes the\n"
    "value 'val' at 't'.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "p: constr (fused type: Point1d or 3-elements tuple)\n"
    "    The constraint point (t, val, order); the order may be above the trajectory's (a\n"
    "    derivative) or below it (an antiderivative).\n"
    "\n"
    "Returns\n"
    "-------\n"
    "out: None\n"
    "    The trajectory is changed in place.\n"
    "\n"
    "Notes\n"
    "-----\n"
    "This method cannot be used to set a constraint close to zero, otherwise the whole\n"
    "trajectory is set to zero. 'val' must be finite.\n";

enum class Form { point, tuple };

// --- the common start ----------------------------------------------------------------------------

// The attribute setValueTr / setValueAm of an instance is its type's own, not a subclass's
// override, when it is this module's dispatcher.
bool is_dispatcher(PyObject *attr, const void *info) {
    return is_fused(attr, static_cast<const FusedInfo *>(info));
}

// The constraint as a Point1d (the tuple form through Point1d.from_tuple). None, which either
// specialisation lets through its type test, stays None and fails where its order is read.
Ref constraint_point(PyObject *p, Form form) {
    if (form == Form::tuple && p != Py_None) return Ref(point::from_tuple(p));
    return Ref::borrow(p);
}

// d = point.order - self.order, on Python ints (so any order a point may report is fine), then
// as a C int; negative for an antiderivative.
bool level_difference(Traj *self, PyObject *point, int *d) {
    Ref porder(PyObject_GetAttr(point, module_state.order_name));
    if (!porder) return false;
    Ref sorder(PyLong_FromUnsignedLong(self->order));
    if (!sorder) return false;
    Ref diff(PyNumber_Subtract(porder.get(), sorder.get()));
    if (!diff || !capi::to_int(diff.get(), d)) return false;
    if (*d == INT_MIN) {  // its antiderivative order -d would not be an int
        PyErr_SetString(PyExc_OverflowError, "value too large to convert to int");
        return false;
    }
    return true;
}

bool point_double(PyObject *point, PyObject *name, double *out) {
    Ref value(PyObject_GetAttr(point, name));
    return value && capi::to_double(value.get(), out);
}

// The abscissa of the constraint. A NaN lies in no domain: evaluated there, every control point
// would become NaN.
bool constraint_abscissa(PyObject *point, double *t) {
    if (!point_double(point, module_state.t_name, t)) return false;
    if (!std::isnan(*t)) return true;
    Ref text(capi::float_text(*t));
    if (text) PyErr_Format(PyExc_ValueError, "'x' out of domain: %U", text.get());
    return false;
}

bool failed(double v) { return v == -1.0 && PyErr_Occurred(); }

// A constraint value that is NaN or infinite would be spread over every control point.
bool check_finite_value(double val) {
    if (std::isfinite(val)) return true;
    PyErr_SetString(PyExc_ValueError, "the constraint value must be finite");
    return false;
}

// A finite value can still be out of reach: the shift or factor that meets it may overflow a
// control point (or be infinite itself). Control points that were not finite before are data
// and are left to themselves.
template <class Apply>
bool check_reachable(Traj *self, Apply apply) {
    const double *c = self->_cpts;
    for (Py_ssize_t i = 0, n = trajectory::cpts_count(self); c != nullptr && i < n; ++i) {
        if (std::isfinite(c[i]) && !std::isfinite(apply(c[i]))) {
            PyErr_SetString(PyExc_ValueError,
                            "the constraint cannot be met: a control point would overflow");
            return false;
        }
    }
    return true;
}

// --- setValueTr ----------------------------------------------------------------------------------

extern const FusedInfo tr_info;
extern const FusedInfo am_info;

int set_value_tr(Traj *self, PyObject *p, Form form, int skip_dispatch) {
    if (const int ran = capi::dispatch_status(self, skip_dispatch, tr_info.name,
                                              capi::Builtin{is_dispatcher, &tr_info}, p))
        return ran < 0 ? -1 : 0;
    Ref point = constraint_point(p, form);
    if (!point) return -1;
    int d;
    if (!level_difference(self, point.get(), &d)) return -1;
    if (d < 0) {
        PyErr_SetString(PyExc_ValueError,
                        "this method cannot be used to set a constraint on the n-th "
                        "antiderivative");
        return -1;
    }
    // A shift changes no derivative, so a constraint on one could never be met.
    if (d > 0) {
        PyErr_SetString(PyExc_ValueError,
                        "this method cannot be used to set a constraint on a derivative");
        return -1;
    }
    double t;
    if (!constraint_abscissa(point.get(), &t)) return -1;
    pyorvex_opt_nu nu{1, 0};
    const double v = vt(self)->dpeval(self, t, 0, &nu);
    if (failed(v)) return -1;
    double val;
    if (!point_double(point.get(), module_state.val_name, &val) || !check_finite_value(val))
        return -1;
    const double shift = val - v;
    if (!check_reachable(self, [shift](double c) { return c + shift; })) return -1;
    vt(self)->c_vshift(self, shift);
    return 0;
}

// --- setValueAm ----------------------------------------------------------------------------------

// The quantity the constraint is on, at its abscissa: the d-th derivative of self, or for d < 0
// its (-d)-th antiderivative.
bool constrained_value(Traj *self, PyObject *point, int d, double *v) {
    double t;
    if (d >= 0) {
        if (!constraint_abscissa(point, &t)) return false;
        pyorvex_opt_nu nu{1, d};
        *v = vt(self)->dpeval(self, t, 0, &nu);
        return !failed(*v);
    }
    pyorvex_opt_nu nu{1, -d};
    Ref anti(vt(self)->antiderivative(self, 0, &nu));
    if (!anti) return false;
    if (anti.get() == Py_None) {  // an override may answer None
        PyErr_SetString(PyExc_AttributeError, "'NoneType' object has no attribute 'peval'");
        return false;
    }
    if (!constraint_abscissa(point, &t)) return false;
    auto *a = reinterpret_cast<Traj *>(anti.get());
    *v = vt(a)->peval(a, t, 0);
    return !failed(*v);
}

int set_value_am(Traj *self, PyObject *p, Form form, int skip_dispatch) {
    if (const int ran = capi::dispatch_status(self, skip_dispatch, am_info.name,
                                              capi::Builtin{is_dispatcher, &am_info}, p))
        return ran < 0 ? -1 : 0;
    Ref point = constraint_point(p, form);
    if (!point) return -1;
    int d;
    if (!level_difference(self, point.get(), &d)) return -1;
    double v;
    if (!constrained_value(self, point.get(), d, &v)) return -1;
    double val;
    if (!point_double(point.get(), module_state.val_name, &val)) return -1;
    if (v == 0.0) {
        PyErr_SetString(PyExc_ZeroDivisionError, "float division by zero");
        return -1;
    }
    if (!check_finite_value(val)) return -1;
    const double factor = val / v;
    if (!check_reachable(self, [factor](double c) { return c * factor; })) return -1;
    vt(self)->c_vscale(self, factor);
    return 0;
}

// --- the method-table entries --------------------------------------------------------------------

int tr_point(Traj *self, PyObject *p, int skip) { return set_value_tr(self, p, Form::point, skip); }
int tr_tuple(Traj *self, PyObject *p, int skip) { return set_value_tr(self, p, Form::tuple, skip); }
int am_point(Traj *self, PyObject *p, int skip) { return set_value_am(self, p, Form::point, skip); }
int am_tuple(Traj *self, PyObject *p, int skip) { return set_value_am(self, p, Form::tuple, skip); }

// --- the Python-visible specialisations ----------------------------------------------------------

PyObject *run(int (*op)(Traj *, PyObject *, int), Traj *self, PyObject *p) {
    if (op(self, p, 1) < 0) return nullptr;
    return capi::none();
}

// A Point1d or any subclass; a tuple exactly (a subclass of tuple is refused here).
bool check_point(PyObject *p) { return capi::check_arg_type(p, &point::type, true, "p"); }
bool check_tuple(PyObject *p) { return capi::check_arg_type(p, &PyTuple_Type, true, "p", true); }

PyObject *py_tr_point(Traj *self, PyObject *p) {
    return check_point(p) ? run(tr_point, self, p) : nullptr;
}
PyObject *py_tr_tuple(Traj *self, PyObject *p) {
    return check_tuple(p) ? run(tr_tuple, self, p) : nullptr;
}
PyObject *py_am_point(Traj *self, PyObject *p) {
    return check_point(p) ? run(am_point, self, p) : nullptr;
}
PyObject *py_am_tuple(Traj *self, PyObject *p) {
    return check_tuple(p) ? run(am_tuple, self, p) : nullptr;
}

const FusedInfo tr_info{"setValueTr", "Trajectory1d.setValueTr", set_value_tr_doc, "setValueTr",
                        nullptr};
const FusedInfo tr_point_info{"__pyx_fuse_0setValueTr", "Trajectory1d.__pyx_fuse_0setValueTr",
                              set_value_tr_doc, "setValueTr", py_tr_point};
const FusedInfo tr_tuple_info{"__pyx_fuse_1setValueTr", "Trajectory1d.__pyx_fuse_1setValueTr",
                              set_value_tr_doc, "setValueTr", py_tr_tuple};
const FusedInfo am_info{"setValueAm", "Trajectory1d.setValueAm", set_value_am_doc, "setValueAm",
                        nullptr};
const FusedInfo am_point_info{"__pyx_fuse_0setValueAm", "Trajectory1d.__pyx_fuse_0setValueAm",
                              set_value_am_doc, "setValueAm", py_am_point};
const FusedInfo am_tuple_info{"__pyx_fuse_1setValueAm", "Trajectory1d.__pyx_fuse_1setValueAm",
                              set_value_am_doc, "setValueAm", py_am_tuple};

int add_dispatcher(PyTypeObject *type, const FusedInfo *info, const FusedInfo *point_form,
                   const FusedInfo *tuple_form) {
    Ref on_point(new_fused_specialisation(point_form));
    Ref on_tuple(new_fused_specialisation(tuple_form));
    Ref signatures(PyDict_New());
    if (!on_point || !on_tuple || !signatures) return -1;
    if (PyDict_SetItemString(signatures.get(), "Point1d", on_point.get()) < 0 ||
        PyDict_SetItemString(signatures.get(), "tuple", on_tuple.get()) < 0)
        return -1;
    Ref dispatcher(new_fused_dispatcher(info, signatures.get()));
    if (!dispatcher) return -1;
    return PyDict_SetItemString(type->tp_dict, info->name, dispatcher.get());
}

}  // namespace

void install_constraints(TrajVtab *v) {
    v->setValueTr_point = tr_point;
    v->setValueTr_tuple = tr_tuple;
    v->setValueAm_point = am_point;
    v->setValueAm_tuple = am_tuple;
}

int add_constraint_methods(PyTypeObject *trajectory) {
    if (ready_fused_type() < 0) return -1;
    if (add_dispatcher(trajectory, &tr_info, &tr_point_info, &tr_tuple_info) < 0 ||
        add_dispatcher(trajectory, &am_info, &am_point_info, &am_tuple_info) < 0)
        return -1;
    PyType_Modified(trajectory);
    return 0;
}

}  // namespace pyorvex::dds::algebra
