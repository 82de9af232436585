// Large arrays are evaluated in fixed chunks, and the chunks shared among a few threads. The
// chunks depend on the array's length only, never on the number of threads, so a result is the
// same bit for bit on every machine and under every PYORVEX_THREADS; arrays below
// kParallelPoints stay one piece on the caller's thread, as small calls cannot repay a thread.
#pragma once

#include <cstddef>
#include <functional>

namespace pyorvex::capi {

inline constexpr std::size_t kChunkPoints = std::size_t{1} << 16;
inline constexpr std::size_t kParallelPoints = std::size_t{1} << 18;

// The threads one call may use: PYORVEX_THREADS when it is a positive number (1 keeps every call
// on the caller's thread), else the processors this process may run on, at most 8. Read once.
unsigned thread_budget();

// The number of chunks for_each_chunk cuts [0, m) into; a chunk's index is begin / kChunkPoints.
inline std::size_t chunk_count(std::size_t m) {
    return m < kParallelPoints ? 1 : (m + kChunkPoints - 1) / kChunkPoints;
}

// Calls work(begin, end) once for each chunk of [0, m): [0, m) itself below kParallelPoints,
// consecutive kChunkPoints-long pieces from there on, spread (unless `spread` is false) over
// thread_budget() threads in runs of neighbouring chunks. Returns when every call has returned.
// The work runs without the interpreter: it must not touch a Python object, allocate through
// Python or throw. Should a thread not start, its chunks run on the caller's thread.
void for_each_chunk(std::size_t m, const std::function<void(std::size_t, std::size_t)> &work,
                    bool spread = true);

}  // namespace pyorvex::capi
