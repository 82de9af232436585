// What the units of pyorvex.multiaxis share: the record of TrajectoryNd (a degree, one knot
// vector, control points of several axes stored row-major), its allocation, the column scratch
// the per-axis kernel calls go through, and the C-level pieces imported from
// pyorvex.defdatastruct at import.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#define PY_ARRAY_UNIQUE_SYMBOL pyorvex_multiaxis_ARRAY_API
#ifndef PYORVEX_MULTIAXIS_IMPORTS_NUMPY
#define NO_IMPORT_ARRAY
#endif
#include <numpy/arrayobject.h>

#include <pyorvex/defdatastruct.h>
#include <pyorvex/multiaxis.h>

#include <cstddef>

#include "scratch.hpp"
#include "args.hpp"
#include "bspline.hpp"
#include "buffer.hpp"
#include "convert.hpp"
#include "ref.hpp"

namespace pyorvex::multiaxis {

using capi::Ref;
namespace kernel = pyorvex::kernel;

// The instance: the record of the C-level interface (pyorvex/multiaxis.h), the persistable base
// first (its table pointer). Control point i of axis j is cpts[i * dof + j]; an empty motion
// (TrajectoryNd()) has no arrays and dof 0.
using Motion = pyorvex_motion;

// The type's table extends the base's (its own loader and element operations, the base's
// savexml).
struct MotionVtab {
    pyorvex_PyORVEXObject_vtab base;
};

extern PyTypeObject type;
extern MotionVtab vtab;

// Filled once at import from pyorvex.defdatastruct, held for the life of the process.
struct ImportedTypes {
    PyTypeObject *base = nullptr;        // PyORVEXObject
    PyTypeObject *trajectory = nullptr;  // Trajectory1d
    pyorvex_PyORVEXObject_vtab *base_vtab = nullptr;
    pyorvex_Trajectory1d_vtab *trajectory_vtab = nullptr;
    const pyorvex_persistence_api *persistence = nullptr;  // the document helpers
};
extern ImportedTypes imported;

inline Motion *as_motion(PyObject *o) { return reinterpret_cast<Motion *>(o); }
inline bool is_motion(PyObject *o) { return PyObject_TypeCheck(o, &type); }
inline bool is_trajectory(PyObject *o) { return PyObject_TypeCheck(o, imported.trajectory); }

inline Py_ssize_t knot_count(const Motion *m) { return Py_ssize_t{m->n} + m->p + 2; }
inline Py_ssize_t row_count(const Motion *m) { return Py_ssize_t{m->n} + 1; }
inline Py_ssize_t cpts_count(const Motion *m) { return row_count(m) * m->dof; }

inline kernel::cspan span(const double *d, Py_ssize_t size) {
    return {d, static_cast<std::size_t>(size)};
}
inline kernel::vspan vspan(double *d, Py_ssize_t size) {
    return {d, static_cast<std::size_t>(size)};
}

PyObject *raise_memory_error();

// Memory of doubles for a call or a record under construction.
using Doubles = capi::Scratch<double>;

// The buffers of a motion being built; wrap() hands them to a new TrajectoryNd. Sizes in rows
// are checked against int (n) and Py_ssize_t (rows * dof) before anything is allocated.
class NewMotion {
public:
    bool allocate(Py_ssize_t knots, Py_ssize_t rows, int dof);
    double *knots() const { return knots_.data(); }
    double *cpts() const { return cpts_.data(); }
    Py_ssize_t rows() const { return rows_; }
    PyObject *wrap(int p, unsigned int order);

private:
    Doubles knots_, cpts_;
    Py_ssize_t nk_ = 0, rows_ = 0;
    int dof_ = 0;
};

// A new motion over two PyMem buffers of n + p + 2 knots and (n + 1) * dof control points, which
// it takes over; on failure they are freed.
PyObject *adopt_motion(double *knots, double *cpts, int p, int n, int dof, unsigned int order);
// A new motion of n + 1 rows of dof whose arrays the caller fills (the C-level interface's
// factory).
PyObject *new_motion(int p, int n, int dof, unsigned int order);
// A new motion holding copies of the record (an empty one for an empty record).
PyObject *copy_motion(const Motion *m);
// ValueError "the motion is empty" for a motion without arrays; degrees above the kernel's
// limit too ("degree %d exceeds the maximum supported degree %d").
bool require_data(const Motion *m);
bool supported_degree(long long degree);

// Column j of a row-major block of `rows` rows of width dof, gathered into contiguous memory,
// and scattered back: how the one-column kernel routines run on each axis.
void gather(const double *rows_data, Py_ssize_t rows, int dof, int j, double *column);
void scatter(const double *column, Py_ssize_t rows, int dof, int j, double *rows_data);

// --- the units' entries, gathered by the hub (module.cpp) ---------------------------------------
namespace record {
PyObject *tp_new(PyTypeObject *type, PyObject *, PyObject *);
void dealloc(PyObject *self);
PyObject *from_arrays(PyObject *cls, PyObject *const *args, Py_ssize_t nargs, PyObject *kw);
PyObject *py_copy(PyObject *self, PyObject *);
PyObject *py_deepcopy(PyObject *self, PyObject *);
extern PyGetSetDef getset[];
}  // namespace record
namespace axes {
PyObject *from_axes(PyObject *cls, PyObject *trajs);
PyObject *axis(PyObject *self, PyObject *i);
PyObject *all_axes(PyObject *self, PyObject *);
}  // namespace axes
namespace evaluation {
PyObject *call(PyObject *self, PyObject *args, PyObject *kw);
}
namespace operations {
PyObject *derivative(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw);
PyObject *antiderivative(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw);
PyObject *degelev(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw);
PyObject *knotins(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw);
PyObject *knotref(PyObject *self, PyObject *X);
PyObject *knotrem(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw);
PyObject *knotsrem(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw);
PyObject *rshift(PyObject *self, PyObject *x);
PyObject *ashift(PyObject *self, PyObject *x);
PyObject *hscale(PyObject *self, PyObject *k);
PyObject *adapt(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw);
// The derivative of order nu >= 0 as a new motion (the zero function above the degree).
PyObject *derivative_of(Motion *m, int nu);
// The sum of two motions of one degree, domain, order and dof on the union of their knots.
PyObject *sum(Motion *a, Motion *b);
}  // namespace operations
namespace algebra {
extern PyNumberMethods as_number;
}
namespace protocol {
PyObject *richcompare(PyObject *a, PyObject *b, int op);
PyObject *repr(PyObject *self);
PyObject *reduce(PyObject *self, PyObject *);
PyObject *knot_view(PyObject *self, PyObject *);
PyObject *cpts_view(PyObject *self, PyObject *);
}  // namespace protocol
namespace persistence {
PyObject *py_loadxml(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kw);
PyObject *py_getattrib(PyObject *self, PyObject *);
PyObject *py_add(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw);
PyObject *py_update(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw);
void install(MotionVtab *v);  // the loader and the element operations in the table
int register_form();          // savexml's fast writing of the numbers, after the type is ready
}  // namespace persistence

}  // namespace pyorvex::multiaxis
