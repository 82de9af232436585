// The document's names and lookups, over lxml.etree.
#include "persistence.hpp"

namespace pyorvex::dds::persistence {

PyObject *document_name(PyObject *fname) {
    Ref parts(PyObject_CallFunction(module_state.os_path.splitext, "O", fname));
    if (!parts) return nullptr;
    Ref ext(PySequence_GetItem(parts.get(), 1));
    if (!ext) return nullptr;
    const Py_ssize_t len = PyObject_Length(ext.get());
    if (len < 0) return nullptr;
    if (len == 0) return PyNumber_Add(fname, module_state.default_extension);
    Py_INCREF(fname);
    return fname;
}

PyObject *id_text(PyObject *ID) { return capi::value_text(ID); }

PyObject *type_name(PyObject *self) {
    Ref cls(PyObject_GetAttrString(self, "__class__"));
    if (!cls) return nullptr;
    return PyObject_GetAttrString(cls.get(), "__name__");
}

PyObject *safe_parser(bool remove_blank_text) {
    Ref kwargs(Py_BuildValue("{s:O,s:O,s:O,s:O}", "remove_blank_text",
                             remove_blank_text ? Py_True : Py_False, "resolve_entities", Py_False,
                             "no_network", Py_True, "huge_tree", Py_True));
    if (!kwargs) return nullptr;
    Ref no_args(PyTuple_New(0));
    if (!no_args) return nullptr;
    return PyObject_Call(module_state.etree.XMLParser, no_args.get(), kwargs.get());
}

PyObject *parse_document(PyObject *data, PyObject *name, bool remove_blank_text) {
    Ref parser(safe_parser(remove_blank_text));
    if (!parser) return nullptr;
    Ref args(PyTuple_Pack(2, data, parser.get()));
    if (!args) return nullptr;
    Ref kwargs(PyDict_New());
    if (!kwargs) return nullptr;
    // The name labels parse errors; a name that lxml does not take as a URL is left out.
    if (PyUnicode_Check(name) || PyBytes_Check(name)) {
        if (PyDict_SetItemString(kwargs.get(), "base_url", name) < 0) return nullptr;
    }
    Ref root(PyObject_Call(module_state.etree.fromstring, args.get(), kwargs.get()));
    if (!root) return nullptr;
    return PyObject_CallMethod(root.get(), "getroottree", nullptr);
}

PyObject *serialize(PyObject *tree) {
    Ref args(PyTuple_Pack(1, tree));
    Ref kwargs(Py_BuildValue("{s:O,s:s,s:O}", "xml_declaration", Py_True, "encoding", "utf-8",
                             "pretty_print", Py_True));
    if (!args || !kwargs) return nullptr;
    Ref out(PyObject_Call(module_state.etree.tostring, args.get(), kwargs.get()));
    if (out && !PyBytes_Check(out.get())) {
        capi::raise_expected("bytes", out.get());
        return nullptr;
    }
    return out.release();
}

PyObject *load_document(PyObject *name) {
    Ref data(read_file(name));
    if (!data) return nullptr;
    return parse_document(data.get(), name, false);
}

PyObject *find_elements(PyObject *context, PyObject *tag, PyObject *ID_text, const char *child) {
    Ref path(PyUnicode_FromFormat("/%s/%U[@ID=$id]%s%s", kRootTag, tag, child ? "/" : "",
                                  child ? child : ""));
    if (!path) return nullptr;
    Ref xpath(PyObject_GetAttrString(context, "xpath"));
    if (!xpath) return nullptr;
    Ref args(PyTuple_Pack(1, path.get()));
    Ref kwargs(PyDict_New());
    if (!args || !kwargs || PyDict_SetItemString(kwargs.get(), "id", ID_text) < 0) return nullptr;
    return PyObject_Call(xpath.get(), args.get(), kwargs.get());
}

PyObject *first_item(PyObject *list) {
    if (PyList_Check(list) && PyList_GET_SIZE(list) == 0) {
        PyErr_SetString(PyExc_IndexError, "list index out of range");
        return nullptr;
    }
    return PySequence_GetItem(list, 0);
}

PyObject *sub_element(PyObject *parent, PyObject *tag, PyObject *attrib) {
    return PyObject_CallFunctionObjArgs(module_state.etree.SubElement, parent, tag, attrib,
                                        nullptr);
}

PyObject *sub_element(PyObject *parent, const char *tag) {
    Ref name(PyUnicode_FromString(tag));
    if (!name) return nullptr;
    return PyObject_CallFunctionObjArgs(module_state.etree.SubElement, parent, name.get(), nullptr);
}

namespace {

PyObject *get_attrib(BaseObject *self) {
    return static_cast<BaseVtab *>(self->vtab)->_getAttrib(self, 0);
}

}  // namespace

PyObject *element_attributes(BaseObject *self, PyObject *ID_text) {
    Ref attrib(PyDict_New());
    if (!attrib || PyDict_SetItemString(attrib.get(), "ID", ID_text) < 0) return nullptr;
    Ref extra(get_attrib(self));
    if (!extra) return nullptr;
    if (!PyDict_Check(extra.get())) {
        PyErr_Format(PyExc_TypeError, "'%.200s' object is not a mapping",
                     Py_TYPE(extra.get())->tp_name);
        return nullptr;
    }
    if (PyDict_Update(attrib.get(), extra.get()) < 0) return nullptr;
    return attrib.release();
}

int update_attributes(BaseObject *self, PyObject *node) {
    Ref attrib(get_attrib(self));
    if (!attrib) return -1;
    if (attrib.get() == Py_None) {
        PyErr_SetString(PyExc_AttributeError, "'NoneType' object has no attribute 'keys'");
        return -1;
    }
    if (!PyDict_Check(attrib.get())) {
        capi::raise_expected("dict", attrib.get());
        return -1;
    }
    const Py_ssize_t size = PyDict_GET_SIZE(attrib.get());
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(attrib.get(), &pos, &key, &value)) {
        // Held while lxml runs: nothing else keeps them alive if the dict changes meanwhile.
        Ref k = Ref::borrow(key), v = Ref::borrow(value);
        if (!PyUnicode_Check(key)) {
            capi::raise_expected("unicode", key);
            return -1;
        }
        Ref done(PyObject_CallMethod(node, "set", "OO", k.get(), v.get()));
        if (!done) return -1;
        if (PyDict_GET_SIZE(attrib.get()) != size) {
            PyErr_SetString(PyExc_RuntimeError, "dictionary changed size during iteration");
            return -1;
        }
    }
    return 0;
}

bool check_str(PyObject *obj, const char *name) {
    return capi::check_arg_type(obj, &PyUnicode_Type, true, name, true);
}

}  // namespace pyorvex::dds::persistence
