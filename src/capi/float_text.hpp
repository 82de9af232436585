// The text form of doubles in documents: exactly Python's repr of a float on output, exactly
// float() on input. Both sides are hot paths (a large trajectory is millions of numbers), so the
// common forms are handled here in C++ and only unusual texts go to the interpreter.
#pragma once

#include <Python.h>

namespace pyorvex::capi {

// Room that format_float needs: the longest repr of a double ("-2.2250738585072014e-308") is 24
// characters.
inline constexpr int kFloatTextMax = 32;

// Writes repr(x) to out (kFloatTextMax bytes of room, no terminator) and returns its length.
int format_float(double x, char *out);

// Parses [+-]digits[.digits][(e|E)[+-]digits] (at least one mantissa digit), "inf", "-inf" and
// "nan" exactly as float() does. Returns false, without an exception, for any other text and for
// values that overflow or underflow (the caller then asks float()).
bool parse_float_fast(const char *first, const char *last, double *out);

// float() of the UTF-8 text [first, last): the fast path, else the interpreter's float() of the
// text as a str (so its ValueError names the text).
bool parse_float(const char *first, const char *last, double *out);

// Room that the joined texts of `count` values need at most; -1 when that overflows.
Py_ssize_t joined_size_bound(Py_ssize_t count);

// Writes the values' float texts joined by single spaces to out (joined_size_bound(count) bytes
// of room) and returns the end of what it wrote.
char *write_joined(const double *data, Py_ssize_t count, char *out);

// The values' float texts joined by single spaces, as a new str.
PyObject *join_floats(const double *data, Py_ssize_t count);

// The number of pieces that splitting text at every single space gives (1 for empty text).
Py_ssize_t count_space_pieces(const char *text, Py_ssize_t len);

// Splits text at every single space and converts each piece with float() semantics, in order;
// the first `keep` values go to out, the rest are converted (so a bad number anywhere fails) and
// dropped. The caller makes sure that the text holds at least `keep` pieces.
bool parse_space_separated(const char *text, Py_ssize_t len, double *out, Py_ssize_t keep);

}  // namespace pyorvex::capi
