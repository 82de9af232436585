// The XML element of Trajectory1d: p, n, owner, order, start and stop as attributes, the control
// points and the knots as the texts of the children cpts and knots (float texts joined by single
// spaces).
#include <cmath>
#include <cstring>

#include "float_text.hpp"
#include "persistence.hpp"

namespace pyorvex::dds::persistence {

namespace {

// A trajectory without arrays, or with knots the loader would refuse (reachable through the
// writable knot view), has no element form: refused before the tree changes, so that a document
// savexml wrote always loads back. (Control points are data: a NaN among them saves as it is.)
int check_arrays(PyObject *owner) {
    pyorvex_dview knots, cpts;
    return trajectory::record_data_views(reinterpret_cast<Traj *>(owner), &knots, &cpts) &&
                   check_knots(knots.data, knots.size)
               ? 0
               : -1;
}

// The numbers as they are where they are written: code the interpreter runs on the way (an
// override, a garbage-collector callback) may have given the record new knots since its element
// was made, so they are checked again.
int numbers(PyObject *owner, int which, pyorvex_dview *out) {
    pyorvex_dview knots, cpts;
    if (!trajectory::record_data_views(reinterpret_cast<Traj *>(owner), &knots, &cpts)) return -1;
    if (which != 0 && !check_knots(knots.data, knots.size)) return -1;
    *out = which == 0 ? cpts : knots;
    return 0;
}

const char *const children[] = {"cpts", "knots"};
const pyorvex_element_form form = {
    children, 2, numbers, check_arrays, trajectory_add_op, trajectory_update_op};

int add_element(BaseObject *self, PyObject *root, PyObject *ID, DeferredTexts *deferred) {
    return capi::no_throw(-1, [&] { return add_form_element(self, root, ID, &form, deferred); });
}

int update_element(BaseObject *self, PyObject *tree, PyObject *node, PyObject *ID,
                   DeferredTexts *deferred) {
    return capi::no_throw(
        -1, [&] { return update_form_element(self, tree, node, ID, &form, deferred); });
}

}  // namespace

int trajectory_add_op(BaseObject *self, PyObject *root, PyObject *ID, int skip_dispatch) {
    if (const int ran = capi::dispatch_status(self, skip_dispatch, "_addPyORVEXObject",
                                              py_trajectory_add, root, ID))
        return ran < 0 ? -1 : 0;
    return add_element(self, root, ID, nullptr);
}

int trajectory_update_op(BaseObject *self, PyObject *tree, PyObject *node, PyObject *ID,
                         int skip_dispatch) {
    if (const int ran = capi::dispatch_status(self, skip_dispatch, "_updatePyORVEXObject",
                                              py_trajectory_update, tree, node, ID))
        return ran < 0 ? -1 : 0;
    return update_element(self, tree, node, ID, nullptr);
}

// --- loading -------------------------------------------------------------------------------------

// int() of the element's attribute, as a C int that must not be negative.
bool read_count(PyObject *element, const char *name, int *out) {
    Ref text(PyObject_CallMethod(element, "get", "s", name));
    if (!text) return false;
    Ref value(PyNumber_Long(text.get()));
    if (!value || !capi::to_int(value.get(), out)) return false;
    if (*out < 0) {
        PyErr_Format(PyExc_ValueError,
                     "'%s' of the uploaded trajectory must not be negative, got %d", name, *out);
        return false;
    }
    return true;
}

bool read_order(PyObject *element, unsigned int *out) {
    Ref text(PyObject_CallMethod(element, "get", "s", "order"));
    if (!text) return false;
    Ref value(PyNumber_Long(text.get()));
    return value && capi::to_uint(value.get(), out);
}

namespace {

// The child `name` of the trajectory's own element.
PyObject *child(PyObject *element, const char *name) {
    Ref found(PyObject_CallMethod(element, "xpath", "s", name));
    if (!found) return nullptr;
    return first_item(found.get());
}

// float() of every piece of the child's text split at single spaces, in a new buffer of exactly
// `needed` values. A text with another number of pieces is refused (after its pieces are checked
// as numbers): too few would leave the buffer partly unread, and too many mean that p, n and the
// numbers do not describe the same trajectory.
double *read_values(PyObject *element, const char *name, Py_ssize_t needed, const char *counts) {
    Ref text(PyObject_GetAttrString(element, "text"));
    if (!text) return nullptr;
    if (text.get() == Py_None) {
        PyErr_SetString(PyExc_AttributeError, "'NoneType' object has no attribute 'split'");
        return nullptr;
    }
    if (!PyUnicode_Check(text.get())) {
        capi::raise_expected("str", text.get());
        return nullptr;
    }
    Py_ssize_t len;
    const char *chars = PyUnicode_AsUTF8AndSize(text.get(), &len);
    if (chars == nullptr) return nullptr;
    const Py_ssize_t pieces = capi::count_space_pieces(chars, len);
    if (pieces != needed) {
        if (!capi::parse_space_separated(chars, len, nullptr, 0)) return nullptr;
        if (pieces < needed)
            PyErr_Format(PyExc_ValueError, "'%s' holds %zd numbers but %zd are needed", name,
                         pieces, needed);
        else
            PyErr_Format(PyExc_ValueError, "'%s' holds %zd numbers but %s call for %zd", name,
                         pieces, counts, needed);
        return nullptr;
    }
    double *values = trajectory::alloc_doubles(needed);
    if (values == nullptr) return nullptr;
    if (!capi::parse_space_separated(chars, len, values, needed)) {
        PyMem_Free(values);
        return nullptr;
    }
    return values;
}

}  // namespace

double *read_numbers(PyObject *element, const char *name, Py_ssize_t needed, const char *counts) {
    Ref found(child(element, name));
    if (!found) return nullptr;
    return read_values(found.get(), name, needed, counts);
}

// A knot vector that every operation can work on: finite and non-decreasing. (Control points
// are data: a NaN among them loads as it is.)
bool check_knots(const double *knots, Py_ssize_t count) {
    for (Py_ssize_t i = 0; i < count; ++i) {
        if (!std::isfinite(knots[i])) {
            Ref text(capi::float_text(knots[i]));
            if (text)
                PyErr_Format(PyExc_ValueError, "'knots' must be finite: knots[%zd] = %U", i,
                             text.get());
            return false;
        }
        if (i > 0 && knots[i] < knots[i - 1]) {
            Ref now(capi::float_text(knots[i]));
            Ref before(capi::float_text(knots[i - 1]));
            if (now && before)
                PyErr_Format(PyExc_ValueError,
                             "'knots' must be non-decreasing: knots[%zd] = %U < knots[%zd] = %U", i,
                             now.get(), i - 1, before.get());
            return false;
        }
    }
    return true;
}

PyObject *trajectory_c_loadxml(PyObject *fname, PyObject *ID) {
    Ref element(load_element(fname, ID, "Trajectory1d"));
    if (!element) return nullptr;
    int p, n;
    unsigned int order;
    if (!read_count(element.get(), "p", &p) || !read_count(element.get(), "n", &n) ||
        !read_order(element.get(), &order))
        return nullptr;
    Ref owner_text(PyObject_CallMethod(element.get(), "get", "s", "owner"));
    if (!owner_text) return nullptr;
    const int owner = PyObject_IsTrue(owner_text.get());
    if (owner < 0) return nullptr;
    Ref knots_element(child(element.get(), "knots"));
    if (!knots_element) return nullptr;
    Ref cpts_element(child(element.get(), "cpts"));
    if (!cpts_element) return nullptr;
    const Py_ssize_t nk = static_cast<Py_ssize_t>(n) + p + 2;
    const Py_ssize_t nc = static_cast<Py_ssize_t>(n) + 1;
    double *knots = read_values(knots_element.get(), "knots", nk, "p and n");
    if (knots == nullptr) return nullptr;
    if (!check_knots(knots, nk)) {
        PyMem_Free(knots);
        return nullptr;
    }
    double *cpts = read_values(cpts_element.get(), "cpts", nc, "p and n");
    if (cpts == nullptr) {
        PyMem_Free(knots);
        return nullptr;
    }
    pyorvex_opt_owner opt{1, owner};
    PyObject *t = trajectory::vtab.from_ptrs(knots, cpts, p, n, order, &opt);
    if (t == nullptr) {
        PyMem_Free(knots);
        PyMem_Free(cpts);
        return nullptr;
    }
    // The buffers are this module's: the trajectory frees them, whatever its owner flag says.
    trajectory::adopt_module_buffers(reinterpret_cast<Traj *>(t), knots, cpts);
    return t;
}

PyObject *py_trajectory_loadxml(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    return loadxml_method(args, nargs, kw, trajectory_c_loadxml);
}

PyObject *py_trajectory_add(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    return add_method(self, args, nargs, kw, trajectory_add_op);
}

PyObject *py_trajectory_update(PyObject *self, PyObject *const *args, Py_ssize_t nargs,
                               PyObject *kw) {
    return update_method(self, args, nargs, kw, trajectory_update_op);
}

int add_trajectory_deferred(BaseObject *self, PyObject *root, PyObject *ID, DeferredTexts *texts) {
    if (static_cast<BaseVtab *>(self->vtab)->_addPyORVEXObject != trajectory_add_op) return 0;
    Ref method;
    const int found = capi::find_override(reinterpret_cast<PyObject *>(self), "_addPyORVEXObject",
                                          reinterpret_cast<void *>(&py_trajectory_add), &method);
    if (found != 0) return found < 0 ? -1 : 0;
    return add_element(self, root, ID, texts) < 0 ? -1 : 1;
}

int update_trajectory_deferred(BaseObject *self, PyObject *tree, PyObject *node, PyObject *ID,
                               DeferredTexts *texts) {
    if (static_cast<BaseVtab *>(self->vtab)->_updatePyORVEXObject != trajectory_update_op) return 0;
    Ref method;
    const int found =
        capi::find_override(reinterpret_cast<PyObject *>(self), "_updatePyORVEXObject",
                            reinterpret_cast<void *>(&py_trajectory_update), &method);
    if (found != 0) return found < 0 ? -1 : 0;
    return update_element(self, tree, node, ID, texts) < 0 ? -1 : 1;
}

}  // namespace pyorvex::dds::persistence
