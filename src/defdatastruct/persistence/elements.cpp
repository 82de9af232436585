// Elements whose numbers live in children: the one writer of Trajectory1d's element and of the
// element forms that types of other modules register through the C-level interface, and the
// interface itself ("persistence" in __pyx_capi__).
#include <vector>

#include "float_text.hpp"
#include "persistence.hpp"

namespace pyorvex::dds::persistence {

namespace {

// The numbers of every child come from the object as it is when each text is written: an
// override of _getAttrib called on the way may have given it new arrays.
int set_texts(BaseObject *self, PyObject *const *children, const pyorvex_element_form *form,
              DeferredTexts *texts) {
    auto *owner = reinterpret_cast<PyObject *>(self);
    for (int i = 0; i < form->count; ++i) {
        if (texts != nullptr) {
            if (texts->defer(children[i], owner, form->numbers, i) < 0) return -1;
            continue;
        }
        pyorvex_dview values;
        if (form->numbers(owner, i, &values) < 0) return -1;
        Ref text(capi::join_floats(values.data, values.size));
        if (!text || PyObject_SetAttrString(children[i], "text", text.get()) < 0) return -1;
    }
    return 0;
}

}  // namespace

int add_form_element(BaseObject *self, PyObject *root, PyObject *ID,
                     const pyorvex_element_form *form, DeferredTexts *texts) {
    if (form->check(reinterpret_cast<PyObject *>(self)) < 0) return -1;
    Ref text(id_text(ID));
    if (!text) return -1;
    Ref attrib(element_attributes(self, text.get()));
    if (!attrib) return -1;
    Ref tag(type_name(reinterpret_cast<PyObject *>(self)));
    if (!tag) return -1;
    Ref element(sub_element(root, tag.get(), attrib.get()));
    if (!element) return -1;
    std::vector<Ref> children;
    std::vector<PyObject *> raw;
    for (int i = 0; i < form->count; ++i) {
        children.emplace_back(sub_element(element.get(), form->children[i]));
        if (!children.back()) return -1;
        raw.push_back(children.back().get());
    }
    return set_texts(self, raw.data(), form, texts);
}

int update_form_element(BaseObject *self, PyObject *tree, PyObject *node, PyObject *ID,
                        const pyorvex_element_form *form, DeferredTexts *texts) {
    if (form->check(reinterpret_cast<PyObject *>(self)) < 0) return -1;
    if (update_attributes(self, node) < 0) return -1;
    Ref tag(type_name(reinterpret_cast<PyObject *>(self)));
    if (!tag) return -1;
    Ref text(id_text(ID));
    if (!text) return -1;
    std::vector<Ref> children;
    std::vector<PyObject *> raw;
    for (int i = 0; i < form->count; ++i) {
        Ref found(find_elements(tree, tag.get(), text.get(), form->children[i]));
        if (!found) return -1;
        children.emplace_back(first_item(found.get()));
        if (!children.back()) return -1;
        raw.push_back(children.back().get());
    }
    return set_texts(self, raw.data(), form, texts);
}

// --- the forms registered by other modules ---------------------------------------------------

namespace {

struct Registered {
    PyTypeObject *type;
    const pyorvex_element_form *form;
};

// A handful of types at most, registered at their modules' import and never removed.
std::vector<Registered> &registry() {
    static std::vector<Registered> forms;
    return forms;
}

}  // namespace

const pyorvex_element_form *registered_form(PyTypeObject *type) {
    for (const Registered &r : registry())
        if (r.type == type) return r.form;
    return nullptr;
}

int register_form(PyTypeObject *type, const pyorvex_element_form *form) {
    if (type == nullptr || form == nullptr || form->numbers == nullptr || form->check == nullptr ||
        form->count < 0 || (form->count > 0 && form->children == nullptr)) {
        PyErr_SetString(PyExc_ValueError, "an element form needs a type, numbers and a check");
        return -1;
    }
    return capi::no_throw(-1, [&] {
        for (Registered &r : registry()) {
            if (r.type == type) {
                r.form = form;
                return 0;
            }
        }
        registry().push_back({type, form});
        return 0;
    });
}

// --- savexml's fast path -------------------------------------------------------------------------

int add_deferred(BaseObject *self, PyObject *root, PyObject *ID, DeferredTexts *texts) {
    const int done = add_trajectory_deferred(self, root, ID, texts);
    if (done != 0) return done;
    // Registered forms are for exact types: a subclass, which may override the operation, takes
    // the method table's way.
    const pyorvex_element_form *form = registered_form(Py_TYPE(self));
    if (form == nullptr || vt(self)->_addPyORVEXObject != form->add_op) return 0;
    return add_form_element(self, root, ID, form, texts) < 0 ? -1 : 1;
}

int update_deferred(BaseObject *self, PyObject *tree, PyObject *node, PyObject *ID,
                    DeferredTexts *texts) {
    const int done = update_trajectory_deferred(self, tree, node, ID, texts);
    if (done != 0) return done;
    const pyorvex_element_form *form = registered_form(Py_TYPE(self));
    if (form == nullptr || vt(self)->_updatePyORVEXObject != form->update_op) return 0;
    return update_form_element(self, tree, node, ID, form, texts) < 0 ? -1 : 1;
}

// --- the C-level interface -----------------------------------------------------------------------

namespace {

int api_read_count(PyObject *element, const char *name, int *out) {
    return read_count(element, name, out) ? 0 : -1;
}
int api_read_order(PyObject *element, unsigned int *out) {
    return read_order(element, out) ? 0 : -1;
}
int api_check_knots(const double *knots, Py_ssize_t count) {
    return check_knots(knots, count) ? 0 : -1;
}
int api_add_element(BaseObject *self, PyObject *root, PyObject *ID,
                    const pyorvex_element_form *form, pyorvex_texts *texts) {
    return capi::no_throw(-1, [&] {
        return add_form_element(self, root, ID, form, texts ? DeferredTexts::from(texts) : nullptr);
    });
}
int api_update_element(BaseObject *self, PyObject *tree, PyObject *node, PyObject *ID,
                       const pyorvex_element_form *form, pyorvex_texts *texts) {
    return capi::no_throw(-1, [&] {
        return update_form_element(self, tree, node, ID, form,
                                   texts ? DeferredTexts::from(texts) : nullptr);
    });
}

}  // namespace

const pyorvex_persistence_api api = {
    sizeof(pyorvex_persistence_api),
    load_element,
    api_read_count,
    api_read_order,
    read_numbers,
    api_check_knots,
    api_add_element,
    api_update_element,
    register_form,
};

}  // namespace pyorvex::dds::persistence
