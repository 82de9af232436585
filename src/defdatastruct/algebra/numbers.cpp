// The number protocol of Trajectory1d. A number acts on the control points only (the basis
// functions sum to one on the domain, so shifting or scaling every control point shifts or scales
// the curve); two trajectories are added through c_splcsum and multiplied through c_splcmul.
// Binary operators work on a copy and leave both operands as they were; the in-place forms and
// unary minus change the trajectory itself and return it.
#include "algebra.hpp"

namespace pyorvex::dds::algebra {

namespace {

Traj *as_traj(PyObject *obj) { return reinterpret_cast<Traj *>(obj); }

PyObject *self_ref(PyObject *self) {
    Py_INCREF(self);
    return self;
}

// --- in-place operators: the conversion comes before any control point changes ----------------

PyObject *inplace_add(PyObject *self, PyObject *c) {
    double x;
    if (!capi::to_double(c, &x)) return nullptr;
    vt(as_traj(self))->c_vshift(as_traj(self), x);
    return self_ref(self);
}

PyObject *inplace_subtract(PyObject *self, PyObject *c) {
    double x;
    if (is_trajectory(c)) {
        // Negating a trajectory would negate it in place, and it is not a number anyway: the
        // float conversion decides (and refuses a plain Trajectory1d) with c left untouched.
        if (!capi::to_double(c, &x)) return nullptr;
        x = -x;
    } else {
        Ref negated(PyNumber_Negative(c));
        if (!negated || !capi::to_double(negated.get(), &x)) return nullptr;
    }
    vt(as_traj(self))->c_vshift(as_traj(self), x);
    return self_ref(self);
}

PyObject *inplace_multiply(PyObject *self, PyObject *c) {
    double x;
    if (!capi::to_double(c, &x)) return nullptr;
    vt(as_traj(self))->c_vscale(as_traj(self), x);
    return self_ref(self);
}

PyObject *inplace_true_divide(PyObject *self, PyObject *c) {
    // Multiplies by c ** -1.0 rather than dividing each control point by c: the values this
    // rounds to are the ones callers already hold. A zero fails in the power, before any change.
    Ref minus_one(PyFloat_FromDouble(-1.0));
    if (!minus_one) return nullptr;
    Ref inverse(PyNumber_Power(c, minus_one.get(), Py_None));
    double x;
    if (!inverse || !capi::to_double(inverse.get(), &x)) return nullptr;
    vt(as_traj(self))->c_vscale(as_traj(self), x);
    return self_ref(self);
}

PyObject *negative(PyObject *self) {
    vt(as_traj(self))->c_vscale(as_traj(self), -1.0);
    return self_ref(self);
}

// --- helpers of the binary operators ------------------------------------------------------------
// What they call on a trajectory operand is looked up on the object, so a subclass's copy,
// c_splcsum, c_splcmul and in-place methods take part. Plain Trajectory1d instances (a static
// type without instance dict, whose attributes are the built-ins) go straight to them.

PyObject *call_method(PyObject *obj, const char *name, PyObject *arg) {
    Ref method(PyObject_GetAttrString(obj, name));
    if (!method) return nullptr;
    return arg ? PyObject_CallOneArg(method.get(), arg) : PyObject_CallNoArgs(method.get());
}

PyObject *copy_of(PyObject *t) {
    if (Py_IS_TYPE(t, &trajectory::type)) return vt(as_traj(t))->copy(as_traj(t), 1);
    return call_method(t, "copy", nullptr);
}

// r = t.copy(); r.<name>(c); return r (the in-place method's own result is discarded).
PyObject *on_copy(PyObject *t, const char *name, binaryfunc slot, PyObject *c) {
    Ref r(copy_of(t));
    if (!r) return nullptr;
    Ref discarded(Py_IS_TYPE(r.get(), &trajectory::type) ? slot(r.get(), c)
                                                         : call_method(r.get(), name, c));
    if (!discarded) return nullptr;
    return r.release();
}

PyObject *sum(PyObject *a, PyObject *b) {
    if (Py_IS_TYPE(a, &trajectory::type))
        return vt(as_traj(a))->c_splcsum(as_traj(a), as_traj(b), 1);
    return call_method(a, "c_splcsum", b);
}

PyObject *product(PyObject *a, PyObject *b) {
    if (Py_IS_TYPE(a, &trajectory::type))
        return vt(as_traj(a))->c_splcmul(as_traj(a), as_traj(b), 1);
    return call_method(a, "c_splcmul", b);
}

// T - U: T plus a negated copy of U; U itself is never touched.
PyObject *difference(PyObject *a, PyObject *b) {
    Ref negated(copy_of(b));
    if (!negated) return nullptr;
    if (is_trajectory(negated.get()))
        vt(as_traj(negated.get()))->c_vscale(as_traj(negated.get()), -1.0);
    return sum(a, negated.get());
}

// c - T: a copy of T whose control points P become c - P.
PyObject *number_minus(PyObject *c, PyObject *t) {
    Ref r(copy_of(t));
    if (!r) return nullptr;
    if (!is_trajectory(r.get())) {
        PyErr_Format(PyExc_TypeError, "Cannot convert %.200s to %.200s", Py_TYPE(r.get())->tp_name,
                     trajectory::type.tp_name);
        return nullptr;
    }
    double x;
    if (!capi::to_double(c, &x)) return nullptr;
    Traj *rt = as_traj(r.get());
    vt(rt)->c_vscale(rt, -1.0);
    vt(rt)->c_vshift(rt, x);
    return r.release();
}

// --- binary operators: the left operand is asked first whether it is a trajectory ---------------

PyObject *add(PyObject *a, PyObject *b) {
    if (is_trajectory(a)) {
        if (is_trajectory(b)) return sum(a, b);
        return on_copy(a, "__iadd__", inplace_add, b);
    }
    if (is_trajectory(b)) return on_copy(b, "__iadd__", inplace_add, a);
    Py_RETURN_NOTIMPLEMENTED;
}

PyObject *subtract(PyObject *a, PyObject *b) {
    if (is_trajectory(a)) {
        if (is_trajectory(b)) return difference(a, b);
        return on_copy(a, "__isub__", inplace_subtract, b);
    }
    if (is_trajectory(b)) return number_minus(a, b);
    Py_RETURN_NOTIMPLEMENTED;
}

PyObject *multiply(PyObject *a, PyObject *b) {
    if (is_trajectory(a)) {
        if (is_trajectory(b)) return product(a, b);
        return on_copy(a, "__imul__", inplace_multiply, b);
    }
    if (is_trajectory(b)) return on_copy(b, "__imul__", inplace_multiply, a);
    Py_RETURN_NOTIMPLEMENTED;
}

PyObject *true_divide(PyObject *a, PyObject *b) {
    // A trajectory over a trajectory, or a number over a trajectory, is no spline of this kind:
    // NotImplemented lets the interpreter raise its TypeError for the operand types.
    if (is_trajectory(a) && !is_trajectory(b))
        return on_copy(a, "__itruediv__", inplace_true_divide, b);
    Py_RETURN_NOTIMPLEMENTED;
}

}  // namespace

}  // namespace pyorvex::dds::algebra

namespace pyorvex::dds::algebra {

PyNumberMethods as_number = [] {
    PyNumberMethods m{};
    m.nb_add = add;
    m.nb_subtract = subtract;
    m.nb_multiply = multiply;
    m.nb_negative = negative;
    m.nb_inplace_add = inplace_add;
    m.nb_inplace_subtract = inplace_subtract;
    m.nb_inplace_multiply = inplace_multiply;
    m.nb_true_divide = true_divide;
    m.nb_inplace_true_divide = inplace_true_divide;
    return m;
}();

}  // namespace pyorvex::dds::algebra
