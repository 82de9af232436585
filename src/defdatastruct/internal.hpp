// What the source units of pyorvex.defdatastruct share: the types and their method tables, the
// values the exec step sets once, helpers over the spline record, and the pieces each subsystem
// contributes to the types (collected by module.cpp).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#define PY_ARRAY_UNIQUE_SYMBOL pyorvex_dds_ARRAY_API
#ifndef PYORVEX_DDS_IMPORTS_NUMPY
#define NO_IMPORT_ARRAY
#endif
#include <numpy/arrayobject.h>

#include <pyorvex/defdatastruct.h>

#include <cstring>

#include "args.hpp"
#include "buffer.hpp"
#include "convert.hpp"
#include "kernel_abi.h"
#include "override.hpp"
#include "ref.hpp"

namespace pyorvex::dds {

using capi::fastcall;
using capi::Ref;
using Traj = pyorvex_Trajectory1d;
using Point = pyorvex_Point1d;
using BaseObject = pyorvex_PyORVEXObject;
using TrajVtab = pyorvex_Trajectory1d_vtab;
using PointVtab = pyorvex_Point1d_vtab;
using BaseVtab = pyorvex_PyORVEXObject_vtab;

// --- types and tables (each defined by the subsystem that owns the type) -----------------------
namespace persistence {
extern PyTypeObject base_type;  // PyORVEXObject
extern BaseVtab base_vtab;
}  // namespace persistence
namespace point {
extern PyTypeObject type;  // Point1d
extern PointVtab vtab;
}  // namespace point
namespace trajectory {
extern PyTypeObject type;  // Trajectory1d
extern TrajVtab vtab;
}  // namespace trajectory

inline TrajVtab *vt(Traj *self) { return static_cast<TrajVtab *>(self->base.vtab); }
inline PointVtab *vt(Point *self) { return static_cast<PointVtab *>(self->base.vtab); }
inline BaseVtab *vt(BaseObject *self) { return static_cast<BaseVtab *>(self->vtab); }

// A zeroed static type object, ready for its slots to be filled before PyType_Ready.
inline PyTypeObject blank_type() {
    PyTypeObject t;
    std::memset(static_cast<void *>(&t), 0, sizeof t);
    Py_SET_REFCNT(reinterpret_cast<PyObject *>(&t), 1);
    return t;
}

inline bool is_trajectory(PyObject *obj) { return PyObject_TypeCheck(obj, &trajectory::type); }
inline bool is_point(PyObject *obj) { return PyObject_TypeCheck(obj, &point::type); }

// --- the module's state: filled once by the exec step, never changed afterwards -----------------

// The array library's callables, with the keyword names and the constant of the calls to them.
struct NumpyCalls {
    PyObject *isscalar = nullptr;
    PyObject *array = nullptr;
    PyObject *ascontiguousarray = nullptr;
    PyObject *argsort = nullptr;
    PyObject *float64 = nullptr;
    PyObject *array_kwnames = nullptr;  // ("copy", "ndmin")
    PyObject *dtype_kwnames = nullptr;  // ("dtype",)
    PyObject *one = nullptr;
};

// The state holds a reference to every object it names (module_dict excepted) for the life of
// the process: the module can be initialised only once and is never unloaded, so they are never
// released. Callables that the operations would otherwise look up on every call are held here.
struct ModuleState {
    pyorvex_kernel_table kernel{};
    PyObject *module_dict = nullptr;        // borrowed from the module, which lives forever
    PyObject *package = nullptr;            // pyorvex (for __version__)
    PyObject *default_extension = nullptr;  // ".pyorvex"
    PyObject *corrupted_file_error = nullptr;
    PyObject *convergence_error = nullptr;
    double knotrem_tol = 1e-13;
    double knotsrem_tol = 1e-13;
    // Interned names of the attributes that every comparison or constraint reads.
    PyObject *eq_name = nullptr;     // "__eq__"
    PyObject *class_name = nullptr;  // "__class__"
    PyObject *t_name = nullptr;      // "t", "val" and "order": a point's fields
    PyObject *val_name = nullptr;
    PyObject *order_name = nullptr;
    struct {
        PyObject *Element = nullptr;
        PyObject *ElementTree = nullptr;
        PyObject *Comment = nullptr;
        PyObject *SubElement = nullptr;
        PyObject *XMLParser = nullptr;
        PyObject *fromstring = nullptr;
        PyObject *tostring = nullptr;
    } etree;  // of lxml.etree
    struct {
        PyObject *splitext = nullptr;
        PyObject *realpath = nullptr;
    } os_path;
    NumpyCalls numpy;
};
extern ModuleState module_state;

}  // namespace pyorvex::dds
