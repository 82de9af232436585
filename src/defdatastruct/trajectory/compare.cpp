// Value semantics of Trajectory1d: equality within a fixed tolerance, the two text forms, and
// the attribute dictionary from which its XML element is written.
#include <cmath>

#include "trajectory.hpp"

namespace pyorvex::dds::trajectory {

namespace {

// Relative 1e-9 with an absolute floor of 1e-13. Written so that NaN on either side, and
// infinities on both sides (whose difference is NaN), are never close; nor is an infinity close
// to a finite value (an infinite difference would otherwise meet its own infinite tolerance).
bool close(double a, double b) {
    const double diff = std::fabs(a - b);
    const double tol = std::fmax(1e-9 * std::fmax(std::fabs(a), std::fabs(b)), 1e-13);
    return diff <= tol && std::isfinite(diff);
}

}  // namespace

int c_eq(Traj *self, Traj *other) {
    if (self->p != other->p || self->n != other->n || self->order != other->order ||
        self->ptrs_owner != other->ptrs_owner)
        return 0;
    pyorvex_dview k1, c1, k2, c2;
    if (!record_data_views(self, &k1, &c1) || !record_data_views(other, &k2, &c2)) return 0;
    for (Py_ssize_t i = 0; i < k1.size; ++i)
        if (!close(k1.data[i], k2.data[i])) return 0;
    for (Py_ssize_t i = 0; i < c1.size; ++i)
        if (!close(c1.data[i], c2.data[i])) return 0;
    return 1;
}

namespace {

PyObject *equal(PyObject *self, PyObject *other) {
    Ref cls(PyObject_GetAttr(self, module_state.class_name));
    if (!cls) return nullptr;
    const int inst = PyObject_IsInstance(other, cls.get());
    if (inst < 0) return nullptr;
    if (inst == 0 || !is_trajectory(other)) Py_RETURN_FALSE;
    auto *a = reinterpret_cast<Traj *>(self);
    const int eq = vt(a)->c_eq(a, reinterpret_cast<Traj *>(other));
    if (eq) Py_RETURN_TRUE;
    if (PyErr_Occurred()) return nullptr;
    Py_RETURN_FALSE;
}

PyObject *not_equal(PyObject *self, PyObject *other) {
    // Through the instance's __eq__, so that a subclass redefining it changes != as well.
    Ref result(PyObject_CallMethodOneArg(self, module_state.eq_name, other));
    if (!result) return nullptr;
    const int truth = PyObject_IsTrue(result.get());
    if (truth < 0) return nullptr;
    return PyBool_FromLong(!truth);
}

// Joins the pieces (new references or nullptr) into one str.
PyObject *join(std::initializer_list<PyObject *> pieces) {
    Ref list(PyList_New(0));
    bool ok = static_cast<bool>(list);
    for (PyObject *piece : pieces) {
        Ref held(piece);
        if (!ok) continue;
        if (!held || PyList_Append(list.get(), held.get()) < 0) ok = false;
    }
    if (!ok) return nullptr;
    Ref empty(PyUnicode_FromStringAndSize("", 0));
    if (!empty) return nullptr;
    return PyUnicode_Join(empty.get(), list.get());
}

PyObject *attr_text(PyObject *self, const char *name) {
    Ref value(PyObject_GetAttrString(self, name));
    if (!value) return nullptr;
    return capi::value_text(value.get());
}

}  // namespace

PyObject *getattrib_op(BaseObject *base, int skip_dispatch) {
    auto *self = reinterpret_cast<PyObject *>(base);
    auto *t = reinterpret_cast<Traj *>(base);
    Ref result;
    const int found = capi::dispatch(self, skip_dispatch, "_getAttrib", py_getattrib, &result);
    if (found < 0) return nullptr;
    if (found > 0) return capi::expect_exact_or_none(result.release(), &PyDict_Type, "dict");
    Ref d(PyDict_New());
    if (!d) return nullptr;
    const struct {
        const char *key;
        PyObject *value;
    } items[] = {
        {"p", PyUnicode_FromFormat("%d", t->p)},
        {"n", PyUnicode_FromFormat("%d", t->n)},
        {"owner", PyUnicode_FromString(t->ptrs_owner ? "True" : "False")},
        {"order", PyUnicode_FromFormat("%u", t->order)},
        {"start", attr_text(self, "start")},
        {"stop", attr_text(self, "stop")},
    };
    bool ok = true;
    for (const auto &item : items) {
        Ref value(item.value);
        if (ok && (!value || PyDict_SetItemString(d.get(), item.key, value.get()) < 0)) ok = false;
    }
    return ok ? d.release() : nullptr;
}

PyObject *py_getattrib(PyObject *self, PyObject *) {
    return getattrib_op(reinterpret_cast<BaseObject *>(self), 1);
}

PyObject *richcompare(PyObject *a, PyObject *b, int op) {
    if (op == Py_EQ) return equal(a, b);
    if (op == Py_NE) return not_equal(a, b);
    Py_RETURN_NOTIMPLEMENTED;
}

PyObject *str(PyObject *self) {
    auto *t = reinterpret_cast<Traj *>(self);
    return join({PyUnicode_FromString("Trajectory1d(start = "), attr_text(self, "start"),
                 PyUnicode_FromString(", stop = "), attr_text(self, "stop"),
                 PyUnicode_FromFormat(", p = %d, n = %d, order = %u)", t->p, t->n, t->order)});
}

PyObject *repr(PyObject *self) {
    auto *t = reinterpret_cast<Traj *>(self);
    return join({PyUnicode_FromString("{'start': "), attr_text(self, "start"),
                 PyUnicode_FromString(", 'stop': "), attr_text(self, "stop"),
                 PyUnicode_FromFormat(", 'p': %d, 'n': %d, 'order': %u}", t->p, t->n, t->order)});
}

}  // namespace pyorvex::dds::trajectory
