// Argument parsing for METH_FASTCALL | METH_KEYWORDS methods, with the argument errors every
// method of the package reports in the same words.
#pragma once

#include <Python.h>

namespace pyorvex::capi {

struct ArgSpec {
    const char *function;      // name used in messages, e.g. "dpeval"
    const char *const *names;  // keyword names, one per parameter
    int required;              // leading parameters that must be given
    int total;                 // all parameters
};

// Fills out[0 .. sig.total) with borrowed references, nullptr for optional parameters that were
// not given. Returns false with TypeError set for a wrong count, an unknown or repeated keyword.
bool parse_args(const ArgSpec &sig, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
                PyObject **out);

// parse_args for the slots that receive a tuple and a dict (tp_init, tp_call): the values are
// laid out as a vectorcall (positional ones, then the keyword values with their names in a
// tuple) so that every call is checked by the one parser.
bool parse_tuple_args(const ArgSpec &sig, PyObject *args, PyObject *kwargs, PyObject **out);

// A METH_FASTCALL (| METH_KEYWORDS) function as the PyCFunction a method table holds.
template <class F>
PyCFunction fastcall(F *f) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(f));
}

// "Argument 'name' has incorrect type (expected T, got U)". exact: subclasses are refused too.
bool check_arg_type(PyObject *obj, PyTypeObject *type, bool none_allowed, const char *name,
                    bool exact = false);

// TypeError("Expected %.16s, got %.200s"), the error of a result of the wrong type.
void raise_expected(const char *expected, PyObject *got);

// ValueError(message); returns -1 for the int-returning operations.
int raise_value_error(const char *message);

}  // namespace pyorvex::capi
