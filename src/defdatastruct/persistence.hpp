// What the persistence units share: the document's names and lookups over lxml, the parsers,
// and the pieces of an object element.
#pragma once

#include "internal.hpp"

namespace pyorvex::dds::xml {

inline constexpr const char kRootTag[] = "PyORVEXObjectList";

// fname, or fname + ".pyorvex" when os.path.splitext finds no extension.
PyObject *document_name(PyObject *fname);

// The text under which an ID is written and looked up: a str unchanged, None as "None".
PyObject *id_text(PyObject *ID);

// self.__class__.__name__, the tag of the object's element.
PyObject *type_name(PyObject *self);

// An XMLParser that never resolves entities, never reaches the network and takes documents of
// any size (a large trajectory is one text node beyond libxml2's default limit).
PyObject *safe_parser(bool remove_blank_text);

// Parses the document bytes; `name` labels parse errors.
PyObject *parse_document(PyObject *data, PyObject *name, bool remove_blank_text);

// Reads and parses the file `name` for loading. A loader needs no lock: savexml replaces a
// document in one step, so a reader sees the old or the new one.
PyObject *load_document(PyObject *name);

// The elements /PyORVEXObjectList/<tag>[@ID=...] (then /<child> when child is given) of the
// document that `context` belongs to, as a list. The ID is passed as an XPath variable, never
// spliced into the expression, so any text matches only itself.
PyObject *find_elements(PyObject *context, PyObject *tag, PyObject *ID_text, const char *child);

// The first item of a list, or IndexError "list index out of range".
PyObject *first_item(PyObject *list);

// etree.SubElement(parent, tag, attrib) and etree.SubElement(parent, tag).
PyObject *sub_element(PyObject *parent, PyObject *tag, PyObject *attrib);
PyObject *sub_element(PyObject *parent, const char *tag);

// {"ID": ID text, **self._getAttrib()} with _getAttrib reached through the method table.
PyObject *element_attributes(BaseObject *self, PyObject *ID_text);

// Sets, in its order, each attribute that self._getAttrib() (through the method table) names.
int update_attributes(BaseObject *self, PyObject *node);

// The argument check of the persistence methods: str or None.
bool check_str(PyObject *obj, const char *name);

// --- element operations (persistence_elements.cpp) -----------------------------------------------

// Runs a Python subclass's override of the element operation `name` with args: 1 when it ran,
// 0 when the built-in operation is what the object has, -1 with an exception set.
int run_override(BaseObject *self, const char *name, void *builtin, PyObject *const *args,
                 size_t nargs);

// Python-visible loadxml(fname, ID) over a C-level loader.
PyObject *loadxml_method(PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
                         PyObject *(*loader)(PyObject *fname, PyObject *ID));

// The ID argument check of the Python-visible _addPyORVEXObject(root, ID) and
// _updatePyORVEXObject(tree, node, ID); fills a[].
bool parse_add_args(PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames, PyObject **a);
bool parse_update_args(PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
                       PyObject **a);

// The element of the first object of `tag` saved under ID in the document `name`; ValueError
// "no match for ID: " + ID text when there is none.
PyObject *load_element(PyObject *fname, PyObject *ID, const char *tag);

void install_point_element(PointVtab *vt);       // persistence_point.cpp
void install_trajectory_element(TrajVtab *vt);   // persistence_trajectory.cpp

}  // namespace pyorvex::dds::xml
