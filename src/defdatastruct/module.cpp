// pyorvex.defdatastruct: module creation and the exec step that readies the types, binds the
// kernel of pyorvex.curvekit, imports what the module calls and publishes its registry.
#define PYORVEX_DDS_IMPORTS_NUMPY
#include "internal.hpp"

#include "algebra/algebra.hpp"
#include "evaluation/evaluation.hpp"
#include "knots/knots.hpp"
#include "persistence/persistence.hpp"
#include "point/point.hpp"
#include "trajectory/trajectory.hpp"

#include <frameobject.h>

#include <cstring>
#include <initializer_list>
#include <utility>
#include <vector>

namespace pyorvex::dds {

ModuleState module_state;
TrajVtab trajectory::vtab{};

namespace {

const char module_doc[] =
    "In this module there are the data structures necessary for the working of the library.";

const char module_name[] = "pyorvex.defdatastruct";

// --- assembling the types ------------------------------------------------------------------------

std::vector<PyMethodDef> concat(std::initializer_list<const PyMethodDef *> parts) {
    std::vector<PyMethodDef> all;
    for (const PyMethodDef *part : parts)
        for (const PyMethodDef *m = part; m->ml_name != nullptr; ++m) all.push_back(*m);
    all.push_back({nullptr, nullptr, 0, nullptr});
    return all;
}

std::vector<PyMethodDef> &point_method_table() {
    static std::vector<PyMethodDef> table = concat({point::methods, persistence::point_methods});
    return table;
}

std::vector<PyMethodDef> &trajectory_method_table() {
    static std::vector<PyMethodDef> table =
        concat({trajectory::methods, evaluation::trajectory_methods, knots::trajectory_methods,
                algebra::trajectory_methods, persistence::trajectory_methods});
    return table;
}

void fill_method_tables() {
    PointVtab point{};
    TrajVtab traj{};
    persistence::install(&persistence::base_vtab, &point, &traj);
    point::install(&point);
    trajectory::install(&traj);
    evaluation::install(&traj);
    knots::install(&traj);
    algebra::install(&traj);
    point::vtab = point;
    trajectory::vtab = traj;
}

// The call slot's wrapper carries the call operator's docstring.
void set_call_doc() {
    static wrapperbase call_wrapper;
    PyObject *wrapper = PyDict_GetItemString(trajectory::type.tp_dict, "__call__");
    if (wrapper != nullptr && Py_IS_TYPE(wrapper, &PyWrapperDescr_Type)) {
        auto *descr = reinterpret_cast<PyWrapperDescrObject *>(wrapper);
        call_wrapper = *descr->d_base;
        call_wrapper.doc = evaluation::call_doc;
        descr->d_base = &call_wrapper;
    }
}

int ready_type(PyObject *module, PyTypeObject *type, const char *name, void *vtab) {
    if (PyType_Ready(type) < 0) return -1;
    Ref capsule(PyCapsule_New(vtab, nullptr, nullptr));
    if (!capsule || PyDict_SetItemString(type->tp_dict, "__pyx_vtable__", capsule.get()) < 0)
        return -1;
    PyType_Modified(type);
    Ref added = Ref::borrow(reinterpret_cast<PyObject *>(type));
    if (PyModule_AddObject(module, name, added.get()) < 0) return -1;
    added.release();  // the module took it
    return 0;
}

int ready_types(PyObject *module) {
    fill_method_tables();
    persistence::base_type.tp_methods = persistence::base_methods;
    point::type.tp_methods = point_method_table().data();
    trajectory::type.tp_methods = trajectory_method_table().data();
    // The slots of Trajectory1d that belong to subsystems above the record.
    trajectory::type.tp_as_number = &algebra::as_number;
    trajectory::type.tp_call = evaluation::call;
    if (ready_type(module, &persistence::base_type, "PyORVEXObject", &persistence::base_vtab) < 0)
        return -1;
    if (ready_type(module, &point::type, "Point1d", &point::vtab) < 0) return -1;
    if (PyType_Ready(&trajectory::type) < 0) return -1;
    set_call_doc();
    // Trajectory1d pickles through __getstate__/__setstate__ with the standard protocol: its own
    // __reduce__ entry stops the base's reduce from being inherited.
    PyObject *object_reduce = PyDict_GetItemString(PyBaseObject_Type.tp_dict, "__reduce__");
    if (object_reduce == nullptr ||
        PyDict_SetItemString(trajectory::type.tp_dict, "__reduce__", object_reduce) < 0)
        return -1;
    return ready_type(module, &trajectory::type, "Trajectory1d", &trajectory::vtab);
}

// --- imported types ------------------------------------------------------------------------------

// An imported type the module relies on must be a type object, and not smaller than the layout
// the module was built against (size 0: not compared). warn_larger: a larger one only warns.
int check_imported_type(PyObject *from, const char *from_name, const char *name, Py_ssize_t size,
                        bool warn_larger) {
    Ref obj(PyObject_GetAttrString(from, name));
    if (!obj) return -1;
    if (!PyType_Check(obj.get())) {
        PyErr_Format(PyExc_TypeError, "%.200s.%.200s is not a type object", from_name, name);
        return -1;
    }
    if (size == 0) return 0;
    const Py_ssize_t actual = reinterpret_cast<PyTypeObject *>(obj.get())->tp_basicsize;
    if (actual < size) {
        PyErr_Format(PyExc_ValueError,
                     "%.200s.%.200s size changed, may indicate binary incompatibility. Expected "
                     "%zd from C header, got %zd from PyObject",
                     from_name, name, size, actual);
        return -1;
    }
    if (actual > size && warn_larger)
        return PyErr_WarnFormat(PyExc_RuntimeWarning, 0,
                                "%.200s.%.200s size changed, may indicate binary incompatibility. "
                                "Expected %zd from C header, got %zd from PyObject",
                                from_name, name, size, actual);
    return 0;
}

int check_imported_types() {
    Ref builtins(PyImport_ImportModule("builtins"));
    if (!builtins ||
        check_imported_type(builtins.get(), "builtins", "type",
                            static_cast<Py_ssize_t>(sizeof(PyHeapTypeObject)), true) < 0)
        return -1;
    Ref numpy(PyImport_ImportModule("numpy"));
    if (!numpy) return -1;
    for (const char *name : {"dtype", "flatiter", "broadcast", "ndarray", "ufunc"})
        if (check_imported_type(numpy.get(), "numpy", name, 0, false) < 0) return -1;
    return 0;
}

// --- kernel binding ------------------------------------------------------------------------------

int bind_kernel() {
    Ref curvekit(PyImport_ImportModule("pyorvex.curvekit"));
    if (!curvekit) return -1;
    Ref capi(PyObject_GetAttrString(curvekit.get(), "__pyx_capi__"));
    if (!capi) return -1;
    auto bind = [&](const char *name, const char *signature, void **slot) {
        Ref item(PyMapping_GetItemString(capi.get(), name));
        if (!item) {
            PyErr_Clear();
            PyErr_Format(PyExc_ImportError, "%.200s does not export expected C function %.200s",
                         "pyorvex.curvekit", name);
            return false;
        }
        PyObject *capsule = item.get();
        const char *got = PyCapsule_CheckExact(capsule) ? PyCapsule_GetName(capsule) : nullptr;
        if (got == nullptr || std::strcmp(got, signature) != 0) {
            PyErr_Clear();
            PyErr_Format(PyExc_TypeError,
                         "C function %.200s.%.200s has wrong signature (expected %.500s, got "
                         "%.500s)",
                         "pyorvex.curvekit", name, signature, got ? got : "(none)");
            return false;
        }
        *slot = PyCapsule_GetPointer(capsule, got);
        return *slot != nullptr;
    };
    pyorvex_kernel_table table{};
#define PYORVEX_BIND(name, sig) \
    if (!bind(#name, sig, reinterpret_cast<void **>(&table.name))) return -1;
    PYORVEX_KERNEL_FUNCTIONS(PYORVEX_BIND)
#undef PYORVEX_BIND
    module_state.kernel = table;
    return 0;
}

// --- imports -------------------------------------------------------------------------------------

int import_numpy_api() {
    if (_import_array() >= 0) return 0;
    if (PyErr_ExceptionMatches(PyExc_Exception)) {
        PyErr_Clear();
        PyErr_SetString(PyExc_ImportError, "numpy.core.multiarray failed to import");
    }
    return -1;
}

// Stores the attributes `names` of obj in `slots`, as references of the module state.
bool hold_attributes(PyObject *obj,
                     std::initializer_list<std::pair<const char *, PyObject **>> slots) {
    for (const auto &[name, slot] : slots) {
        *slot = PyObject_GetAttrString(obj, name);
        if (*slot == nullptr) return false;
    }
    return true;
}

int hold_numpy_calls(PyObject *numpy) {
    NumpyCalls &np = module_state.numpy;
    if (!hold_attributes(numpy, {{"isscalar", &np.isscalar},
                                 {"array", &np.array},
                                 {"ascontiguousarray", &np.ascontiguousarray},
                                 {"argsort", &np.argsort},
                                 {"float64", &np.float64}}))
        return -1;
    np.array_kwnames = Py_BuildValue("(ss)", "copy", "ndmin");
    np.dtype_kwnames = Py_BuildValue("(s)", "dtype");
    np.one = PyLong_FromLong(1);
    return np.array_kwnames && np.dtype_kwnames && np.one ? 0 : -1;
}

bool intern_names() {
    ModuleState &s = module_state;
    std::pair<const char *, PyObject **> names[] = {
        {"__eq__", &s.eq_name}, {"__class__", &s.class_name}, {"t", &s.t_name},
        {"val", &s.val_name},   {"order", &s.order_name},
    };
    for (const auto &[text, slot] : names) {
        *slot = PyUnicode_InternFromString(text);
        if (*slot == nullptr) return false;
    }
    return true;
}

int import_modules(PyObject *module) {
    Ref numpy(PyImport_ImportModule("numpy"));
    if (!numpy || PyObject_SetAttrString(module, "np", numpy.get()) < 0) return -1;
    if (import_numpy_api() < 0) return -1;
    if (hold_numpy_calls(numpy.get()) < 0) return -1;
    Ref os(PyImport_ImportModule("os"));
    if (!os) return -1;
    Ref os_path(PyObject_GetAttrString(os.get(), "path"));
    if (!os_path || !hold_attributes(os_path.get(), {{"splitext", &module_state.os_path.splitext},
                                                     {"realpath", &module_state.os_path.realpath}}))
        return -1;
    Ref fromlist(Py_BuildValue("[s]", "etree"));
    if (!fromlist) return -1;
    Ref lxml(PyImport_ImportModuleLevel("lxml", nullptr, nullptr, fromlist.get(), 0));
    if (!lxml) return -1;
    Ref etree(PyObject_GetAttrString(lxml.get(), "etree"));
    auto &e = module_state.etree;
    if (!etree || !hold_attributes(etree.get(), {{"Element", &e.Element},
                                                 {"ElementTree", &e.ElementTree},
                                                 {"Comment", &e.Comment},
                                                 {"SubElement", &e.SubElement},
                                                 {"XMLParser", &e.XMLParser},
                                                 {"fromstring", &e.fromstring},
                                                 {"tostring", &e.tostring}}))
        return -1;
    Ref re(PyImport_ImportModule("re"));
    if (!re) return -1;
    module_state.package = PyImport_ImportModule("pyorvex");
    return module_state.package ? 0 : -1;
}

int add_exceptions(PyObject *module) {
    module_state.convergence_error =
        PyErr_NewExceptionWithDoc("pyorvex.defdatastruct.ConvergenceError",
                                  "\n    An error when a macro-instruction loop fails.\n    \n    ",
                                  PyExc_Exception, nullptr);
    if (module_state.convergence_error == nullptr) return -1;
    Py_INCREF(module_state.convergence_error);
    if (PyModule_AddObject(module, "ConvergenceError", module_state.convergence_error) < 0)
        return -1;
    module_state.corrupted_file_error = PyErr_NewExceptionWithDoc(
        "pyorvex.defdatastruct.CorruptedFileError",
        "\n    An error when an uploaded file is corrupted.\n    ", PyExc_Exception, nullptr);
    if (module_state.corrupted_file_error == nullptr) return -1;
    Py_INCREF(module_state.corrupted_file_error);
    return PyModule_AddObject(module, "CorruptedFileError", module_state.corrupted_file_error);
}

int export_capi(PyObject *module) {
    Ref capi(PyObject_GetAttrString(module, "__pyx_capi__"));
    if (!capi) {
        PyErr_Clear();
        capi = Ref(PyDict_New());
        if (!capi || PyObject_SetAttrString(module, "__pyx_capi__", capi.get()) < 0) return -1;
    }
    Ref capsule(PyCapsule_New(
        reinterpret_cast<void *>(static_cast<pyorvex_make_point_fn>(&point::make_point)),
        PYORVEX_MAKE_POINT_SIGNATURE, nullptr));
    if (!capsule || PyDict_SetItemString(capi.get(), "make_point", capsule.get()) < 0) return -1;
    // The document side of persistence, for the element forms of other modules' types.
    Ref helpers(PyCapsule_New(const_cast<pyorvex_persistence_api *>(&persistence::api),
                              PYORVEX_PERSISTENCE_API_NAME, nullptr));
    if (!helpers) return -1;
    return PyDict_SetItemString(capi.get(), "persistence", helpers.get());
}

// A warning when the interpreter differs from the one the module was built for.
int check_version() {
    char compiled[16];
    PyOS_snprintf(compiled, sizeof compiled, "%d.%d", PY_MAJOR_VERSION, PY_MINOR_VERSION);
    char running[16];
    const char *full = Py_GetVersion();
    size_t len = std::strcspn(full, " ");
    // major.minor of the running version
    const char *second_dot = nullptr;
    const char *first_dot = std::strchr(full, '.');
    if (first_dot) second_dot = std::strchr(first_dot + 1, '.');
    if (second_dot && static_cast<size_t>(second_dot - full) < len) len = second_dot - full;
    if (len >= sizeof running) len = sizeof running - 1;
    std::memcpy(running, full, len);
    running[len] = '\0';
    if (std::strcmp(compiled, running) == 0) return 0;
    return PyErr_WarnFormat(PyExc_RuntimeWarning, 1,
                            "compiletime version %s of module '%.100s' does not match runtime "
                            "version %s",
                            compiled, module_name, running);
}

// The built-ins the module's operations rely on must exist when it is imported, not only when a
// call first needs one.
int check_builtins(PyObject *builtins) {
    for (const char *name :
         {"staticmethod", "NotImplementedError", "open", "MemoryError", "ValueError", "map",
          "range", "NotImplemented", "TypeError", "__import__", "ZeroDivisionError", "IndexError",
          "ImportError", "enumerate", "Ellipsis", "id"}) {
        Ref value(PyObject_GetAttrString(builtins, name));
        if (!value) {
            PyErr_Clear();
            PyErr_Format(PyExc_NameError, "name '%s' is not defined", name);
            return -1;
        }
    }
    return 0;
}

int run_exec_steps(PyObject *module) {
    if (check_version() < 0) return -1;
    module_state.module_dict = PyModule_GetDict(module);
    PyObject *builtins = PyImport_AddModule("builtins");
    if (builtins == nullptr ||
        PyDict_SetItemString(module_state.module_dict, "__builtins__", builtins) < 0)
        return -1;
    PyObject *modules = PyImport_GetModuleDict();
    const int present = PyMapping_HasKeyString(modules, module_name);
    if (!present && PyDict_SetItemString(modules, module_name, module) < 0) return -1;
    if (check_builtins(builtins) < 0) return -1;
    if (export_capi(module) < 0) return -1;
    if (ready_types(module) < 0) return -1;
    if (check_imported_types() < 0) return -1;
    if (bind_kernel() < 0) return -1;
    if (import_modules(module) < 0) return -1;
    Ref all(Py_BuildValue("[sssss]", "ConvergenceError", "CorruptedFileError", "PyORVEXObject",
                          "Trajectory1d", "Point1d"));
    if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return -1;
    if (add_exceptions(module) < 0) return -1;
    module_state.knotrem_tol = 1e-13;
    module_state.knotsrem_tol = 1e-13;
    if (algebra::add_constraint_methods(&trajectory::type) < 0) return -1;
    module_state.default_extension = PyUnicode_InternFromString(".pyorvex");
    if (module_state.default_extension == nullptr) return -1;
    if (!intern_names()) return -1;
    Ref unpickle(persistence::make_unpickle_function(module));
    if (!unpickle ||
        PyObject_SetAttrString(module, "__pyx_unpickle_PyORVEXObject", unpickle.get()) < 0)
        return -1;
    Ref test(PyDict_New());
    if (!test || PyObject_SetAttrString(module, "__test__", test.get()) < 0) return -1;
    return 0;
}

// --- multi-phase initialisation ------------------------------------------------------------------

PyObject *created_module = nullptr;
PyObject *executed_module = nullptr;
int64_t first_interpreter = -1;

int copy_spec_attr(PyObject *module_spec, PyObject *module, const char *from, const char *to,
                   bool skip_none) {
    Ref value(PyObject_GetAttrString(module_spec, from));
    if (!value) return -1;
    if (skip_none && value.get() == Py_None) return 0;
    return PyObject_SetAttrString(module, to, value.get());
}

PyObject *create(PyObject *module_spec, PyModuleDef *) {
    const int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (first_interpreter == -1) {
        first_interpreter = id;
    } else if (id != first_interpreter) {
        PyErr_SetString(PyExc_ImportError,
                        "Interpreter change detected - this module can only be loaded into one "
                        "interpreter per process.");
        return nullptr;
    }
    if (created_module != nullptr) {
        Py_INCREF(created_module);
        return created_module;
    }
    Ref name(PyObject_GetAttrString(module_spec, "name"));
    if (!name) return nullptr;
    Ref module(PyModule_NewObject(name.get()));
    if (!module) return nullptr;
    if (copy_spec_attr(module_spec, module.get(), "loader", "__loader__", false) < 0 ||
        copy_spec_attr(module_spec, module.get(), "origin", "__file__", false) < 0 ||
        copy_spec_attr(module_spec, module.get(), "parent", "__package__", false) < 0 ||
        copy_spec_attr(module_spec, module.get(), "submodule_search_locations", "__path__", true) <
            0)
        return nullptr;
    created_module = Ref::borrow(module.get()).release();
    return module.release();
}

// Records a traceback entry "init pyorvex.defdatastruct" for the exception being raised.
void add_init_traceback(PyObject *module) {
    Ref code, frame;
    {
        capi::SavedError pending;  // a failure to build the entry must not replace the real error
        code = Ref(reinterpret_cast<PyObject *>(
            PyCode_NewEmpty("pyorvex/defdatastruct", "init pyorvex.defdatastruct", 1)));
        frame = Ref(code ? reinterpret_cast<PyObject *>(PyFrame_New(
                               PyThreadState_Get(), reinterpret_cast<PyCodeObject *>(code.get()),
                               PyModule_GetDict(module), nullptr))
                         : nullptr);
    }
    if (frame) PyTraceBack_Here(reinterpret_cast<PyFrameObject *>(frame.get()));
}

int exec(PyObject *module) {
    if (executed_module != nullptr) {
        if (executed_module == module) return 0;
        PyErr_SetString(PyExc_RuntimeError,
                        "Module 'defdatastruct' has already been imported. Re-initialisation is "
                        "not supported.");
        return -1;
    }
    // The method tables are assembled in vectors.
    if (capi::no_throw(-1, [&] { return run_exec_steps(module); }) < 0) {
        // Forget this module so that a later import starts afresh.
        Ref::steal(std::exchange(created_module, nullptr)).reset();
        if (PyErr_Occurred())
            add_init_traceback(module);
        else
            PyErr_SetString(PyExc_ImportError, "init pyorvex.defdatastruct");
        return -1;
    }
    Py_INCREF(module);
    executed_module = module;
    return 0;
}

PyModuleDef_Slot slots[] = {
    {Py_mod_create, reinterpret_cast<void *>(&create)},
    {Py_mod_exec, reinterpret_cast<void *>(&exec)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "defdatastruct",
    module_doc,
    0,
    nullptr,
    slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

}  // namespace pyorvex::dds

PyMODINIT_FUNC PyInit_defdatastruct(void) { return PyModuleDef_Init(&pyorvex::dds::module_def); }
