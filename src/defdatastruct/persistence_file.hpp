// The file side of a document: reading it, and the locked read-change-write of savexml that
// replaces a document in one step.
//
// A save never writes into the document itself. It writes the whole new document to a file in
// the same directory, flushes it to disk and then renames it over the old one, so a reader, a
// crash or a full disk sees either the old or the new document, never a torn one. Savers in
// several processes serialise on an exclusive flock of the document they read; since the rename
// puts a new file under the name, a saver that waited re-checks after locking that the name still
// leads to the file it locked, and starts over otherwise.
#pragma once

#include "internal.hpp"

namespace pyorvex::dds::xml {

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

    Ref name_;    // the name as given, for error messages
    Ref path_;    // the resolved path (bytes): symbolic links followed to the file they name
    int fd_ = -1;
    bool exists_ = false;
    bool writable_ = false;  // fd_ was opened for writing: the document may be replaced
    int write_errno_ = 0;    // why it could not be, when it could not
    unsigned long long dev_ = 0, ino_ = 0;
    unsigned mode_ = 0, uid_ = 0, gid_ = 0;
    bool registered_ = false;
};

}  // namespace pyorvex::dds::xml
