// Placeholder until evaluation, the call operator, calculus and domain transforms land.
#include "internal.hpp"

namespace pyorvex::dds {

PyMethodDef trajectory_evaluation_methods[] = {{nullptr, nullptr, 0, nullptr}};

const char trajectory_call_doc[] = "Evaluates the trajectory or its dervative.";

PyObject *trajectory_call(PyObject *, PyObject *, PyObject *) {
    PyErr_SetString(PyExc_NotImplementedError, "evaluation is not available yet");
    return nullptr;
}

void install_evaluation(TrajVtab *) {}

}  // namespace pyorvex::dds
