/* The C-level interface of pyorvex.defdatastruct, for other native modules.
 *
 * Records and method tables are laid out as the module lays them out. Every instance of
 * PyORVEXObject, Point1d and Trajectory1d starts with a pointer to its type's method table; call
 * operations through it (obj->base.vtab->...) so that a call on a derived object reaches the
 * derived operation. Each type's dict holds the table as the capsule "__pyx_vtable__" (no name);
 * make_point is exported in the module's "__pyx_capi__" dict under "make_point", with the capsule
 * name PYORVEX_MAKE_POINT_SIGNATURE, and the persistence helpers under "persistence" (below).
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

/* The document side of persistence, for the element forms of types defined in other modules.
 *
 * Exported in the module's "__pyx_capi__" dict under "persistence", with the capsule name
 * PYORVEX_PERSISTENCE_API_NAME: a pointer to a pyorvex_persistence_api. Fields are only ever
 * added at the end; `size` says how many the running module has (compare it with offsetof the
 * last field you use). Elements written through it follow the form of Trajectory1d's: the
 * attributes {"ID": ID, **_getAttrib()} (through the method table) and children whose texts are
 * numbers in their shortest exact form joined by single spaces. */
#define PYORVEX_PERSISTENCE_API_NAME "pyorvex.defdatastruct.persistence_api"

/* The numbers of an object's child `which` (its index in the form's children), as they are when
 * the text is written: 0, or -1 with an exception set. */
typedef int (*pyorvex_numbers_fn)(PyObject *owner, int which, pyorvex_dview *out);

/* Number texts that savexml writes straight into the serialized document (opaque). */
typedef struct pyorvex_texts pyorvex_texts;

/* The element form of a type: what savexml needs to write its numbers fast. */
typedef struct pyorvex_element_form {
    const char *const *children; /* the children's tags, in document order */
    int count;
    pyorvex_numbers_fn numbers;
    /* Refuses (-1 with an exception set) an object that has no element form the loader takes,
     * before anything changes; 0 otherwise. */
    int (*check)(PyObject *owner);
    /* The type's built-in element operations in its method table: savexml writes the element
     * itself only while the object's table still holds these. */
    int (*add_op)(struct pyorvex_PyORVEXObject *self, PyObject *root, PyObject *ID,
                  int skip_dispatch);
    int (*update_op)(struct pyorvex_PyORVEXObject *self, PyObject *tree, PyObject *node,
                     PyObject *ID, int skip_dispatch);
} pyorvex_element_form;

typedef struct pyorvex_persistence_api {
    size_t size; /* sizeof(pyorvex_persistence_api) of the module that exports it */
    /* The element of the first object of `tag` saved under ID in the document fname (".pyorvex"
     * added to a name without an extension); ValueError "no match for ID: ..." without one. */
    PyObject *(*load_element)(PyObject *fname, PyObject *ID, const char *tag);
    /* int() of the element's attribute `name` into *out, refused when negative: 0 or -1. */
    int (*read_count)(PyObject *element, const char *name, int *out);
    /* int() of the element's attribute "order", as an unsigned int: 0 or -1. */
    int (*read_order)(PyObject *element, unsigned int *out);
    /* float() of every number of the text of the element's child `child`: exactly `needed` of
     * them (ValueError otherwise; `counts` names the attributes that call for them, as in "p and
     * n") in a new buffer to release with PyMem_Free; NULL on error. */
    double *(*read_numbers)(PyObject *element, const char *child, Py_ssize_t needed,
                            const char *counts);
    /* 0 for a knot vector that every operation can work on (finite, non-decreasing); -1 with
     * ValueError naming the first knot that is not. */
    int (*check_knots)(const double *knots, Py_ssize_t count);
    /* Adds the element of `self` under root, or rewrites its attributes and the texts of its
     * children in place (update), as the form says; `texts` is NULL outside savexml. The form's
     * check runs first. 0 or -1. */
    int (*add_element)(struct pyorvex_PyORVEXObject *self, PyObject *root, PyObject *ID,
                       const pyorvex_element_form *form, pyorvex_texts *texts);
    int (*update_element)(struct pyorvex_PyORVEXObject *self, PyObject *tree, PyObject *node,
                          PyObject *ID, const pyorvex_element_form *form, pyorvex_texts *texts);
    /* Lets savexml write the element of objects of exactly `type` with `form` (kept, not
     * copied: it must live as long as the type). 0 or -1. */
    int (*register_form)(PyTypeObject *type, const pyorvex_element_form *form);
} pyorvex_persistence_api;

#ifdef __cplusplus
}
#endif

#endif /* PYORVEX_DEFDATASTRUCT_H */
