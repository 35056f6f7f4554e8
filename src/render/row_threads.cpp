#include "render/row_threads.h"

#include <algorithm>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace quatdepth {

void runOnRowThreads(int32_t rows, int threads,
                     const std::function<void(int32_t first, int32_t step)> &work) {
  const int32_t step = std::max(1, std::min(threads, std::max(rows, 1)));
  // What a share throws (no memory, most likely) is thrown again here,
  // once every thread has ended: a thread's exception would otherwise end
  // the process.
  std::exception_ptr failure;
  std::mutex failureLock;
  const auto share = [&](int32_t first) {
    try {
      work(first, step);
    } catch (...) {
      const std::lock_guard<std::mutex> lock(failureLock);
      if (!failure) failure = std::current_exception();
    }
  };
  std::vector<std::thread> workers;
  int32_t started = 0;
  for (; started < step - 1; ++started) {
    try {
      workers.emplace_back(share, started);
    } catch (const std::system_error &) {
      break;
    }
  }
  for (int32_t first = started; first < step; ++first) share(first);
  for (std::thread &worker : workers) worker.join();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace quatdepth
