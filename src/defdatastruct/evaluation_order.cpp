// The sorting permutation of an array of abscissae, for the call operator's unordered input.
//
// Doubles are mapped to unsigned keys that order like the values (NaN above everything, as the
// array library sorts them), and the keys are sorted with their positions by a least-significant
// digit radix sort: linear in the number of points, and much faster than a comparison sort on the
// millions of points an array call may carry. The sorted values come back from the keys, except
// NaNs, which are copied from the input so that their bits are kept.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <numeric>

#include "evaluation.hpp"

namespace pyorvex::dds {

namespace {

constexpr std::uint64_t kTopBit = std::uint64_t{1} << 63;
constexpr std::uint64_t kNanKey = ~std::uint64_t{0};  // above the key of +inf

constexpr int kDigitBits = 11;
constexpr int kPasses = (64 + kDigitBits - 1) / kDigitBits;
constexpr std::size_t kBuckets = std::size_t{1} << kDigitBits;
constexpr std::uint64_t kDigitMask = kBuckets - 1;

// Below this size a comparison sort of the positions is cheaper than six radix passes.
constexpr std::size_t kRadixThreshold = 2048;

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

template <class I>
void fill_sorted(const double *xs, const std::uint64_t *keys, const I *order, std::size_t m,
                 double *sorted) {
    for (std::size_t i = 0; i < m; ++i)
        sorted[i] = keys[i] == kNanKey ? xs[order[i]] : value_of(keys[i]);
}

template <class I>
bool sort_small(const double *xs, std::size_t m, double *sorted, I *order) {
    Scratch<std::uint64_t> keys;
    if (!keys.allocate(static_cast<Py_ssize_t>(m))) return false;
    std::uint64_t *k = keys.data();
    for (std::size_t i = 0; i < m; ++i) k[i] = key_of(xs[i]);
    std::iota(order, order + m, I{0});
    std::sort(order, order + m, [k](I a, I b) { return k[a] < k[b]; });
    for (std::size_t i = 0; i < m; ++i) sorted[i] = xs[order[i]];
    return true;
}

template <class I>
bool sort_radix(const double *xs, std::size_t m, double *sorted, I *order) {
    Scratch<std::uint64_t> keys_a, keys_b;
    Scratch<I> positions_b;
    Scratch<std::size_t> counts;
    const auto size = static_cast<Py_ssize_t>(m);
    if (!keys_a.allocate(size) || !keys_b.allocate(size) || !positions_b.allocate(size) ||
        !counts.allocate(static_cast<Py_ssize_t>(kPasses * kBuckets)))
        return false;

    // Keys, positions and the digit counts of every pass in one sweep.
    std::size_t *count = counts.data();
    std::fill_n(count, kPasses * kBuckets, std::size_t{0});
    std::uint64_t *src_keys = keys_a.data();
    for (std::size_t i = 0; i < m; ++i) {
        const std::uint64_t key = key_of(xs[i]);
        src_keys[i] = key;
        order[i] = static_cast<I>(i);
        for (int pass = 0; pass < kPasses; ++pass)
            ++count[pass * kBuckets + ((key >> (pass * kDigitBits)) & kDigitMask)];
    }

    std::uint64_t *dst_keys = keys_b.data();
    I *src_pos = order;
    I *dst_pos = positions_b.data();
    for (int pass = 0; pass < kPasses; ++pass) {
        std::size_t *c = count + pass * kBuckets;
        const int shift = pass * kDigitBits;
        // A digit shared by every key leaves the order as it is.
        if (c[(src_keys[0] >> shift) & kDigitMask] == m) continue;
        std::size_t offset = 0;
        for (std::size_t b = 0; b < kBuckets; ++b) {
            const std::size_t here = c[b];
            c[b] = offset;
            offset += here;
        }
        for (std::size_t i = 0; i < m; ++i) {
            const std::uint64_t key = src_keys[i];
            const std::size_t at = c[(key >> shift) & kDigitMask]++;
            dst_keys[at] = key;
            dst_pos[at] = src_pos[i];
        }
        std::swap(src_keys, dst_keys);
        std::swap(src_pos, dst_pos);
    }
    if (src_pos != order) std::memcpy(order, src_pos, m * sizeof(I));
    fill_sorted(xs, src_keys, order, m, sorted);
    return true;
}

template <class I>
bool sort_any(const double *xs, Py_ssize_t m, double *sorted, I *order) {
    if (m <= 0) return true;
    const auto count = static_cast<std::size_t>(m);
    if (count < kRadixThreshold) return sort_small(xs, count, sorted, order);
    return sort_radix(xs, count, sorted, order);
}

}  // namespace

bool sort_positions(const double *xs, Py_ssize_t m, double *sorted, std::uint32_t *order) {
    return sort_any(xs, m, sorted, order);
}

bool sort_positions(const double *xs, Py_ssize_t m, double *sorted, std::uint64_t *order) {
    return sort_any(xs, m, sorted, order);
}

}  // namespace pyorvex::dds
