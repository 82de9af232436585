// Joining Trajectory1d objects into one motion and taking it apart again. Joining is exact: every
// axis is raised to the highest degree among them (degree elevation keeps the curve) and then
// refined to the union of their knots, each distinct value with the largest multiplicity it has
// among the raised axes (insertion keeps the curve too). The axes are read through the record
// layout of pyorvex/defdatastruct.h; the axes given back are made by Trajectory1d's new_struct.
#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "multiaxis.hpp"

namespace pyorvex::multiaxis::axes {

namespace {

using Axis = pyorvex_Trajectory1d;

// One axis raised to the common degree: its knots and coefficients in std::vector storage.
struct Raised {
    std::vector<double> t, c;
};

bool raise_axis(const Axis *a, int q, Raised *out) {
    const kernel::cspan t(a->_knotvector, static_cast<std::size_t>(a->n) + a->p + 2);
    const kernel::cspan c(a->_cpts, static_cast<std::size_t>(a->n) + 1);
    if (a->p == q) {
        out->t.assign(t.begin(), t.end());
        out->c.assign(c.begin(), c.end());
        return true;
    }
    const kernel::ElevationSize s = kernel::elevation_size(t, c, a->p, q - a->p);
    if (!s.ok || s.knots > INT_MAX) {
        raise_memory_error();
        return false;
    }
    out->t.resize(s.work_knots);
    out->c.resize(s.work_coefs);
    kernel::elevate_degree(t, c, a->p, q - a->p, out->t, out->c);
    out->t.resize(s.knots);
    out->c.resize(s.coefs);
    return true;
}

// The union of sorted knot vectors, each value with its largest multiplicity among them.
std::vector<double> knot_union(const std::vector<Raised> &axes) {
    std::vector<double> u = axes[0].t;
    for (std::size_t a = 1; a < axes.size(); ++a) {
        std::vector<double> merged;
        merged.reserve(u.size() + axes[a].t.size());
        // Merging two sorted sequences and keeping each common element once gives, for every
        // value, the larger of its two multiplicities.
        std::set_union(u.begin(), u.end(), axes[a].t.begin(), axes[a].t.end(),
                       std::back_inserter(merged));
        u.swap(merged);
    }
    return u;
}

bool check_axes(PyObject *seq, std::vector<Axis *> *out) {
    const Py_ssize_t count = PySequence_Fast_GET_SIZE(seq);
    if (count == 0) {
        PyErr_SetString(PyExc_ValueError, "'trajs' must hold at least one Trajectory1d");
        return false;
    }
    for (Py_ssize_t i = 0; i < count; ++i) {
        PyObject *item = PySequence_Fast_GET_ITEM(seq, i);
        if (!is_trajectory(item)) {
            PyErr_Format(PyExc_TypeError,
                         "'trajs' must hold Trajectory1d objects, got %.200s at %zd",
                         Py_TYPE(item)->tp_name, i);
            return false;
        }
        auto *a = reinterpret_cast<Axis *>(item);
        if (a->_knotvector == nullptr || a->_cpts == nullptr || a->n < 0 || a->p < 0) {
            PyErr_Format(PyExc_ValueError, "'trajs' holds an empty Trajectory1d at %zd", i);
            return false;
        }
        if (!supported_degree(a->p)) return false;
        out->push_back(a);
    }
    const Axis *first = (*out)[0];
    const double start = first->_knotvector[0], stop = first->_knotvector[first->n + first->p + 1];
    for (std::size_t i = 1; i < out->size(); ++i) {
        const Axis *a = (*out)[i];
        if (a->_knotvector[0] != start || a->_knotvector[a->n + a->p + 1] != stop) {
            PyErr_Format(PyExc_ValueError,
                         "the axes must share one domain: axis %zd differs from axis 0 in its "
                         "start or stop",
                         i);
            return false;
        }
        if (a->order != first->order) {
            PyErr_Format(PyExc_ValueError,
                         "the axes must share one 'order': axis %zd has %u, axis 0 has %u", i,
                         a->order, first->order);
            return false;
        }
    }
    return true;
}

PyObject *join(const std::vector<Axis *> &given) {
    int q = 0;
    for (const Axis *a : given) q = std::max(q, a->p);
    std::vector<Raised> raised(given.size());
    for (std::size_t i = 0; i < given.size(); ++i)
        if (!raise_axis(given[i], q, &raised[i])) return nullptr;
    const std::vector<double> u = knot_union(raised);
    const Py_ssize_t nk = static_cast<Py_ssize_t>(u.size()), rows = nk - q - 1;
    const int dof = static_cast<int>(given.size());
    NewMotion r;
    if (!r.allocate(nk, rows, dof)) return nullptr;
    std::memcpy(r.knots(), u.data(), u.size() * sizeof(double));
    std::vector<double> missing, nt(u.size()), nc(static_cast<std::size_t>(rows));
    for (int j = 0; j < dof; ++j) {
        const Raised &a = raised[static_cast<std::size_t>(j)];
        missing.clear();
        std::set_difference(u.begin(), u.end(), a.t.begin(), a.t.end(),
                            std::back_inserter(missing));
        kernel::refine(a.t, a.c, q, missing, nt, nc);
        scatter(nc.data(), rows, dof, j, r.cpts());
    }
    return r.wrap(q, given[0]->order);
}

}  // namespace

PyObject *from_axes(PyObject *, PyObject *trajs) {
    Ref seq(PySequence_Fast(trajs, "'trajs' must be a sequence of Trajectory1d objects"));
    if (!seq) return nullptr;
    return capi::no_throw<PyObject *>(nullptr, [&]() -> PyObject * {
        std::vector<Axis *> given;
        if (!check_axes(seq.get(), &given)) return nullptr;
        // The items stay alive with the sequence (a list given is kept by `seq`); nothing here
        // runs Python code that could change them.
        return join(given);
    });
}

namespace {

// Axis j of a motion as a new Trajectory1d, made by the type's own C-level factory.
PyObject *make_axis(const Motion *m, int j) {
    PyObject *obj = imported.trajectory_vtab->new_struct(m->p, m->n, m->order);
    if (obj == nullptr) return nullptr;
    auto *a = reinterpret_cast<Axis *>(obj);
    std::memcpy(a->_knotvector, m->knots, static_cast<size_t>(knot_count(m)) * sizeof(double));
    gather(m->cpts, row_count(m), m->dof, j, a->_cpts);
    return obj;
}

}  // namespace

PyObject *axis(PyObject *self, PyObject *i) {
    const Motion *m = as_motion(self);
    const Py_ssize_t index = PyNumber_AsSsize_t(i, PyExc_IndexError);
    if (index == -1 && PyErr_Occurred()) return nullptr;
    if (!require_data(m)) return nullptr;
    const Py_ssize_t j = index < 0 ? index + m->dof : index;
    if (j < 0 || j >= m->dof) {
        PyErr_Format(PyExc_IndexError, "axis index %zd out of range for dof = %d", index, m->dof);
        return nullptr;
    }
    return make_axis(m, static_cast<int>(j));
}

PyObject *all_axes(PyObject *self, PyObject *) {
    const Motion *m = as_motion(self);
    if (!require_data(m)) return nullptr;
    Ref list(PyList_New(m->dof));
    if (!list) return nullptr;
    for (int j = 0; j < m->dof; ++j) {
        PyObject *a = make_axis(m, j);
        if (a == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), j, a);
    }
    return list.release();
}

}  // namespace pyorvex::multiaxis::axes
