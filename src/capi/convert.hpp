// Conversions of Python values to C numbers and to text, with the package's error messages.
#pragma once

#include <Python.h>

namespace pyorvex::capi {

// The interpreter's float conversion (a float, an int, or anything with __float__/__index__).
bool to_double(PyObject *obj, double *out);

// C int through the object's integer conversion (a float is truncated): TypeError "an integer
// is required" for an object without one, OverflowError outside the range of int.
bool to_int(PyObject *obj, int *out);

// As to_int for unsigned int: OverflowError "can't convert negative value to unsigned int" for
// a negative value, the interpreter's OverflowError above 4294967295.
bool to_uint(PyObject *obj, unsigned int *out);

// The text of a value: what format(value, "") gives (the value itself for a str, the shortest
// round-trip form for a float, "None" for None).
PyObject *value_text(PyObject *value);

// Python's repr of a double, as a new str (the shortest text that reads back to it).
PyObject *float_text(double x);

// OverflowError for a derivative whose values do not fit a double (the kernel's
// EvalStatus::overflow): the one text of every entry point that evaluates derivatives.
void raise_derivative_overflow(int order);

}  // namespace pyorvex::capi
