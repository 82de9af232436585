// The method-like callable type behind setValueTr and setValueAm. A dispatcher looks at the type
// of the constraint argument, finds the matching entry of its __signatures__ dict and calls it
// with the same arguments; a specialisation checks self and parses its one argument `p`.
#include <cstddef>
#include <cstring>
#include <new>
#include <string_view>

#include "algebra.hpp"

namespace pyorvex::dds::algebra {

namespace {

struct Fused {
    PyObject_HEAD vectorcallfunc vectorcall;
    const FusedInfo *info;
    Ref signatures;  // dispatchers only
    Ref bound;       // the instance a bound method was taken from
};

PyTypeObject fused_type_object();
PyTypeObject fused_type = fused_type_object();

Fused *as_fused(PyObject *obj) { return reinterpret_cast<Fused *>(obj); }

PyObject *fused_vectorcall(PyObject *callable, PyObject *const *args, size_t nargsf,
                           PyObject *kwnames);

PyObject *alloc_fused(const FusedInfo *info, PyObject *signatures, PyObject *bound) {
    Fused *f = PyObject_GC_New(Fused, &fused_type);
    if (f == nullptr) return nullptr;
    f->vectorcall = fused_vectorcall;
    f->info = info;
    new (&f->signatures) Ref(Ref::borrow(signatures));
    new (&f->bound) Ref(Ref::borrow(bound));
    PyObject_GC_Track(f);
    return reinterpret_cast<PyObject *>(f);
}

// --- calls ---------------------------------------------------------------------------------------

const char *const param_names[] = {"p"};

// The argument a dispatcher decides on: the positional one after self, else the keyword p.
PyObject *dispatch_argument(PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    if (nargs > 1) return args[1];
    const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject *key = PyTuple_GET_ITEM(kwnames, k);
        if (PyUnicode_Check(key) && PyUnicode_CompareWithASCIIString(key, param_names[0]) == 0)
            return args[nargs + k];
    }
    return nullptr;
}

// A signature key names the argument's type; surrounding spaces and parentheses are not part of
// the name, so "(tuple)" and "tuple" are the same signature.
bool signature_matches(PyObject *key, std::string_view wanted) {
    if (!PyUnicode_Check(key)) return false;
    Py_ssize_t size = 0;
    const char *text = PyUnicode_AsUTF8AndSize(key, &size);
    if (text == nullptr) {
        PyErr_Clear();  // a key that has no UTF-8 form names no type of ours
        return false;
    }
    std::string_view name(text, static_cast<size_t>(size));
    const auto first = name.find_first_not_of(" ()");
    if (first == std::string_view::npos) return false;
    name = name.substr(first, name.find_last_not_of(" ()") - first + 1);
    return name == wanted;
}

PyObject *dispatch(Fused *f, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    PyObject *arg = dispatch_argument(args, nargs, kwnames);
    if (arg == nullptr) {
        PyErr_Format(PyExc_TypeError, "Expected at least %d argument%s, got %d", 2, "s",
                     static_cast<int>(nargs));
        return nullptr;
    }
    const char *wanted = is_point(arg) ? "Point1d" : PyTuple_Check(arg) ? "tuple" : nullptr;
    Ref chosen;
    int candidates = 0;
    if (wanted != nullptr) {
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        while (PyDict_Next(f->signatures.get(), &pos, &key, &value)) {
            if (!signature_matches(key, wanted)) continue;
            if (++candidates == 1) chosen = Ref::borrow(value);
        }
    }
    if (candidates == 0) {
        PyErr_SetString(PyExc_TypeError, "No matching signature found");
        return nullptr;
    }
    if (candidates > 1) {
        PyErr_SetString(PyExc_TypeError, "Function call with ambiguous argument types");
        return nullptr;
    }
    return PyObject_Vectorcall(chosen.get(), args, static_cast<size_t>(nargs), kwnames);
}

PyObject *call_specialisation(Fused *f, PyObject *const *args, Py_ssize_t nargs,
                              PyObject *kwnames) {
    if (nargs < 1) {
        PyErr_Format(PyExc_TypeError, "unbound method %s() needs an argument", f->info->qualname);
        return nullptr;
    }
    PyObject *self = args[0];
    if (!is_trajectory(self)) {
        PyErr_Format(PyExc_TypeError,
                     "descriptor '%s' for '%s' objects doesn't apply to a '%s' "
                     "object",
                     f->info->name, trajectory::type.tp_name, Py_TYPE(self)->tp_name);
        return nullptr;
    }
    const capi::ArgSpec sig{f->info->method, param_names, 1, 1};
    PyObject *a[1];
    if (!capi::parse_args(sig, args + 1, nargs - 1, kwnames, a)) return nullptr;
    return f->info->impl(reinterpret_cast<Traj *>(self), a[0]);
}

PyObject *call_unbound(Fused *f, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    if (f->signatures) return dispatch(f, args, nargs, kwnames);
    return call_specialisation(f, args, nargs, kwnames);
}

PyObject *fused_vectorcall(PyObject *callable, PyObject *const *args, size_t nargsf,
                           PyObject *kwnames) {
    Fused *f = as_fused(callable);
    const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    if (!f->bound) return call_unbound(f, args, nargs, kwnames);
    // A bound call is the unbound one with the instance in front.
    const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    const Py_ssize_t total = nargs + nkw + 1;
    PyObject *small[8];
    PyObject **stack = small;
    if (total > 8) {
        stack = PyMem_New(PyObject *, static_cast<size_t>(total));
        if (stack == nullptr) return trajectory::raise_memory_error();
    }
    stack[0] = f->bound.get();
    if (nargs + nkw > 0)
        std::memcpy(stack + 1, args, static_cast<size_t>(nargs + nkw) * sizeof(PyObject *));
    // Keep the instance alive for the call even if the bound object goes away meanwhile.
    Ref self = Ref::borrow(f->bound.get());
    PyObject *result = call_unbound(f, stack, nargs + 1, kwnames);
    if (stack != small) PyMem_Free(stack);
    return result;
}

// --- protocol ------------------------------------------------------------------------------------

PyObject *fused_descr_get(PyObject *self, PyObject *obj, PyObject *) {
    Fused *f = as_fused(self);
    if (obj == nullptr || obj == Py_None || f->bound) return Ref::borrow(self).release();
    return alloc_fused(f->info, f->signatures.get(), obj);
}

int fused_traverse(PyObject *self, visitproc visit, void *arg) {
    Py_VISIT(as_fused(self)->signatures.get());
    Py_VISIT(as_fused(self)->bound.get());
    return 0;
}

int fused_clear(PyObject *self) {
    as_fused(self)->signatures.reset();
    as_fused(self)->bound.reset();
    return 0;
}

void fused_dealloc(PyObject *self) {
    PyObject_GC_UnTrack(self);
    Fused *f = as_fused(self);
    f->signatures.~Ref();
    f->bound.~Ref();
    PyObject_GC_Del(self);
}

PyObject *fused_repr(PyObject *self) {
    Fused *f = as_fused(self);
    if (f->bound)
        return PyUnicode_FromFormat("<bound method %s of %R>", f->info->qualname, f->bound.get());
    return PyUnicode_FromFormat("<%s %s>", f->signatures ? "fused method" : "method",
                                f->info->qualname);
}

PyObject *or_none(PyObject *obj) { return Ref::borrow(obj ? obj : Py_None).release(); }

PyObject *get_name(PyObject *self, void *) {
    return PyUnicode_FromString(as_fused(self)->info->name);
}
PyObject *get_qualname(PyObject *self, void *) {
    return PyUnicode_FromString(as_fused(self)->info->qualname);
}
PyObject *get_doc(PyObject *self, void *) {
    return PyUnicode_FromString(as_fused(self)->info->doc);
}
PyObject *get_module(PyObject *, void *) { return PyUnicode_FromString("pyorvex.defdatastruct"); }
PyObject *get_signatures(PyObject *self, void *) {
    return or_none(as_fused(self)->signatures.get());
}
PyObject *get_self(PyObject *self, void *) { return or_none(as_fused(self)->bound.get()); }

PyGetSetDef fused_getset[] = {
    {"__name__", get_name, nullptr, nullptr, nullptr},
    {"__qualname__", get_qualname, nullptr, nullptr, nullptr},
    {"__doc__", get_doc, nullptr, nullptr, nullptr},
    {"__module__", get_module, nullptr, nullptr, nullptr},
    {"__signatures__", get_signatures, nullptr,
     "The specialisations by argument type; None for a specialisation.", nullptr},
    {"__self__", get_self, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyTypeObject fused_type_object() {
    PyTypeObject t = blank_type();
    t.tp_name = "pyorvex.defdatastruct.fused_method";
    t.tp_basicsize = sizeof(Fused);
    t.tp_dealloc = fused_dealloc;
    t.tp_vectorcall_offset = offsetof(Fused, vectorcall);
    t.tp_repr = fused_repr;
    t.tp_call = PyVectorcall_Call;
    t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL;
    t.tp_doc = "A method of Trajectory1d with one specialisation per type of its argument.";
    t.tp_traverse = fused_traverse;
    t.tp_clear = fused_clear;
    t.tp_getset = fused_getset;
    t.tp_descr_get = fused_descr_get;
    return t;
}

}  // namespace

PyObject *new_fused_dispatcher(const FusedInfo *info, PyObject *signatures) {
    return alloc_fused(info, signatures, nullptr);
}

PyObject *new_fused_specialisation(const FusedInfo *info) {
    return alloc_fused(info, nullptr, nullptr);
}

bool is_fused(PyObject *obj, const FusedInfo *info) {
    return Py_IS_TYPE(obj, &fused_type) && as_fused(obj)->info == info;
}

int ready_fused_type() { return PyType_Ready(&fused_type); }

}  // namespace pyorvex::dds::algebra
