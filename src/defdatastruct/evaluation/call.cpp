// The call operator: t(x) and t(x, nu) at a scalar or at any array-like that flattens to one
// dimension, in any order, returning a float or a new float64 array in the order of the input.
//
// All evaluation goes through peval, dpeval, ceval and dceval. Two routes lead there for arrays:
//  - the general one, step by step with the array library (copy, flatten, argsort, fancy
//    indexing), used whenever the instance overrides ceval or dceval, so that the override sees
//    exactly the arrays it always has;
//  - a direct one for everything else, which gives the same results and errors while reading
//    the input where it is (copying.cpp): a float64 array is neither copied first
//    nor sorted when it is already increasing.
#include "evaluation.hpp"

namespace pyorvex::dds::evaluation {

namespace {

// --- arguments -----------------------------------------------------------------------------------

const char *const call_names[] = {"x", "nu"};
const capi::ArgSpec call_spec{"__call__", call_names, 1, 2};

PyObject *raise_negative_nu() {
    PyErr_SetString(PyExc_ValueError, "'nu' must be non-negative number");
    return nullptr;
}

// numpy.isscalar, answered without the call for the common cases it certainly decides the same
// way: Python floats and ints (numbers), NumPy scalars (numpy.generic) and plain arrays.
int is_scalar(PyObject *x) {
    if (PyFloat_Check(x) || PyLong_Check(x) || PyArray_IsScalar(x, Generic)) return 1;
    if (PyArray_CheckExact(x)) return 0;
    const NumpyCalls *np = &module_state.numpy;
    Ref answer(PyObject_CallOneArg(np->isscalar, x));
    if (!answer) return -1;
    return PyObject_IsTrue(answer.get());
}

PyObject *evaluate_scalar(Traj *self, PyObject *x, int nu) {
    if (nu < 0) return raise_negative_nu();
    double value;
    if (!capi::to_double(x, &value)) return nullptr;
    double result;
    if (nu == 0) {
        result = vt(self)->peval(self, value, 0);
    } else {
        pyorvex_opt_nu opt{1, nu};
        result = vt(self)->dpeval(self, value, 0, &opt);
    }
    if (result == -1.0 && PyErr_Occurred()) return nullptr;
    return PyFloat_FromDouble(result);
}

// --- turning the input into a fresh float64 array ------------------------------------------------

PyObject *raise_not_one_dimensional() {
    PyErr_SetString(PyExc_ValueError, "'x' must be one-dimensional");
    return nullptr;
}

// numpy.array(x, copy=True, ndmin=1), the dimension test, then
// numpy.ascontiguousarray(y.ravel(), dtype=numpy.float64).
PyObject *fresh_array_general(const NumpyCalls &np, PyObject *x) {
    PyObject *array_args[] = {x, Py_True, np.one};
    Ref y(PyObject_Vectorcall(np.array, array_args, 1, np.array_kwnames));
    if (!y) return nullptr;
    Ref ndim_obj(PyObject_GetAttrString(y.get(), "ndim"));
    if (!ndim_obj) return nullptr;
    const long ndim = PyLong_AsLong(ndim_obj.get());
    if (ndim == -1 && PyErr_Occurred()) return nullptr;
    if (ndim > 1) return raise_not_one_dimensional();
    Ref flat(PyObject_CallMethod(y.get(), "ravel", nullptr));
    if (!flat) return nullptr;
    PyObject *contiguous_args[] = {flat.get(), np.float64};
    return PyObject_Vectorcall(np.ascontiguousarray, contiguous_args, 1, np.dtype_kwnames);
}

// Plain arrays of booleans, integers or reals convert to float64 without any error the general
// route could raise, so one cast copy gives the same array.
bool plain_real_array(PyObject *x) {
    if (!PyArray_CheckExact(x)) return false;
    const int type = PyArray_TYPE(reinterpret_cast<PyArrayObject *>(x));
    return type <= NPY_LONGDOUBLE || type == NPY_HALF;
}

PyObject *fresh_array_direct(PyObject *x) {
    auto *source = reinterpret_cast<PyArrayObject *>(x);
    if (PyArray_NDIM(source) > 1) return raise_not_one_dimensional();
    npy_intp size = PyArray_SIZE(source);
    Ref out(PyArray_SimpleNew(1, &size, NPY_DOUBLE));
    if (!out) return nullptr;
    if (PyArray_CopyInto(reinterpret_cast<PyArrayObject *>(out.get()), source) < 0) return nullptr;
    return out.release();
}

// --- the two array routes ------------------------------------------------------------------------

// A plain, aligned, contiguous array of native doubles is read where it is: the call only reads
// its input.
bool readable_as_is(PyObject *x) {
    if (!PyArray_CheckExact(x)) return false;
    auto *a = reinterpret_cast<PyArrayObject *>(x);
    return PyArray_TYPE(a) == NPY_DOUBLE && PyArray_ISNOTSWAPPED(a) && PyArray_IS_C_CONTIGUOUS(a) &&
           PyArray_ISALIGNED(a);
}

PyObject *evaluate_direct(Traj *self, PyObject *x, int nu) {
    Ref converted;
    capi::DoubleBuffer buffer;
    const double *xs;
    Py_ssize_t m;
    if (readable_as_is(x)) {
        auto *a = reinterpret_cast<PyArrayObject *>(x);
        if (PyArray_NDIM(a) > 1) return raise_not_one_dimensional();
        xs = static_cast<const double *>(PyArray_DATA(a));
        m = PyArray_SIZE(a);
    } else {
        if (plain_real_array(x)) {
            converted = Ref(fresh_array_direct(x));
        } else {
            const NumpyCalls *np = &module_state.numpy;
            converted = Ref(fresh_array_general(*np, x));
        }
        if (!converted || !buffer.acquire(converted.get())) return nullptr;
        xs = buffer.data();
        m = buffer.size();
    }
    if (nu < 0) return raise_negative_nu();
    npy_intp size = m;
    Ref out(PyArray_SimpleNew(1, &size, NPY_DOUBLE));
    if (!out) return nullptr;
    auto *result =
        static_cast<double *>(PyArray_DATA(reinterpret_cast<PyArrayObject *>(out.get())));
    if (evaluate_copying(self, xs, result, m, nu > 0, nu) < 0) return nullptr;
    return out.release();
}

// A NaN abscissa lies outside every domain; the call refuses it before any sorting, whatever
// else the array holds (the direct route gives the same error).
bool holds_nan(const double *xs, Py_ssize_t m) {
    for (Py_ssize_t i = 0; i < m; ++i)
        if (xs[i] != xs[i]) return true;
    return false;
}

PyObject *evaluate_general(Traj *self, const NumpyCalls &np, PyObject *x, int nu) {
    Ref y(fresh_array_general(np, x));
    if (!y) return nullptr;
    capi::DoubleBuffer buffer;
    if (!buffer.acquire(y.get())) return nullptr;
    if (holds_nan(buffer.data(), buffer.size())) {
        PyErr_SetString(PyExc_ValueError, "domain error");
        return nullptr;
    }
    const bool ordered = strictly_increasing(buffer.data(), buffer.size());
    Ref idx;
    if (!ordered) {
        buffer.release();
        idx = Ref(PyObject_CallOneArg(np.argsort, y.get()));
        if (!idx) return nullptr;
        y = Ref(PyObject_GetItem(y.get(), idx.get()));
        if (!y || !buffer.acquire(y.get())) return nullptr;
    }
    if (nu == 0) {
        if (vt(self)->ceval(self, buffer.view(), 0) < 0) return nullptr;
    } else if (nu > 0) {
        pyorvex_opt_nu opt{1, nu};
        if (vt(self)->dceval(self, buffer.view(), 0, &opt) < 0) return nullptr;
    } else {
        return raise_negative_nu();
    }
    buffer.release();
    if (ordered) return y.release();
    Ref inverse(PyObject_CallOneArg(np.argsort, idx.get()));
    if (!inverse) return nullptr;
    return PyObject_GetItem(y.get(), inverse.get());
}

// 1 when the array operation the call would use is not the built-in one (a Python override, or
// another table installed by a native subtype), 0 when it is, -1 with an exception set.
int array_operation_replaced(Traj *self, int nu) {
    const char *name;
    void *builtin;
    if (nu == 0) {
        if (vt(self)->ceval != ceval_op) return 1;
        name = "ceval";
        builtin = builtin_of(py_ceval);
    } else if (nu > 0) {
        if (vt(self)->dceval != dceval_op) return 1;
        name = "dceval";
        builtin = builtin_of(py_dceval);
    } else {
        return 0;  // refused before any evaluation either way
    }
    Ref method;
    return capi::find_override(reinterpret_cast<PyObject *>(self), name, builtin, &method);
}

}  // namespace

PyObject *call(PyObject *self, PyObject *args, PyObject *kw) {
    PyObject *a[2];
    if (!capi::parse_tuple_args(call_spec, args, kw, a)) return nullptr;
    int nu = 0;
    if (a[1] != nullptr && !capi::to_int(a[1], &nu)) return nullptr;
    auto *t = reinterpret_cast<Traj *>(self);
    PyObject *x = a[0];
    const int scalar = is_scalar(x);
    if (scalar < 0) return nullptr;
    if (scalar) return evaluate_scalar(t, x, nu);
    const int replaced = array_operation_replaced(t, nu);
    if (replaced < 0) return nullptr;
    if (replaced == 0) return evaluate_direct(t, x, nu);
    const NumpyCalls *np = &module_state.numpy;
    return evaluate_general(t, *np, x, nu);
}

const char call_doc[] =
    "Evaluates the trajectory or its dervative.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "x: double or array_like\n"
    "    The x-coordinate(s) of the data point(s).\n"
    "nu: int\n"
    "    Derivative order. Default is 0.\n"
    "\n"
    "Returns\n"
    "-------\n"
    "out: float or ndarray\n"
    "    If 'x' is a scalar number, a float type is returned. Otherwise a numpy array is "
    "returned.\n"
    "\n"
    "Notes\n"
    "-----\n"
    "An array-like 'x' may come in any order and is flattened to one dimension; it is never\n"
    "modified. The results are returned in the order of the input. Repeated abscissae are\n"
    "refused, and every abscissa must lie in the domain [self.start, self.stop]; a NaN in an\n"
    "array (None included, which converts to NaN) counts as outside it.\n";

}  // namespace pyorvex::dds::evaluation
