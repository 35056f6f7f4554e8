#pragma once

#include <cstdint>
#include <functional>

namespace quatdepth {

// Runs work(first, step) for first = 0 .. step - 1, step being `threads`
// but no more than `rows` (and at least 1), each on a thread of its own,
// the calling thread included. A thread that cannot start leaves its share
// to the calling thread, so every share is done. What a share throws (the
// first, if several do) is thrown here once every share has ended.
void runOnRowThreads(int32_t rows, int threads,
                     const std::function<void(int32_t first, int32_t step)> &work);

}  // namespace quatdepth
