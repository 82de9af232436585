// The XML element of TrajectoryNd, in the documents of Trajectory1d and Point1d:
//
//   <TrajectoryNd ID=".." p=".." n=".." dof=".." order=".." start=".." stop="..">
//     <cpts>control points, row after row</cpts>
//     <knots>knot vector</knots>
//   </TrajectoryNd>
//
// Trajectory1d's element without its owner attribute (a motion always owns its memory). The
// document itself (file names, the root and ID checks, the locked replace-in-one-step save) is
// defdatastruct's: savexml is the base's, and the element is written and read through the
// persistence helpers it exports, so the number texts, the count and knot checks and their
// messages have one holder. What is the motion's own lives here: its attributes, dof, and a
// domain that must not be empty.
#include <climits>

#include "multiaxis.hpp"

namespace pyorvex::multiaxis::persistence {

namespace {

const pyorvex_persistence_api &api() { return *imported.persistence; }

pyorvex_PyORVEXObject *base_of(PyObject *self) {
    return reinterpret_cast<pyorvex_PyORVEXObject *>(self);
}

// What the loader takes: finite, non-decreasing knots (defdatastruct's rule) spanning a domain
// that is not a single point, which evaluation and every operation of a motion need.
bool check_knots(const double *knots, Py_ssize_t count) {
    if (api().check_knots(knots, count) < 0) return false;
    if (knots[0] < knots[count - 1]) return true;
    Ref text(capi::float_text(knots[0]));
    if (text)
        PyErr_Format(PyExc_ValueError,
                     "'knots' must span a non-empty domain: knots[0] = knots[%zd] = %U", count - 1,
                     text.get());
    return false;
}

// A motion is saved only when loadxml would take it back: it has data, and its knots (which
// the writable view of get_knotvector_asarray may have changed) pass the loader's checks.
int check(PyObject *owner) {
    const Motion *m = as_motion(owner);
    if (m->knots == nullptr || m->cpts == nullptr) {
        PyErr_SetString(PyExc_ValueError, "the motion is empty (it has no knot vector)");
        return -1;
    }
    return check_knots(m->knots, knot_count(m)) ? 0 : -1;
}

int numbers(PyObject *owner, int which, pyorvex_dview *out) {
    Motion *m = as_motion(owner);
    if (m->knots == nullptr || m->cpts == nullptr) return check(owner);
    *out =
        which == 0 ? pyorvex_dview{m->cpts, cpts_count(m)} : pyorvex_dview{m->knots, knot_count(m)};
    return 0;
}

PyObject *getattrib_op(pyorvex_PyORVEXObject *self, int) {
    const Motion *m = as_motion(reinterpret_cast<PyObject *>(self));
    Ref d(PyDict_New());
    if (!d) return nullptr;
    const bool data = m->knots != nullptr;
    const struct {
        const char *key;
        PyObject *value;
    } items[] = {
        {"p", PyUnicode_FromFormat("%d", m->p)},
        {"n", PyUnicode_FromFormat("%d", m->n)},
        {"dof", PyUnicode_FromFormat("%d", m->dof)},
        {"order", PyUnicode_FromFormat("%u", m->order)},
        {"start", data ? capi::float_text(m->knots[0]) : PyUnicode_FromString("None")},
        {"stop",
         data ? capi::float_text(m->knots[knot_count(m) - 1]) : PyUnicode_FromString("None")},
    };
    bool ok = true;
    for (const auto &item : items) {
        Ref value(item.value);
        if (ok && (!value || PyDict_SetItemString(d.get(), item.key, value.get()) < 0)) ok = false;
    }
    return ok ? d.release() : nullptr;
}

int add_op(pyorvex_PyORVEXObject *self, PyObject *root, PyObject *ID, int);
int update_op(pyorvex_PyORVEXObject *self, PyObject *tree, PyObject *node, PyObject *ID, int);

const char *const children[] = {"cpts", "knots"};
const pyorvex_element_form form = {children, 2, numbers, check, add_op, update_op};

// The type takes no subclasses and has no instance dict, so no override can stand in for these.
int add_op(pyorvex_PyORVEXObject *self, PyObject *root, PyObject *ID, int) {
    return api().add_element(self, root, ID, &form, nullptr);
}

int update_op(pyorvex_PyORVEXObject *self, PyObject *tree, PyObject *node, PyObject *ID, int) {
    return api().update_element(self, tree, node, ID, &form, nullptr);
}

PyObject *c_loadxml(PyObject *fname, PyObject *ID) {
    Ref element(api().load_element(fname, ID, "TrajectoryNd"));
    if (!element) return nullptr;
    int p, n, dof;
    unsigned int order;
    if (api().read_count(element.get(), "p", &p) < 0 ||
        api().read_count(element.get(), "n", &n) < 0 ||
        api().read_count(element.get(), "dof", &dof) < 0 ||
        api().read_order(element.get(), &order) < 0)
        return nullptr;
    if (dof < 1) {
        PyErr_Format(PyExc_ValueError,
                     "'dof' of the uploaded trajectory must be at least 1, got %d", dof);
        return nullptr;
    }
    const Py_ssize_t nk = Py_ssize_t{n} + p + 2, rows = Py_ssize_t{n} + 1;
    if (nk > INT_MAX || rows > PY_SSIZE_T_MAX / dof) return raise_memory_error();
    double *knots = api().read_numbers(element.get(), "knots", nk, "p and n");
    if (knots == nullptr) return nullptr;
    if (!check_knots(knots, nk)) {
        PyMem_Free(knots);
        return nullptr;
    }
    double *cpts = api().read_numbers(element.get(), "cpts", rows * dof, "n and dof");
    if (cpts == nullptr) {
        PyMem_Free(knots);
        return nullptr;
    }
    return adopt_motion(knots, cpts, p, n, dof, order);
}

const char *const loadxml_names[] = {"fname", "ID"};
const capi::ArgSpec loadxml_signature{"loadxml", loadxml_names, 2, 2};
const char *const add_names[] = {"root", "ID"};
const capi::ArgSpec add_signature{"_addPyORVEXObject", add_names, 2, 2};
const char *const update_names[] = {"tree", "node", "ID"};
const capi::ArgSpec update_signature{"_updatePyORVEXObject", update_names, 3, 3};

bool check_str(PyObject *obj, const char *name) {
    return capi::check_arg_type(obj, &PyUnicode_Type, true, name, true);
}

}  // namespace

PyObject *py_loadxml(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    PyObject *a[2];
    if (!capi::parse_args(loadxml_signature, args, nargs, kw, a)) return nullptr;
    if (!check_str(a[0], "fname") || !check_str(a[1], "ID")) return nullptr;
    return c_loadxml(a[0], a[1]);
}

PyObject *py_getattrib(PyObject *self, PyObject *) {
    return vtab.base._getAttrib(base_of(self), 1);
}

PyObject *py_add(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    PyObject *a[2];
    if (!capi::parse_args(add_signature, args, nargs, kw, a) || !check_str(a[1], "ID"))
        return nullptr;
    if (vtab.base._addPyORVEXObject(base_of(self), a[0], a[1], 1) < 0) return nullptr;
    return capi::none();
}

PyObject *py_update(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    PyObject *a[3];
    if (!capi::parse_args(update_signature, args, nargs, kw, a) || !check_str(a[2], "ID"))
        return nullptr;
    if (vtab.base._updatePyORVEXObject(base_of(self), a[0], a[1], a[2], 1) < 0) return nullptr;
    return capi::none();
}

void install(MotionVtab *v) {
    v->base.c_loadxml = c_loadxml;
    v->base._getAttrib = getattrib_op;
    v->base._addPyORVEXObject = add_op;
    v->base._updatePyORVEXObject = update_op;
}

int register_form() { return api().register_form(&type, &form); }

}  // namespace pyorvex::multiaxis::persistence
