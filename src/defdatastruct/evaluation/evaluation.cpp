// The evaluation subsystem's part of Trajectory1d: its Python-visible methods and its entries of
// the C-level method table. The operations live in point.cpp, call.cpp,
// calculus.cpp and transforms.cpp.
#include "evaluation.hpp"

namespace pyorvex::dds::evaluation {

namespace {

constexpr int kFast = METH_FASTCALL | METH_KEYWORDS;

}  // namespace

PyMethodDef trajectory_methods[] = {
    {"peval", py_peval, METH_O, peval_doc},
    {"ceval", py_ceval, METH_O, ceval_doc},
    {"dpeval", fastcall(py_dpeval), kFast, dpeval_doc},
    {"dceval", fastcall(py_dceval), kFast, dceval_doc},
    {"rshift", py_rshift, METH_O, rshift_doc},
    {"ashift", py_ashift, METH_O, ashift_doc},
    {"hscale", py_hscale, METH_O, hscale_doc},
    {"adapt", fastcall(py_adapt), kFast, adapt_doc},
    {"derivative", fastcall(py_derivative), kFast, derivative_doc},
    {"antiderivative", fastcall(py_antiderivative), kFast, antiderivative_doc},
    {"degelev", fastcall(py_degelev), kFast, degelev_doc},
    {nullptr, nullptr, 0, nullptr},
};

void install(TrajVtab *v) {
    v->peval = peval_op;
    v->ceval = ceval_op;
    v->dpeval = dpeval_op;
    v->dceval = dceval_op;
    v->rshift = rshift_op;
    v->ashift = ashift_op;
    v->hscale = hscale_op;
    v->adapt = adapt_op;
    v->derivative = derivative_op;
    v->antiderivative = antiderivative_op;
    v->degelev = degelev_op;
}

}  // namespace pyorvex::dds::evaluation
