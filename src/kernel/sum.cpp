// The sum of two splines of one degree, on the union of their knot vectors.
//
// Each operand is refined to the union (one insertion pass each, see insertion_engine.hpp) and
// the coefficients are added. Without memory of its own the kernel needs somewhere to keep the
// second pass's open coefficients while the first pass's result fills nc: the open coefficient
// i lives in nt[i + p + 1]. Coefficient i only depends on knots up to i + p + 1, so it is closed
// (added into nc) before the pass writes the union knot over its slot, and the union ends up in
// nt all the same.
//
// The values to insert into one operand are those of the union it lacks; they are produced by
// walking both knot vectors side by side, never stored. When the two domains differ, each
// operand counts as 0 outside its own knots (its Cox-de Boor sum), which is exact except at an
// end of the shorter domain lying inside the longer one.
#include <climits>
#include <cstddef>
#include <cstdint>

#include "bspline.hpp"
#include "insertion_engine.hpp"

namespace pyorvex::kernel {

namespace {

// Walks the union of two knot vectors as groups of equal values: value, copies in a, copies in
// b. Every step consumes at least one knot, whatever the values (NaN included).
class UnionWalk {
public:
    UnionWalk(cspan a, cspan b) : a_(a), b_(b) {}

    bool next(double& v, std::size_t& ma, std::size_t& mb) {
        const bool more_a = i_ < a_.size(), more_b = j_ < b_.size();
        if (!more_a && !more_b) return false;
        if (!more_b || (more_a && a_[i_] < b_[j_])) {
            v = a_[i_];
            ma = run(a_, i_, v, true);
            mb = 0;
        } else if (!more_a || b_[j_] < a_[i_]) {
            v = b_[j_];
            mb = run(b_, j_, v, true);
            ma = 0;
        } else {
            v = a_[i_];
            ma = run(a_, i_, v, true);
            mb = run(b_, j_, v, false);
        }
        return true;
    }

private:
    static std::size_t run(cspan x, std::size_t& pos, double v, bool take_first) {
        std::size_t count = 0;
        if (take_first) {
            ++pos;
            ++count;
        }
        while (pos < x.size() && x[pos] == v) {
            ++pos;
            ++count;
        }
        return count;
    }

    cspan a_, b_;
    std::size_t i_ = 0, j_ = 0;
};

// Open coefficients of the second pass, kept next to the knots (see above).
struct KnotSlotWindow {
    vspan nt;
    detail::index offset;
    double& at(detail::index i) const { return nt[static_cast<std::size_t>(i + offset)]; }
};

struct AddSink {
    vspan nc;
    void emit(detail::index i, double v) const { nc[static_cast<std::size_t>(i)] += v; }
};

}  // namespace

SumSize sum_size(cspan t1, cspan t2, int p) {
    SumSize out;
    if (p < 0) return out;
    const std::size_t min_size = static_cast<std::size_t>(p) + 2;  // one coefficient
    if (t1.size() < min_size || t2.size() < min_size) return out;
    std::uint64_t total = 0;
    UnionWalk walk(t1, t2);
    double v;
    std::size_t ma, mb;
    while (walk.next(v, ma, mb)) total += ma > mb ? ma : mb;
    out.m = static_cast<std::int64_t>(total) - 1;
    out.n = out.m - p - 1;
    out.ok = out.m <= INT_MAX && out.n >= 0;
    return out;
}

void sum(cspan t1, cspan c1, cspan t2, cspan c2, int p, vspan nt, vspan nc) {
    if (p < 0 || c1.empty() || c2.empty()) return;
    const std::size_t order = static_cast<std::size_t>(p) + 1;
    if (t1.size() != c1.size() + order || t2.size() != c2.size() + order) return;
    const SumSize size = sum_size(t1, t2, p);
    if (!size.ok || nt.size() != static_cast<std::size_t>(size.m) + 1 ||
        nc.size() != static_cast<std::size_t>(size.n) + 1)
        return;

    double v;
    std::size_t ma, mb;
    {
        // The second operand, refined straight into the output.
        detail::Inserter ins(t2, c2, p, nt, detail::ArrayWindow{nc}, detail::StoreSink{nc});
        UnionWalk walk(t1, t2);
        while (walk.next(v, ma, mb))
            for (std::size_t k = mb; k < ma; ++k) ins.insert(v);
        ins.finish();
    }
    {
        // The first one, added on.
        detail::Inserter ins(t1, c1, p, nt, KnotSlotWindow{nt, p + 1}, AddSink{nc});
        UnionWalk walk(t1, t2);
        while (walk.next(v, ma, mb))
            for (std::size_t k = ma; k < mb; ++k) ins.insert(v);
        ins.finish();
    }
}

}  // namespace pyorvex::kernel
