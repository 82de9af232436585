// An owning handle for a new reference: the only place of this code base that releases one.
#pragma once

#include <Python.h>

#include <utility>

namespace pyorvex::capi {

class Ref {
public:
    Ref() = default;
    explicit Ref(PyObject *owned) noexcept : ptr_(owned) {}
    static Ref borrow(PyObject *borrowed) noexcept {
        Py_XINCREF(borrowed);
        return Ref(borrowed);
    }
    Ref(const Ref &) = delete;
    Ref &operator=(const Ref &) = delete;
    Ref(Ref &&other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    Ref &operator=(Ref &&other) noexcept {
        if (this != &other) reset(std::exchange(other.ptr_, nullptr));
        return *this;
    }
    ~Ref() { Py_XDECREF(ptr_); }

    PyObject *get() const noexcept { return ptr_; }
    explicit operator bool() const noexcept { return ptr_ != nullptr; }
    // Hands the reference over to the caller.
    PyObject *release() noexcept { return std::exchange(ptr_, nullptr); }
    void reset(PyObject *owned = nullptr) noexcept {
        PyObject *old = std::exchange(ptr_, owned);
        Py_XDECREF(old);
    }

private:
    PyObject *ptr_ = nullptr;
};

// A new reference to None, for functions that return it.
inline PyObject *none() {
    Py_INCREF(Py_None);
    return Py_None;
}

}  // namespace pyorvex::capi
