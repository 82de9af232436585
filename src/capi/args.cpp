#include "args.hpp"

#include <cstring>

#include "ref.hpp"

namespace pyorvex::capi {

namespace {

void raise_count(const ArgSpec &sig, Py_ssize_t given) {
    const bool exact = sig.required == sig.total;
    const bool too_few = given < sig.required;
    const Py_ssize_t bound = too_few ? sig.required : sig.total;
    const char *which = exact ? "exactly" : (too_few ? "at least" : "at most");
    PyErr_Format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)",
                 sig.function, which, bound, bound == 1 ? "" : "s", given);
}

int index_of(const ArgSpec &sig, PyObject *key) {
    for (int i = 0; i < sig.total; ++i)
        if (PyUnicode_CompareWithASCIIString(key, sig.names[i]) == 0) return i;
    return -1;
}

}  // namespace

bool parse_args(const ArgSpec &sig, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
                PyObject **out) {
    for (int i = 0; i < sig.total; ++i) out[i] = nullptr;
    if (nargs > sig.total) {
        raise_count(sig, nargs);
        return false;
    }
    for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = args[i];
    const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject *key = PyTuple_GET_ITEM(kwnames, k);
        if (!PyUnicode_Check(key)) {
            PyErr_Format(PyExc_TypeError, "%s() keywords must be strings", sig.function);
            return false;
        }
        const int i = index_of(sig, key);
        if (i < 0) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'",
                         sig.function, key);
            return false;
        }
        if (out[i] != nullptr) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'",
                         sig.function, key);
            return false;
        }
        out[i] = args[nargs + k];
    }
    for (int i = 0; i < sig.required; ++i) {
        if (out[i] == nullptr) {
            raise_count(sig, nargs);
            return false;
        }
    }
    return true;
}

bool check_arg_type(PyObject *obj, PyTypeObject *type, bool none_allowed, const char *name,
                    bool exact) {
    if (none_allowed && obj == Py_None) return true;
    if (Py_TYPE(obj) == type || (!exact && PyObject_TypeCheck(obj, type))) return true;
    PyErr_Format(PyExc_TypeError,
                 "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)", name,
                 type->tp_name, Py_TYPE(obj)->tp_name);
    return false;
}

bool parse_tuple_args(const ArgSpec &sig, PyObject *args, PyObject *kwargs, PyObject **out) {
    const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    PyObject *const *positional = reinterpret_cast<PyTupleObject *>(args)->ob_item;
    const Py_ssize_t nkw = kwargs != nullptr ? PyDict_GET_SIZE(kwargs) : 0;
    if (nkw == 0) return parse_args(sig, positional, nargs, nullptr, out);
    // The values stay borrowed from args and kwargs, which outlive the call.
    Ref stack(PyTuple_New(nargs + nkw));
    Ref names(PyTuple_New(nkw));
    if (!stack || !names) return false;
    for (Py_ssize_t i = 0; i < nargs; ++i) {
        Py_INCREF(positional[i]);
        PyTuple_SET_ITEM(stack.get(), i, positional[i]);
    }
    Py_ssize_t pos = 0, k = 0;
    PyObject *key, *value;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
        Py_INCREF(key);
        PyTuple_SET_ITEM(names.get(), k, key);
        Py_INCREF(value);
        PyTuple_SET_ITEM(stack.get(), nargs + k, value);
        ++k;
    }
    return parse_args(sig, reinterpret_cast<PyTupleObject *>(stack.get())->ob_item, nargs,
                      names.get(), out);
}

void raise_expected(const char *expected, PyObject *got) {
    PyErr_Format(PyExc_TypeError, "Expected %.16s, got %.200s", expected, Py_TYPE(got)->tp_name);
}

int raise_value_error(const char *message) {
    PyErr_SetString(PyExc_ValueError, message);
    return -1;
}

}  // namespace pyorvex::capi
