/* The C-level interface of pyorvex.defdatastruct, for other native modules.
 *
 * Records and method tables are laid out as the module lays them out. Every instance of
 * PyORVEXObject, Point1d and Trajectory1d starts with a pointer to its type's method table; call
 * operations through it (obj->base.vtab->...) so that a call on a derived object reaches the
 * derived operation. Each type's dict holds the table as the capsule "__pyx_vtable__" (no name);
 * make_point is exported in the module's "__pyx_capi__" dict under "make_point", with the capsule
 * name PYORVEX_MAKE_POINT_SIGNATURE.
 *
 * Conventions of the operations:
 *  - skip_dispatch: 0 lets a Python subclass's override of the operation be called instead; 1
 *    runs the built-in operation.
 *  - Optional arguments come as a pointer to a record {n_given, value...}; NULL means none given.
 *  - Object results are new references, NULL with an exception set on failure.
 *  - Operations that return nothing return int: 0 on success, -1 with an exception set.
 *  - Operations that return a double return -1.0 with an exception set on failure (check
 *    PyErr_Occurred() when -1.0 comes back).
 *  - Arrays of doubles are passed as pyorvex_dview (pointer and length), by value.
 */
#ifndef PYORVEX_DEFDATASTRUCT_H
#define PYORVEX_DEFDATASTRUCT_H

#include <Python.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A one-dimensional, C-contiguous view of doubles in someone else's memory. */
typedef struct pyorvex_dview {
    double *data;
    Py_ssize_t size;
} pyorvex_dview;

/* A point in joint space: time, value and the derivation order the value refers to. */
typedef struct c_point1d {
    double t;
    double val;
    unsigned int order;
} c_point1d;

typedef c_point1d (*pyorvex_make_point_fn)(double t, double val, unsigned int order);
#define PYORVEX_MAKE_POINT_SIGNATURE \
    "__pyx_t_7pyorvex_13defdatastruct_c_point1d (double, double, unsigned int)"

/* Optional-argument records. */
struct pyorvex_opt_nu {
    int n_given;
    int nu;
};
struct pyorvex_opt_tol {
    int n_given;
    double tol;
};
struct pyorvex_opt_owner {
    int n_given;
    int owner;
};

struct pyorvex_PyORVEXObject;
struct pyorvex_Point1d;
struct pyorvex_Trajectory1d;

struct pyorvex_PyORVEXObject_vtab {
    PyObject *(*c_loadxml)(PyObject *fname, PyObject *ID);
    PyObject *(*_getAttrib)(struct pyorvex_PyORVEXObject *self, int skip_dispatch);
    int (*_addPyORVEXObject)(struct pyorvex_PyORVEXObject *self, PyObject *root, PyObject *ID,
                             int skip_dispatch);
    int (*_updatePyORVEXObject)(struct pyorvex_PyORVEXObject *self, PyObject *tree, PyObject *node,
                                PyObject *ID, int skip_dispatch);
    int (*savexml)(struct pyorvex_PyORVEXObject *self, PyObject *fname, PyObject *ID,
                   int skip_dispatch);
};

struct pyorvex_PyORVEXObject {
    PyObject_HEAD void *vtab; /* the type's method table; cast to the table of the object's type */
};

struct pyorvex_Point1d {
    struct pyorvex_PyORVEXObject base;
    c_point1d p;
};

struct pyorvex_Point1d_vtab {
    struct pyorvex_PyORVEXObject_vtab base;
    PyObject *(*c_loadxml)(PyObject *fname, PyObject *ID);
    PyObject *(*copy)(struct pyorvex_Point1d *self, int skip_dispatch);
};

/* The spline record: degree p, highest control-point index n, derivative order, the knot
 * vector (n + p + 2 doubles) and the control points (n + 1 doubles). */
struct pyorvex_Trajectory1d {
    struct pyorvex_PyORVEXObject base;
    int p;
    int n;
    unsigned int order;
    double *_knotvector;
    double *_cpts;
    int ptrs_owner;
    /* internal bookkeeping of the module: bit 0 is set when the module allocated the arrays (it
     * then releases them whatever ptrs_owner says); the bits above count live NumPy views. */
    int _bookkeeping;
};

typedef struct pyorvex_Trajectory1d pyorvex_traj;

struct pyorvex_Trajectory1d_vtab {
    struct pyorvex_PyORVEXObject_vtab base;
    PyObject *(*from_ptrs)(double *knots, double *cpts, int p, int n, unsigned int order,
                           struct pyorvex_opt_owner *opt);
    PyObject *(*new_struct)(int p, int n, unsigned int order);
    PyObject *(*c_loadxml)(PyObject *fname, PyObject *ID);
    int (*c_eq)(pyorvex_traj *self, pyorvex_traj *other); /* 1, 0, or 0 with an exception */
    void (*c_vshift)(pyorvex_traj *self, double x);
    void (*c_vscale)(pyorvex_traj *self, double x);
    PyObject *(*c_splcsum)(pyorvex_traj *self, pyorvex_traj *other, int skip_dispatch);
    PyObject *(*c_splcmul)(pyorvex_traj *self, pyorvex_traj *other, int skip_dispatch);
    PyObject *(*_sget_knotvector)(pyorvex_traj *self, int skip_dispatch);
    PyObject *(*_sget_cpts)(pyorvex_traj *self, int skip_dispatch);
    int (*_dset_data)(pyorvex_traj *self, PyObject *knots, PyObject *cpts, int p, int n,
                      unsigned int order, int owner, int skip_dispatch);
    double (*peval)(pyorvex_traj *self, double x, int skip_dispatch);
    int (*ceval)(pyorvex_traj *self, pyorvex_dview xp, int skip_dispatch);
    double (*dpeval)(pyorvex_traj *self, double x, int skip_dispatch, struct pyorvex_opt_nu *opt);
    int (*dceval)(pyorvex_traj *self, pyorvex_dview xp, int skip_dispatch,
                  struct pyorvex_opt_nu *opt);
    void (*c_hshift)(pyorvex_traj *self, double x);
    int (*rshift)(pyorvex_traj *self, double x, int skip_dispatch);
    int (*ashift)(pyorvex_traj *self, double x, int skip_dispatch);
    void (*c_hscale)(pyorvex_traj *self, double k);
    int (*hscale)(pyorvex_traj *self, double k, int skip_dispatch);
    int (*adapt)(pyorvex_traj *self, double start, double stop, int skip_dispatch);
    PyObject *(*derivative)(pyorvex_traj *self, int skip_dispatch, struct pyorvex_opt_nu *opt);
    PyObject *(*antiderivative)(pyorvex_traj *self, int skip_dispatch, struct pyorvex_opt_nu *opt);
    PyObject *(*knotins)(pyorvex_traj *self, double u, int r, int skip_dispatch);
    PyObject *(*knotref)(pyorvex_traj *self, pyorvex_dview X, int skip_dispatch);
    PyObject *(*knotrem)(pyorvex_traj *self, double u, int r, int skip_dispatch,
                         struct pyorvex_opt_tol *opt);
    PyObject *(*knotsrem)(pyorvex_traj *self, int skip_dispatch, struct pyorvex_opt_tol *opt);
    PyObject *(*knotrem_notol)(pyorvex_traj *self, double u, int r, int skip_dispatch);
    PyObject *(*copy)(pyorvex_traj *self, int skip_dispatch);
    PyObject *(*degelev)(pyorvex_traj *self, int skip_dispatch, struct pyorvex_opt_nu *opt);
    int (*setValueTr_point)(pyorvex_traj *self, PyObject *p, int skip_dispatch);
    int (*setValueTr_tuple)(pyorvex_traj *self, PyObject *p, int skip_dispatch);
    int (*setValueAm_point)(pyorvex_traj *self, PyObject *p, int skip_dispatch);
    int (*setValueAm_tuple)(pyorvex_traj *self, PyObject *p, int skip_dispatch);
};

#ifdef __cplusplus
}
#endif

#endif /* PYORVEX_DEFDATASTRUCT_H */
