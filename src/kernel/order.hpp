// The sorting permutation of an array of abscissae, for evaluation of unordered input.
//
// Doubles are mapped to unsigned keys that order like the values (NaN above everything, as the
// array library sorts them). The points are distributed by value over about m/8 equal-width
// buckets between the smallest and the largest value, and each bucket, a handful of points for
// abscissae spread over a domain, is sorted by key in the cache: one scattering pass over the
// data instead of the log m passes of a comparison sort. Clustered values only make some buckets
// larger, which then cost what a comparison sort of them costs. The sorted values come back from
// the keys, except NaNs, which are copied from the input so that their bits are kept.
//
// Header only, and like the rest of the kernel it never allocates: the caller provides the
// scratch that sort_scratch_size asks for.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <numeric>

namespace pyorvex::kernel {

// A key and the position it came from.
struct SortItem {
    std::uint64_t key;
    std::uint64_t pos;
};

// The scratch sort_positions needs for m values: counts of SortItem and of std::size_t, both 0
// when it needs none.
struct SortScratchSize {
    std::size_t items = 0, starts = 0;
};

namespace order_detail {

constexpr std::uint64_t kTopBit = std::uint64_t{1} << 63;
constexpr std::uint64_t kNanKey = ~std::uint64_t{0};  // above the key of +inf

// Below this size a comparison sort of the positions is as fast as anything.
constexpr std::size_t kBucketThreshold = 1024;
constexpr std::size_t kPointsPerBucket = 8;

inline std::uint64_t key_of(double x) {
    if (x != x) return kNanKey;
    std::uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return (bits & kTopBit) ? ~bits : (bits | kTopBit);
}

inline double value_of(std::uint64_t key) {
    const std::uint64_t bits = (key & kTopBit) ? (key & ~kTopBit) : ~key;
    double x;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

inline bool by_key(const SortItem &a, const SortItem &b) { return a.key < b.key; }

inline std::size_t most_buckets(std::size_t m) {
    return std::max<std::size_t>(m / kPointsPerBucket, 1);
}

inline void sort_small(const double *xs, std::size_t m, double *sorted, std::ptrdiff_t *order) {
    std::iota(order, order + m, std::ptrdiff_t{0});
    std::sort(order, order + m,
              [xs](std::ptrdiff_t a, std::ptrdiff_t b) { return key_of(xs[a]) < key_of(xs[b]); });
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

inline Buckets make_buckets(const double *xs, std::size_t m) {
    double lo = INFINITY, hi = -INFINITY;
    for (std::size_t i = 0; i < m; ++i) {
        const double x = xs[i];
        lo = x < lo ? x : lo;
        hi = x > hi ? x : hi;
    }
    Buckets b;
    const std::size_t count = most_buckets(m);
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

inline void sort_buckets(const double *xs, std::size_t m, double *sorted, std::ptrdiff_t *order,
                         SortItem *it, std::size_t *next) {
    const Buckets b = make_buckets(xs, m);
    const std::size_t slots = b.count + 2;
    std::fill_n(next, slots, std::size_t{0});
    for (std::size_t i = 0; i < m; ++i) ++next[b.of(xs[i]) + 1];
    for (std::size_t q = 1; q < slots; ++q) next[q] += next[q - 1];
    // next[q] is the first slot of bucket q; it advances as the bucket fills, ending at the
    // first slot of bucket q + 1.
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
        const SortItem item = it[i];
        order[i] = static_cast<std::ptrdiff_t>(item.pos);
        sorted[i] = item.key == kNanKey ? xs[item.pos] : value_of(item.key);
    }
}

}  // namespace order_detail

inline SortScratchSize sort_scratch_size(std::size_t m) {
    if (m < order_detail::kBucketThreshold) return {};
    return {m, order_detail::most_buckets(m) + 2};
}

// The permutation that sorts xs ascending with every NaN last: sorted[i] = xs[order[i]], bit for
// bit. Ties keep no particular order. Needs m values in each of xs, sorted and order, and the
// scratch of sort_scratch_size(m) in items and starts (unused, and may be null, when that is 0).
inline void sort_positions(const double *xs, std::size_t m, double *sorted, std::ptrdiff_t *order,
                           SortItem *items, std::size_t *starts) {
    if (m < order_detail::kBucketThreshold) {
        order_detail::sort_small(xs, m, sorted, order);
        return;
    }
    order_detail::sort_buckets(xs, m, sorted, order, items, starts);
}

}  // namespace pyorvex::kernel
