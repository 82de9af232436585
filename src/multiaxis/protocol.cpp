// The object protocol of TrajectoryNd: equality within Trajectory1d's tolerance, the text form,
// pickling through the trusted constructor and NumPy views of its own memory.
#include <cmath>
#include <cstring>

#include "multiaxis.hpp"

namespace pyorvex::multiaxis::protocol {

namespace {

// Relative 1e-9 with an absolute floor of 1e-13, as Trajectory1d compares: NaN is never close,
// nor an infinity to anything.
bool close(double a, double b) {
    const double diff = std::fabs(a - b);
    const double tol = std::fmax(1e-9 * std::fmax(std::fabs(a), std::fabs(b)), 1e-13);
    return diff <= tol && std::isfinite(diff);
}

bool equal(const Motion *a, const Motion *b) {
    if (a->p != b->p || a->n != b->n || a->order != b->order || a->dof != b->dof) return false;
    if ((a->knots == nullptr) != (b->knots == nullptr)) return false;
    if (a->knots == nullptr) return true;
    for (Py_ssize_t i = 0; i < knot_count(a); ++i)
        if (!close(a->knots[i], b->knots[i])) return false;
    for (Py_ssize_t i = 0; i < cpts_count(a); ++i)
        if (!close(a->cpts[i], b->cpts[i])) return false;
    return true;
}

PyObject *end_text(const Motion *m, bool stop) {
    if (m->knots == nullptr) return PyUnicode_FromString("None");
    return capi::float_text(m->knots[stop ? knot_count(m) - 1 : 0]);
}

}  // namespace

PyObject *richcompare(PyObject *a, PyObject *b, int op) {
    if ((op != Py_EQ && op != Py_NE) || !is_motion(a)) Py_RETURN_NOTIMPLEMENTED;
    const bool eq = is_motion(b) && equal(as_motion(a), as_motion(b));
    return PyBool_FromLong(op == Py_EQ ? eq : !eq);
}

PyObject *repr(PyObject *self) {
    const Motion *m = as_motion(self);
    Ref start(end_text(m, false)), stop(end_text(m, true));
    if (!start || !stop) return nullptr;
    return PyUnicode_FromFormat(
        "TrajectoryNd(start = %U, stop = %U, p = %d, n = %d, dof = %d, "
        "order = %u)",
        start.get(), stop.get(), m->p, m->n, m->dof, m->order);
}

namespace {

// A float64 array over `data` (the object's own memory, which never moves while it lives),
// keeping self alive through its base.
PyObject *array_over(PyObject *self, double *data, int nd, npy_intp *dims) {
    if (data == nullptr) return capi::none();
    Ref arr(PyArray_New(&PyArray_Type, nd, dims, NPY_DOUBLE, nullptr, data, 0,
                        NPY_ARRAY_C_CONTIGUOUS | NPY_ARRAY_ALIGNED | NPY_ARRAY_WRITEABLE, nullptr));
    if (!arr) return nullptr;
    Py_INCREF(self);
    if (PyArray_SetBaseObject(reinterpret_cast<PyArrayObject *>(arr.get()), self) < 0)
        return nullptr;  // SetBaseObject consumed the reference
    return arr.release();
}

}  // namespace

PyObject *knot_view(PyObject *self, PyObject *) {
    Motion *m = as_motion(self);
    npy_intp dims[1] = {knot_count(m)};
    return array_over(self, m->knots, 1, dims);
}

PyObject *cpts_view(PyObject *self, PyObject *) {
    Motion *m = as_motion(self);
    npy_intp dims[2] = {row_count(m), m->dof};
    return array_over(self, m->cpts, 2, dims);
}

PyObject *reduce(PyObject *self, PyObject *) {
    Motion *m = as_motion(self);
    auto *tp = reinterpret_cast<PyObject *>(Py_TYPE(self));
    if (m->knots == nullptr) return Py_BuildValue("(O())", tp);
    Ref make(PyObject_GetAttrString(tp, "_from_arrays"));
    if (!make) return nullptr;
    npy_intp kd[1] = {knot_count(m)}, cd[2] = {row_count(m), m->dof};
    Ref knots(PyArray_SimpleNew(1, kd, NPY_DOUBLE)), cpts(PyArray_SimpleNew(2, cd, NPY_DOUBLE));
    if (!knots || !cpts) return nullptr;
    std::memcpy(PyArray_DATA(reinterpret_cast<PyArrayObject *>(knots.get())), m->knots,
                static_cast<size_t>(kd[0]) * sizeof(double));
    std::memcpy(PyArray_DATA(reinterpret_cast<PyArrayObject *>(cpts.get())), m->cpts,
                static_cast<size_t>(cpts_count(m)) * sizeof(double));
    return Py_BuildValue("(O(OOiI))", make.get(), knots.get(), cpts.get(), m->p, m->order);
}

}  // namespace pyorvex::multiaxis::protocol
