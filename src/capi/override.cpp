#include "override.hpp"

namespace pyorvex::capi {

int find_override(PyObject *self, const char *name, void *builtin, Ref *out) {
    if (!may_override(self)) return 0;
    Ref attr(PyObject_GetAttrString(self, name));
    if (!attr) return -1;
    if (PyCFunction_Check(attr.get()) &&
        reinterpret_cast<void *>(PyCFunction_GET_FUNCTION(attr.get())) == builtin)
        return 0;
    *out = std::move(attr);
    return 1;
}

PyObject *expect_instance_or_none(PyObject *result, PyTypeObject *type) {
    if (result == nullptr) return nullptr;
    if (result == Py_None || PyObject_TypeCheck(result, type)) return result;
    PyErr_Format(PyExc_TypeError, "Cannot convert %.200s to %.200s", Py_TYPE(result)->tp_name,
                 type->tp_name);
    Py_DECREF(result);
    return nullptr;
}

PyObject *double_memoryview(double *data, Py_ssize_t size) {
    static double empty = 0.0;
    Ref raw(PyMemoryView_FromMemory(reinterpret_cast<char *>(data ? data : &empty),
                                    data ? size * static_cast<Py_ssize_t>(sizeof(double)) : 0,
                                    PyBUF_WRITE));
    if (!raw) return nullptr;
    return PyObject_CallMethod(raw.get(), "cast", "s", "d");
}

}  // namespace pyorvex::capi
