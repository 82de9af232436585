// The knot operations as Trajectory1d shows them: the Python methods with their docstrings, the
// C-level entries of the method table, and the checks the insertion and removal units share.
#include "knots.hpp"

#include <cmath>

namespace pyorvex::dds::knots {

bool check_domain(Traj *self, double u, bool reject_nan) {
    double start, stop;
    if (!trajectory::domain_start(self, &start)) return false;
    bool outside = u < start;
    if (!outside) {
        if (!trajectory::domain_stop(self, &stop)) return false;
        outside = u > stop || (reject_nan && std::isnan(u));
    }
    if (!outside) return true;
    Ref text(capi::float_text(u));
    if (text) PyErr_Format(PyExc_ValueError, "'u' out of domain: %U", text.get());
    return false;
}

bool check_count(int r) {
    if (r >= 0) return true;
    PyErr_SetString(PyExc_ValueError, "'r' must be non-negative number");
    return false;
}

PyMethodDef trajectory_methods[] = {
    {"knotins", fastcall(py_knotins), METH_FASTCALL | METH_KEYWORDS,
     "Returns a new trajectory with the knot 'u' inserted 'r' times.\n"
     "\n"
     "Parameters\n"
     "----------\n"
     "u: float\n"
     "    The knot value, inside the domain [start, stop] (both ends included).\n"
     "r: int\n"
     "    How many times 'u' is inserted, 0 <= r <= p.\n"
     "\n"
     "Returns\n"
     "-------\n"
     "out: Trajectory1d\n"
     "    The same curve over the richer knot vector, with n + r as highest control-point index.\n"
     "\n"
     "Notes\n"
     "-----\n"
     "The multiplicity that 'u' already has is not looked at: every accepted 'r' adds exactly 'r'\n"
     "knots and 'r' control points. 'self' is not changed.\n"},
    {"knotref", py_knotref, METH_O,
     "Returns a new trajectory with every value of 'X' inserted once in the knot vector.\n"
     "\n"
     "Parameters\n"
     "----------\n"
     "X: numpy.ndarray of float64 or None\n"
     "    Strictly increasing knot values; None stands for no value.\n"
     "\n"
     "Returns\n"
     "-------\n"
     "out: Trajectory1d\n"
     "    The same curve over the refined knot vector, with n + len(X) as highest control-point\n"
     "    index.\n"
     "\n"
     "Notes\n"
     "-----\n"
     "'self' is not changed.\n"},
    {"knotrem", fastcall(py_knotrem), METH_FASTCALL | METH_KEYWORDS,
     "Returns a new trajectory with, if possible, the knot 'u' removed 'r' times. If the node "
     "'u' cannot be removed 'r' times, it is removed as many times as possible.\n"
     "\n"
     "Parameters\n"
     "----------\n"
     "u: float\n"
     "    The knot value, inside the domain [start, stop].\n"
     "r: int\n"
     "    The most times 'u' is removed, r >= 0.\n"
     "tol: float, optional\n"
     "    The largest change of the curve a removal may cause (default 1e-13).\n"
     "\n"
     "Returns\n"
     "-------\n"
     "out: Trajectory1d\n"
     "    The trajectory with the knots that could be removed taken out.\n"
     "\n"
     "Notes\n"
     "-----\n"
     "'self' is not changed; when nothing can be removed the result is a copy.\n"},
    {"knotsrem", fastcall(py_knotsrem), METH_FASTCALL | METH_KEYWORDS,
     "Returns a new trajectory with as many knots removed as possible.\n"
     "\n"
     "Parameters\n"
     "----------\n"
     "tol: float, optional\n"
     "    The largest change of the curve each single removal may cause (default 1e-13).\n"
     "\n"
     "Returns\n"
     "-------\n"
     "out: Trajectory1d\n"
     "    The thinned trajectory.\n"
     "\n"
     "Notes\n"
     "-----\n"
     "The knot removal tolerance is applied step by step, it is not indicative of the error band "
     "at the end of the iteration.\n"},
    {"knotrem_notol", fastcall(py_knotrem_notol), METH_FASTCALL | METH_KEYWORDS,
     "Returns a new trajectory with knot 'u' removed 'r' times without tolerance check.\n"
     "\n"
     "Parameters\n"
     "----------\n"
     "u: float\n"
     "    The knot value, inside the domain [start, stop].\n"
     "r: int\n"
     "    The most times 'u' is removed, r >= 0.\n"
     "\n"
     "Returns\n"
     "-------\n"
     "out: Trajectory1d\n"
     "    The trajectory with 'u' removed as often as its multiplicity allows, up to 'r' times.\n"
     "\n"
     "Notes\n"
     "-----\n"
     "The curve may change: no tolerance limits the removal. 'self' is not changed.\n"},
    {nullptr, nullptr, 0, nullptr},
};

void install(TrajVtab *v) {
    v->knotins = knotins;
    v->knotref = knotref;
    v->knotrem = knotrem;
    v->knotsrem = knotsrem;
    v->knotrem_notol = knotrem_notol;
}

}  // namespace pyorvex::dds::knots
