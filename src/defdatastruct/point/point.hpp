// What the point units share with each other and with the units that make points (the value
// constraints, the XML loader).
#pragma once

#include "trajectory/trajectory.hpp"

namespace pyorvex::dds::point {

// A new Point1d (exactly that type, never a subclass) with t = 0.0, val = 0.0, order = 0,
// made without running __init__.
Point *alloc_point();

// Point1d.from_tuple: pnt must be exactly a tuple (or None, which fails as not subscriptable);
// its first three items become t, val and order.
PyObject *from_tuple(PyObject *pnt);

// compare.cpp: equality, text forms, the attribute dictionary, the pickling refusal.
PyObject *point_richcompare(PyObject *a, PyObject *b, int op);
PyObject *point_str(PyObject *self);
PyObject *point_repr(PyObject *self);
PyObject *point_getattrib_op(BaseObject *self, int skip_dispatch);
PyObject *point_py_getattrib(PyObject *self, PyObject *);
PyObject *point_refuse_pickle(PyObject *self, PyObject *);

// --- the subsystem's pieces of Point1d (point.cpp) ---------------------------------------------
extern PyMethodDef methods[];
void install(PointVtab *vt);  // copy, _getAttrib
// The C factory exported in the module's C API.
c_point1d make_point(double t, double val, unsigned int order);

}  // namespace pyorvex::dds::point
