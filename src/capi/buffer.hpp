// Double arrays: one-dimensional, C-contiguous buffers of 64-bit floats (writable unless asked
// otherwise), held for the duration of a call. None stands for an empty array.
#pragma once

#include <Python.h>
#include <pyorvex/defdatastruct.h>

namespace pyorvex::capi {

class DoubleBuffer {
public:
    DoubleBuffer() = default;
    DoubleBuffer(const DoubleBuffer &) = delete;
    DoubleBuffer &operator=(const DoubleBuffer &) = delete;
    ~DoubleBuffer() { release(); }

    // Takes the buffer of obj; ValueError or TypeError (the buffer protocol's) when obj is not a
    // 1-D C-contiguous double buffer, or not a writable one when writable is asked.
    bool acquire(PyObject *obj, bool writable = true);
    void release();

    double *data() const { return held_ ? static_cast<double *>(view_.buf) : nullptr; }
    Py_ssize_t size() const { return held_ ? view_.shape[0] : 0; }
    pyorvex_dview view() const { return {data(), size()}; }

private:
    Py_buffer view_{};
    bool held_ = false;
};

}  // namespace pyorvex::capi
