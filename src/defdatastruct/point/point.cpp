// Point1d: a point in joint space (t, val, order) over the plain record c_point1d. Construction,
// the three properties, the tuple factory, copying, and the exported C factory make_point.
//
// The type's tp_new only allocates (all fields zero, the method table set); the three values are
// taken by tp_init. The factories (from_tuple, copy, the XML loader) allocate through tp_new and
// fill the record themselves, so they never run a subclass's __init__.
#include "point.hpp"
#include "point.hpp"

namespace pyorvex::dds::point {

c_point1d make_point(double t, double val, unsigned int order) { return c_point1d{t, val, order}; }

Point *alloc_point() {
    // Always exactly Point1d, whatever class asked for the new point.
    PyObject *obj = type.tp_alloc(&type, 0);
    if (obj == nullptr) return nullptr;
    auto *pt = reinterpret_cast<Point *>(obj);
    pt->base.vtab = &vtab;
    return pt;
}

PyObject *from_tuple(PyObject *pnt) {
    if (!capi::check_arg_type(pnt, &PyTuple_Type, true, "pnt", true)) return nullptr;
    Ref made(reinterpret_cast<PyObject *>(alloc_point()));
    if (!made) return nullptr;
    if (pnt == Py_None) {
        PyErr_SetString(PyExc_TypeError, "'NoneType' object is not subscriptable");
        return nullptr;
    }
    // Items are taken one at a time, so a short tuple is refused at the first missing item and
    // nothing past its end is ever read.
    auto item = [pnt](Py_ssize_t i) -> PyObject * {
        if (i >= PyTuple_GET_SIZE(pnt)) {
            PyErr_SetString(PyExc_IndexError, "tuple index out of range");
            return nullptr;
        }
        return PyTuple_GET_ITEM(pnt, i);
    };
    c_point1d rec{};
    PyObject *x = item(0);
    if (x == nullptr || !capi::to_double(x, &rec.t)) return nullptr;
    x = item(1);
    if (x == nullptr || !capi::to_double(x, &rec.val)) return nullptr;
    x = item(2);
    if (x == nullptr || !capi::to_uint(x, &rec.order)) return nullptr;
    reinterpret_cast<Point *>(made.get())->p = rec;
    return made.release();
}

namespace {

Point *as_point(PyObject *self) { return reinterpret_cast<Point *>(self); }

// --- construction --------------------------------------------------------------------------------

PyObject *point_new(PyTypeObject *type, PyObject *, PyObject *) {
    // Arguments belong to __init__; a point allocated here holds t = 0.0, val = 0.0, order = 0.
    PyObject *obj = type->tp_alloc(type, 0);
    if (obj == nullptr) return nullptr;
    as_point(obj)->base.vtab = &vtab;
    return obj;
}

const char *const init_names[] = {"t", "val", "order"};
const capi::ArgSpec init_spec{"__init__", init_names, 3, 3};

int point_init(PyObject *self, PyObject *args, PyObject *kwargs) {
    PyObject *a[3];
    if (!capi::parse_tuple_args(init_spec, args, kwargs, a)) return -1;
    // All three are converted before any is stored: a refused call leaves the point as it was.
    c_point1d rec{};
    if (!capi::to_double(a[0], &rec.t) || !capi::to_double(a[1], &rec.val) ||
        !capi::to_uint(a[2], &rec.order))
        return -1;
    as_point(self)->p = rec;
    return 0;
}

// --- properties ----------------------------------------------------------------------------------

int refuse_delete() {
    PyErr_SetString(PyExc_NotImplementedError, "__del__");
    return -1;
}

PyObject *get_t(PyObject *self, void *) { return PyFloat_FromDouble(as_point(self)->p.t); }
PyObject *get_val(PyObject *self, void *) { return PyFloat_FromDouble(as_point(self)->p.val); }
PyObject *get_order(PyObject *self, void *) {
    return PyLong_FromUnsignedLong(as_point(self)->p.order);
}

int set_t(PyObject *self, PyObject *value, void *) {
    if (value == nullptr) return refuse_delete();
    double x;
    if (!capi::to_double(value, &x)) return -1;
    as_point(self)->p.t = x;
    return 0;
}

int set_val(PyObject *self, PyObject *value, void *) {
    if (value == nullptr) return refuse_delete();
    double x;
    if (!capi::to_double(value, &x)) return -1;
    as_point(self)->p.val = x;
    return 0;
}

int set_order(PyObject *self, PyObject *value, void *) {
    if (value == nullptr) return refuse_delete();
    unsigned int x;
    if (!capi::to_uint(value, &x)) return -1;
    as_point(self)->p.order = x;
    return 0;
}

// --- from_tuple ----------------------------------------------------------------------------------

const char *const from_tuple_names[] = {"pnt"};
const capi::ArgSpec from_tuple_spec{"from_tuple", from_tuple_names, 1, 1};

PyObject *py_from_tuple(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    PyObject *a[1];
    if (!capi::parse_args(from_tuple_spec, args, nargs, kw, a)) return nullptr;
    return from_tuple(a[0]);
}

// --- copy ----------------------------------------------------------------------------------------

PyObject *py_copy(PyObject *self, PyObject *);

PyObject *copy_op(Point *self, int skip_dispatch) {
    auto *obj = reinterpret_cast<PyObject *>(self);
    Ref result;
    const int found = capi::dispatch(obj, skip_dispatch, "copy", py_copy, &result);
    if (found < 0) return nullptr;
    if (found > 0) return capi::expect_instance_or_none(result.release(), &type);
    // The values are read as Python attributes, so a subclass's properties decide what is
    // copied; the copy itself is a plain Point1d.
    c_point1d rec{};
    Ref t(PyObject_GetAttrString(obj, "t"));
    if (!t || !capi::to_double(t.get(), &rec.t)) return nullptr;
    Ref val(PyObject_GetAttrString(obj, "val"));
    if (!val || !capi::to_double(val.get(), &rec.val)) return nullptr;
    Ref order(PyObject_GetAttrString(obj, "order"));
    if (!order || !capi::to_uint(order.get(), &rec.order)) return nullptr;
    Point *made = alloc_point();
    if (made == nullptr) return nullptr;
    made->p = rec;
    return reinterpret_cast<PyObject *>(made);
}

PyObject *py_copy(PyObject *self, PyObject *) { return copy_op(as_point(self), 1); }

PyObject *py_dunder_copy(PyObject *self, PyObject *) {
    Point *pt = as_point(self);
    return vt(pt)->copy(pt, 0);
}

const char *const deepcopy_names[] = {"memo"};
const capi::ArgSpec deepcopy_spec{"__deepcopy__", deepcopy_names, 1, 1};

PyObject *py_deepcopy(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    // A point holds no references, so a deep copy is a copy; memo has nothing to record.
    PyObject *a[1];
    if (!capi::parse_args(deepcopy_spec, args, nargs, kw, a)) return nullptr;
    Point *pt = as_point(self);
    return vt(pt)->copy(pt, 0);
}

// --- type ----------------------------------------------------------------------------------------

PyGetSetDef point_getset[] = {
    {"t", get_t, set_t, "Time coordinate.", nullptr},
    {"val", get_val, set_val, "Numeric value.", nullptr},
    {"order", get_order, set_order,
     "Derivation order the value refers to (0 displacement, 1 velocity, 2 acceleration, 3 jerk, "
     "...). Must be greater than or equal to zero.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const char point_doc[] =
    "Simple class for storing a point in joint space.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "t: float\n"
    "    Time coordinate.\n"
    "val: float\n"
    "    Numeric value.\n"
    "order: int\n"
    "    Derivation order the value refers to: 0 displacement, 1 velocity,\n"
    "    2 acceleration, 3 jerk, and so on. Must be greater than or equal to zero.\n"
    "\n"
    "Notes\n"
    "-----\n"
    "Points compare exactly and cannot be hashed or pickled; they are persisted\n"
    "through savexml and loadxml.\n";

}  // namespace

PyMethodDef methods[] = {
    {"from_tuple", fastcall(py_from_tuple), METH_FASTCALL | METH_KEYWORDS | METH_STATIC,
     "Factory function to create Point1d objects from given tuple.\n\nParameters\n----------\n"
     "pnt: tuple\n    (t, val, order); items after the third are ignored.\n\nReturns\n-------\n"
     "out: Point1d\n    A new point.\n"},
    {"copy", py_copy, METH_NOARGS,
     "Return a copy of the object.\n\nReturns\n-------\nout: Point1d\n    A new point with the "
     "same t, val and order.\n"},
    {"__copy__", py_dunder_copy, METH_NOARGS, nullptr},
    {"__deepcopy__", fastcall(py_deepcopy), METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"_getAttrib", point_py_getattrib, METH_NOARGS,
     "Returns a dictionary containing the attributes of the object.\n\nReturns\n-------\n"
     "out: dict\n    The texts of t, val and order.\n"},
    {"__reduce__", point_refuse_pickle, METH_NOARGS, nullptr},
    {"__setstate__", point_refuse_pickle, METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PointVtab vtab{};

void install(PointVtab *v) {
    v->base._getAttrib = point_getattrib_op;
    v->copy = copy_op;
}

PyTypeObject type = [] {
    PyTypeObject t = blank_type();
    t.tp_name = "pyorvex.defdatastruct.Point1d";
    t.tp_basicsize = sizeof(Point);
    t.tp_repr = point_repr;
    t.tp_hash = PyObject_HashNotImplemented;
    t.tp_str = point_str;
    t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE;
    t.tp_doc = point_doc;
    t.tp_richcompare = point_richcompare;
    t.tp_getset = point_getset;
    t.tp_base = &persistence::base_type;
    t.tp_init = point_init;
    t.tp_new = point_new;
    return t;
}();

}  // namespace pyorvex::dds::point
