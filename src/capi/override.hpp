// Dispatch of C-level operations to Python overrides.
//
// A C-level operation called with overrides allowed first asks whether the object's class is a
// Python subclass (or the object has an instance dict) whose attribute of the operation's name is
// something other than the type's own built-in method; if so, that attribute is what runs.
#pragma once

#include <Python.h>

#include <cstddef>

#include "ref.hpp"

namespace pyorvex::capi {

// Cheap test that rules out overrides for instances of the extension types themselves.
inline bool may_override(PyObject *self) {
    PyTypeObject *tp = Py_TYPE(self);
    return tp->tp_dictoffset != 0 || (tp->tp_flags & Py_TPFLAGS_HEAPTYPE) != 0;
}

// Returns 1 and stores the override in *out when there is one, 0 when the built-in method
// `builtin` (the C function behind the type's method `name`) is what the attribute resolves to,
// and -1 with an exception set when the lookup fails.
int find_override(PyObject *self, const char *name, void *builtin, Ref *out);

// How an operation's own attribute is recognised when it is no built-in method (a callable
// object of the module's own): matches(attr, data).
struct Builtin {
    bool (*matches)(PyObject *attr, const void *data);
    const void *data;
};
int find_override(PyObject *self, const char *name, Builtin builtin, Ref *out);

// find_override for a C-level operation: never an override when skip_dispatch is set.
template <class S>
int lookup(S *self, int skip_dispatch, const char *name, Builtin builtin, Ref *method) {
    if (skip_dispatch) return 0;
    return find_override(reinterpret_cast<PyObject *>(self), name, builtin, method);
}
template <class S, class F>
int lookup(S *self, int skip_dispatch, const char *name, F *builtin, Ref *method) {
    if (skip_dispatch) return 0;
    return find_override(reinterpret_cast<PyObject *>(self), name,
                         reinterpret_cast<void *>(builtin), method);
}

namespace detail {
inline PyObject *to_python(double x) { return PyFloat_FromDouble(x); }
inline PyObject *to_python(int x) { return PyLong_FromLong(x); }
inline PyObject *to_python(unsigned int x) { return PyLong_FromUnsignedLong(x); }
inline PyObject *to_python(bool x) { return PyBool_FromLong(x); }
inline PyObject *to_python(PyObject *x) {
    Py_INCREF(x);
    return x;
}
}  // namespace detail

// method(*args) with the C arguments as Python objects (double -> float, int and unsigned ->
// int, bool -> bool, PyObject * as it is), made in order after the lookup; a new reference.
template <class... A>
PyObject *call_with(PyObject *method, A... args) {
    constexpr std::size_t count = sizeof...(A);
    Ref held[count + 1];
    PyObject *raw[count + 1] = {};
    std::size_t i = 0;
    const bool made = ((held[i] = Ref(detail::to_python(args)), raw[i] = held[i].get(),
                        static_cast<bool>(held[i++])) &&
                       ...);
    (void)i;
    if (!made) return nullptr;
    return PyObject_Vectorcall(method, raw, count, nullptr);
}

// The override dispatch of a C-level operation: looks the override of `name` up (none when
// skip_dispatch) and, when there is one, calls it with args. 1: the override ran, its result in
// *result; 0: no override, the built-in operation is to run; -1: the lookup or the call failed.
template <class S, class B, class... A>
int dispatch(S *self, int skip_dispatch, const char *name, B builtin, Ref *result, A... args) {
    Ref method;
    const int found = lookup(self, skip_dispatch, name, builtin, &method);
    if (found <= 0) return found;
    *result = Ref(call_with(method.get(), args...));
    return *result ? 1 : -1;
}

// dispatch for an operation that returns a status and drops its override's result: 1 when the
// override ran, 0 when the built-in operation is to run, -1 when the lookup or the call failed.
template <class S, class B, class... A>
int dispatch_status(S *self, int skip_dispatch, const char *name, B builtin, A... args) {
    Ref ignored;
    return dispatch(self, skip_dispatch, name, builtin, &ignored, args...);
}

// An override's result through the interpreter's float conversion: -1.0 with an exception set
// when it has none.
double double_result(PyObject *result);

// An override's result that must be exactly `type` (dict, bytes) or None, else TypeError
// "Expected <expected>, got X". Steals `result`; returns it or nullptr.
PyObject *expect_exact_or_none(PyObject *result, PyTypeObject *type, const char *expected);

// Converts an override's result to a trajectory-like object: `type` or None, else TypeError
// "Cannot convert X to Y". Steals `result`; returns it or nullptr.
PyObject *expect_instance_or_none(PyObject *result, PyTypeObject *type);

// An array of doubles as it is handed to a Python override: a memoryview of doubles over a
// private copy that the view keeps alive, so that an override that keeps the view (or its
// object) can never reach the caller's memory once the call is over. After the call,
// copy_back() brings what the override wrote into the caller's array.
class DoubleArgument {
public:
    // A view of a copy of data[0..size), or None for no data; false with an exception set.
    bool make(const double *data, Py_ssize_t size);
    PyObject *view() const { return view_.get(); }
    // Copies the current contents back (as much as is there and fits).
    void copy_back(double *data, Py_ssize_t size) const;

private:
    Ref bytes_, view_;
};

}  // namespace pyorvex::capi
