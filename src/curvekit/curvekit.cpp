// pyorvex.curvekit: exports the B-spline kernel as C functions in the capsule dict
// __pyx_capi__, each capsule named with the function's exact signature text (kernel_abi.h).
// Every export only turns views into spans and calls one kernel function.
#include <Python.h>

#include <climits>

#include "bspline.hpp"
#include "kernel_abi.h"
#include "ref.hpp"

namespace k = pyorvex::kernel;
using pyorvex::capi::Ref;

namespace {

k::cspan in(pyorvex_dview v) {
    if (v.data == nullptr || v.size <= 0) return {};
    return {v.data, static_cast<size_t>(v.size)};
}

k::vspan out(pyorvex_dview v) {
    if (v.data == nullptr || v.size <= 0) return {};
    return {v.data, static_cast<size_t>(v.size)};
}

double tolerance(const pyorvex_remove_opts *opts) {
    // The kernel's own default when a caller gives no tolerance.
    return (opts != nullptr && opts->n_given > 0) ? opts->tol : 1e-13;
}

extern "C" {

int distintknots(pyorvex_dview knots, int p) { return k::distinct_interior_knots(in(knots), p); }

void averagcpts(pyorvex_dview knots, int p, pyorvex_dview o, int) {
    k::greville(in(knots), p, out(o));
}

double splpev(double x, pyorvex_dview knots, pyorvex_dview cpts, int p, int) {
    return k::value_at(x, in(knots), in(cpts), p);
}

void splcev(pyorvex_dview xp, pyorvex_dview knots, pyorvex_dview cpts, int p, int) {
    k::values_sorted(out(xp), in(knots), in(cpts), p);
}

void dsplpev(double x, pyorvex_dview knots, pyorvex_dview cpts, int p, int nu, pyorvex_dview o,
             int) {
    k::derivatives_at(x, in(knots), in(cpts), p, nu, out(o));
}

void dsplcev(pyorvex_dview xp, pyorvex_dview knots, pyorvex_dview cpts, int p, int first, int last,
             pyorvex_dview work, int) {
    k::derivatives_sorted(in(xp), in(knots), in(cpts), p, first, last, out(work));
}

void splkins(pyorvex_dview knots, pyorvex_dview cpts, int p, double u, int r,
             pyorvex_dview new_knots, pyorvex_dview new_cpts, int) {
    k::insert_knot(in(knots), in(cpts), p, u, r, out(new_knots), out(new_cpts));
}

void splkref(pyorvex_dview knots, pyorvex_dview cpts, int p, pyorvex_dview X,
             pyorvex_dview new_knots, pyorvex_dview new_cpts, int) {
    k::refine(in(knots), in(cpts), p, in(X), out(new_knots), out(new_cpts));
}

int splkrem(pyorvex_dview knots, pyorvex_dview cpts, int p, double u, int r, int,
            pyorvex_remove_opts *opts) {
    return k::remove_knot(out(knots), out(cpts), p, u, r, tolerance(opts));
}

int splksrem(pyorvex_dview knots, pyorvex_dview cpts, int p, int, pyorvex_remove_opts *opts) {
    return k::remove_knots(out(knots), out(cpts), p, tolerance(opts));
}

int splkrem_notol(pyorvex_dview knots, pyorvex_dview cpts, int p, double u, int r, int) {
    return k::remove_knot_unchecked(out(knots), out(cpts), p, u, r);
}

void degelevc(pyorvex_dview knots, pyorvex_dview cpts, int p, int t, pyorvex_dview new_knots,
              pyorvex_dview new_cpts, int) {
    k::elevate_degree(in(knots), in(cpts), p, t, out(new_knots), out(new_cpts));
}

void asplcpts(pyorvex_dview knots, pyorvex_dview cpts, int p, int nu, pyorvex_dview new_knots,
              pyorvex_dview new_cpts, int) {
    k::antiderivative(in(knots), in(cpts), p, nu, out(new_knots), out(new_cpts));
}

int dsplcpts2(pyorvex_dview knots, pyorvex_dview cpts, int p, int nu, pyorvex_dview new_knots,
              pyorvex_dview new_cpts, int) {
    return k::derivative(in(knots), in(cpts), p, nu, out(new_knots), out(new_cpts));
}

PyObject *knotuniondim(pyorvex_dview knots1, pyorvex_dview knots2, int p, int) {
    const k::SumSize size = k::sum_size(in(knots1), in(knots2), p);
    if (!size.ok) {
        PyErr_SetString(PyExc_ValueError, "the knot vectors cannot be united");
        return nullptr;
    }
    if (size.m > INT_MAX || size.n > INT_MAX) {
        PyErr_SetString(PyExc_OverflowError, "the united knot vector is too large");
        return nullptr;
    }
    return Py_BuildValue("(ii)", static_cast<int>(size.m), static_cast<int>(size.n));
}

void splcsum(pyorvex_dview knots1, pyorvex_dview cpts1, pyorvex_dview knots2, pyorvex_dview cpts2,
             int p, int M, pyorvex_dview out_knots, int N, pyorvex_dview out_cpts, int) {
    // M and N only restate the sizes of the out views; a disagreement means no write at all.
    if (out_knots.size != static_cast<Py_ssize_t>(M) + 1 ||
        out_cpts.size != static_cast<Py_ssize_t>(N) + 1)
        return;
    k::sum(in(knots1), in(cpts1), in(knots2), in(cpts2), p, out(out_knots), out(out_cpts));
}

}  // extern "C"

int add_exports(PyObject *module) {
    Ref capi(PyDict_New());
    if (!capi) return -1;
#define PYORVEX_EXPORT(name, sig)                                                              \
    {                                                                                          \
        Ref capsule(PyCapsule_New(                                                             \
            reinterpret_cast<void *>(static_cast<pyorvex_##name##_fn>(&name)), sig, nullptr)); \
        if (!capsule || PyDict_SetItemString(capi.get(), #name, capsule.get()) < 0) return -1; \
    }
    PYORVEX_KERNEL_FUNCTIONS(PYORVEX_EXPORT)
#undef PYORVEX_EXPORT
    const int rc = PyObject_SetAttrString(module, "__pyx_capi__", capi.get());
    capi.reset();
    if (rc < 0) return rc;
    return PyModule_AddIntConstant(module, "MAX_DEGREE", k::kMaxDegree);
}

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void *>(&add_exports)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "curvekit",
    "The B-spline kernel of pyorvex, exported as C functions in __pyx_capi__.",
    0,
    nullptr,
    slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit_curvekit(void) { return PyModuleDef_Init(&module_def); }
