// The call operator's sort of unordered abscissae: the kernel's sort, its scratch from the
// interpreter's allocator.
#include <cstddef>
#include <type_traits>

#include "evaluation.hpp"
#include "order.hpp"

namespace pyorvex::dds::evaluation {

static_assert(std::is_same_v<Py_ssize_t, std::ptrdiff_t>, "positions are passed through as is");

bool sort_positions(const double *xs, Py_ssize_t m, double *sorted, Py_ssize_t *order) {
    if (m <= 0) return true;
    const auto count = static_cast<std::size_t>(m);
    const kernel::SortScratchSize need = kernel::sort_scratch_size(count);
    Scratch<kernel::SortItem> items;
    Scratch<std::size_t> starts;
    if (need.items > 0 && (!items.allocate(static_cast<Py_ssize_t>(need.items)) ||
                           !starts.allocate(static_cast<Py_ssize_t>(need.starts))))
        return false;
    kernel::sort_positions(xs, count, sorted, order, items.data(), starts.data());
    return true;
}

}  // namespace pyorvex::dds::evaluation
