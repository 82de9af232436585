// Argument parsing for METH_FASTCALL | METH_KEYWORDS methods, with the argument errors every
// method of the package reports in the same words.
#pragma once

#include <Python.h>

namespace pyorvex::capi {

struct ArgSpec {
    const char *function;       // name used in messages, e.g. "dpeval"
    const char *const *names;   // keyword names, one per parameter
    int required;               // leading parameters that must be given
    int total;                  // all parameters
};

// Fills out[0 .. sig.total) with borrowed references, nullptr for optional parameters that were
// not given. Returns false with TypeError set for a wrong count, an unknown or repeated keyword.
bool parse_args(const ArgSpec &sig, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
                PyObject **out);

// "Argument 'name' has incorrect type (expected T, got U)". exact: subclasses are refused too.
bool check_arg_type(PyObject *obj, PyTypeObject *type, bool none_allowed, const char *name,
                    bool exact = false);

// TypeError("Expected %.16s, got %.200s"), the error of a result of the wrong type.
void raise_expected(const char *expected, PyObject *got);

}  // namespace pyorvex::capi
