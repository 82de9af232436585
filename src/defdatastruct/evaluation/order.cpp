// The sorting permutation of an array of abscissae, for the call operator's unordered input.
//
// Doubles are mapped to unsigned keys that order like the values (NaN above everything, as the
// array library sorts them). The points are distributed by value over about m/8 equal-width
// buckets between the smallest and the largest value, and each bucket, a handful of points for
// abscissae spread over a domain, is sorted by key in the cache: one scattering pass over the
// data instead of the log m passes of a comparison sort. Clustered values only make some buckets
// larger, which then cost what a comparison sort of them costs. The sorted values come back from
// the keys, except NaNs, which are copied from the input so that their bits are kept.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numeric>

#include "evaluation.hpp"

namespace pyorvex::dds::evaluation {

namespace {

constexpr std::uint64_t kTopBit = std::uint64_t{1} << 63;
constexpr std::uint64_t kNanKey = ~std::uint64_t{0};  // above the key of +inf

// Below this size a comparison sort of the positions is as fast as anything.
constexpr std::size_t kBucketThreshold = 1024;
constexpr std::size_t kPointsPerBucket = 8;

std::uint64_t key_of(double x) {
    if (x != x) return kNanKey;
    std::uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return (bits & kTopBit) ? ~bits : (bits | kTopBit);
}

double value_of(std::uint64_t key) {
    const std::uint64_t bits = (key & kTopBit) ? (key & ~kTopBit) : ~key;
    double x;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

// A key and the position it came from.
struct Item {
    std::uint64_t key;
    std::uint64_t pos;
};

bool by_key(const Item &a, const Item &b) { return a.key < b.key; }

void sort_small(const double *xs, std::size_t m, double *sorted, Py_ssize_t *order) {
    std::iota(order, order + m, Py_ssize_t{0});
    std::sort(order, order + m, [xs](Py_ssize_t a, Py_ssize_t b) {
        return key_of(xs[a]) < key_of(xs[b]);
    });
    for (std::size_t i = 0; i < m; ++i) sorted[i] = xs[order[i]];
}

// Bucket of a value: monotone in the value (a subtraction and a multiplication by a positive
// constant, then truncation), NaN in a last bucket of its own.
struct Buckets {
    double lo = 0.0, scale = 0.0;
    std::size_t count = 0;  // value buckets; bucket `count` holds the NaNs

    std::size_t of(double x) const {
        if (x != x) return count;
        const double f = (x - lo) * scale;
        return f < static_cast<double>(count) ? static_cast<std::size_t>(f) : count - 1;
    }
};

Buckets make_buckets(const double *xs, std::size_t m) {
    double lo = INFINITY, hi = -INFINITY;
    for (std::size_t i = 0; i < m; ++i) {
        const double x = xs[i];
        lo = x < lo ? x : lo;
        hi = x > hi ? x : hi;
    }
    Buckets b;
    const std::size_t count = std::max<std::size_t>(m / kPointsPerBucket, 1);
    const double width = hi - lo;
    const double scale = static_cast<double>(count) / width;
    // All NaN, a single value, an infinite or a tiny range: every value in one bucket.
    b.count = 1;
    if (width > 0.0 && std::isfinite(width) && std::isfinite(scale)) {
        b.lo = lo;
        b.scale = scale;
        b.count = count;
    }
    return b;
}

bool sort_buckets(const double *xs, std::size_t m, double *sorted, Py_ssize_t *order) {
    const Buckets b = make_buckets(xs, m);
    Scratch<Item> items;
    Scratch<std::size_t> starts;
    const auto slots = static_cast<Py_ssize_t>(b.count) + 2;
    if (!items.allocate(static_cast<Py_ssize_t>(m)) || !starts.allocate(slots)) return false;
    std::size_t *next = starts.data();
    std::fill_n(next, slots, std::size_t{0});
    for (std::size_t i = 0; i < m; ++i) ++next[b.of(xs[i]) + 1];
    for (Py_ssize_t q = 1; q < slots; ++q) next[q] += next[q - 1];
    // next[q] is the first slot of bucket q; it advances as the bucket fills, ending at the
    // first slot of bucket q + 1.
    Item *it = items.data();
    for (std::size_t i = 0; i < m; ++i) {
        const double x = xs[i];
        it[next[b.of(x)]++] = {key_of(x), i};
    }
    std::size_t begin = 0;
    for (std::size_t q = 0; q < b.count; ++q) {
        const std::size_t end = next[q];
        if (end - begin > 1) std::sort(it + begin, it + end, by_key);
        begin = end;
    }
    for (std::size_t i = 0; i < m; ++i) {
        const Item item = it[i];
        order[i] = static_cast<Py_ssize_t>(item.pos);
        sorted[i] = item.key == kNanKey ? xs[item.pos] : value_of(item.key);
    }
    return true;
}

}  // namespace

bool sort_positions(const double *xs, Py_ssize_t m, double *sorted, Py_ssize_t *order) {
    if (m <= 0) return true;
    const auto count = static_cast<std::size_t>(m);
    if (count < kBucketThreshold) {
        sort_small(xs, count, sorted, order);
        return true;
    }
    return sort_buckets(xs, count, sorted, order);
}

}  // namespace pyorvex::dds::evaluation
