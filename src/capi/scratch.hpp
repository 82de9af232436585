// Scratch memory for one call into the kernel, which never allocates: `count` values of a
// trivial type from the Python allocator, released when the call's frame ends (or handed over
// with release()). The one holder of this rule for every module.
#pragma once

#include <Python.h>

#include <cstddef>
#include <span>

namespace pyorvex::capi {

template <class T = double>
class Scratch {
public:
    Scratch() = default;
    Scratch(const Scratch &) = delete;
    Scratch &operator=(const Scratch &) = delete;
    ~Scratch() { PyMem_Free(data_); }

    // Room for `count` values (zero asks for the least the allocator gives, so that it succeeds
    // too); MemoryError "memory allocation failed" when count is negative, its size overflows or
    // the memory cannot be had. What was held before is released.
    bool allocate(Py_ssize_t count) {
        PyMem_Free(data_);
        data_ = nullptr;
        size_ = 0;
        if (count >= 0 && count <= PY_SSIZE_T_MAX / static_cast<Py_ssize_t>(sizeof(T)))
            data_ = static_cast<T *>(
                PyMem_Malloc(count > 0 ? static_cast<std::size_t>(count) * sizeof(T) : 1));
        if (data_ == nullptr) {
            PyErr_SetString(PyExc_MemoryError, "memory allocation failed");
            return false;
        }
        size_ = count;
        return true;
    }
    T *data() const { return data_; }
    Py_ssize_t size() const { return size_; }
    std::span<T> span() const { return {data_, static_cast<std::size_t>(size_)}; }
    // The memory, now the caller's to free (PyMem_Free).
    T *release() {
        T *d = data_;
        data_ = nullptr;
        size_ = 0;
        return d;
    }

private:
    T *data_ = nullptr;
    Py_ssize_t size_ = 0;
};

}  // namespace pyorvex::capi
