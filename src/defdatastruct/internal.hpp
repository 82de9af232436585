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

using capi::Ref;
using Traj = pyorvex_Trajectory1d;
using Point = pyorvex_Point1d;
using BaseObject = pyorvex_PyORVEXObject;
using TrajVtab = pyorvex_Trajectory1d_vtab;
using PointVtab = pyorvex_Point1d_vtab;
using BaseVtab = pyorvex_PyORVEXObject_vtab;

// --- types and tables ---------------------------------------------------------------------------
extern PyTypeObject base_type;        // persistence_base.cpp
extern PyTypeObject point_type;       // point.cpp
extern PyTypeObject trajectory_type;  // trajectory_record.cpp
extern BaseVtab base_vtab;
extern PointVtab point_vtab;
extern TrajVtab trajectory_vtab;

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

inline bool is_trajectory(PyObject *obj) { return PyObject_TypeCheck(obj, &trajectory_type); }
inline bool is_point(PyObject *obj) { return PyObject_TypeCheck(obj, &point_type); }

// --- values set once by the exec step (never changed afterwards) --------------------------------
struct Globals {
    pyorvex_kernel_table kernel{};
    PyObject *module_dict = nullptr;        // borrowed from the module, which lives forever
    PyObject *os = nullptr;                 // os
    PyObject *etree = nullptr;              // lxml.etree
    PyObject *package = nullptr;            // pyorvex (for __version__)
    PyObject *default_extension = nullptr;  // ".pyorvex"
    PyObject *corrupted_file_error = nullptr;
    PyObject *convergence_error = nullptr;
    double knotrem_tol = 1e-13;
    double knotsrem_tol = 1e-13;
};
extern Globals g;

// --- the spline record (trajectory_record.cpp) ---------------------------------------------------
inline Py_ssize_t knot_count(const Traj *t) {
    return static_cast<Py_ssize_t>(t->n) + static_cast<Py_ssize_t>(t->p) + 2;
}
inline Py_ssize_t cpts_count(const Traj *t) { return static_cast<Py_ssize_t>(t->n) + 1; }

// The record's arrays as views for a call. ValueError when an array is absent.
bool knot_view(Traj *t, pyorvex_dview *out);
bool cpts_view(Traj *t, pyorvex_dview *out);
// Both views, for what only reads the data (comparison, element forms): any degree.
bool record_data_views(Traj *t, pyorvex_dview *knots, pyorvex_dview *cpts);
// Both views for a kernel call: also ValueError when the degree is above what the kernel
// supports.
bool record_views(Traj *t, pyorvex_dview *knots, pyorvex_dview *cpts);
// ValueError "degree %lld exceeds the maximum supported degree %d" for a degree (of a record or
// of a result) above the kernel's limit; computed wide so that p + nu cannot overflow.
bool supported_degree(long long degree);

// PyMem_Malloc of count doubles; MemoryError "memory allocation failed" on failure or when count
// is not positive or overflows.
double *alloc_doubles(Py_ssize_t count);
// The two buffers of a record (nk knots, nc control points) from alloc_doubles: both or, with
// MemoryError, neither.
bool alloc_record_buffers(Py_ssize_t nk, Py_ssize_t nc, double **knots, double **cpts);
// Shrinks (or grows) a buffer from alloc_doubles; MemoryError on failure (buf stays valid).
bool resize_doubles(double **buf, Py_ssize_t count);
PyObject *raise_memory_error();

// from_ptrs with owner true for two buffers from alloc_doubles; on failure frees both.
PyObject *wrap_owned(double *knots, double *cpts, int p, int n, unsigned int order);
// The record's own buffers, freed by the record whatever its visible owner flag says.
void adopt_module_buffers(Traj *t, double *knots, double *cpts);
void release_arrays(Traj *t);

// The start and stop properties, as Python objects (None without a knot vector).
PyObject *traj_start(Traj *t);
PyObject *traj_stop(Traj *t);
// The same as doubles, through the attribute when a subclass may redefine it (the plain type
// reads its knots directly); an exception when the attribute fails or is not a number
// (trajectory_domain.cpp).
bool domain_start(Traj *t, double *out);
bool domain_stop(Traj *t, double *out);

// --- pieces of Trajectory1d contributed by each subsystem (null-terminated arrays) ---------------
extern PyMethodDef trajectory_record_methods[];       // trajectory_record.cpp
extern PyGetSetDef trajectory_getset[];               // trajectory_record.cpp
extern PyMethodDef trajectory_compare_methods[];      // trajectory_compare.cpp
extern PyMethodDef trajectory_state_methods[];        // trajectory_state.cpp
extern PyMethodDef trajectory_evaluation_methods[];   // evaluation*.cpp
extern PyMethodDef trajectory_knot_methods[];         // knots*.cpp
extern PyMethodDef trajectory_algebra_methods[];      // algebra*.cpp
extern PyMethodDef trajectory_persistence_methods[];  // persistence*.cpp
extern PyMethodDef point_persistence_methods[];       // persistence*.cpp
extern PyMethodDef point_methods[];                   // point.cpp

// Pieces of PyORVEXObject.
extern PyMethodDef base_abstract_methods[];  // persistence_base.cpp
extern PyMethodDef base_document_methods[];  // persistence_document.cpp (savexml)
extern PyMethodDef base_pickle_methods[];    // persistence_pickle.cpp (__reduce__, __setstate__)

// Slots defined by the subsystem that owns the behaviour.
PyObject *trajectory_richcompare(PyObject *a, PyObject *b, int op);  // trajectory_compare.cpp
PyObject *trajectory_str(PyObject *self);                            // trajectory_compare.cpp
PyObject *trajectory_repr(PyObject *self);                           // trajectory_compare.cpp
PyObject *trajectory_call(PyObject *self, PyObject *args, PyObject *kw);  // evaluation*.cpp
extern const char trajectory_call_doc[];                             // evaluation*.cpp
extern PyNumberMethods trajectory_as_number;                         // algebra*.cpp

// Fill each subsystem's entries of the method tables.
void install_record(TrajVtab *vt);       // from_ptrs, new_struct, c_vshift, ..., copy
void install_compare(TrajVtab *vt);      // c_eq, _getAttrib
void install_state(TrajVtab *vt);        // _sget_knotvector, _sget_cpts, _dset_data
void install_evaluation(TrajVtab *vt);   // peval ... adapt, derivative, antiderivative, degelev
void install_knots(TrajVtab *vt);        // knotins ... knotrem_notol
void install_algebra(TrajVtab *vt);      // c_splcsum, c_splcmul
void install_constraints(TrajVtab *vt);  // the setValueTr / setValueAm specialisations
void install_document(BaseVtab *base);                   // savexml
void install_elements(PointVtab *point, TrajVtab *traj);  // loaders, element add/update
void install_point(PointVtab *vt);       // copy, _getAttrib

// Exec-step registrations of the subsystems (0 on success, -1 with an exception).
int add_constraint_methods(PyTypeObject *trajectory);  // setValueTr / setValueAm dispatchers
PyObject *make_unpickle_function(PyObject *module);    // __pyx_unpickle_PyORVEXObject
c_point1d make_point(double t, double val, unsigned int order);  // point.cpp

}  // namespace pyorvex::dds
