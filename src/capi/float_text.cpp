#include "float_text.hpp"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "ref.hpp"

namespace pyorvex::capi {

namespace {

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

int format_float(double x, char *out) {
    char *o = out;
    if (std::isnan(x)) {
        std::memcpy(o, "nan", 3);
        return 3;
    }
    if (std::signbit(x)) {
        *o++ = '-';
        x = -x;
    }
    if (std::isinf(x)) {
        std::memcpy(o, "inf", 3);
        return static_cast<int>(o - out) + 3;
    }
    // The shortest digits that read back to x, nearest to x on ties (what repr picks too), as
    // d[.ddd]e(+|-)XX[X]: d1, the other digits, and the exponent of d1.
    char sci[kFloatTextMax];
    const char *end = std::to_chars(sci, sci + sizeof sci, x, std::chars_format::scientific).ptr;
    const char *e = end - 4;  // two or three exponent digits
    if (*e != 'e') --e;
    int exponent = 0;
    for (const char *p = e + 2; p < end; ++p) exponent = exponent * 10 + (*p - '0');
    if (e[1] == '-') exponent = -exponent;
    // Past the exponent limits, repr's text is to_chars's: at least two exponent digits.
    if (exponent < -4 || exponent >= 16) {
        const size_t len = static_cast<size_t>(end - sci);
        std::memcpy(o, sci, len);
        return static_cast<int>(o - out) + static_cast<int>(len);
    }
    const char *rest = sci + 2;  // the digits after d1
    const int more = sci[1] == '.' ? static_cast<int>(e - rest) : 0;
    if (exponent < 0) {  // 0.000ddd
        std::memcpy(o, "0.000", static_cast<size_t>(1 - exponent));
        o += 1 - exponent;
        *o++ = sci[0];
        std::memcpy(o, rest, static_cast<size_t>(more));
        o += more;
    } else if (exponent < more) {  // dd.ddd
        *o++ = sci[0];
        std::memcpy(o, rest, static_cast<size_t>(exponent));
        o += exponent;
        *o++ = '.';
        std::memcpy(o, rest + exponent, static_cast<size_t>(more - exponent));
        o += more - exponent;
    } else {  // ddd000.0
        *o++ = sci[0];
        std::memcpy(o, rest, static_cast<size_t>(more));
        o += more;
        std::memset(o, '0', static_cast<size_t>(exponent - more));
        o += exponent - more;
        *o++ = '.';
        *o++ = '0';
    }
    return static_cast<int>(o - out);
}

bool parse_float_fast(const char *first, const char *last, double *out) {
    const Py_ssize_t len = last - first;
    // The three special texts that format_float writes.
    if (len == 3 || len == 4) {
        if (len == 3 && std::memcmp(first, "inf", 3) == 0) {
            *out = std::numeric_limits<double>::infinity();
            return true;
        }
        if (len == 4 && std::memcmp(first, "-inf", 4) == 0) {
            *out = -std::numeric_limits<double>::infinity();
            return true;
        }
        if (len == 3 && std::memcmp(first, "nan", 3) == 0) {
            // float("nan") is the positive quiet NaN.
            *out = std::bit_cast<double>(UINT64_C(0x7ff8000000000000));
            return true;
        }
    }
    // A sign, then a digit or a point: from here on from_chars reads exactly the decimal form
    // that float() reads, so when it takes the whole text both agree. Anything it stops short of
    // (underscores, whitespace, a second sign, an exponent without digits) and values out of its
    // range are left to float().
    const char *p = first;
    if (p < last && *p == '+') {
        first = ++p;  // from_chars takes no '+'
    } else if (p < last && *p == '-') {
        ++p;
    }
    if (p == last || !(is_digit(*p) || *p == '.')) return false;
    const auto res = std::from_chars(first, last, *out, std::chars_format::general);
    return res.ec == std::errc() && res.ptr == last;
}

bool parse_float(const char *first, const char *last, double *out) {
    if (parse_float_fast(first, last, out)) return true;
    Ref text(PyUnicode_DecodeUTF8(first, last - first, "strict"));
    if (!text) return false;
    Ref value(PyFloat_FromString(text.get()));
    if (!value) return false;
    *out = PyFloat_AS_DOUBLE(value.get());
    return true;
}

Py_ssize_t joined_size_bound(Py_ssize_t count) {
    constexpr Py_ssize_t per_value = kFloatTextMax + 1;
    if (count <= 0) return 0;
    if (count > PY_SSIZE_T_MAX / per_value) return -1;
    return count * per_value;
}

char *write_joined(const double *data, Py_ssize_t count, char *out) {
    for (Py_ssize_t i = 0; i < count; ++i) {
        if (i > 0) *out++ = ' ';
        out += format_float(data[i], out);
    }
    return out;
}

PyObject *join_floats(const double *data, Py_ssize_t count) {
    const Py_ssize_t bound = joined_size_bound(count);
    if (bound < 0) return PyErr_NoMemory();
    if (bound == 0) return PyUnicode_FromStringAndSize("", 0);
    char *buf = static_cast<char *>(PyMem_Malloc(static_cast<size_t>(bound)));
    if (buf == nullptr) return PyErr_NoMemory();
    const Py_ssize_t len = write_joined(data, count, buf) - buf;
    // The text is ASCII: a compact str of one byte per character takes it with a single copy.
    PyObject *s = PyUnicode_New(len, 127);
    if (s != nullptr) std::memcpy(PyUnicode_DATA(s), buf, static_cast<size_t>(len));
    PyMem_Free(buf);
    return s;
}

Py_ssize_t count_space_pieces(const char *text, Py_ssize_t len) {
    Py_ssize_t pieces = 1;
    const char *p = text;
    const char *end = text + len;
    while (p < end) {
        const void *hit = std::memchr(p, ' ', static_cast<size_t>(end - p));
        if (hit == nullptr) break;
        ++pieces;
        p = static_cast<const char *>(hit) + 1;
    }
    return pieces;
}

bool parse_space_separated(const char *text, Py_ssize_t len, double *out, Py_ssize_t keep) {
    const char *p = text;
    const char *end = text + len;
    Py_ssize_t i = 0;
    for (;;) {
        const void *hit = std::memchr(p, ' ', static_cast<size_t>(end - p));
        const char *stop = hit ? static_cast<const char *>(hit) : end;
        double v;
        if (!parse_float(p, stop, &v)) return false;
        if (i < keep) out[i] = v;
        ++i;
        if (stop == end) return true;
        p = stop + 1;
    }
}

}  // namespace pyorvex::capi
