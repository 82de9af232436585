#include "parallel.hpp"

#include <sched.h>

#include <cstdlib>
#include <system_error>
#include <thread>
#include <vector>

namespace pyorvex::capi {

namespace {

constexpr unsigned kMaxThreads = 8;

unsigned processors() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) return static_cast<unsigned>(CPU_COUNT(&set));
    return std::thread::hardware_concurrency();
}

unsigned read_budget() {
    if (const char *text = std::getenv("PYORVEX_THREADS")) {
        char *end = nullptr;
        const long n = std::strtol(text, &end, 10);
        if (end != text && *end == '\0' && n > 0)
            return n < kMaxThreads ? unsigned(n) : kMaxThreads;
    }
    const unsigned n = processors();
    return n == 0 ? 1 : (n < kMaxThreads ? n : kMaxThreads);
}

}  // namespace

unsigned thread_budget() {
    static const unsigned budget = read_budget();
    return budget;
}

void for_each_chunk(std::size_t m, const std::function<void(std::size_t, std::size_t)> &work,
                    bool spread) {
    if (m < kParallelPoints) {
        if (m > 0) work(0, m);
        return;
    }
    const std::size_t chunks = chunk_count(m);
    std::size_t threads = spread ? thread_budget() : 1;
    if (threads > chunks) threads = chunks;
    // Thread j takes chunks [j * chunks / threads, (j + 1) * chunks / threads).
    auto share = [&](std::size_t j) {
        for (std::size_t c = j * chunks / threads; c < (j + 1) * chunks / threads; ++c) {
            const std::size_t begin = c * kChunkPoints;
            work(begin, begin + kChunkPoints < m ? begin + kChunkPoints : m);
        }
    };
    std::vector<std::thread> helpers;
    std::size_t started = 1;  // shares 0 .. started - 1 are taken; this thread runs share 0
    try {
        helpers.reserve(threads - 1);
        for (; started < threads; ++started) helpers.emplace_back(share, started);
    } catch (const std::exception &) {
        // No thread (or no memory for one): the shares not handed out run here.
    }
    share(0);
    for (std::size_t j = started; j < threads; ++j) share(j);
    for (std::thread &t : helpers) t.join();
}

}  // namespace pyorvex::capi
