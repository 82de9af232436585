// Array evaluation for the call operator: reads the abscissae where they are and writes the
// results to a separate array, with the checks and results that sorting a copy and calling ceval
// or dceval on it would give.
//
// Increasing input (the common case) is evaluated block by block: each block is tested, copied
// and evaluated while it is still in the cache, so the input is read from memory once. A block
// that breaks the order sends the whole array to the unordered route, which sorts it once with
// its positions, evaluates the sorted copy and scatters the results back. A NaN anywhere counts
// as an abscissa outside the domain, whatever else the array holds: "domain error".
#include <algorithm>
#include <cstring>

#include "evaluation.hpp"

namespace pyorvex::dds::evaluation {

namespace {

int raise_domain_error() { return raise_value_error("domain error"); }

struct Record {
    Traj *self;
    pyorvex_dview knots, cpts;
};

// The kernel over xs[0..len) (increasing, checked) into out[0..len); -1 with the error set for
// a derivative that overflows.
int run_kernel(const Record &r, const double *xs, double *out, Py_ssize_t len, bool derivative,
               int nu) {
    if (!derivative) {
        std::memcpy(out, xs, static_cast<size_t>(len) * sizeof(double));
        module_state.kernel.splcev({out, len}, r.knots, r.cpts, r.self->p, 0);
        return 0;
    }
    module_state.kernel.dsplcev({const_cast<double *>(xs), len}, r.knots, r.cpts, r.self->p, nu, nu,
                                {out, len}, 0);
    return check_derivative(out, len, r.knots, r.cpts, nu);
}

int unordered(const Record &r, const double *xs, double *out, Py_ssize_t m, bool derivative,
              int nu) {
    // The sort reads the values several times and relies on them staying put; the caller's
    // array may be rewritten meanwhile by another thread (the array library releases the
    // interpreter lock), so it sorts a private copy.
    Scratch<double> snapshot, sorted;
    Scratch<Py_ssize_t> order;
    if (!snapshot.allocate(m) || !sorted.allocate(m) || !order.allocate(m)) return -1;
    std::memcpy(snapshot.data(), xs, static_cast<size_t>(m) * sizeof(double));
    if (!sort_positions(snapshot.data(), m, sorted.data(), order.data())) return -1;
    if (sorted.data()[m - 1] != sorted.data()[m - 1])
        return raise_domain_error();  // NaN sorts last
    // The checks of ceval / dceval run on the sorted copy: a repeated abscissa fails the order
    // test there, the smallest and largest values the domain test.
    if (evaluate_array(r.self, {sorted.data(), m}, derivative, nu) < 0) return -1;
    const Py_ssize_t *at = order.data();
    const double *values = sorted.data();
    for (Py_ssize_t i = 0; i < m; ++i) out[at[i]] = values[i];
    return 0;
}

}  // namespace

int evaluate_copying(Traj *self, const double *xs, double *out, Py_ssize_t m, bool derivative,
                     int nu) {
    Record r{self, {}, {}};
    if (!trajectory::record_views(self, &r.knots, &r.cpts)) return -1;
    if (m == 0) return raise_value_error("zero size arrays are not allowed");
    const double start = r.knots.data[0], stop = r.knots.data[r.knots.size - 1];
    if (!(xs[0] >= start) || !(xs[m - 1] <= stop)) {
        // NaN at an end, or unordered input (checked once sorted), or ordered input outside.
        if (xs[0] != xs[0] || xs[m - 1] != xs[m - 1]) return raise_domain_error();
        if (!strictly_increasing(xs, m)) return unordered(r, xs, out, m, derivative, nu);
        return raise_domain_error();
    }
    for (Py_ssize_t i = 0; i < m; i += kEvaluationBlock) {
        const Py_ssize_t end = std::min(m, i + kEvaluationBlock);
        // One vector test tells the usual block (increasing, no NaN) from the others, which
        // are then looked at closely.
        if (order_suspect(xs, i, end)) {
            int broken = 0, nan = 0;
            for (Py_ssize_t j = std::max<Py_ssize_t>(i, 1); j < end; ++j) {
                broken |= static_cast<int>(xs[j - 1] >= xs[j]);
                nan |= static_cast<int>(xs[j - 1] != xs[j - 1] || xs[j] != xs[j]);
            }
            if (broken) return unordered(r, xs, out, m, derivative, nu);
            if (nan) return raise_domain_error();
        }
        if (run_kernel(r, xs + i, out + i, end - i, derivative, nu) < 0) return -1;
    }
    return 0;
}

}  // namespace pyorvex::dds::evaluation
