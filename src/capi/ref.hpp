// An owning handle for a new reference: the only place of this code base that releases one
// (tests/test_capi_references.py keeps raw releases out of the rest of src/).
//
// C++ exceptions: none may leave a function that the interpreter, or another extension through
// a table or capsule, calls. The code throws none of its own; the one that the standard library
// can throw is std::bad_alloc, from the few std::string/std::vector uses. Every such entry point
// whose path may allocate through them runs that path under no_throw(), which turns
// std::bad_alloc into MemoryError. Other entry points stay free of allocating standard
// containers (the Python allocator, which reports failure as MemoryError, serves them).
#pragma once

#include <Python.h>

#include <new>
#include <utility>

namespace pyorvex::capi {

class Ref {
public:
    Ref() = default;
    explicit Ref(PyObject *owned) noexcept : ptr_(owned) {}
    // Takes over the caller's reference (nullptr allowed): the caller must not release it.
    static Ref steal(PyObject *owned) noexcept { return Ref(owned); }
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

// Holds the pending exception (if any) from construction to destruction, where it is set again:
// for deallocators and cleanups that call into the interpreter and must not clobber it.
class SavedError {
public:
    SavedError() noexcept { PyErr_Fetch(&type_, &value_, &traceback_); }
    SavedError(const SavedError &) = delete;
    SavedError &operator=(const SavedError &) = delete;
    ~SavedError() { PyErr_Restore(type_, value_, traceback_); }

private:
    PyObject *type_ = nullptr, *value_ = nullptr, *traceback_ = nullptr;
};

// Runs body() and returns its result; a std::bad_alloc thrown by it becomes MemoryError and
// `failed` is returned (see the rule at the top).
template <class R, class Body>
R no_throw(R failed, Body &&body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc &) {
        PyErr_NoMemory();
        return failed;
    }
}

// A new reference to None, for functions that return it.
inline PyObject *none() {
    Py_INCREF(Py_None);
    return Py_None;
}

}  // namespace pyorvex::capi
