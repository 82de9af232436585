#include "convert.hpp"

#include <climits>

#include "ref.hpp"

namespace pyorvex::capi {

namespace {

// The integer value of obj as a new int, through __index__ for ints and __int__ otherwise (so a
// float is truncated toward zero).
PyObject *integer_value(PyObject *obj) {
    if (PyLong_Check(obj)) {
        Py_INCREF(obj);
        return obj;
    }
    PyNumberMethods *nb = Py_TYPE(obj)->tp_as_number;
    if (nb == nullptr || (nb->nb_int == nullptr && nb->nb_index == nullptr)) {
        PyErr_SetString(PyExc_TypeError, "an integer is required");
        return nullptr;
    }
    PyObject *res = nb->nb_int ? nb->nb_int(obj) : nb->nb_index(obj);
    if (res != nullptr && !PyLong_Check(res)) {
        PyErr_Format(PyExc_TypeError, "__int__ returned non-int (type %.200s)",
                     Py_TYPE(res)->tp_name);
        Py_DECREF(res);
        return nullptr;
    }
    return res;
}

}  // namespace

bool to_double(PyObject *obj, double *out) {
    if (PyFloat_CheckExact(obj)) {
        *out = PyFloat_AS_DOUBLE(obj);
        return true;
    }
    const double v = PyFloat_AsDouble(obj);
    if (v == -1.0 && PyErr_Occurred()) return false;
    *out = v;
    return true;
}

bool to_int(PyObject *obj, int *out) {
    Ref value(integer_value(obj));
    if (!value) return false;
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(value.get(), &overflow);
    if (v == -1 && PyErr_Occurred()) return false;
    if (overflow != 0 || v < INT_MIN || v > INT_MAX) {
        PyErr_SetString(PyExc_OverflowError, "value too large to convert to int");
        return false;
    }
    *out = static_cast<int>(v);
    return true;
}

bool to_uint(PyObject *obj, unsigned int *out) {
    Ref value(integer_value(obj));
    if (!value) return false;
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(value.get(), &overflow);
    if (v == -1 && PyErr_Occurred()) return false;
    if (overflow < 0 || (overflow == 0 && v < 0)) {
        PyErr_SetString(PyExc_OverflowError, "can't convert negative value to unsigned int");
        return false;
    }
    if (overflow > 0 || v > static_cast<long long>(UINT_MAX)) {
        PyErr_SetString(PyExc_OverflowError, "value too large to convert to unsigned int");
        return false;
    }
    *out = static_cast<unsigned int>(v);
    return true;
}

PyObject *value_text(PyObject *value) {
    if (PyUnicode_CheckExact(value)) {
        Py_INCREF(value);
        return value;
    }
    if (PyLong_CheckExact(value) || PyFloat_CheckExact(value)) return PyObject_Str(value);
    Ref empty_format(PyUnicode_FromStringAndSize("", 0));
    if (!empty_format) return nullptr;
    return PyObject_Format(value, empty_format.get());
}

void raise_derivative_overflow(int order) {
    PyErr_Format(PyExc_OverflowError, "the derivative of order %d overflows a double", order);
}

PyObject *float_text(double x) {
    Ref f(PyFloat_FromDouble(x));
    if (!f) return nullptr;
    return PyObject_Repr(f.get());
}

}  // namespace pyorvex::capi
