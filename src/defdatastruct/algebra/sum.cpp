// The sum of two trajectories (c_splcsum) on the union of their knot vectors, sized by the
// kernel's knotuniondim and filled by its splcsum; and the product (c_splcmul), which is not
// implemented.
#include "algebra.hpp"

namespace pyorvex::dds::algebra {

namespace {

PyObject *as_object(Traj *t) { return t != nullptr ? reinterpret_cast<PyObject *>(t) : Py_None; }

// M, N = result, with the interpreter's unpacking errors and the int conversion of each item.
bool unpack_pair(PyObject *result, int *first, int *second) {
    Ref it(PyObject_GetIter(result));
    if (!it) return false;
    int *targets[2] = {first, second};
    for (Py_ssize_t i = 0; i < 2; ++i) {
        Ref item(PyIter_Next(it.get()));
        if (!item) {
            if (!PyErr_Occurred())
                PyErr_Format(PyExc_ValueError, "not enough values to unpack (expected 2, got %zd)",
                             i);
            return false;
        }
        if (!capi::to_int(item.get(), targets[i])) return false;
    }
    Ref extra(PyIter_Next(it.get()));
    if (extra) {
        PyErr_SetString(PyExc_ValueError, "too many values to unpack (expected 2)");
        return false;
    }
    return !PyErr_Occurred();
}

// The announced sizes must make a record: M + 1 knots for N + 1 control points of degree p.
// Anything else would leave part of a buffer unwritten or be written past.
bool check_sum_size(int M, int N, int p) {
    if (N >= 0 && static_cast<long long>(M) == static_cast<long long>(N) + p + 1) return true;
    PyErr_Format(PyExc_ValueError,
                 "the knot union announced %d knots for %d control points of degree %d", M + 1,
                 N + 1, p);
    return false;
}

bool check_same_degree(const Traj *self, const Traj *other) {
    if (other->p == self->p) return true;
    PyErr_SetString(PyExc_ValueError, "the input traiectories must have the same order");
    return false;
}

// The start and stop properties of both compared exactly, start first: a subclass may define
// its own domain.
bool check_same_domain(Traj *self, Traj *other) {
    double start1, start2, stop1, stop2;
    if (!trajectory::domain_start(self, &start1) || !trajectory::domain_start(other, &start2))
        return false;
    bool same = start1 == start2;
    if (same) {
        if (!trajectory::domain_stop(self, &stop1) || !trajectory::domain_stop(other, &stop2))
            return false;
        same = stop1 == stop2;
    }
    if (!same)
        PyErr_SetString(PyExc_ValueError,
                        "the input traiectories must have the same extremes of domain");
    return same;
}

}  // namespace

PyObject *c_splcsum(Traj *self, Traj *other, int skip_dispatch) {
    Ref result;
    const int found =
        capi::dispatch(self, skip_dispatch, "c_splcsum", py_c_splcsum, &result, as_object(other));
    if (found < 0) return nullptr;
    if (found > 0) return capi::expect_instance_or_none(result.release(), &trajectory::type);
    if (!capi::check_arg_type(as_object(other), &trajectory::type, false, "other")) return nullptr;
    if (!check_same_degree(self, other)) return nullptr;
    pyorvex_dview k1, c1, k2, c2;
    if (!trajectory::record_views(self, &k1, &c1) || !trajectory::record_views(other, &k2, &c2))
        return nullptr;
    if (!check_same_domain(self, other)) return nullptr;
    if (other->order != self->order) {
        PyErr_SetString(PyExc_ValueError, "the trajectories must have the same 'order'");
        return nullptr;
    }
    // A subclass's start or stop may have run Python code that gave either operand new arrays,
    // even another degree: the records are read afresh.
    if (!check_same_degree(self, other) || !trajectory::record_views(self, &k1, &c1) ||
        !trajectory::record_views(other, &k2, &c2))
        return nullptr;
    const int p = self->p;
    Ref dims(module_state.kernel.knotuniondim(k1, k2, p, 0));
    if (!dims) return nullptr;
    int M, N;
    if (!unpack_pair(dims.get(), &M, &N) || !check_sum_size(M, N, p)) return nullptr;
    trajectory::NewRecord record;
    if (!record.allocate(static_cast<Py_ssize_t>(M) + 1, static_cast<Py_ssize_t>(N) + 1))
        return nullptr;
    module_state.kernel.splcsum(k1, c1, k2, c2, p, M, record.knot_view(), N, record.cpts_view(), 0);
    return record.wrap(p, N, self->order);
}

PyObject *c_splcmul(Traj *self, Traj *other, int skip_dispatch) {
    Ref result;
    const int found =
        capi::dispatch(self, skip_dispatch, "c_splcmul", py_c_splcmul, &result, as_object(other));
    if (found < 0) return nullptr;
    if (found > 0) return capi::expect_instance_or_none(result.release(), &trajectory::type);
    if (!capi::check_arg_type(as_object(other), &trajectory::type, true, "other")) return nullptr;
    PyErr_SetNone(PyExc_NotImplementedError);
    return nullptr;
}

PyObject *py_c_splcsum(PyObject *self, PyObject *other) {
    // The type test runs in the operation itself, before anything reads 'other' as a record.
    return c_splcsum(reinterpret_cast<Traj *>(self), reinterpret_cast<Traj *>(other), 1);
}

PyObject *py_c_splcmul(PyObject *self, PyObject *other) {
    return c_splcmul(reinterpret_cast<Traj *>(self), reinterpret_cast<Traj *>(other), 1);
}

}  // namespace pyorvex::dds::algebra
