// Value semantics of Point1d: exact equality, the two text forms, the attribute dictionary from
// which its XML element is written, and the refusal to pickle. Everything here reads t, val and
// order as Python attributes, so the properties of a subclass are what count.
#include "point.hpp"

namespace pyorvex::dds::point {

namespace {

// The fields in the order t, val, order.
PyObject *field_name(int i) {
    const ModuleState &s = module_state;
    return i == 0 ? s.t_name : i == 1 ? s.val_name : s.order_name;
}

PyObject *equal(PyObject *self, PyObject *other) {
    Ref cls(PyObject_GetAttr(self, module_state.class_name));
    if (!cls) return nullptr;
    const int inst = PyObject_IsInstance(other, cls.get());
    if (inst < 0) return nullptr;
    if (inst == 0) Py_RETURN_FALSE;
    // No tolerance: == of the attribute values, so NaN never equals anything. The first false
    // comparison result is returned as it came.
    Ref result;
    for (int i = 0; i < 3; ++i) {
        PyObject *name = field_name(i);
        Ref a(PyObject_GetAttr(self, name));
        if (!a) return nullptr;
        Ref b(PyObject_GetAttr(other, name));
        if (!b) return nullptr;
        result = Ref(PyObject_RichCompare(a.get(), b.get(), Py_EQ));
        if (!result) return nullptr;
        const int truth = PyObject_IsTrue(result.get());
        if (truth < 0) return nullptr;
        if (!truth) break;
    }
    return result.release();
}

PyObject *not_equal(PyObject *self, PyObject *other) {
    // Through the instance's __eq__, so that a subclass redefining it changes != as well.
    Ref result(PyObject_CallMethodOneArg(self, module_state.eq_name, other));
    if (!result) return nullptr;
    const int truth = PyObject_IsTrue(result.get());
    if (truth < 0) return nullptr;
    return PyBool_FromLong(!truth);
}

// The three attribute texts, in the order t, val, order.
bool field_texts(PyObject *self, Ref (&out)[3]) {
    for (int i = 0; i < 3; ++i) {
        Ref value(PyObject_GetAttr(self, field_name(i)));
        if (!value) return false;
        out[i] = Ref(capi::value_text(value.get()));
        if (!out[i]) return false;
    }
    return true;
}

}  // namespace

PyObject *point_richcompare(PyObject *a, PyObject *b, int op) {
    if (op == Py_EQ) return equal(a, b);
    if (op == Py_NE) return not_equal(a, b);
    Py_RETURN_NOTIMPLEMENTED;
}

PyObject *point_str(PyObject *self) {
    Ref text[3];
    if (!field_texts(self, text)) return nullptr;
    return PyUnicode_FromFormat("Point1d(t = %U, val = %U, order = %U)", text[0].get(),
                                text[1].get(), text[2].get());
}

PyObject *point_repr(PyObject *self) {
    Ref text[3];
    if (!field_texts(self, text)) return nullptr;
    return PyUnicode_FromFormat("{'t': %U, 'val': %U, 'order': %U}", text[0].get(), text[1].get(),
                                text[2].get());
}

PyObject *point_getattrib_op(BaseObject *base, int skip_dispatch) {
    auto *self = reinterpret_cast<PyObject *>(base);
    Ref result;
    const int found =
        capi::dispatch(self, skip_dispatch, "_getAttrib", point_py_getattrib, &result);
    if (found < 0) return nullptr;
    if (found > 0) return capi::expect_exact_or_none(result.release(), &PyDict_Type, "dict");
    Ref text[3];
    if (!field_texts(self, text)) return nullptr;
    Ref d(PyDict_New());
    if (!d) return nullptr;
    for (int i = 0; i < 3; ++i)
        if (PyDict_SetItem(d.get(), field_name(i), text[i].get()) < 0) return nullptr;
    return d.release();
}

PyObject *point_py_getattrib(PyObject *self, PyObject *) {
    return point_getattrib_op(reinterpret_cast<BaseObject *>(self), 1);
}

PyObject *point_refuse_pickle(PyObject *, PyObject *) {
    PyErr_SetString(PyExc_TypeError,
                    "Pickling of struct members such as self.p must be explicitly requested with "
                    "@auto_pickle(True)");
    return nullptr;
}

}  // namespace pyorvex::dds::point
