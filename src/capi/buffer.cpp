#include "buffer.hpp"

#include <cstring>

namespace pyorvex::capi {

namespace {

bool is_double_format(const char *fmt) {
    if (fmt == nullptr) return false;
    if (*fmt == '@' || *fmt == '=' || *fmt == '<') ++fmt;
    return std::strcmp(fmt, "d") == 0;
}

}  // namespace

bool DoubleBuffer::acquire(PyObject *obj, bool writable) {
    release();
    if (obj == Py_None) return true;
    const int flags = (writable ? PyBUF_WRITABLE : 0) | PyBUF_FORMAT | PyBUF_C_CONTIGUOUS;
    if (PyObject_GetBuffer(obj, &view_, flags) < 0) return false;
    held_ = true;
    if (view_.ndim != 1) {
        PyErr_Format(PyExc_ValueError, "Buffer has wrong number of dimensions (expected 1, got %d)",
                     view_.ndim);
        release();
        return false;
    }
    if (view_.itemsize != sizeof(double) || !is_double_format(view_.format)) {
        PyErr_Format(PyExc_ValueError, "Buffer dtype mismatch, expected 'double' but got '%s'",
                     view_.format ? view_.format : "B");
        release();
        return false;
    }
    return true;
}

void DoubleBuffer::release() {
    if (held_) {
        PyBuffer_Release(&view_);
        held_ = false;
    }
}

}  // namespace pyorvex::capi
