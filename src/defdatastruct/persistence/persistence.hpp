// What the persistence units share: the document's names and lookups over lxml, the parsers,
// and the pieces of an object element.
#pragma once

#include <string>
#include <vector>

#include "trajectory/trajectory.hpp"

namespace pyorvex::dds::persistence {

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

// The document as bytes: XML declaration, UTF-8, pretty printed.
PyObject *serialize(PyObject *tree);

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

// The argument lists of loadxml(fname, ID), _addPyORVEXObject(root, ID) and
// _updatePyORVEXObject(tree, node, ID), shared by the three types.
extern const capi::ArgSpec loadxml_spec, add_spec, update_spec;

// The argument check of the persistence methods: str or None.
bool check_str(PyObject *obj, const char *name);

// --- number texts written past lxml (texts.cpp) --------------------------------------

// The number texts of an element's children, as savexml writes them. Handing millions of numbers
// to lxml as text and having it escape them again on output costs more than everything else of a
// save, and the texts need neither: they are plain ASCII. So while savexml runs the built-in
// element operation of an object with numbers (a trajectory, or a type of another module that
// registered its element form), the children get a placeholder text, and the numbers are
// formatted straight into the serialized document in its place.
class DeferredTexts {
public:
    DeferredTexts();
    DeferredTexts(const DeferredTexts &) = delete;
    DeferredTexts &operator=(const DeferredTexts &) = delete;

    // Gives `element` a placeholder for the numbers `numbers(owner, which)` gives.
    int defer(PyObject *element, PyObject *owner, pyorvex_numbers_fn numbers, int which);

    // The serialized tree with the numbers in place of the placeholders. Should a placeholder not
    // be found exactly once in the output (a document that happens to hold its text already),
    // the texts are set through lxml and the tree serialized again.
    PyObject *serialize(PyObject *tree);

    // The handle of the C-level interface is the object itself.
    pyorvex_texts *handle() { return reinterpret_cast<pyorvex_texts *>(this); }
    static DeferredTexts *from(pyorvex_texts *h) { return reinterpret_cast<DeferredTexts *>(h); }

private:
    struct Entry {
        Ref element;
        Ref owner;
        pyorvex_numbers_fn numbers;
        int which;
        std::string placeholder;
    };
    int set_real_texts();
    std::vector<Entry> entries_;
    std::string prefix_;
};

// --- element forms with number children (elements.cpp) -----------------------------------------

// The element of an object whose numbers live in children (Trajectory1d's cpts and knots, and the
// forms other modules register): <Tag ID=.. **_getAttrib()> with one child per number array.
// With `texts`, the numbers are deferred to the serialization (savexml); without, set through
// lxml. The form's check runs before the tree changes.
int add_form_element(BaseObject *self, PyObject *root, PyObject *ID,
                     const pyorvex_element_form *form, DeferredTexts *texts);
int update_form_element(BaseObject *self, PyObject *tree, PyObject *node, PyObject *ID,
                        const pyorvex_element_form *form, DeferredTexts *texts);

// The form registered for exactly `type`, or nullptr.
const pyorvex_element_form *registered_form(PyTypeObject *type);
int register_form(PyTypeObject *type, const pyorvex_element_form *form);

// The loader's pieces, shared by Trajectory1d's loader and the exported interface.
bool read_count(PyObject *element, const char *name, int *out);
bool read_order(PyObject *element, unsigned int *out);
double *read_numbers(PyObject *element, const char *child, Py_ssize_t needed, const char *counts);
// The knots every operation can work on: finite and non-decreasing. Otherwise ValueError naming
// the first offending knot, false. The loader and the saver both apply it.
bool check_knots(const double *knots, Py_ssize_t count);

// The exported interface, "persistence" in __pyx_capi__.
extern const pyorvex_persistence_api api;

// savexml's way of running an object's element operation: when it is the built-in one of a
// trajectory or of a registered form (no override, not another type's), runs it with the number
// texts deferred and returns 1; returns 0 when the object's own operation is to run instead;
// -1 on error.
int add_deferred(BaseObject *self, PyObject *root, PyObject *ID, DeferredTexts *texts);
int update_deferred(BaseObject *self, PyObject *tree, PyObject *node, PyObject *ID,
                    DeferredTexts *texts);
// The same for a trajectory (trajectory.cpp), which add_deferred and update_deferred try first.
int add_trajectory_deferred(BaseObject *self, PyObject *root, PyObject *ID, DeferredTexts *texts);
int update_trajectory_deferred(BaseObject *self, PyObject *tree, PyObject *node, PyObject *ID,
                               DeferredTexts *texts);

// --- element operations (persistence.cpp) -----------------------------------------------

// Python-visible loadxml(fname, ID) over a C-level loader.
PyObject *loadxml_method(PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
                         PyObject *(*loader)(PyObject *fname, PyObject *ID));

// Python-visible _addPyORVEXObject(root, ID) and _updatePyORVEXObject(tree, node, ID) over a
// C-level element operation, run with overrides skipped: the arguments checked, None returned.
using AddOp = int (*)(BaseObject *self, PyObject *root, PyObject *ID, int skip_dispatch);
using UpdateOp = int (*)(BaseObject *self, PyObject *tree, PyObject *node, PyObject *ID,
                         int skip_dispatch);
PyObject *add_method(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
                     AddOp op);
PyObject *update_method(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
                        UpdateOp op);

// The element of the first object of `tag` saved under ID in the document `name`; ValueError
// "no match for ID: " + ID text when there is none.
PyObject *load_element(PyObject *fname, PyObject *ID, const char *tag);

// --- the file side of a document (file.cpp) ------------------------------------------------------

// The file side of a document: reading it, and the locked read-change-write of savexml that
// replaces a document in one step.
//
// A save never writes into the document itself. It writes the whole new document to a file in
// the same directory, flushes it to disk and then renames it over the old one, so a reader, a
// crash or a full disk sees either the old or the new document, never a torn one. Savers in
// several processes serialise on an exclusive flock of the document they read; since the rename
// puts a new file under the name, a saver that waited re-checks after locking that the name still
// leads to the file it locked, and starts over otherwise.
// The whole content of the file `name` (str) as bytes.
PyObject *read_file(PyObject *name);

class DocumentFile {
public:
    DocumentFile() = default;
    DocumentFile(const DocumentFile &) = delete;
    DocumentFile &operator=(const DocumentFile &) = delete;
    ~DocumentFile();

    // Opens the document `name` (str) for a save. 1: an existing regular file, now locked, whose
    // content read() gives; 0: no document under that name (a new one is to be created);
    // -1: an exception is set.
    int open(PyObject *name);

    // The locked document's bytes.
    PyObject *read();

    // Puts `data` (bytes) in place of the document, or creates the document with it. 1 on
    // success; 0 when another process created the document since open() found none (the save
    // starts over and updates that document); -1 with an exception set, the old document intact.
    int replace(PyObject *data);

private:
    int create(PyObject *data);
    int write_temp(int fd, PyObject *data);
    int write_named(PyObject *data);
    void unregister();

    Ref name_;  // the name as given, for error messages
    Ref path_;  // the resolved path (bytes): symbolic links followed to the file they name
    int fd_ = -1;
    bool exists_ = false;
    bool writable_ = false;  // fd_ was opened for writing: the document may be replaced
    int write_errno_ = 0;    // why it could not be, when it could not
    unsigned long long dev_ = 0, ino_ = 0;
    unsigned mode_ = 0, uid_ = 0, gid_ = 0;
    bool registered_ = false;
};

// --- base.cpp: the abstract operations of PyORVEXObject -------------------------------------
PyObject *py_abstract_loadxml(PyObject *self, PyObject *const *args, Py_ssize_t nargs,
                              PyObject *kw);
PyObject *py_abstract_getattrib(PyObject *self, PyObject *unused);
PyObject *py_abstract_add(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw);
PyObject *py_abstract_update(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw);

// --- document.cpp: savexml -------------------------------------------------------------------
int savexml_op(BaseObject *self, PyObject *fname, PyObject *ID, int skip_dispatch);
PyObject *py_savexml(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw);
extern const char savexml_doc[];

// --- pickle.cpp: __reduce__ and __setstate__ of PyORVEXObject --------------------------------
PyObject *py_base_reduce(PyObject *self, PyObject *unused);
PyObject *py_base_setstate(PyObject *self, PyObject *state);

// --- point.cpp: the element form of Point1d ---------------------------------------------------
PyObject *point_c_loadxml(PyObject *fname, PyObject *ID);
int point_add_op(BaseObject *self, PyObject *root, PyObject *ID, int skip_dispatch);
int point_update_op(BaseObject *self, PyObject *tree, PyObject *node, PyObject *ID,
                    int skip_dispatch);
PyObject *py_point_loadxml(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw);
PyObject *py_point_add(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw);
PyObject *py_point_update(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw);

// --- trajectory.cpp: the element form of Trajectory1d -----------------------------------------
PyObject *trajectory_c_loadxml(PyObject *fname, PyObject *ID);
int trajectory_add_op(BaseObject *self, PyObject *root, PyObject *ID, int skip_dispatch);
int trajectory_update_op(BaseObject *self, PyObject *tree, PyObject *node, PyObject *ID,
                         int skip_dispatch);
PyObject *py_trajectory_loadxml(PyObject *self, PyObject *const *args, Py_ssize_t nargs,
                                PyObject *kw);
PyObject *py_trajectory_add(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw);
PyObject *py_trajectory_update(PyObject *self, PyObject *const *args, Py_ssize_t nargs,
                               PyObject *kw);

// --- the subsystem's pieces of the three types (persistence.cpp) -------------------------------
extern PyMethodDef base_methods[];        // PyORVEXObject: abstract operations, savexml, pickling
extern PyMethodDef point_methods[];       // Point1d: loadxml, element add/update
extern PyMethodDef trajectory_methods[];  // Trajectory1d: loadxml, element add/update
// Puts savexml into the base table, then starts each derived table as a copy of the base's and
// puts in it the type's loaders and element add/update.
void install(BaseVtab *base, PointVtab *point, TrajVtab *traj);
// __pyx_unpickle_PyORVEXObject, registered by the exec step.
PyObject *make_unpickle_function(PyObject *module);

}  // namespace pyorvex::dds::persistence
