/* The C-level interface of pyorvex.multiaxis, for other native modules: the record of a
 * TrajectoryNd and a factory of new ones.
 *
 * The module's attribute "_C_API" is a capsule named PYORVEX_MOTION_API_NAME holding a pointer to
 * a pyorvex_motion_api. Fields are only ever added at the end; `size` says how many the running
 * module has. */
#ifndef PYORVEX_MULTIAXIS_H
#define PYORVEX_MULTIAXIS_H

#include <pyorvex/defdatastruct.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Degree p, highest control-point index n, derivative order, dof axes; n + p + 2 knots and
 * (n + 1) * dof control points, control point i of axis j at cpts[i * dof + j]. An empty motion
 * has no arrays (NULL) and dof 0. */
struct pyorvex_motion {
    struct pyorvex_PyORVEXObject base;
    int p;
    int n;
    unsigned int order;
    int dof;
    double *knots;
    double *cpts;
};

#define PYORVEX_MOTION_API_NAME "pyorvex.multiaxis._C_API"

typedef struct pyorvex_motion_api {
    size_t size;
    PyTypeObject *type; /* TrajectoryNd */
    /* A new motion whose arrays are allocated and not yet filled: the caller writes every knot
     * and control point before the motion is seen by anyone else. */
    PyObject *(*new_motion)(int p, int n, int dof, unsigned int order);
} pyorvex_motion_api;

#ifdef __cplusplus
}
#endif

#endif
