// The operations that give a new motion from the curve of each axis — calculus, degree
// elevation, knot insertion and refinement — and those on the knots alone: joint knot removal
// and the in-place time transforms. Each per-axis one runs the one-column kernel routine on every
// axis through one scratch column; the knot vector it writes depends only on the knots and the
// degree, so the first axis's is kept (and the others' equal it: asserted in debug builds).
// Arguments, defaults and messages are those of Trajectory1d.
#include <cassert>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "refusals.hpp"
#include "knot_transform.hpp"
#include "multiaxis.hpp"

namespace pyorvex::multiaxis::operations {

namespace {

// A new motion filled axis by axis: `knots` knots and `rows` rows of the result, from kernel
// routines that need `work_knots` and `work_rows` of room.
class PerAxis {
public:
    bool allocate(const Motion *m, Py_ssize_t knots, Py_ssize_t rows, Py_ssize_t work_knots,
                  Py_ssize_t work_rows) {
        knots_ = knots;
        rows_ = rows;
        return result_.allocate(knots, rows, m->dof) && column_.allocate(row_count(m)) &&
               nt_.allocate(work_knots) && nc_.allocate(work_rows);
    }

    // f(t, c, nt, nc) for the column c of each axis.
    template <class F>
    void run(const Motion *m, F f) {
        const kernel::cspan t = span(m->knots, knot_count(m));
        for (int j = 0; j < m->dof; ++j) {
            gather(m->cpts, row_count(m), m->dof, j, column_.data());
            f(t, span(column_.data(), row_count(m)), vspan(nt_.data(), nt_.size()),
              vspan(nc_.data(), nc_.size()));
            if (j == 0) std::memcpy(result_.knots(), nt_.data(), static_cast<size_t>(knots_) * 8);
            assert(std::memcmp(result_.knots(), nt_.data(), static_cast<size_t>(knots_) * 8) == 0);
            scatter(nc_.data(), rows_, m->dof, j, result_.cpts());
        }
    }
    PyObject *wrap(int p, unsigned int order) { return result_.wrap(p, order); }

private:
    NewMotion result_;
    Doubles column_, nt_, nc_;
    Py_ssize_t knots_ = 0, rows_ = 0;
};

Motion *motion(PyObject *self) { return as_motion(self); }

PyObject *raise_value(const char *message) {
    PyErr_SetString(PyExc_ValueError, message);
    return nullptr;
}

PyObject *raise_kernel_refusal() {
    PyErr_SetString(PyExc_RuntimeError, "the spline kernel refused the motion's data");
    return nullptr;
}

bool fits(std::size_t size) { return size <= static_cast<std::size_t>(INT_MAX); }

// The column sizes of a motion, as the one-column kernel sizing functions take them.
kernel::cspan knots_of(const Motion *m) { return span(m->knots, knot_count(m)); }
kernel::cspan rows_of(const Motion *m) { return span(m->cpts, row_count(m)); }

PyObject *zero_function(const Motion *m, unsigned int order) {
    NewMotion r;
    if (!r.allocate(2, 1, m->dof)) return nullptr;
    r.knots()[0] = m->knots[0];
    r.knots()[1] = m->knots[knot_count(m) - 1];
    for (int j = 0; j < m->dof; ++j) r.cpts()[j] = 0.0;
    return r.wrap(0, order);
}

bool derived_order(unsigned int order, int nu, unsigned int *out) {
    const std::uint64_t s = std::uint64_t{order} + static_cast<std::uint64_t>(nu);
    if (s > UINT_MAX) {
        PyErr_Format(PyExc_OverflowError, "the derivative order %llu does not fit an unsigned int",
                     static_cast<unsigned long long>(s));
        return false;
    }
    *out = static_cast<unsigned int>(s);
    return true;
}

// --- argument parsing ----------------------------------------------------------------------------

const char *const nu_names[] = {"nu"};
const capi::ArgSpec derivative_signature{"derivative", nu_names, 0, 1};
const capi::ArgSpec antiderivative_signature{"antiderivative", nu_names, 0, 1};
const capi::ArgSpec degelev_signature{"degelev", nu_names, 0, 1};
const char *const knotins_names[] = {"u", "r"};
const capi::ArgSpec knotins_signature{"knotins", knotins_names, 2, 2};
const char *const knotrem_names[] = {"u", "r", "tol"};
const capi::ArgSpec knotrem_signature{"knotrem", knotrem_names, 2, 3};
const char *const knotsrem_names[] = {"tol"};
const capi::ArgSpec knotsrem_signature{"knotsrem", knotsrem_names, 0, 1};
const char *const adapt_names[] = {"start", "stop"};
const capi::ArgSpec adapt_signature{"adapt", adapt_names, 2, 2};

bool parse_nu(const capi::ArgSpec &signature, PyObject *const *args, Py_ssize_t nargs, PyObject *kw,
              int *nu) {
    PyObject *a[1];
    if (!capi::parse_args(signature, args, nargs, kw, a)) return false;
    *nu = 1;
    return a[0] == nullptr || capi::to_int(a[0], nu);
}

bool check_domain(const Motion *m, double u, bool reject_nan) {
    const bool outside =
        u < m->knots[0] || u > m->knots[knot_count(m) - 1] || (reject_nan && std::isnan(u));
    if (!outside) return true;
    Ref text(capi::float_text(u));
    if (text) PyErr_Format(PyExc_ValueError, "'u' out of domain: %U", text.get());
    return false;
}

bool check_count(int r) {
    if (r >= 0) return true;
    raise_value("'r' must be non-negative number");
    return false;
}

}  // namespace

// --- calculus ------------------------------------------------------------------------------------

PyObject *derivative_of(Motion *m, int nu) {
    if (nu < 0) {
        PyErr_Format(PyExc_ValueError, "'nu' must be greater than or equal to zero: %d", nu);
        return nullptr;
    }
    unsigned int order;
    if (!derived_order(m->order, nu, &order)) return nullptr;
    if (nu > m->p) return zero_function(m, order);
    const kernel::CalculusSize s = kernel::derivative_size(knots_of(m), rows_of(m), m->p, nu);
    if (!s.ok || !fits(s.knots)) return raise_kernel_refusal();
    PerAxis work;
    const auto nk = static_cast<Py_ssize_t>(s.knots), nc = static_cast<Py_ssize_t>(s.coefs);
    if (!work.allocate(m, nk, nc, nk, nc)) return nullptr;
    bool ok = true;
    work.run(m, [&](auto t, auto c, auto nt, auto ncs) {
        ok &= kernel::derivative(t, c, m->p, nu, nt, ncs) == nc - 1;
    });
    if (!ok) return raise_kernel_refusal();
    return work.wrap(m->p - nu, order);
}

PyObject *derivative(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    int nu;
    if (!parse_nu(derivative_signature, args, nargs, kw, &nu) || !require_data(motion(self)))
        return nullptr;
    return derivative_of(motion(self), nu);
}

PyObject *antiderivative(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    int nu;
    Motion *m = motion(self);
    if (!parse_nu(antiderivative_signature, args, nargs, kw, &nu) || !require_data(m))
        return nullptr;
    if (nu < 0) {
        PyErr_Format(PyExc_ValueError, "'nu' must be greater than or equal to zero: %d", nu);
        return nullptr;
    }
    if (m->order < static_cast<unsigned int>(nu))
        return raise_value("negative 'order' not allowed");
    if (!supported_degree(std::int64_t{m->p} + nu)) return nullptr;
    const kernel::CalculusSize s = kernel::antiderivative_size(knots_of(m), rows_of(m), m->p, nu);
    if (!s.ok || !fits(s.knots)) return raise_kernel_refusal();
    PerAxis work;
    const auto nk = static_cast<Py_ssize_t>(s.knots), nc = static_cast<Py_ssize_t>(s.coefs);
    if (!work.allocate(m, nk, nc, nk, nc)) return nullptr;
    work.run(m, [&](auto t, auto c, auto nt, auto ncs) {
        kernel::antiderivative(t, c, m->p, nu, nt, ncs);
    });
    return work.wrap(m->p + nu, m->order - static_cast<unsigned int>(nu));
}

PyObject *degelev(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    int nu;
    Motion *m = motion(self);
    if (!parse_nu(degelev_signature, args, nargs, kw, &nu) || !require_data(m)) return nullptr;
    if (nu < 0) return raise_value("'nu' must be non-negative number");
    if (!supported_degree(std::int64_t{m->p} + nu)) return nullptr;
    const kernel::ElevationSize s = kernel::elevation_size(knots_of(m), rows_of(m), m->p, nu);
    if (!s.ok || !fits(s.work_knots) || !fits(s.work_coefs)) return raise_kernel_refusal();
    PerAxis work;
    if (!work.allocate(m, static_cast<Py_ssize_t>(s.knots), static_cast<Py_ssize_t>(s.coefs),
                       static_cast<Py_ssize_t>(s.work_knots),
                       static_cast<Py_ssize_t>(s.work_coefs)))
        return nullptr;
    work.run(m, [&](auto t, auto c, auto nt, auto ncs) {
        kernel::elevate_degree(t, c, m->p, nu, nt, ncs);
    });
    return work.wrap(m->p + nu, m->order);
}

// --- knots ---------------------------------------------------------------------------------------

PyObject *knotins(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    PyObject *a[2];
    if (!capi::parse_args(knotins_signature, args, nargs, kw, a)) return nullptr;
    double u;
    int r;
    Motion *m = motion(self);
    if (!capi::to_double(a[0], &u) || !capi::to_int(a[1], &r) || !require_data(m)) return nullptr;
    if (!check_domain(m, u, true) || !check_count(r)) return nullptr;
    if (r > m->p) return raise_value("'r' must be less than or equal to 'p'");
    const Py_ssize_t nk = knot_count(m) + r, nc = row_count(m) + r;
    PerAxis work;
    if (!work.allocate(m, nk, nc, nk, nc)) return nullptr;
    work.run(m, [&](auto t, auto c, auto nt, auto ncs) {
        kernel::insert_knot(t, c, m->p, u, r, nt, ncs);
    });
    return work.wrap(m->p, m->order);
}

PyObject *knotref(PyObject *self, PyObject *X) {
    capi::DoubleBuffer buf;
    Motion *m = motion(self);
    if (!buf.acquire(X, false) || !require_data(m)) return nullptr;
    // Every axis must be refined with the same values: they are read once, into a copy.
    Doubles xs;
    const Py_ssize_t count = buf.size();
    if (!xs.allocate(count)) return nullptr;
    if (count > 0) std::memcpy(xs.data(), buf.data(), static_cast<size_t>(count) * sizeof(double));
    buf.release();
    for (Py_ssize_t i = 0; i < count; ++i)
        if ((i > 0 && !(xs.data()[i - 1] < xs.data()[i])) || std::isnan(xs.data()[i]))
            return raise_value("'X' must be increasing");
    const Py_ssize_t nk = knot_count(m) + count, nc = row_count(m) + count;
    PerAxis work;
    if (!work.allocate(m, nk, nc, nk, nc)) return nullptr;
    work.run(m, [&](auto t, auto c, auto nt, auto ncs) {
        kernel::refine(t, c, m->p, span(xs.data(), count), nt, ncs);
    });
    return work.wrap(m->p, m->order);
}

namespace {

// Working copies of the record for the in-place removal, then cut to what is left.
PyObject *remove(Motion *m, double tol, bool single, double u, int r) {
    NewMotion out;
    const Py_ssize_t nk = knot_count(m), rows = row_count(m);
    Doubles t, c;
    if (!t.allocate(nk) || !c.allocate(cpts_count(m))) return nullptr;
    std::memcpy(t.data(), m->knots, static_cast<size_t>(nk) * sizeof(double));
    std::memcpy(c.data(), m->cpts, static_cast<size_t>(cpts_count(m)) * sizeof(double));
    const auto dof = static_cast<std::size_t>(m->dof);
    const int removed =
        single ? kernel::remove_knot_rows(vspan(t.data(), nk), vspan(c.data(), c.size()), m->p, dof,
                                          u, r, tol)
               : kernel::remove_knots_rows(vspan(t.data(), nk), vspan(c.data(), c.size()), m->p,
                                           dof, tol);
    if (removed < 0 || removed > m->n) return raise_kernel_refusal();
    if (!out.allocate(nk - removed, rows - removed, m->dof)) return nullptr;
    std::memcpy(out.knots(), t.data(), static_cast<size_t>(nk - removed) * sizeof(double));
    std::memcpy(out.cpts(), c.data(),
                static_cast<size_t>((rows - removed) * m->dof) * sizeof(double));
    return out.wrap(m->p, m->order);
}

bool optional_tol(PyObject *arg, double *tol) {
    return arg == nullptr || capi::to_double(arg, tol);
}

}  // namespace

PyObject *knotrem(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    PyObject *a[3];
    if (!capi::parse_args(knotrem_signature, args, nargs, kw, a)) return nullptr;
    double u, tol = 1e-13;
    int r;
    Motion *m = motion(self);
    if (!capi::to_double(a[0], &u) || !capi::to_int(a[1], &r) || !optional_tol(a[2], &tol) ||
        !require_data(m))
        return nullptr;
    if (!check_domain(m, u, false) || !check_count(r)) return nullptr;
    return remove(m, tol, true, u, r);
}

PyObject *knotsrem(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    PyObject *a[1];
    if (!capi::parse_args(knotsrem_signature, args, nargs, kw, a)) return nullptr;
    double tol = 1e-13;
    Motion *m = motion(self);
    if (!optional_tol(a[0], &tol) || !require_data(m)) return nullptr;
    return remove(m, tol, false, 0.0, 0);
}

// --- time transforms, in place -------------------------------------------------------------------

namespace {

int check_transform(const Motion *m, bool scale, double k, bool shift, double d) {
    return capi::knot_transform_refusal(
        kernel::check_knot_transform(m->knots, knot_count(m), scale, k, shift, d));
}

void shift_knots(Motion *m, double x) {
    for (Py_ssize_t i = 0; i < knot_count(m); ++i) m->knots[i] += x;
}

// As Trajectory1d scales: a knot equal to the first stays exactly where it is.
void scale_knots(Motion *m, double k) { kernel::scale_knots(m->knots, knot_count(m), k); }

bool number_arg(PyObject *arg, Motion *m, double *out) {
    return capi::to_double(arg, out) && require_data(m);
}

}  // namespace

PyObject *rshift(PyObject *self, PyObject *x) {
    double d;
    Motion *m = motion(self);
    if (!number_arg(x, m, &d)) return nullptr;
    if (!std::isfinite(d)) return raise_value("'x' must be a finite number");
    if (check_transform(m, false, 1.0, true, d) < 0) return nullptr;
    shift_knots(m, d);
    return capi::none();
}

PyObject *ashift(PyObject *self, PyObject *x) {
    double v;
    Motion *m = motion(self);
    if (!number_arg(x, m, &v)) return nullptr;
    if (!std::isfinite(v)) return raise_value("'x' must be a finite number");
    const double d = v - m->knots[0];
    if (check_transform(m, false, 1.0, true, d) < 0) return nullptr;
    shift_knots(m, d);
    return capi::none();
}

PyObject *hscale(PyObject *self, PyObject *k) {
    double f;
    Motion *m = motion(self);
    if (!number_arg(k, m, &f)) return nullptr;
    if (!(f > 0.0) || !std::isfinite(f))
        return raise_value("'k' must be a finite number greater than zero");
    if (check_transform(m, true, f, false, 0.0) < 0) return nullptr;
    scale_knots(m, f);
    return capi::none();
}

PyObject *adapt(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw) {
    PyObject *a[2];
    if (!capi::parse_args(adapt_signature, args, nargs, kw, a)) return nullptr;
    double start, stop;
    Motion *m = motion(self);
    if (!capi::to_double(a[0], &start) || !capi::to_double(a[1], &stop) || !require_data(m))
        return nullptr;
    if (!(start < stop)) return raise_value("'stop' must be strictly greater than 'start'");
    if (!std::isfinite(start) || !std::isfinite(stop))
        return raise_value("'start' and 'stop' must be finite numbers");
    const double s0 = m->knots[0], length = m->knots[knot_count(m) - 1] - s0;
    if (length == 0.0) {
        PyErr_SetString(PyExc_ZeroDivisionError, "float division by zero");
        return nullptr;
    }
    const double k = (stop - start) / length;
    if (check_transform(m, true, k, s0 != start, start - s0) < 0) return nullptr;
    scale_knots(m, k);
    if (s0 != start) shift_knots(m, start - s0);
    return capi::none();
}

// --- the sum -------------------------------------------------------------------------------------

PyObject *sum(Motion *a, Motion *b) {
    if (!require_data(a) || !require_data(b)) return nullptr;
    if (a->p != b->p) return raise_value("the motions must have the same degree 'p'");
    if (a->knots[0] != b->knots[0] || a->knots[knot_count(a) - 1] != b->knots[knot_count(b) - 1])
        return raise_value("the motions must have the same extremes of domain");
    if (a->order != b->order) return raise_value("the motions must have the same 'order'");
    if (a->dof != b->dof) return raise_value("the motions must have the same 'dof'");
    const kernel::SumSize s = kernel::sum_size(knots_of(a), knots_of(b), a->p);
    if (!s.ok || s.m + 1 > INT_MAX) return raise_kernel_refusal();
    const auto nk = static_cast<Py_ssize_t>(s.m + 1), nc = static_cast<Py_ssize_t>(s.n + 1);
    PerAxis work;
    Doubles other;
    if (!work.allocate(a, nk, nc, nk, nc) || !other.allocate(row_count(b))) return nullptr;
    int j = 0;
    work.run(a, [&](auto t, auto c, auto nt, auto ncs) {
        gather(b->cpts, row_count(b), b->dof, j++, other.data());
        kernel::sum(t, c, knots_of(b), span(other.data(), row_count(b)), a->p, nt, ncs);
    });
    return work.wrap(a->p, a->order);
}

}  // namespace pyorvex::multiaxis::operations
