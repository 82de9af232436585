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
#include "parallel.hpp"

namespace pyorvex::dds::evaluation {

namespace {

int raise_domain_error() { return raise_value_error("domain error"); }

struct Record {
    Traj *self;
    pyorvex_dview knots, cpts;
};

// The kernel over xs[0..len) (increasing, checked) into out[0..len). Runs without the
// interpreter (capi/parallel.hpp): the caller checks derivatives for overflow afterwards.
void run_kernel(const Record &r, const double *xs, double *out, Py_ssize_t len, bool derivative,
                int nu) {
    if (!derivative) {
        std::memcpy(out, xs, static_cast<size_t>(len) * sizeof(double));
        module_state.kernel.splcev({out, len}, r.knots, r.cpts, r.self->p, 0);
        return;
    }
    module_state.kernel.dsplcev({const_cast<double *>(xs), len}, r.knots, r.cpts, r.self->p, nu, nu,
                                {out, len}, 0);
}

// What the blocks of one chunk showed: a break of the order, a NaN.
enum ChunkFlag : unsigned char { kBroken = 1, kNaN = 2 };

// The blocks of xs[begin..end) into out, the order of each pair from xs[begin - 1] on tested as it
// goes; returns the chunk's flags. The blocks after a flagged one are left alone.
unsigned char blocks(const Record &r, const double *xs, double *out, Py_ssize_t begin,
                     Py_ssize_t end, bool derivative, int nu) {
    for (Py_ssize_t i = begin; i < end; i += kEvaluationBlock) {
        const Py_ssize_t stop = std::min(end, i + kEvaluationBlock);
        // One vector test tells the usual block (increasing, no NaN) from the others, which
        // are then looked at closely.
        if (order_suspect(xs, i, stop)) {
            int broken = 0, nan = 0;
            for (Py_ssize_t j = std::max<Py_ssize_t>(i, 1); j < stop; ++j) {
                broken |= static_cast<int>(xs[j - 1] >= xs[j]);
                nan |= static_cast<int>(xs[j - 1] != xs[j - 1] || xs[j] != xs[j]);
            }
            if (broken || nan)
                return static_cast<unsigned char>((broken ? kBroken : 0) | (nan ? kNaN : 0));
        }
        run_kernel(r, xs + i, out + i, stop - i, derivative, nu);
    }
    return 0;
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
    // Chunk by chunk (capi/parallel.hpp). A break of the order anywhere sends the whole array to
    // the unordered route, which refuses a NaN as the domain error too, so the chunks' flags
    // decide alike in any order.
    Scratch<unsigned char> flags;
    const auto chunks = static_cast<Py_ssize_t>(capi::chunk_count(static_cast<std::size_t>(m)));
    if (!flags.allocate(chunks)) return -1;
    capi::for_each_chunk(static_cast<std::size_t>(m), [&](std::size_t b, std::size_t e) {
        flags.data()[b / capi::kChunkPoints] = blocks(r, xs, out, static_cast<Py_ssize_t>(b),
                                                      static_cast<Py_ssize_t>(e), derivative, nu);
    });
    unsigned char seen = 0;
    for (Py_ssize_t c = 0; c < chunks; ++c) seen |= flags.data()[c];
    if (seen & kBroken) return unordered(r, xs, out, m, derivative, nu);
    if (seen & kNaN) return raise_domain_error();
    return derivative ? check_derivative(out, m, r.knots, r.cpts, nu) : 0;
}

}  // namespace pyorvex::dds::evaluation
