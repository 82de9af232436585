// The number protocol of TrajectoryNd. A number, or a vector of one value per axis, acts on the
// control points of each axis (the basis functions sum to one on the domain, so shifting or
// scaling an axis's control points shifts or scales that axis); two motions add on the union of
// their knots. Binary operators and unary minus give a new motion; the in-place forms change
// self. An operand is checked in full before anything changes.
#include <cerrno>
#include <cmath>
#include <cstring>

#include "multiaxis.hpp"

namespace pyorvex::multiaxis::algebra {

namespace {

// A number, a NumPy scalar or a 0-d array: one value for every axis, as Trajectory1d takes them.
bool is_number(PyObject *x) {
    if (PyFloat_Check(x) || PyLong_Check(x) || PyArray_IsScalar(x, Generic)) return true;
    if (PyArray_Check(x)) return PyArray_NDIM(reinterpret_cast<PyArrayObject *>(x)) == 0;
    if (PySequence_Check(x)) return false;
    PyNumberMethods *nb = Py_TYPE(x)->tp_as_number;
    return nb != nullptr && (nb->nb_float != nullptr || nb->nb_index != nullptr);
}

// The operand as dof values in `out` (a number repeated): 1; 0 for an operand of another kind
// (NotImplemented); -1 with ValueError for a vector of the wrong shape or a value that is not
// finite.
int operand_values(PyObject *x, const Motion *m, Doubles *out) {
    if (PyUnicode_Check(x) || PyBytes_Check(x)) return 0;
    const bool number = is_number(x);
    if (!number && !PyArray_Check(x) && !PySequence_Check(x)) return 0;
    if (!require_data(m) || !out->allocate(m->dof)) return -1;
    if (number) {
        double v;
        if (!capi::to_double(x, &v)) return -1;
        for (int j = 0; j < m->dof; ++j) out->data()[j] = v;
    } else {
        Ref a(PyArray_FROMANY(x, NPY_DOUBLE, 0, 0, NPY_ARRAY_C_CONTIGUOUS | NPY_ARRAY_ALIGNED));
        if (!a) return -1;
        auto *arr = reinterpret_cast<PyArrayObject *>(a.get());
        if (PyArray_NDIM(arr) != 1 || PyArray_DIM(arr, 0) != m->dof) {
            Ref shape(PyObject_GetAttrString(a.get(), "shape"));
            if (shape)
                PyErr_Format(PyExc_ValueError,
                             "'other' must be a number or a vector of dof = %d values, got shape "
                             "%R",
                             m->dof, shape.get());
            return -1;
        }
        std::memcpy(out->data(), PyArray_DATA(arr), static_cast<size_t>(m->dof) * sizeof(double));
    }
    for (int j = 0; j < m->dof; ++j)
        if (!std::isfinite(out->data()[j])) {
            PyErr_SetString(PyExc_ValueError, "'other' must be finite");
            return -1;
        }
    return 1;
}

enum class Op { shift, scale };

void apply(Motion *m, Op op, const double *v) {
    const Py_ssize_t rows = row_count(m);
    const int dof = m->dof;
    for (Py_ssize_t i = 0; i < rows; ++i) {
        double *row = m->cpts + i * dof;
        for (int j = 0; j < dof; ++j) row[j] = op == Op::shift ? row[j] + v[j] : row[j] * v[j];
    }
}

// What the operand does to self's control points: values to add (sign) or multiply by
// (reciprocal for a division).
enum class Kind { add, subtract, multiply, divide };

int prepare(PyObject *x, const Motion *m, Kind kind, Doubles *v) {
    const int got = operand_values(x, m, v);
    if (got <= 0) return got;
    for (int j = 0; j < m->dof; ++j) {
        double &e = v->data()[j];
        if (kind == Kind::subtract) e = -e;
        if (kind == Kind::divide) {
            if (e == 0.0) {
                PyErr_SetString(PyExc_ZeroDivisionError, "float division by zero");
                return -1;
            }
            e = 1.0 / e;
            if (std::isinf(e)) {  // the reciprocal of a subnormal, as Trajectory1d refuses it
                errno = ERANGE;
                PyErr_SetFromErrno(PyExc_OverflowError);
                return -1;
            }
        }
    }
    return 1;
}

Op op_of(Kind kind) {
    return (kind == Kind::add || kind == Kind::subtract) ? Op::shift : Op::scale;
}

PyObject *in_place(PyObject *self, PyObject *x, Kind kind) {
    if (!is_motion(self) || is_motion(x)) Py_RETURN_NOTIMPLEMENTED;
    Doubles v;
    const int got = prepare(x, as_motion(self), kind, &v);
    if (got < 0) return nullptr;
    if (got == 0) Py_RETURN_NOTIMPLEMENTED;
    apply(as_motion(self), op_of(kind), v.data());
    Py_INCREF(self);
    return self;
}

// A new motion: a copy of m with the operand applied.
PyObject *on_copy(PyObject *m, PyObject *x, Kind kind) {
    Doubles v;
    const int got = prepare(x, as_motion(m), kind, &v);
    if (got < 0) return nullptr;
    if (got == 0) Py_RETURN_NOTIMPLEMENTED;
    Ref r(copy_motion(as_motion(m)));
    if (!r) return nullptr;
    apply(as_motion(r.get()), op_of(kind), v.data());
    return r.release();
}

PyObject *negated(PyObject *m) {
    if (!require_data(as_motion(m))) return nullptr;
    Ref r(copy_motion(as_motion(m)));
    if (!r) return nullptr;
    Motion *c = as_motion(r.get());
    for (Py_ssize_t i = 0; i < cpts_count(c); ++i) c->cpts[i] = -c->cpts[i];
    return r.release();
}

PyObject *add(PyObject *a, PyObject *b) {
    if (is_motion(a) && is_motion(b)) return operations::sum(as_motion(a), as_motion(b));
    if (is_motion(a)) return on_copy(a, b, Kind::add);
    return on_copy(b, a, Kind::add);
}

PyObject *subtract(PyObject *a, PyObject *b) {
    if (is_motion(a) && is_motion(b)) {
        Ref neg(negated(b));
        if (!neg) return nullptr;
        return operations::sum(as_motion(a), as_motion(neg.get()));
    }
    if (is_motion(a)) return on_copy(a, b, Kind::subtract);
    // x - m: -m shifted by x.
    Doubles v;
    const int got = prepare(a, as_motion(b), Kind::add, &v);
    if (got < 0) return nullptr;
    if (got == 0) Py_RETURN_NOTIMPLEMENTED;
    Ref r(negated(b));
    if (!r) return nullptr;
    apply(as_motion(r.get()), Op::shift, v.data());
    return r.release();
}

PyObject *multiply(PyObject *a, PyObject *b) {
    if (is_motion(a) && is_motion(b)) Py_RETURN_NOTIMPLEMENTED;
    if (is_motion(a)) return on_copy(a, b, Kind::multiply);
    return on_copy(b, a, Kind::multiply);
}

PyObject *true_divide(PyObject *a, PyObject *b) {
    if (!is_motion(a) || is_motion(b)) Py_RETURN_NOTIMPLEMENTED;
    return on_copy(a, b, Kind::divide);
}

PyObject *inplace_add(PyObject *s, PyObject *x) { return in_place(s, x, Kind::add); }
PyObject *inplace_subtract(PyObject *s, PyObject *x) { return in_place(s, x, Kind::subtract); }
PyObject *inplace_multiply(PyObject *s, PyObject *x) { return in_place(s, x, Kind::multiply); }
PyObject *inplace_divide(PyObject *s, PyObject *x) { return in_place(s, x, Kind::divide); }

}  // namespace

PyNumberMethods as_number = [] {
    PyNumberMethods n{};
    n.nb_add = add;
    n.nb_subtract = subtract;
    n.nb_multiply = multiply;
    n.nb_true_divide = true_divide;
    n.nb_negative = negated;
    n.nb_inplace_add = inplace_add;
    n.nb_inplace_subtract = inplace_subtract;
    n.nb_inplace_multiply = inplace_multiply;
    n.nb_inplace_true_divide = inplace_divide;
    return n;
}();

}  // namespace pyorvex::multiaxis::algebra
