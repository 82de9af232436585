#include <sys/random.h>
#include <time.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string.h>

#include "float_text.hpp"
#include "persistence.hpp"

namespace pyorvex::dds::persistence {

namespace {

// The record's array behind an entry, as it is now. Code the interpreter runs on the way (a
// garbage-collector callback) may have given the record new knots since its element was made,
// so they are checked again where they are written.
bool entry_values(PyObject *owner, bool knots, pyorvex_dview *out) {
    auto *t = reinterpret_cast<Traj *>(owner);
    if (!knots) return trajectory::cpts_view(t, out);
    return trajectory::knot_view(t, out) && check_knots(out->data, out->size);
}

const char *find(const char *hay, Py_ssize_t hay_len, const std::string &needle) {
    return static_cast<const char *>(
        memmem(hay, static_cast<size_t>(hay_len), needle.data(), needle.size()));
}

}  // namespace

DeferredTexts::DeferredTexts() {
    // Random, so that no document holds it by chance; serialize() copes if one does anyway.
    uint64_t r[2] = {0, 0};
    if (getrandom(r, sizeof r, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof r)) {
        timespec ts{};
        clock_gettime(CLOCK_REALTIME, &ts);
        r[0] = static_cast<uint64_t>(ts.tv_nsec) * 0x9E3779B97F4A7C15ULL ^
               reinterpret_cast<uintptr_t>(this);
        r[1] = static_cast<uint64_t>(ts.tv_sec) ^ (r[0] << 17);
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, "pyorvex-%016" PRIx64 "%016" PRIx64 "-", r[0], r[1]);
    prefix_ = buf;
}

int DeferredTexts::defer(PyObject *element, PyObject *owner, bool knots) {
    std::string placeholder = prefix_ + std::to_string(entries_.size()) + ".";
    Ref text(PyUnicode_FromStringAndSize(placeholder.data(),
                                         static_cast<Py_ssize_t>(placeholder.size())));
    if (!text || PyObject_SetAttrString(element, "text", text.get()) < 0) return -1;
    entries_.push_back({Ref::borrow(element), Ref::borrow(owner), knots, std::move(placeholder)});
    return 0;
}

int DeferredTexts::set_real_texts() {
    for (Entry &e : entries_) {
        pyorvex_dview values;
        if (!entry_values(e.owner.get(), e.knots, &values)) return -1;
        Ref text(capi::join_floats(values.data, values.size));
        if (!text || PyObject_SetAttrString(e.element.get(), "text", text.get()) < 0) return -1;
    }
    return 0;
}

PyObject *DeferredTexts::serialize(PyObject *tree) {
    Ref out(persistence::serialize(tree));
    if (!out || entries_.empty()) return out.release();
    const char *doc = PyBytes_AS_STRING(out.get());
    const Py_ssize_t doc_len = PyBytes_GET_SIZE(out.get());

    // Where each placeholder stands; all of them must be found exactly once.
    struct Spot {
        Py_ssize_t pos;
        const Entry *entry;
        pyorvex_dview values;
    };
    std::vector<Spot> spots;
    spots.reserve(entries_.size());
    bool unique = true;
    Py_ssize_t bound = doc_len;
    for (const Entry &e : entries_) {
        const char *at = find(doc, doc_len, e.placeholder);
        const Py_ssize_t after = at ? (at - doc) + 1 : 0;
        if (at == nullptr || find(doc + after, doc_len - after, e.placeholder) != nullptr) {
            unique = false;
            break;
        }
        pyorvex_dview values;
        if (!entry_values(e.owner.get(), e.knots, &values)) return nullptr;
        const Py_ssize_t room = capi::joined_size_bound(values.size);
        if (room < 0 || bound > PY_SSIZE_T_MAX - room) return PyErr_NoMemory();
        bound += room;
        spots.push_back({at - doc, &e, values});
    }
    if (!unique) {
        if (set_real_texts() < 0) return nullptr;
        return persistence::serialize(tree);
    }
    std::sort(spots.begin(), spots.end(),
              [](const Spot &a, const Spot &b) { return a.pos < b.pos; });

    PyObject *raw = PyBytes_FromStringAndSize(nullptr, bound);
    if (raw == nullptr) return nullptr;
    char *o = PyBytes_AS_STRING(raw);
    Py_ssize_t from = 0;
    for (const Spot &s : spots) {
        std::memcpy(o, doc + from, static_cast<size_t>(s.pos - from));
        o += s.pos - from;
        o = capi::write_joined(s.values.data, s.values.size, o);
        from = s.pos + static_cast<Py_ssize_t>(s.entry->placeholder.size());
    }
    std::memcpy(o, doc + from, static_cast<size_t>(doc_len - from));
    o += doc_len - from;
    if (_PyBytes_Resize(&raw, o - PyBytes_AS_STRING(raw)) < 0) return nullptr;
    return raw;
}

}  // namespace pyorvex::dds::persistence
