// Pickling of PyORVEXObject and of Python subclasses of it: the base has no fields, so its
// pickle is the type, the checksum of its (empty) field list and the instance dict, if any.
#include "persistence.hpp"

namespace pyorvex::dds::persistence {

namespace {

// Stands for the base's list of pickled fields; a pickle made by a build with other fields
// carries another value and is refused.
constexpr long kChecksum = 222419149;  // 0xd41d8cd

PyObject *unpickle_function() {
    PyObject *fn = PyDict_GetItemString(module_state.module_dict, "__pyx_unpickle_PyORVEXObject");
    if (fn == nullptr) {
        PyErr_SetString(PyExc_NameError, "name '__pyx_unpickle_PyORVEXObject' is not defined");
        return nullptr;
    }
    Py_INCREF(fn);
    return fn;
}

}  // namespace

PyObject *py_base_reduce(PyObject *self, PyObject *) {
    Ref dict(PyObject_GetAttrString(self, "__dict__"));
    if (!dict) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return nullptr;
        PyErr_Clear();
    }
    Ref fn(unpickle_function());
    if (!fn) return nullptr;
    PyObject *type = reinterpret_cast<PyObject *>(Py_TYPE(self));
    if (dict && dict.get() != Py_None)
        return Py_BuildValue("(O(OlO)(O))", fn.get(), type, kChecksum, Py_None, dict.get());
    return Py_BuildValue("(O(Ol()))", fn.get(), type, kChecksum);
}

namespace {

// Shared by __setstate__ and the unpickle function: the state's first item, when there is one,
// goes into the instance dict, when there is one.
int set_state(PyObject *obj, PyObject *state) {
    if (state == Py_None) {
        PyErr_SetString(PyExc_TypeError, "object of type 'NoneType' has no len()");
        return -1;
    }
    if (PyTuple_GET_SIZE(state) == 0) return 0;
    const int has_dict = PyObject_HasAttrString(obj, "__dict__");
    if (!has_dict) return 0;
    Ref dict(PyObject_GetAttrString(obj, "__dict__"));
    if (!dict) return -1;
    Ref done(PyObject_CallMethod(dict.get(), "update", "O", PyTuple_GET_ITEM(state, 0)));
    return done ? 0 : -1;
}

bool check_state(PyObject *state) {
    if (state == Py_None || PyTuple_CheckExact(state)) return true;
    capi::raise_expected("tuple", state);
    return false;
}

}  // namespace

PyObject *py_base_setstate(PyObject *self, PyObject *state) {
    if (!check_state(state) || set_state(self, state) < 0) return nullptr;
    return capi::none();
}

namespace {

// The checksum as a C long: an int as it is, another number through its __int__ or __index__.
bool checksum_value(PyObject *obj, long *out) {
    Ref value;
    if (PyLong_Check(obj)) {
        value = Ref::borrow(obj);
    } else {
        PyNumberMethods *nb = Py_TYPE(obj)->tp_as_number;
        if (nb == nullptr || (nb->nb_int == nullptr && nb->nb_index == nullptr)) {
            PyErr_SetString(PyExc_TypeError, "an integer is required");
            return false;
        }
        value = Ref(nb->nb_int ? nb->nb_int(obj) : nb->nb_index(obj));
        if (!value) return false;
        if (!PyLong_Check(value.get())) {
            PyErr_Format(PyExc_TypeError, "__int__ returned non-int (type %.200s)",
                         Py_TYPE(value.get())->tp_name);
            return false;
        }
    }
    *out = PyLong_AsLong(value.get());
    return !(*out == -1 && PyErr_Occurred());
}

PyObject *raise_checksum_mismatch(long checksum) {
    Ref pickle(PyImport_ImportModule("pickle"));
    if (!pickle) return nullptr;
    Ref error(PyObject_GetAttrString(pickle.get(), "PickleError"));
    if (!error) return nullptr;
    Ref message(PyUnicode_FromFormat("Incompatible checksums (%ld vs 0xd41d8cd = ())", checksum));
    if (message) PyErr_SetObject(error.get(), message.get());
    return nullptr;
}

const char *const unpickle_names[] = {"__pyx_type", "__pyx_checksum", "__pyx_state"};
const capi::ArgSpec unpickle_spec{"__pyx_unpickle_PyORVEXObject", unpickle_names, 3, 3};

PyObject *py_unpickle(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    PyObject *a[3];
    if (!capi::parse_args(unpickle_spec, args, nargs, kw, a)) return nullptr;
    long checksum;
    if (!checksum_value(a[1], &checksum)) return nullptr;
    if (checksum != kChecksum) return raise_checksum_mismatch(checksum);
    // PyORVEXObject.__new__(type): refuses what is not PyORVEXObject or a subtype of it.
    Ref result(PyObject_CallMethod(reinterpret_cast<PyObject *>(&base_type), "__new__", "O", a[0]));
    if (!result) return nullptr;
    PyObject *state = a[2];
    if (state != Py_None) {
        if (!check_state(state) || set_state(result.get(), state) < 0) return nullptr;
    }
    return result.release();
}

PyMethodDef unpickle_def = {
    "__pyx_unpickle_PyORVEXObject",
    fastcall(py_unpickle),
    METH_FASTCALL | METH_KEYWORDS,
    "Rebuilds a pickled PyORVEXObject (or an object of a Python subclass of it).",
};

}  // namespace

PyObject *make_unpickle_function(PyObject *module) {
    Ref name(PyObject_GetAttrString(module, "__name__"));
    if (!name) return nullptr;
    return PyCFunction_NewEx(&unpickle_def, module, name.get());
}

}  // namespace pyorvex::dds::persistence
