// Dispatch of C-level operations to Python overrides.
//
// A C-level operation called with overrides allowed first asks whether the object's class is a
// Python subclass (or the object has an instance dict) whose attribute of the operation's name is
// something other than the type's own built-in method; if so, that attribute is what runs.
#pragma once

#include <Python.h>

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
