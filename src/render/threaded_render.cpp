#include "render/threaded_render.h"

#include <sched.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "julia/level_tables.h"

namespace quatdepth {
namespace {

// What the threads share: the settings and tables, read only, and the
// next row to take. Each thread writes only the rows it took.
struct SharedRender {
  SharedRender(const RenderSettings &s, DepthSearch d, SearchPath p, const LevelTables &t,
               DepthImage &r, const std::atomic<bool> *stopFlag)
      : settings(s), search(d), path(p), tables(t), rows(r), stop(stopFlag) {}
  const RenderSettings &settings;
  DepthSearch search;
  SearchPath path;
  const LevelTables &tables;
  DepthImage &rows;
  const std::atomic<bool> *stop;  // may be null
  std::atomic<int32_t> nextRow{0};
  std::atomic<int32_t> rowsDone{0};
  std::mutex mutex;
  std::condition_variable finished;
  int running = 0;
};

// One worker: takes the next row no thread has taken, until none is left
// or the render is stopped.
void renderRowsOnThread(SharedRender *shared) {
  RowScratch scratch;  // without it, the same depths, slower
  if (shared->tables.sinA) makeRowScratch(&shared->settings, &scratch);
  const size_t width = static_cast<size_t>(shared->rows.width);
  for (;;) {
    if (shared->stop && shared->stop->load(std::memory_order_relaxed)) break;
    const int32_t row = shared->nextRow.fetch_add(1);
    if (row >= shared->rows.height) break;
    findRowDepthsFor(
        shared->search, shared->path, &shared->settings, {&shared->tables, &scratch}, row,
        shared->rows.depths.data() + static_cast<size_t>(row) * width);
    shared->rows.received[static_cast<size_t>(row)] = 1;
    shared->rowsDone.fetch_add(1);
  }
  std::lock_guard<std::mutex> lock(shared->mutex);
  if (--shared->running == 0) shared->finished.notify_all();
}

}  // namespace

RenderSettings supersampledSettings(const RenderSettings &s, int n) {
  RenderSettings sampled = s;
  if (n <= 1) return sampled;
  sampled.width *= n;
  sampled.height *= n;
  const double back = (n - 1) / (2.0 * n);  // of a pixel
  const double dx = back * (s.xMax - s.xMin) / s.width;
  const double dy = back * (s.yMax - s.yMin) / s.height;
  sampled.xMin -= dx, sampled.xMax -= dx;
  sampled.yMin -= dy, sampled.yMax -= dy;
  return sampled;  // centreX and centreY as they were
}

int defaultThreadCount() {
  // The cores this process may run on (taskset, a batch system's share).
  cpu_set_t allowed;
  if (sched_getaffinity(0, sizeof allowed, &allowed) == 0 &&
      CPU_COUNT(&allowed) > 0)
    return CPU_COUNT(&allowed);
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : static_cast<int>(cores);
}

bool renderAllRows(const RenderSettings &settings, SearchPath path, int threads,
                   DepthImage *rows,
                   const std::function<void(int32_t)> &onProgress,
                   std::string *error, const std::atomic<bool> *stop) {
  return renderAllRows(settings, DepthSearch::kSteps, path, threads, rows, onProgress, error,
                       stop);
}

bool renderAllRows(const RenderSettings &settings, DepthSearch search, SearchPath path,
                   int threads, DepthImage *rows,
                   const std::function<void(int32_t)> &onProgress,
                   std::string *error, const std::atomic<bool> *stop) {
  try {
    if (!initDepthImage(rows, settings.width, settings.height, error))
      return false;
  } catch (const std::bad_alloc &) {
    *error = "not enough memory for an image of " +
             std::to_string(settings.width) + " x " +
             std::to_string(settings.height) + " pixels";
    return false;
  }
  LevelTables tables;
  if (path != SearchPath::kScalar)
    buildLevelTables(&settings, &tables);  // only saves time
  SharedRender shared(settings, search, path, tables, *rows, stop);
  // Never more threads than rows: a thread with nothing to do costs a start.
  const int count =
      std::max(1, std::min(threads, std::max(settings.height, 1)));
  std::vector<std::thread> workers;
  workers.reserve(static_cast<size_t>(count));
  std::string startError;
  for (int i = 0; i < count; ++i) {
    try {
      {
        std::lock_guard<std::mutex> lock(shared.mutex);
        ++shared.running;
      }
      workers.emplace_back(renderRowsOnThread, &shared);
    } catch (const std::system_error &e) {
      std::lock_guard<std::mutex> lock(shared.mutex);
      --shared.running;
      startError = e.what();
      break;
    }
  }
  if (workers.empty()) {
    *error = "cannot start a render thread: " + startError;
    return false;
  }
  // Fewer threads than asked still render every row.
  {
    std::unique_lock<std::mutex> lock(shared.mutex);
    while (!shared.finished.wait_for(lock, std::chrono::milliseconds(100),
                                     [&] { return shared.running == 0; })) {
      lock.unlock();
      onProgress(shared.rowsDone.load());
      lock.lock();
    }
  }
  for (std::thread &worker : workers) worker.join();
  rows->rowsReceived = shared.rowsDone.load();
  onProgress(shared.rowsDone.load());
  if (rows->rowsReceived < settings.height) {
    *error = "stopped before every row was rendered";
    return false;
  }
  return true;
}

}  // namespace quatdepth
