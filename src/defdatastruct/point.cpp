// Placeholder until Point1d lands: the type exists so that the module's layout is complete.
#include "internal.hpp"

namespace pyorvex::dds {

c_point1d make_point(double t, double val, unsigned int order) { return c_point1d{t, val, order}; }

namespace {

PyObject *point_new(PyTypeObject *type, PyObject *, PyObject *) {
    PyObject *obj = type->tp_alloc(type, 0);
    if (obj == nullptr) return nullptr;
    reinterpret_cast<Point *>(obj)->base.vtab = &point_vtab;
    return obj;
}

}  // namespace

PyMethodDef point_methods[] = {{nullptr, nullptr, 0, nullptr}};

PointVtab point_vtab{};

void install_point(PointVtab *) {}

PyTypeObject point_type = [] {
    PyTypeObject t = blank_type();
    t.tp_name = "pyorvex.defdatastruct.Point1d";
    t.tp_basicsize = sizeof(Point);
    t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE;
    t.tp_doc = "Simple class for storing a point in joint space.";
    t.tp_base = &base_type;
    t.tp_new = point_new;
    return t;
}();

}  // namespace pyorvex::dds
