// The XML element of Point1d: the point lives entirely in the attributes t, val and order.
//
// Only the Python-level attribute protocol of the point is used (its _getAttrib through the
// method table, the property setters on load), so the element form does not depend on how the
// point record is laid out.
#include "persistence.hpp"

namespace pyorvex::dds::persistence {

int point_add_op(BaseObject *self, PyObject *root, PyObject *ID, int skip_dispatch) {
    if (const int ran =
            capi::dispatch_status(self, skip_dispatch, "_addPyORVEXObject", py_point_add, root, ID))
        return ran < 0 ? -1 : 0;
    Ref text(id_text(ID));
    if (!text) return -1;
    Ref attrib(element_attributes(self, text.get()));
    if (!attrib) return -1;
    Ref tag(type_name(reinterpret_cast<PyObject *>(self)));
    if (!tag) return -1;
    Ref element(sub_element(root, tag.get(), attrib.get()));
    return element ? 0 : -1;
}

// tree and ID are not needed: a point's element is all attributes.
int point_update_op(BaseObject *self, PyObject *tree, PyObject *node, PyObject *ID,
                    int skip_dispatch) {
    if (const int ran = capi::dispatch_status(self, skip_dispatch, "_updatePyORVEXObject",
                                              py_point_update, tree, node, ID))
        return ran < 0 ? -1 : 0;
    return update_attributes(self, node);
}

namespace {

// Sets the new point's attribute from the element's attribute of that name, converted as
// float() or int() would.
int copy_attribute(PyObject *point, PyObject *element, const char *name,
                   PyObject *(*convert)(PyObject *)) {
    Ref text(PyObject_CallMethod(element, "get", "s", name));
    if (!text) return -1;
    Ref value(convert(text.get()));
    if (!value) return -1;
    return PyObject_SetAttrString(point, name, value.get());
}

}  // namespace

PyObject *point_c_loadxml(PyObject *fname, PyObject *ID) {
    // A bare Point1d (t = 0.0, val = 0.0, order = 0), without running __init__.
    Ref no_args(PyTuple_New(0));
    if (!no_args) return nullptr;
    Ref point(point::type.tp_new(&point::type, no_args.get(), nullptr));
    if (!point) return nullptr;
    Ref element(load_element(fname, ID, "Point1d"));
    if (!element) return nullptr;
    if (copy_attribute(point.get(), element.get(), "t", PyNumber_Float) < 0 ||
        copy_attribute(point.get(), element.get(), "val", PyNumber_Float) < 0 ||
        copy_attribute(point.get(), element.get(), "order", PyNumber_Long) < 0)
        return nullptr;
    return point.release();
}

PyObject *py_point_loadxml(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    return loadxml_method(args, nargs, kw, point_c_loadxml);
}

PyObject *py_point_add(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    return add_method(self, args, nargs, kw, point_add_op);
}

PyObject *py_point_update(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    return update_method(self, args, nargs, kw, point_update_op);
}

}  // namespace pyorvex::dds::persistence
