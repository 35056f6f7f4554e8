#include "render/row_threads.h"

#include <algorithm>
#include <system_error>
#include <thread>
#include <vector>

namespace quatdepth {

void runOnRowThreads(int32_t rows, int threads,
                     const std::function<void(int32_t first, int32_t step)> &work) {
  const int32_t step = std::max(1, std::min(threads, std::max(rows, 1)));
  std::vector<std::thread> workers;
  int32_t started = 0;
  for (; started < step - 1; ++started) {
    try {
      workers.emplace_back(work, started, step);
    } catch (const std::system_error &) {
      break;
    }
  }
  for (int32_t first = started; first < step; ++first) work(first, step);
  for (std::thread &worker : workers) worker.join();
}

}  // namespace quatdepth
