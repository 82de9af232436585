// The call operator: m(x) and m(x, nu) at a number (a row of dof values) or at an array-like that
// flattens to one dimension, in any order (one row per abscissa, in the order given). The checks
// and messages are those of Trajectory1d's call: 'x' out of domain for a number, "domain error"
// for an array with an abscissa outside the domain or a NaN, repeated abscissae refused.
//
// Arrays are read once into a private snapshot, so that the checks hold for exactly what the
// kernel evaluates even if another thread rewrites the caller's array meanwhile. Derivatives are
// the values of the derivative motion (exact: its control points are the differenced ones).
#include <algorithm>
#include <cstring>

#include "multiaxis.hpp"
#include "order.hpp"
#include "parallel.hpp"
#include "scan.hpp"

namespace pyorvex::multiaxis::evaluation {

namespace {

const char *const call_names[] = {"x", "nu"};
const capi::ArgSpec call_signature{"__call__", call_names, 1, 2};

PyObject *raise_value(const char *message) {
    PyErr_SetString(PyExc_ValueError, message);
    return nullptr;
}

// numpy.isscalar, as Trajectory1d's call decides between a number and an array (a str is a
// number that fails conversion, None an array), answered without the call for the common cases.
int is_scalar(PyObject *x) {
    if (PyFloat_Check(x) || PyLong_Check(x) || PyArray_IsScalar(x, Generic)) return 1;
    if (PyArray_Check(x)) return 0;
    Ref numpy(PyImport_ImportModule("numpy"));
    Ref answer(numpy ? PyObject_CallMethod(numpy.get(), "isscalar", "O", x) : nullptr);
    return answer ? PyObject_IsTrue(answer.get()) : -1;
}

// The motion whose values are asked: self for nu == 0, its derivative of order nu otherwise
// (an order above the degree gives the zero function).
PyObject *source(PyObject *self, int nu) {
    if (nu == 0) {
        Py_INCREF(self);
        return self;
    }
    return operations::derivative_of(as_motion(self), nu);
}

// 0 when the rows out[0..count) of the derivative of order nu (>= 1) of the motion m, at
// abscissae inside the domain, fit a double (the kernel's test); -1 with the overflow error
// otherwise: a differenced coefficient or the value went past the largest double.
int check_derivative(const Motion *m, int nu, const double *out, Py_ssize_t count) {
    if (nu < 1 ||
        kernel::derivative_status(span(out, count * m->dof), span(m->knots, knot_count(m)),
                                  span(m->cpts, cpts_count(m))) != kernel::EvalStatus::overflow)
        return 0;
    capi::raise_derivative_overflow(nu);
    return -1;
}

void rows(const Motion *d, const double *xs, Py_ssize_t count, double *out) {
    kernel::values_rows(span(xs, count), span(d->knots, knot_count(d)),
                        span(d->cpts, cpts_count(d)), d->p, static_cast<std::size_t>(d->dof),
                        vspan(out, count * d->dof));
}

// Rows of values at xs[0..m) (checked to lie in the domain, or a NaN number) into out.
bool fill(PyObject *self, int nu, const double *xs, Py_ssize_t m, double *out) {
    Ref src(source(self, nu));
    if (!src) return false;
    rows(as_motion(src.get()), xs, m, out);
    // A NaN number gives a row of NaN, as Trajectory1d's call gives NaN: not an overflow.
    return (m == 1 && xs[0] != xs[0]) || check_derivative(as_motion(self), nu, out, m) == 0;
}

PyObject *at_number(PyObject *self, PyObject *x, int nu) {
    const Motion *m = as_motion(self);
    if (nu < 0) return raise_value("'nu' must be non-negative number");
    double value;
    if (!capi::to_double(x, &value)) return nullptr;
    if (value < m->knots[0] || value > m->knots[knot_count(m) - 1]) {
        Ref text(capi::float_text(value));
        if (text) PyErr_Format(PyExc_ValueError, "'x' out of domain: %U", text.get());
        return nullptr;
    }
    npy_intp dims[1] = {m->dof};
    Ref out(PyArray_SimpleNew(1, dims, NPY_DOUBLE));
    if (!out) return nullptr;
    auto *data = static_cast<double *>(PyArray_DATA(reinterpret_cast<PyArrayObject *>(out.get())));
    if (!fill(self, nu, &value, 1, data)) return nullptr;
    return out.release();
}

using capi::Scratch;

// An unordered array, sorted once with its positions (the kernel's bucket sort, as Trajectory1d's
// call does): the repeated abscissa fails the order test on the sorted copy, its ends the domain
// test. The sorted points are then evaluated block by block with the forward walk and each
// block's rows scattered to the places of their abscissae.
PyObject *at_unordered(PyObject *self, const double *xs, Py_ssize_t count, int nu, double start,
                       double stop) {
    const Motion *m = as_motion(self);
    const auto size = static_cast<std::size_t>(count);
    const kernel::SortScratchSize need = kernel::sort_scratch_size(size);
    Scratch<double> sorted;
    Scratch<std::ptrdiff_t> order;
    Scratch<kernel::SortItem> items;
    Scratch<std::size_t> starts;
    if (!sorted.allocate(size) || !order.allocate(size) || !items.allocate(need.items) ||
        !starts.allocate(need.starts))
        return nullptr;
    kernel::sort_positions(xs, size, sorted.data(), order.data(), items.data(), starts.data());
    if (!kernel::strictly_increasing(sorted.data(), count))
        return raise_value("'xp' must be increasing");
    if (sorted.data()[0] < start || sorted.data()[count - 1] > stop)
        return raise_value("domain error");
    Ref src(source(self, nu));
    if (!src) return nullptr;
    const Motion *d = as_motion(src.get());
    const std::size_t dof = static_cast<std::size_t>(m->dof);
    npy_intp dims[2] = {count, m->dof};
    Ref out(PyArray_SimpleNew(2, dims, NPY_DOUBLE));
    if (!out) return nullptr;
    auto *data = static_cast<double *>(PyArray_DATA(reinterpret_cast<PyArrayObject *>(out.get())));
    constexpr Py_ssize_t block = 1024;
    Scratch<double> buffer;
    if (!buffer.allocate(static_cast<std::size_t>(std::min(block, count)) * dof)) return nullptr;
    const std::ptrdiff_t *at = order.data();
    for (Py_ssize_t i = 0; i < count; i += block) {
        const Py_ssize_t len = std::min(block, count - i);
        rows(d, sorted.data() + i, len, buffer.data());
        for (Py_ssize_t q = 0; q < len; ++q)
            std::memcpy(data + static_cast<std::size_t>(at[i + q]) * dof,
                        buffer.data() + static_cast<std::size_t>(q) * dof, dof * sizeof(double));
    }
    if (check_derivative(m, nu, data, count) < 0) return nullptr;
    return out.release();
}

// Increasing abscissae are evaluated block by block, each block copied into a private buffer,
// checked there (no NaN, increasing from the previous block on, inside the domain) and evaluated
// from it while it is in the cache: one read of the caller's array. A NaN fails the order test
// (copy_order_suspect, unlike strictly_increasing, flags it), so it reaches the general route's
// "domain error" rather than the kernel. Large arrays go chunk by chunk (capi/parallel.hpp); each
// chunk keeps the first and last abscissae it evaluated, and neighbouring chunks must join in
// order, so the checks hold for exactly what was evaluated. 1: done; 0: the array is not an
// increasing one inside the domain (the caller takes the full snapshot); -1: error.
constexpr Py_ssize_t kBlock = 4096;

struct ChunkEnds {
    double first, last;
    bool ok;
};

ChunkEnds increasing_chunk(const Motion *d, const double *xs, Py_ssize_t begin, Py_ssize_t end,
                           double start, double stop, double *out) {
    double block[kBlock];
    ChunkEnds ends{0.0, start, true};
    for (Py_ssize_t i = begin; i < end; i += kBlock) {
        const Py_ssize_t len = std::min(kBlock, end - i);
        const bool suspect = kernel::copy_order_suspect(xs + i, len, block);
        const double previous = ends.last;
        if (!(block[0] >= previous) || (i > begin && !(block[0] > previous)) || suspect ||
            !(block[len - 1] <= stop)) {
            ends.ok = false;
            return ends;
        }
        if (i == begin) ends.first = block[0];
        ends.last = block[len - 1];
        rows(d, block, len, out + i * d->dof);
    }
    return ends;
}

int increasing_blocks(const Motion *d, const double *xs, Py_ssize_t count, double start,
                      double stop, double *out) {
    const auto chunks = static_cast<Py_ssize_t>(capi::chunk_count(static_cast<std::size_t>(count)));
    Scratch<ChunkEnds> ends;
    if (!ends.allocate(chunks)) return -1;
    capi::for_each_chunk(static_cast<std::size_t>(count), [&](std::size_t b, std::size_t e) {
        ends.data()[b / capi::kChunkPoints] = increasing_chunk(
            d, xs, static_cast<Py_ssize_t>(b), static_cast<Py_ssize_t>(e), start, stop, out);
    });
    for (Py_ssize_t c = 0; c < chunks; ++c)
        if (!ends.data()[c].ok || (c > 0 && !(ends.data()[c].first > ends.data()[c - 1].last)))
            return 0;
    return 1;
}

bool plain_doubles(PyObject *x) {
    if (!PyArray_CheckExact(x)) return false;
    auto *a = reinterpret_cast<PyArrayObject *>(x);
    return PyArray_TYPE(a) == NPY_DOUBLE && PyArray_ISNOTSWAPPED(a) && PyArray_NDIM(a) == 1 &&
           PyArray_IS_C_CONTIGUOUS(a) && PyArray_ISALIGNED(a) && PyArray_SIZE(a) > 0;
}

PyObject *at_increasing(PyObject *self, PyObject *x, int nu) {
    const Motion *m = as_motion(self);
    auto *a = reinterpret_cast<PyArrayObject *>(x);
    const Py_ssize_t count = PyArray_SIZE(a);
    if (nu < 0) return raise_value("'nu' must be non-negative number");
    Ref src(source(self, nu));
    if (!src) return nullptr;
    npy_intp dims[2] = {count, m->dof};
    Ref out(PyArray_SimpleNew(2, dims, NPY_DOUBLE));
    if (!out) return nullptr;
    auto *data = static_cast<double *>(PyArray_DATA(reinterpret_cast<PyArrayObject *>(out.get())));
    const int done =
        increasing_blocks(as_motion(src.get()), static_cast<const double *>(PyArray_DATA(a)), count,
                          m->knots[0], m->knots[knot_count(m) - 1], data);
    if (done < 0) return nullptr;
    if (done == 1) return check_derivative(m, nu, data, count) < 0 ? nullptr : out.release();
    return Py_None;  // not increasing inside the domain: the general route decides
}

PyObject *at_array(PyObject *self, PyObject *x, int nu) {
    const Motion *m = as_motion(self);
    if (plain_doubles(x)) {
        PyObject *r = at_increasing(self, x, nu);
        if (r != Py_None) return r;
    }
    // The private snapshot (always a copy, whatever x is), converted as astype(float64) would:
    // an object array of numbers, or None, reads as numbers (NaN for None).
    Ref snap(PyArray_FROMANY(
        x, NPY_DOUBLE, 0, 0,
        NPY_ARRAY_C_CONTIGUOUS | NPY_ARRAY_ALIGNED | NPY_ARRAY_ENSURECOPY | NPY_ARRAY_FORCECAST));
    if (!snap) return nullptr;
    auto *sa = reinterpret_cast<PyArrayObject *>(snap.get());
    if (PyArray_NDIM(sa) > 1) return raise_value("'x' must be one-dimensional");
    const Py_ssize_t count = PyArray_SIZE(sa);
    const double *xs = static_cast<const double *>(PyArray_DATA(sa));
    if (count == 0) return raise_value("zero size arrays are not allowed");
    if (nu < 0) return raise_value("'nu' must be non-negative number");
    for (Py_ssize_t i = 0; i < count; ++i)
        if (xs[i] != xs[i]) return raise_value("domain error");
    const double start = m->knots[0], stop = m->knots[knot_count(m) - 1];
    if (!kernel::strictly_increasing(xs, count))
        return at_unordered(self, xs, count, nu, start, stop);
    if (xs[0] < start || xs[count - 1] > stop) return raise_value("domain error");
    npy_intp dims[2] = {count, m->dof};
    Ref out(PyArray_SimpleNew(2, dims, NPY_DOUBLE));
    if (!out) return nullptr;
    auto *data = static_cast<double *>(PyArray_DATA(reinterpret_cast<PyArrayObject *>(out.get())));
    if (!fill(self, nu, xs, count, data)) return nullptr;
    return out.release();
}

}  // namespace

PyObject *call(PyObject *self, PyObject *args, PyObject *kw) {
    PyObject *a[2];
    if (!capi::parse_tuple_args(call_signature, args, kw, a)) return nullptr;
    int nu = 0;
    if (a[1] != nullptr && !capi::to_int(a[1], &nu)) return nullptr;
    if (!require_data(as_motion(self))) return nullptr;
    const int scalar = is_scalar(a[0]);
    if (scalar < 0) return nullptr;
    return scalar ? at_number(self, a[0], nu) : at_array(self, a[0], nu);
}

}  // namespace pyorvex::multiaxis::evaluation
