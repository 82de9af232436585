// PyORVEXObject: the abstract base of the persistable types. Its persistence operations check
// their arguments and refuse to run; the derived types supply them.
#include "persistence.hpp"

namespace pyorvex::dds::persistence {

namespace {

PyObject *abstract_method() {
    PyErr_SetString(PyExc_NotImplementedError, "abstract method");
    return nullptr;
}

}  // namespace

PyObject *py_abstract_loadxml(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    PyObject *a[2];
    if (!capi::parse_args(loadxml_spec, args, nargs, kw, a)) return nullptr;
    if (!check_str(a[0], "fname") || !check_str(a[1], "ID")) return nullptr;
    return abstract_method();
}

PyObject *py_abstract_getattrib(PyObject *, PyObject *) { return abstract_method(); }

PyObject *py_abstract_add(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    PyObject *a[2];
    if (!capi::parse_args(add_spec, args, nargs, kw, a)) return nullptr;
    if (!check_str(a[1], "ID")) return nullptr;
    return abstract_method();
}

PyObject *py_abstract_update(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    PyObject *a[3];
    if (!capi::parse_args(update_spec, args, nargs, kw, a)) return nullptr;
    if (!check_str(a[2], "ID")) return nullptr;
    return abstract_method();
}

namespace {

// --- C-level table of the base ----------------------------------------------------------------

PyObject *c_loadxml(PyObject *, PyObject *) { return capi::none(); }

// Overridable abstract operations: a Python subclass may supply them; without one (or with
// overrides skipped) the operation is abstract.
PyObject *getattrib_op(BaseObject *self, int skip_dispatch) {
    Ref result;
    const int found =
        capi::dispatch(self, skip_dispatch, "_getAttrib", py_abstract_getattrib, &result);
    if (found < 0) return nullptr;
    if (found == 0) return abstract_method();
    return capi::expect_exact_or_none(result.release(), &PyDict_Type, "dict");
}

int add_op(BaseObject *self, PyObject *root, PyObject *ID, int skip_dispatch) {
    Ref result;
    const int found = capi::dispatch(self, skip_dispatch, "_addPyORVEXObject", py_abstract_add,
                                     &result, root, ID);
    if (found == 0) abstract_method();
    return found > 0 ? 0 : -1;
}

int update_op(BaseObject *self, PyObject *tree, PyObject *node, PyObject *ID, int skip_dispatch) {
    Ref result;
    const int found = capi::dispatch(self, skip_dispatch, "_updatePyORVEXObject",
                                     py_abstract_update, &result, tree, node, ID);
    if (found == 0) abstract_method();
    return found > 0 ? 0 : -1;
}

PyObject *base_new(PyTypeObject *type, PyObject *, PyObject *) {
    PyObject *obj = type->tp_alloc(type, 0);
    if (obj == nullptr) return nullptr;
    reinterpret_cast<BaseObject *>(obj)->vtab = &base_vtab;
    return obj;
}

const char base_doc[] =
    "Abstract base of the persistable objects of pyorvex.\n"
    "\n"
    "Notes\n"
    "-----\n"
    "Objects named by an ID are saved to and loaded from a shared XML document\n"
    "(default extension .pyorvex) through savexml and loadxml.\n";

}  // namespace

BaseVtab base_vtab = [] {
    BaseVtab v{};
    v.c_loadxml = c_loadxml;
    v._getAttrib = getattrib_op;
    v._addPyORVEXObject = add_op;
    v._updatePyORVEXObject = update_op;
    return v;
}();

PyTypeObject base_type = [] {
    PyTypeObject t = blank_type();
    t.tp_name = "pyorvex.defdatastruct.PyORVEXObject";
    t.tp_basicsize = sizeof(BaseObject);
    t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE;
    t.tp_doc = base_doc;
    t.tp_new = base_new;
    return t;
}();

}  // namespace pyorvex::dds::persistence
