// Scratch memory of doubles for one call into the kernel, which never allocates: from the
// Python allocator, released when the call's frame ends.
#pragma once

#include <Python.h>

#include <cstddef>
#include <span>

namespace pyorvex::capi {

class Scratch {
public:
    Scratch() = default;
    Scratch(const Scratch &) = delete;
    Scratch &operator=(const Scratch &) = delete;
    ~Scratch() { PyMem_Free(data_); }

    // `count` doubles (at least one byte is asked for, so that zero succeeds too); MemoryError
    // when they cannot be had or their size overflows.
    bool allocate(std::size_t count) {
        if (count > static_cast<std::size_t>(PY_SSIZE_T_MAX) / sizeof(double)) {
            PyErr_NoMemory();
            return false;
        }
        PyMem_Free(data_);
        data_ = static_cast<double *>(PyMem_Malloc(count ? count * sizeof(double) : 1));
        size_ = data_ != nullptr ? count : 0;
        if (data_ == nullptr) PyErr_NoMemory();
        return data_ != nullptr;
    }
    double *data() const { return data_; }
    std::span<double> span() const { return {data_, size_}; }

private:
    double *data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace pyorvex::capi
