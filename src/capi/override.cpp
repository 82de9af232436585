#include "override.hpp"

#include <cstring>

#include "args.hpp"
#include "convert.hpp"

namespace pyorvex::capi {

namespace {

bool is_method(PyObject *attr, const void *builtin) {
    return PyCFunction_Check(attr) &&
           reinterpret_cast<const void *>(PyCFunction_GET_FUNCTION(attr)) == builtin;
}

}  // namespace

int find_override(PyObject *self, const char *name, void *builtin, Ref *out) {
    return find_override(self, name, Builtin{is_method, builtin}, out);
}

int find_override(PyObject *self, const char *name, Builtin builtin, Ref *out) {
    if (!may_override(self)) return 0;
    Ref attr(PyObject_GetAttrString(self, name));
    if (!attr) return -1;
    if (builtin.matches(attr.get(), builtin.data)) return 0;
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

double double_result(PyObject *result) {
    double value;
    if (!to_double(result, &value)) return -1.0;
    return value;
}

PyObject *expect_exact_or_none(PyObject *result, PyTypeObject *type, const char *expected) {
    if (result == nullptr || result == Py_None || Py_IS_TYPE(result, type)) return result;
    raise_expected(expected, result);
    Py_DECREF(result);
    return nullptr;
}

bool DoubleArgument::make(const double *data, Py_ssize_t size) {
    if (data == nullptr) {
        view_ = Ref(none());
        return true;
    }
    if (size < 0) size = 0;
    if (size > PY_SSIZE_T_MAX / static_cast<Py_ssize_t>(sizeof(double))) {
        PyErr_NoMemory();
        return false;
    }
    // A bytearray owns the copy; the cast view holds the bytearray through its buffer.
    bytes_ = Ref(PyByteArray_FromStringAndSize(reinterpret_cast<const char *>(data),
                                               size * static_cast<Py_ssize_t>(sizeof(double))));
    if (!bytes_) return false;
    Ref raw(PyMemoryView_FromObject(bytes_.get()));
    if (!raw) return false;
    view_ = Ref(PyObject_CallMethod(raw.get(), "cast", "s", "d"));
    return static_cast<bool>(view_);
}

void DoubleArgument::copy_back(double *data, Py_ssize_t size) const {
    if (data == nullptr || !bytes_) return;
    // The override can reach the bytearray (view.obj) and, once the view is released, resize it.
    const Py_ssize_t have =
        PyByteArray_GET_SIZE(bytes_.get()) / static_cast<Py_ssize_t>(sizeof(double));
    const Py_ssize_t count = have < size ? have : size;
    if (count > 0)
        std::memcpy(data, PyByteArray_AS_STRING(bytes_.get()),
                    static_cast<size_t>(count) * sizeof(double));
}

}  // namespace pyorvex::capi
