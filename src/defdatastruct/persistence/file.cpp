#include "persistence.hpp"

#include <fcntl.h>
#include <pythread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace pyorvex::dds::persistence {

namespace {

// How often a save starts over because another process replaced or created the document while
// this one waited. Each new start means another save completed, so the bound is only a guard
// against a name that something outside the savers keeps changing.
constexpr int kMaxAttempts = 1000;

// Documents locked by this process, with the thread that holds each. flock locks belong to the
// open file, so a thread that tried to lock a document it already holds (savexml called from an
// override of an element operation during a save of the same document) would wait for itself
// forever; such a call is refused instead. Only touched with the interpreter lock held.
struct Held {
    unsigned long long dev, ino;
    unsigned long thread;
};

std::vector<Held> &held_documents() {
    static std::vector<Held> held;
    return held;
}

int raise_os_error(int err, PyObject *name) {
    errno = err;
    PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, name);
    return -1;
}

void close_quietly(int fd) {
    if (fd >= 0) ::close(fd);
}

// Reads the whole file behind fd. Sized from fstat, grown if the file turns out longer.
PyObject *read_fd(int fd, PyObject *name) {
    struct stat st;
    if (::fstat(fd, &st) < 0) return raise_os_error(errno, name), nullptr;
    Py_ssize_t cap = st.st_size > 0 && st.st_size < PY_SSIZE_T_MAX / 2
                         ? static_cast<Py_ssize_t>(st.st_size) + 1
                         : 4096;
    PyObject *buf = PyBytes_FromStringAndSize(nullptr, cap);
    if (buf == nullptr) return nullptr;
    Ref owner(buf);
    Py_ssize_t size = 0;
    for (;;) {
        if (size == cap) {
            if (cap > PY_SSIZE_T_MAX / 2) return PyErr_NoMemory();
            cap *= 2;
            PyObject *raw = owner.release();
            if (_PyBytes_Resize(&raw, cap) < 0) return nullptr;
            owner.reset(raw);
        }
        char *data = PyBytes_AS_STRING(owner.get());
        ssize_t got;
        int err;
        Py_BEGIN_ALLOW_THREADS got =
            ::pread(fd, data + size, static_cast<size_t>(cap - size), static_cast<off_t>(size));
        err = errno;
        Py_END_ALLOW_THREADS if (got < 0) {
            if (err == EINTR) {
                if (PyErr_CheckSignals() < 0) return nullptr;
                continue;
            }
            return raise_os_error(err, name), nullptr;
        }
        if (got == 0) break;
        size += got;
    }
    PyObject *raw = owner.release();
    if (_PyBytes_Resize(&raw, size) < 0) return nullptr;
    return raw;
}

// Writes all of data to fd and flushes it to the disk; 0 or the errno of the failure.
int write_and_sync(int fd, PyObject *data) {
    const char *p = PyBytes_AS_STRING(data);
    Py_ssize_t left = PyBytes_GET_SIZE(data);
    int err = 0;
    Py_BEGIN_ALLOW_THREADS while (left > 0) {
        const size_t chunk = static_cast<size_t>(left < (1 << 30) ? left : (1 << 30));
        const ssize_t put = ::write(fd, p, chunk);
        if (put < 0) {
            if (errno == EINTR) continue;
            err = errno;
            break;
        }
        p += put;
        left -= put;
    }
    // A file system that cannot sync (EINVAL) has nothing to flush.
    if (err == 0 && ::fsync(fd) < 0 && errno != EINVAL) err = errno;
    Py_END_ALLOW_THREADS return err;
}

// Makes the rename itself durable. Best effort: the new document is complete either way.
void sync_directory(const std::string &dir) {
    Py_BEGIN_ALLOW_THREADS const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
    Py_END_ALLOW_THREADS
}

// Waits for the exclusive lock without the interpreter lock, so that other threads, the holder
// of the lock among them, run meanwhile.
int lock_exclusive(int fd, PyObject *name) {
    for (;;) {
        int rc, err;
        Py_BEGIN_ALLOW_THREADS rc = ::flock(fd, LOCK_EX);
        err = errno;
        Py_END_ALLOW_THREADS if (rc == 0) return 0;
        if (err != EINTR) return raise_os_error(err, name);
        if (PyErr_CheckSignals() < 0) return -1;
    }
}

struct SplitPath {
    std::string dir, base;
};

SplitPath split(const char *path) {
    const char *slash = std::strrchr(path, '/');
    if (slash == nullptr) return {".", path};
    if (slash == path) return {"/", slash + 1};
    return {std::string(path, static_cast<size_t>(slash - path)), slash + 1};
}

// The name under which a replacement document becomes visible just before it is renamed over the
// document. It is the same for every save of a document, and only the saver holding the lock ever
// creates it, so a leftover of a killed save is simply reused by the next one. A base name too
// long to extend gets a name of this process instead.
std::string replacement_name(const SplitPath &sp) {
    std::string name = "." + sp.base + ".savexml-tmp";
    if (name.size() > NAME_MAX) name = ".savexml-tmp." + std::to_string(::getpid());
    return sp.dir + "/" + name;
}

bool tmpfile_unsupported(int err) { return err == EOPNOTSUPP || err == EISDIR || err == EINVAL; }

// An unnamed file in dir (Linux O_TMPFILE): nothing is left behind if the process dies before
// the file is linked into place. -1 when the file system or the system cannot make one this way
// (the caller falls back to a named file), -2 with an exception set on a real failure.
int open_unnamed(const std::string &dir, PyObject *name) {
#ifdef O_TMPFILE
    if (::access("/proc/self/fd", X_OK) == 0) {
        const int fd = ::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (fd >= 0) return fd;
        if (!tmpfile_unsupported(errno)) return raise_os_error(errno, name), -2;
    }
#endif
    return -1;
}

// Gives the unnamed file fd the name `to`; fails with EEXIST when that name exists.
int link_unnamed(int fd, const std::string &to) {
    char from[64];
    std::snprintf(from, sizeof from, "/proc/self/fd/%d", fd);
    return ::linkat(AT_FDCWD, from, AT_FDCWD, to.c_str(), AT_SYMLINK_FOLLOW);
}

}  // namespace

PyObject *read_file(PyObject *name) {
    PyObject *raw = nullptr;
    if (!PyUnicode_FSConverter(name, &raw)) return nullptr;
    Ref path(raw);
    int fd;
    int err;
    Py_BEGIN_ALLOW_THREADS fd =
        ::open(PyBytes_AS_STRING(path.get()), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    err = errno;
    Py_END_ALLOW_THREADS if (fd < 0) return raise_os_error(err, name), nullptr;
    PyObject *data = read_fd(fd, name);
    ::close(fd);
    return data;
}

DocumentFile::~DocumentFile() {
    unregister();
    close_quietly(fd_);
}

void DocumentFile::unregister() {
    if (!registered_) return;
    auto &held = held_documents();
    const unsigned long me = PyThread_get_thread_ident();
    for (auto it = held.begin(); it != held.end(); ++it) {
        if (it->dev == dev_ && it->ino == ino_ && it->thread == me) {
            held.erase(it);
            break;
        }
    }
    registered_ = false;
}

int DocumentFile::open(PyObject *name) {
    name_ = Ref::borrow(name);
    Ref real(PyObject_CallFunction(module_state.os_path.realpath, "O", name));
    if (!real) return -1;
    PyObject *raw = nullptr;
    if (!PyUnicode_FSConverter(real.get(), &raw)) return -1;
    path_ = Ref(raw);
    const char *path = PyBytes_AS_STRING(path_.get());
    const unsigned long me = PyThread_get_thread_ident();

    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        // Opened for writing when possible: the lock then works on every file system, and a
        // document that may not be written is found out here. Such a document is still read, and
        // the save fails where writing it would have failed.
        int fd, err = 0;
        bool writable = true;
        Py_BEGIN_ALLOW_THREADS fd = ::open(path, O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (fd < 0 && errno != ENOENT) {
            write_errno_ = errno;
            writable = false;
            fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        }
        err = errno;
        Py_END_ALLOW_THREADS if (fd < 0) {
            if (err == ENOENT) return 0;
            return raise_os_error(err, name);
        }
        struct stat st;
        if (::fstat(fd, &st) < 0) {
            err = errno;
            ::close(fd);
            return raise_os_error(err, name);
        }
        if (!S_ISREG(st.st_mode)) {
            ::close(fd);
            if (S_ISDIR(st.st_mode)) return raise_os_error(EISDIR, name);
            PyErr_Format(PyExc_OSError, "not a regular file: %R", name);
            return -1;
        }
        for (const Held &h : held_documents()) {
            if (h.dev == st.st_dev && h.ino == st.st_ino && h.thread == me) {
                ::close(fd);
                PyErr_Format(PyExc_RuntimeError, "savexml is already saving to %R in this thread",
                             name);
                return -1;
            }
        }
        if (lock_exclusive(fd, name) < 0) {
            ::close(fd);
            return -1;
        }
        // While this process waited, another saver may have renamed a new document over the
        // name (or removed it): then the locked file is history and the save starts over.
        struct stat now;
        if (::stat(path, &now) < 0) {
            err = errno;
            ::close(fd);
            if (err == ENOENT) continue;
            return raise_os_error(err, name);
        }
        if (now.st_dev != st.st_dev || now.st_ino != st.st_ino) {
            ::close(fd);
            continue;
        }
        fd_ = fd;
        exists_ = true;
        writable_ = writable;
        dev_ = st.st_dev;
        ino_ = st.st_ino;
        mode_ = st.st_mode & 07777;
        uid_ = st.st_uid;
        gid_ = st.st_gid;
        held_documents().push_back({dev_, ino_, me});
        registered_ = true;
        return 1;
    }
    PyErr_Format(PyExc_RuntimeError, "the document %R kept changing while savexml waited for it",
                 name);
    return -1;
}

PyObject *DocumentFile::read() { return read_fd(fd_, name_.get()); }

int DocumentFile::replace(PyObject *data) {
    if (!exists_) return create(data);
    if (!writable_) return raise_os_error(write_errno_, name_.get());
    const SplitPath sp = split(PyBytes_AS_STRING(path_.get()));
    const int tmp = open_unnamed(sp.dir, name_.get());
    if (tmp == -2) return -1;
    if (tmp == -1) return write_named(data);
    if (write_temp(tmp, data) < 0) {
        ::close(tmp);
        return -1;
    }
    const std::string staged = replacement_name(sp);
    ::unlink(staged.c_str());  // the leftover of a save that was killed here, if any
    if (link_unnamed(tmp, staged) < 0) {
        const int err = errno;
        ::close(tmp);
        return raise_os_error(err, name_.get());
    }
    ::close(tmp);
    if (::rename(staged.c_str(), PyBytes_AS_STRING(path_.get())) < 0) {
        const int err = errno;
        ::unlink(staged.c_str());
        return raise_os_error(err, name_.get());
    }
    sync_directory(sp.dir);
    return 1;
}

// The replacement keeps the document's permissions (and its owner, where the system lets this
// process give it away).
int DocumentFile::write_temp(int fd, PyObject *data) {
    if (exists_) {
        ::fchmod(fd, static_cast<mode_t>(mode_));
        if (uid_ != ::geteuid() || gid_ != ::getegid()) {
            [[maybe_unused]] const int ignored =
                ::fchown(fd, static_cast<uid_t>(uid_), static_cast<gid_t>(gid_));
        }
    }
    const int err = write_and_sync(fd, data);
    if (err != 0) return raise_os_error(err, name_.get());
    return 0;
}

// Without unnamed files: the replacement is written under its staging name (still only by the
// lock holder) and renamed over the document.
int DocumentFile::write_named(PyObject *data) {
    const SplitPath sp = split(PyBytes_AS_STRING(path_.get()));
    const std::string staged = replacement_name(sp);
    ::unlink(staged.c_str());
    const int fd = ::open(staged.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0) return raise_os_error(errno, name_.get());
    if (write_temp(fd, data) < 0) {
        ::close(fd);
        ::unlink(staged.c_str());
        return -1;
    }
    ::close(fd);
    if (::rename(staged.c_str(), PyBytes_AS_STRING(path_.get())) < 0) {
        const int err = errno;
        ::unlink(staged.c_str());
        return raise_os_error(err, name_.get());
    }
    sync_directory(sp.dir);
    return 1;
}

// A new document appears under its name complete or not at all, and only if no other process
// created one meanwhile (linking never replaces an existing name).
int DocumentFile::create(PyObject *data) {
    const char *path = PyBytes_AS_STRING(path_.get());
    const SplitPath sp = split(path);
    const int tmp = open_unnamed(sp.dir, name_.get());
    if (tmp == -2) return -1;
    if (tmp >= 0) {
        if (write_temp(tmp, data) < 0) {
            ::close(tmp);
            return -1;
        }
        const int rc = link_unnamed(tmp, path);
        const int err = errno;
        ::close(tmp);
        if (rc == 0) {
            sync_directory(sp.dir);
            return 1;
        }
        if (err == EEXIST) return 0;
        return raise_os_error(err, name_.get());
    }
    // Without unnamed files: a named file of this process, linked under the document's name.
    std::string staged;
    int fd = -1;
    for (int i = 0; fd < 0; ++i) {
        staged = sp.dir + "/.savexml-new." + std::to_string(::getpid()) + "." + std::to_string(i);
        fd = ::open(staged.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return raise_os_error(errno, name_.get());
    }
    if (write_temp(fd, data) < 0) {
        ::close(fd);
        ::unlink(staged.c_str());
        return -1;
    }
    ::close(fd);
    int rc = ::link(staged.c_str(), path);
    int err = errno;
    if (rc < 0 && (err == EPERM || err == EOPNOTSUPP || err == ENOSYS)) {
        // A file system without hard links: the creation is not exclusive then.
        rc = ::rename(staged.c_str(), path);
        err = errno;
    }
    ::unlink(staged.c_str());
    if (rc == 0) {
        sync_directory(sp.dir);
        return 1;
    }
    if (err == EEXIST) return 0;
    return raise_os_error(err, name_.get());
}

}  // namespace pyorvex::dds::persistence
