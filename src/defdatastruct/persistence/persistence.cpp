// The persistence subsystem's hub: what the element forms of points and trajectories share
// (override dispatch of the element operations, argument checks, finding a saved element) and
// the filling of the method tables.
#include "persistence.hpp"

namespace pyorvex::dds::persistence {

namespace {

const char *const loadxml_names[] = {"fname", "ID"};
const capi::ArgSpec loadxml_spec{"loadxml", loadxml_names, 2, 2};
const char *const add_names[] = {"root", "ID"};
const capi::ArgSpec add_spec{"_addPyORVEXObject", add_names, 2, 2};
const char *const update_names[] = {"tree", "node", "ID"};
const capi::ArgSpec update_spec{"_updatePyORVEXObject", update_names, 3, 3};

}  // namespace

PyObject *loadxml_method(PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
                         PyObject *(*loader)(PyObject *fname, PyObject *ID)) {
    PyObject *a[2];
    if (!capi::parse_args(loadxml_spec, args, nargs, kwnames, a)) return nullptr;
    if (!check_str(a[0], "fname") || !check_str(a[1], "ID")) return nullptr;
    return loader(a[0], a[1]);
}

bool parse_add_args(PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames, PyObject **a) {
    return capi::parse_args(add_spec, args, nargs, kwnames, a) && check_str(a[1], "ID");
}

bool parse_update_args(PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames, PyObject **a) {
    return capi::parse_args(update_spec, args, nargs, kwnames, a) && check_str(a[2], "ID");
}

PyObject *load_element(PyObject *fname, PyObject *ID, const char *tag) {
    Ref name(document_name(fname));
    if (!name) return nullptr;
    Ref tree(load_document(name.get()));
    if (!tree) return nullptr;
    Ref text(id_text(ID));
    if (!text) return nullptr;
    Ref tag_text(PyUnicode_FromString(tag));
    if (!tag_text) return nullptr;
    Ref found(find_elements(tree.get(), tag_text.get(), text.get(), nullptr));
    if (!found) return nullptr;
    const Py_ssize_t count = PyObject_Length(found.get());
    if (count < 0) return nullptr;
    if (count == 0) {
        Ref message(PyUnicode_FromFormat("no match for ID: %U", text.get()));
        if (message) PyErr_SetObject(PyExc_ValueError, message.get());
        return nullptr;
    }
    // Several matches are not an error for a loader: the first one is the object.
    return PySequence_GetItem(found.get(), 0);
}

void install_elements(PointVtab *point, TrajVtab *traj) {
    install_point_element(point);
    install_trajectory_element(traj);
}

}  // namespace pyorvex::dds::persistence
