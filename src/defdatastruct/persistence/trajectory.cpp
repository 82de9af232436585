// The XML element of Trajectory1d: p, n, owner, order, start and stop as attributes, the control
// points and the knots as the texts of the children cpts and knots (float texts joined by single
// spaces).
#include <cmath>
#include <cstring>

#include "float_text.hpp"
#include "persistence.hpp"

namespace pyorvex::dds::persistence {

// A knot vector that every operation can work on: finite and non-decreasing. The loader refuses
// any other, and so the saver refuses to write one: a document it wrote always loads back.
// (Control points are data: a NaN among them saves and loads as it is.)
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

namespace {

Traj *as_traj(BaseObject *self) { return reinterpret_cast<Traj *>(self); }

// The record's arrays when they can be written: the views exist and the knots are ones the
// loader takes. Checked again where the texts are set, since an override of _getAttrib called on
// the way may have given the trajectory new arrays.
bool savable_views(Traj *t, pyorvex_dview *knots, pyorvex_dview *cpts) {
    return trajectory::record_data_views(t, knots, cpts) && check_knots(knots->data, knots->size);
}

int set_text(PyObject *element, const double *data, Py_ssize_t count) {
    Ref text(capi::join_floats(data, count));
    if (!text) return -1;
    return PyObject_SetAttrString(element, "text", text.get());
}

// The texts come from the record as it is when they are written: an override of _getAttrib
// called on the way may have given the trajectory new arrays. With `deferred`, the numbers are
// formatted into the serialized document later instead (savexml).
int set_texts(Traj *t, PyObject *cpts_element, PyObject *knots_element, DeferredTexts *deferred) {
    pyorvex_dview knots, cpts;
    if (!savable_views(t, &knots, &cpts)) return -1;
    if (deferred != nullptr) {
        auto *owner = reinterpret_cast<PyObject *>(t);
        if (deferred->defer(cpts_element, owner, false) < 0) return -1;
        return deferred->defer(knots_element, owner, true);
    }
    if (set_text(cpts_element, cpts.data, cpts.size) < 0) return -1;
    if (!trajectory::record_data_views(t, &knots, &cpts)) return -1;
    return set_text(knots_element, knots.data, knots.size);
}

int add_element(BaseObject *self, PyObject *root, PyObject *ID, DeferredTexts *deferred) {
    // A trajectory without arrays, or with knots the loader would refuse, has no element form;
    // refused before the tree changes.
    pyorvex_dview knots, cpts;
    if (!savable_views(as_traj(self), &knots, &cpts)) return -1;
    Ref text(id_text(ID));
    if (!text) return -1;
    Ref attrib(element_attributes(self, text.get()));
    if (!attrib) return -1;
    Ref tag(type_name(reinterpret_cast<PyObject *>(self)));
    if (!tag) return -1;
    Ref element(sub_element(root, tag.get(), attrib.get()));
    if (!element) return -1;
    Ref cpts_element(sub_element(element.get(), "cpts"));
    if (!cpts_element) return -1;
    Ref knots_element(sub_element(element.get(), "knots"));
    if (!knots_element) return -1;
    return set_texts(as_traj(self), cpts_element.get(), knots_element.get(), deferred);
}

int update_element(BaseObject *self, PyObject *tree, PyObject *node, PyObject *ID,
                   DeferredTexts *deferred) {
    pyorvex_dview knots, cpts;
    if (!savable_views(as_traj(self), &knots, &cpts)) return -1;
    if (update_attributes(self, node) < 0) return -1;
    Ref tag(type_name(reinterpret_cast<PyObject *>(self)));
    if (!tag) return -1;
    Ref text(id_text(ID));
    if (!text) return -1;
    Ref cpts_found(find_elements(tree, tag.get(), text.get(), "cpts"));
    if (!cpts_found) return -1;
    Ref cpts_element(first_item(cpts_found.get()));
    if (!cpts_element) return -1;
    Ref knots_found(find_elements(tree, tag.get(), text.get(), "knots"));
    if (!knots_found) return -1;
    Ref knots_element(first_item(knots_found.get()));
    if (!knots_element) return -1;
    return set_texts(as_traj(self), cpts_element.get(), knots_element.get(), deferred);
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

namespace {

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
double *read_values(PyObject *element, const char *name, Py_ssize_t needed) {
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
            PyErr_Format(PyExc_ValueError, "'%s' holds %zd numbers but p and n call for %zd", name,
                         pieces, needed);
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
    double *knots = read_values(knots_element.get(), "knots", nk);
    if (knots == nullptr) return nullptr;
    if (!check_knots(knots, nk)) {
        PyMem_Free(knots);
        return nullptr;
    }
    double *cpts = read_values(cpts_element.get(), "cpts", nc);
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
