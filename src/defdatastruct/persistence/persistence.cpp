// The persistence subsystem's hub: what the element forms of points and trajectories share
// (argument checks, finding a saved element), the Python-visible methods of the three types and
// the filling of their C-level method tables. The operations live in base.cpp, document.cpp,
// pickle.cpp, point.cpp and trajectory.cpp.
#include "persistence.hpp"

namespace pyorvex::dds::persistence {

namespace {

const char *const loadxml_names[] = {"fname", "ID"};
const char *const add_names[] = {"root", "ID"};
const char *const update_names[] = {"tree", "node", "ID"};

}  // namespace

const capi::ArgSpec loadxml_spec{"loadxml", loadxml_names, 2, 2};
const capi::ArgSpec add_spec{"_addPyORVEXObject", add_names, 2, 2};
const capi::ArgSpec update_spec{"_updatePyORVEXObject", update_names, 3, 3};

PyObject *loadxml_method(PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
                         PyObject *(*loader)(PyObject *fname, PyObject *ID)) {
    PyObject *a[2];
    if (!capi::parse_args(loadxml_spec, args, nargs, kwnames, a)) return nullptr;
    if (!check_str(a[0], "fname") || !check_str(a[1], "ID")) return nullptr;
    return loader(a[0], a[1]);
}

PyObject *add_method(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
                     AddOp op) {
    PyObject *a[2];
    if (!capi::parse_args(add_spec, args, nargs, kwnames, a) || !check_str(a[1], "ID"))
        return nullptr;
    if (op(reinterpret_cast<BaseObject *>(self), a[0], a[1], 1) < 0) return nullptr;
    return capi::none();
}

PyObject *update_method(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
                        UpdateOp op) {
    PyObject *a[3];
    if (!capi::parse_args(update_spec, args, nargs, kwnames, a) || !check_str(a[2], "ID"))
        return nullptr;
    if (op(reinterpret_cast<BaseObject *>(self), a[0], a[1], a[2], 1) < 0) return nullptr;
    return capi::none();
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

PyMethodDef base_methods[] = {
    {"loadxml", fastcall(py_abstract_loadxml), METH_FASTCALL | METH_KEYWORDS | METH_STATIC,
     "Method to load a PyORVEXObject object from a file in .xml format.\n\nParameters\n"
     "----------\nfname: str\n    If the file extension is not specified, the .pyorvex "
     "extension is used.\nID: str\n    Object ID.\n"},
    {"_getAttrib", py_abstract_getattrib, METH_NOARGS,
     "Returns the attributes of the object as a dictionary."},
    {"_addPyORVEXObject", fastcall(py_abstract_add), METH_FASTCALL | METH_KEYWORDS,
     "Appends the element of the object to the root node."},
    {"_updatePyORVEXObject", fastcall(py_abstract_update), METH_FASTCALL | METH_KEYWORDS,
     "Updates the element of the object in place."},
    {"savexml", fastcall(py_savexml), METH_FASTCALL | METH_KEYWORDS, savexml_doc},
    {"__reduce__", py_base_reduce, METH_NOARGS, nullptr},
    {"__setstate__", py_base_setstate, METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyMethodDef point_methods[] = {
    {"loadxml", fastcall(py_point_loadxml), METH_FASTCALL | METH_KEYWORDS | METH_STATIC,
     "Method to load a Point1d object from a file in .xml format.\n\nParameters\n----------\n"
     "fname: str\n    If the file extension is not specified, the .pyorvex extension is used.\n"
     "ID: str\n    Object ID.\n\nReturns\n-------\nout: Point1d\n    A new point with the t, val "
     "and order of the first element Point1d saved under ID.\n"},
    {"_addPyORVEXObject", fastcall(py_point_add), METH_FASTCALL | METH_KEYWORDS,
     "Appends the element of the point to the root node.\n\nParameters\n----------\nroot: "
     "lxml.etree._Element\n    Root node of the document.\nID: str\n    Object ID.\n"},
    {"_updatePyORVEXObject", fastcall(py_point_update), METH_FASTCALL | METH_KEYWORDS,
     "Rewrites the attributes of the point's element.\n\nParameters\n----------\ntree: "
     "lxml.etree._ElementTree\n    The parsed document.\nnode: lxml.etree._Element\n    The "
     "element of the point.\nID: str\n    Object ID.\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyMethodDef trajectory_methods[] = {
    {"loadxml", fastcall(py_trajectory_loadxml), METH_FASTCALL | METH_KEYWORDS | METH_STATIC,
     "Method to load a Trajectory1d object from a file in .xml format.\n\nParameters\n"
     "----------\nfname: str\n    If the file extension is not specified, the .pyorvex "
     "extension is used.\nID: str\n    Object ID.\n\nReturns\n-------\nout: Trajectory1d\n    A "
     "new trajectory read from the first element Trajectory1d saved under ID.\n\nNotes\n-----\n"
     "The knots and the control points read back bit for bit as they were saved. An element whose\n"
     "'knots' or 'cpts' hold another number of values than p and n call for, or whose knots are\n"
     "not finite or decrease, is refused with ValueError.\n"},
    {"_addPyORVEXObject", fastcall(py_trajectory_add), METH_FASTCALL | METH_KEYWORDS,
     "Appends the element of the trajectory to the root node.\n\nParameters\n----------\nroot: "
     "lxml.etree._Element\n    Root node of the document.\nID: str\n    Object ID.\n"},
    {"_updatePyORVEXObject", fastcall(py_trajectory_update), METH_FASTCALL | METH_KEYWORDS,
     "Rewrites the element of the trajectory in place.\n\nParameters\n----------\ntree: "
     "lxml.etree._ElementTree\n    The parsed document.\nnode: lxml.etree._Element\n    The "
     "element of the trajectory.\nID: str\n    Object ID.\n"},
    {nullptr, nullptr, 0, nullptr},
};

void install(BaseVtab *base, PointVtab *point, TrajVtab *traj) {
    base->savexml = savexml_op;
    // A derived table starts as a copy of the base's five entries; its own operations replace
    // the first four, and savexml stays the base's.
    point->base = *base;
    traj->base = *base;
    // The table's first entry and the point's own c_loadxml are one function: both return the
    // new Point1d as a plain object.
    point->base.c_loadxml = point_c_loadxml;
    point->c_loadxml = point_c_loadxml;
    point->base._addPyORVEXObject = point_add_op;
    point->base._updatePyORVEXObject = point_update_op;
    traj->base.c_loadxml = trajectory_c_loadxml;
    traj->c_loadxml = trajectory_c_loadxml;
    traj->base._addPyORVEXObject = trajectory_add_op;
    traj->base._updatePyORVEXObject = trajectory_update_op;
}

}  // namespace pyorvex::dds::persistence
