// The binary contract between pyorvex.curvekit (which exports the kernel) and
// pyorvex.defdatastruct (which binds it at import): the sixteen C function types and the exact
// signature texts used as capsule names. Both sides include this one header, so they cannot
// disagree.
#pragma once

#include <pyorvex/defdatastruct.h>

extern "C" {

// Options of the tolerance-driven removals: {count of options given, tolerance}.
struct pyorvex_remove_opts {
    int n_given;
    double tol;
};

typedef int (*pyorvex_distintknots_fn)(pyorvex_dview knots, int p);
typedef void (*pyorvex_averagcpts_fn)(pyorvex_dview knots, int p, pyorvex_dview out, int flag);
typedef double (*pyorvex_splpev_fn)(double x, pyorvex_dview knots, pyorvex_dview cpts, int p,
                                    int flag);
typedef void (*pyorvex_splcev_fn)(pyorvex_dview xp, pyorvex_dview knots, pyorvex_dview cpts, int p,
                                  int flag);
typedef void (*pyorvex_dsplpev_fn)(double x, pyorvex_dview knots, pyorvex_dview cpts, int p, int nu,
                                   pyorvex_dview out, int flag);
// work is the orders x points matrix, row-major: work[(k - first) * xp.size + i].
typedef void (*pyorvex_dsplcev_fn)(pyorvex_dview xp, pyorvex_dview knots, pyorvex_dview cpts, int p,
                                   int first, int last, pyorvex_dview work, int flag);
typedef void (*pyorvex_splkins_fn)(pyorvex_dview knots, pyorvex_dview cpts, int p, double u, int r,
                                   pyorvex_dview new_knots, pyorvex_dview new_cpts, int flag);
typedef void (*pyorvex_splkref_fn)(pyorvex_dview knots, pyorvex_dview cpts, int p, pyorvex_dview X,
                                   pyorvex_dview new_knots, pyorvex_dview new_cpts, int flag);
typedef int (*pyorvex_splkrem_fn)(pyorvex_dview knots, pyorvex_dview cpts, int p, double u, int r,
                                  int flag, pyorvex_remove_opts *opts);
typedef int (*pyorvex_splksrem_fn)(pyorvex_dview knots, pyorvex_dview cpts, int p, int flag,
                                   pyorvex_remove_opts *opts);
typedef int (*pyorvex_splkrem_notol_fn)(pyorvex_dview knots, pyorvex_dview cpts, int p, double u,
                                        int r, int flag);
typedef void (*pyorvex_degelevc_fn)(pyorvex_dview knots, pyorvex_dview cpts, int p, int t,
                                    pyorvex_dview new_knots, pyorvex_dview new_cpts, int flag);
typedef void (*pyorvex_asplcpts_fn)(pyorvex_dview knots, pyorvex_dview cpts, int p, int nu,
                                    pyorvex_dview new_knots, pyorvex_dview new_cpts, int flag);
typedef int (*pyorvex_dsplcpts2_fn)(pyorvex_dview knots, pyorvex_dview cpts, int p, int nu,
                                    pyorvex_dview new_knots, pyorvex_dview new_cpts, int flag);
// Returns a new 2-tuple (M, N), or NULL with an exception set.
typedef PyObject *(*pyorvex_knotuniondim_fn)(pyorvex_dview knots1, pyorvex_dview knots2, int p,
                                             int flag);
typedef void (*pyorvex_splcsum_fn)(pyorvex_dview knots1, pyorvex_dview cpts1, pyorvex_dview knots2,
                                   pyorvex_dview cpts2, int p, int M, pyorvex_dview out_knots,
                                   int N, pyorvex_dview out_cpts, int flag);

}  // extern "C"

// X(name, signature text): the sixteen exports, in the order they are bound.
#define PYORVEX_KERNEL_FUNCTIONS(X)                                                            \
    X(distintknots, "int (pyorvex_dview, int)")                                                \
    X(averagcpts, "void (pyorvex_dview, int, pyorvex_dview, int)")                             \
    X(splpev, "double (double, pyorvex_dview, pyorvex_dview, int, int)")                       \
    X(splcev, "void (pyorvex_dview, pyorvex_dview, pyorvex_dview, int, int)")                  \
    X(dsplpev, "void (double, pyorvex_dview, pyorvex_dview, int, int, pyorvex_dview, int)")    \
    X(dsplcev,                                                                                 \
      "void (pyorvex_dview, pyorvex_dview, pyorvex_dview, int, int, int, pyorvex_dview, int)") \
    X(splkins,                                                                                 \
      "void (pyorvex_dview, pyorvex_dview, int, double, int, pyorvex_dview, "                  \
      "pyorvex_dview, int)")                                                                   \
    X(splkref,                                                                                 \
      "void (pyorvex_dview, pyorvex_dview, int, pyorvex_dview, pyorvex_dview, "                \
      "pyorvex_dview, int)")                                                                   \
    X(splkrem,                                                                                 \
      "int (pyorvex_dview, pyorvex_dview, int, double, int, int, "                             \
      "struct pyorvex_remove_opts *)")                                                         \
    X(splksrem, "int (pyorvex_dview, pyorvex_dview, int, int, struct pyorvex_remove_opts *)")  \
    X(splkrem_notol, "int (pyorvex_dview, pyorvex_dview, int, double, int, int)")              \
    X(degelevc,                                                                                \
      "void (pyorvex_dview, pyorvex_dview, int, int, pyorvex_dview, pyorvex_dview, "           \
      "int)")                                                                                  \
    X(asplcpts,                                                                                \
      "void (pyorvex_dview, pyorvex_dview, int, int, pyorvex_dview, pyorvex_dview, "           \
      "int)")                                                                                  \
    X(dsplcpts2,                                                                               \
      "int (pyorvex_dview, pyorvex_dview, int, int, pyorvex_dview, pyorvex_dview, "            \
      "int)")                                                                                  \
    X(knotuniondim, "PyObject *(pyorvex_dview, pyorvex_dview, int, int)")                      \
    X(splcsum,                                                                                 \
      "void (pyorvex_dview, pyorvex_dview, pyorvex_dview, pyorvex_dview, int, int, "           \
      "pyorvex_dview, int, pyorvex_dview, int)")

// The bound table, one typed pointer per export.
struct pyorvex_kernel_table {
#define PYORVEX_KERNEL_FIELD(name, sig) pyorvex_##name##_fn name;
    PYORVEX_KERNEL_FUNCTIONS(PYORVEX_KERNEL_FIELD)
#undef PYORVEX_KERNEL_FIELD
};
