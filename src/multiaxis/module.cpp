// pyorvex.multiaxis: the hub of TrajectoryNd — its method table and docstrings, the type object,
// and the import step that takes the base type and the C-level tables from
// pyorvex.defdatastruct.
#define PYORVEX_MULTIAXIS_IMPORTS_NUMPY
#include <cstring>

#include "multiaxis.hpp"

namespace pyorvex::multiaxis {

ImportedTypes imported;
MotionVtab vtab{};

namespace {

using capi::fastcall;

PyMethodDef methods[] = {
    {"_from_arrays", fastcall(record::from_arrays), METH_FASTCALL | METH_KEYWORDS | METH_CLASS,
     "_from_arrays($type, knots, cpts, p, order)\n--\n\n"
     "A motion owning copies of the knot vector (1-D) and control points (n + 1, dof); the\n"
     "arrays are trusted to make one (private: use pyorvex.make_trajectory)."},
    {"from_axes", axes::from_axes, METH_O | METH_CLASS,
     "from_axes($type, trajs)\n--\n\n"
     "The motion whose axes are the given Trajectory1d objects, exactly: each raised to the\n"
     "highest degree among them and refined to the union of their knots. Domains and orders\n"
     "must agree (ValueError otherwise)."},
    {"axis", axes::axis, METH_O,
     "axis($self, i)\n--\n\nAxis i (negative i counts from the end) as a new Trajectory1d."},
    {"axes", axes::all_axes, METH_NOARGS, "axes($self)\n--\n\nEvery axis as a new Trajectory1d."},
    {"derivative", fastcall(operations::derivative), METH_FASTCALL | METH_KEYWORDS,
     "derivative($self, nu=1)\n--\n\n"
     "The derivative of order nu: degree p - nu, order self.order + nu (the zero function\n"
     "above the degree)."},
    {"antiderivative", fastcall(operations::antiderivative), METH_FASTCALL | METH_KEYWORDS,
     "antiderivative($self, nu=1)\n--\n\n"
     "The antiderivative of order nu, zero at self.start: degree p + nu, order\n"
     "self.order - nu (nu may not exceed self.order)."},
    {"degelev", fastcall(operations::degelev), METH_FASTCALL | METH_KEYWORDS,
     "degelev($self, nu=1)\n--\n\nThe same motion with the degree raised by nu."},
    {"knotins", fastcall(operations::knotins), METH_FASTCALL | METH_KEYWORDS,
     "knotins($self, u, r)\n--\n\nThe same motion with the knot u inserted r times (r <= p)."},
    {"knotref", operations::knotref, METH_O,
     "knotref($self, X)\n--\n\nThe same motion with every value of the increasing array X "
     "inserted."},
    {"knotrem", fastcall(operations::knotrem), METH_FASTCALL | METH_KEYWORDS,
     "knotrem($self, u, r, tol=1e-13)\n--\n\n"
     "A motion with the knot u removed up to r times: a copy goes only while every axis stays\n"
     "within tol of its curve."},
    {"knotsrem", fastcall(operations::knotsrem), METH_FASTCALL | METH_KEYWORDS,
     "knotsrem($self, tol=1e-13)\n--\n\n"
     "A motion with every interior knot removed that every axis can lose within tol."},
    {"rshift", operations::rshift, METH_O,
     "rshift($self, x)\n--\n\nMoves every knot by x, in place."},
    {"ashift", operations::ashift, METH_O,
     "ashift($self, x)\n--\n\nMoves the knots so that the domain starts at x, in place."},
    {"hscale", operations::hscale, METH_O,
     "hscale($self, k)\n--\n\nScales the knots by k about self.start, in place."},
    {"adapt", fastcall(operations::adapt), METH_FASTCALL | METH_KEYWORDS,
     "adapt($self, start, stop)\n--\n\nMaps the domain onto [start, stop], in place."},
    {"copy", record::py_copy, METH_NOARGS,
     "copy($self)\n--\n\nA new motion with copies of the data."},
    {"__copy__", record::py_copy, METH_NOARGS, nullptr},
    {"__deepcopy__", record::py_deepcopy, METH_O, nullptr},
    {"__reduce__", protocol::reduce, METH_NOARGS, nullptr},
    {"get_knotvector_asarray", protocol::knot_view, METH_NOARGS,
     "get_knotvector_asarray($self)\n--\n\n"
     "The knot vector as a NumPy array over the motion's own memory (None when empty)."},
    {"get_cpts_asarray", protocol::cpts_view, METH_NOARGS,
     "get_cpts_asarray($self)\n--\n\n"
     "The control points, shape (n + 1, dof), as a NumPy array over the motion's own memory\n"
     "(None when empty)."},
    {"loadxml", fastcall(persistence::py_loadxml), METH_FASTCALL | METH_KEYWORDS | METH_STATIC,
     "loadxml(fname, ID)\n--\n\n"
     "The motion saved under ID in the document fname (.pyorvex added to a name without an\n"
     "extension), bit for bit as it was saved. ValueError when no TrajectoryNd has that ID, or\n"
     "when the element's counts and numbers do not make a motion (finite, non-decreasing knots\n"
     "spanning a non-empty domain; n + p + 2 knots; (n + 1) * dof control points, dof >= 1)."},
    {"_getAttrib", persistence::py_getattrib, METH_NOARGS,
     "_getAttrib()\n--\n\nThe attributes of the motion's element (p, n, dof, order, start, stop)."},
    {"_addPyORVEXObject", fastcall(persistence::py_add), METH_FASTCALL | METH_KEYWORDS,
     "_addPyORVEXObject(root, ID)\n--\n\nAppends the element of the motion to the root node."},
    {"_updatePyORVEXObject", fastcall(persistence::py_update), METH_FASTCALL | METH_KEYWORDS,
     "_updatePyORVEXObject(tree, node, ID)\n--\n\nRewrites the element of the motion in place."},
    {nullptr, nullptr, 0, nullptr},
};

const char type_doc[] =
    "Motion of several axes: one B-spline knot vector shared by dof axes.\n"
    "\n"
    "Attributes\n"
    "----------\n"
    "p : int\n    Degree of the B-spline.\n"
    "n : int\n    Highest index of the control points (n + 1 rows).\n"
    "dof : int\n    Number of axes.\n"
    "order : int\n    Order of derivation the motion refers to.\n"
    "start, stop : float\n    Ends of the domain (first and last knot).\n"
    "\n"
    "Notes\n"
    "-----\n"
    "m(x) gives shape (dof,) at a number and (len(x), dof) at an array, m(x, nu) the\n"
    "derivative of order nu. Build one with pyorvex.make_trajectory(knots, cpts, p) and\n"
    "2-D cpts, or TrajectoryNd.from_axes(trajs). savexml and loadxml keep it in the documents\n"
    "of Trajectory1d and Point1d, as the element TrajectoryNd.\n";

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "pyorvex.multiaxis",
    "TrajectoryNd: motions of several axes over one knot vector.",
    -1,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// The type objects and the tables of pyorvex.defdatastruct, checked against the layout this
// module was built with.
bool import_defdatastruct() {
    Ref dds(PyImport_ImportModule("pyorvex.defdatastruct"));
    if (!dds) return false;
    Ref base(PyObject_GetAttrString(dds.get(), "PyORVEXObject"));
    Ref traj(PyObject_GetAttrString(dds.get(), "Trajectory1d"));
    if (!base || !traj) return false;
    if (!PyType_Check(base.get()) || !PyType_Check(traj.get())) {
        PyErr_SetString(PyExc_TypeError, "pyorvex.defdatastruct does not export its types");
        return false;
    }
    auto *bt = reinterpret_cast<PyTypeObject *>(base.get());
    auto *tt = reinterpret_cast<PyTypeObject *>(traj.get());
    if (bt->tp_basicsize != sizeof(pyorvex_PyORVEXObject) ||
        tt->tp_basicsize < static_cast<Py_ssize_t>(sizeof(pyorvex_Trajectory1d))) {
        PyErr_SetString(PyExc_ImportError,
                        "pyorvex.defdatastruct does not have the layout of its C header");
        return false;
    }
    void *tables[2] = {};
    PyTypeObject *types[2] = {bt, tt};
    for (int i = 0; i < 2; ++i) {
        PyObject *capsule = PyDict_GetItemString(types[i]->tp_dict, "__pyx_vtable__");
        if (capsule == nullptr || !PyCapsule_CheckExact(capsule)) {
            PyErr_SetString(PyExc_ImportError, "pyorvex.defdatastruct has no C-level table");
            return false;
        }
        tables[i] = PyCapsule_GetPointer(capsule, nullptr);
        if (tables[i] == nullptr) return false;
    }
    Ref capi(PyObject_GetAttrString(dds.get(), "__pyx_capi__"));
    if (!capi) return false;
    PyObject *helpers =
        PyDict_Check(capi.get()) ? PyDict_GetItemString(capi.get(), "persistence") : nullptr;
    auto *api = helpers == nullptr
                    ? nullptr
                    : static_cast<const pyorvex_persistence_api *>(
                          PyCapsule_GetPointer(helpers, PYORVEX_PERSISTENCE_API_NAME));
    if (api == nullptr || api->size < sizeof(pyorvex_persistence_api)) {
        PyErr_Clear();
        PyErr_SetString(PyExc_ImportError,
                        "pyorvex.defdatastruct does not export the persistence helpers");
        return false;
    }
    // The types live as long as the process: defdatastruct is never unloaded.
    imported.base = reinterpret_cast<PyTypeObject *>(base.release());
    imported.trajectory = reinterpret_cast<PyTypeObject *>(traj.release());
    imported.base_vtab = static_cast<pyorvex_PyORVEXObject_vtab *>(tables[0]);
    imported.trajectory_vtab = static_cast<pyorvex_Trajectory1d_vtab *>(tables[1]);
    imported.persistence = api;
    return true;
}

}  // namespace

PyTypeObject type = [] {
    PyTypeObject t;
    std::memset(static_cast<void *>(&t), 0, sizeof t);
    Py_SET_REFCNT(reinterpret_cast<PyObject *>(&t), 1);
    t.tp_name = "pyorvex.multiaxis.TrajectoryNd";
    t.tp_basicsize = sizeof(Motion);
    t.tp_dealloc = record::dealloc;
    t.tp_repr = protocol::repr;
    t.tp_str = protocol::repr;
    t.tp_hash = PyObject_HashNotImplemented;
    t.tp_call = evaluation::call;
    t.tp_as_number = &algebra::as_number;
    t.tp_flags = Py_TPFLAGS_DEFAULT;
    t.tp_doc = type_doc;
    t.tp_richcompare = protocol::richcompare;
    t.tp_methods = methods;
    t.tp_getset = record::getset;
    t.tp_new = record::tp_new;
    return t;
}();

}  // namespace pyorvex::multiaxis

namespace ma = pyorvex::multiaxis;

PyMODINIT_FUNC PyInit_multiaxis(void) {
    if (PyArray_ImportNumPyAPI() < 0) return nullptr;
    if (!ma::import_defdatastruct()) return nullptr;
    // The base's table with the persistence slots of this type.
    ma::vtab.base = *ma::imported.base_vtab;
    ma::persistence::install(&ma::vtab);
    ma::type.tp_base = ma::imported.base;
    if (PyType_Ready(&ma::type) < 0) return nullptr;
    ma::Ref capsule(PyCapsule_New(&ma::vtab, nullptr, nullptr));
    if (!capsule || PyDict_SetItemString(ma::type.tp_dict, "__pyx_vtable__", capsule.get()) < 0)
        return nullptr;
    // NumPy's operators defer to ours, so that vector - motion is a motion (not an object array
    // of motions).
    if (PyDict_SetItemString(ma::type.tp_dict, "__array_ufunc__", Py_None) < 0) return nullptr;
    if (ma::persistence::register_form() < 0) return nullptr;
    PyType_Modified(&ma::type);
    ma::Ref module(PyModule_Create(&ma::module_def));
    if (!module) return nullptr;
    ma::Ref added = ma::Ref::borrow(reinterpret_cast<PyObject *>(&ma::type));
    if (PyModule_AddObject(module.get(), "TrajectoryNd", added.get()) < 0) return nullptr;
    added.release();
    // The C-level interface other native modules read and make motions through.
    static const pyorvex_motion_api api{sizeof(pyorvex_motion_api), &ma::type, ma::new_motion};
    ma::Ref c_api(
        PyCapsule_New(const_cast<pyorvex_motion_api *>(&api), PYORVEX_MOTION_API_NAME, nullptr));
    if (!c_api || PyModule_AddObject(module.get(), "_C_API", c_api.get()) < 0) return nullptr;
    c_api.release();
    return module.release();
}
