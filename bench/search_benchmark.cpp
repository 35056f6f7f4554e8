// Speed of the row search on each path, on the benchmark workloads, of
// quatdepth-render's whole-image render on 1 and 2 threads, and of the
// membership of a plane of points on each path.
//   build/quatdepth_bench [--benchmark_filter=avx512]
//   build/quatdepth_bench --benchmark_filter=threads
//   build/quatdepth_bench --benchmark_filter=points
// Counters: pixels/s and probes/s, needed-passes/s (the lane passes the
// answers need, counted by neededPixelPasses whatever the path runs), and
// lane utilisation: those over all lane slots issued.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "julia/level_tables.h"
#include "julia/needed_passes.h"
#include "julia/point_membership.h"
#include "julia/search_path.h"
#include "render/threaded_render.h"
#include "settings/positional_settings.h"
#include "settings/render_settings.h"

namespace quatdepth {
namespace {

struct Workload {
  const char *name;
  std::vector<const char *> arguments;
};

const Workload kWorkloads[] = {
    {"julia", {"quatdepth", "-1.2", "-1.2", "-1.2", "1.2", "1.2", "1.2", "-0.1", "0.2",
               "0.3", "-0.1", "0", "0.3", "0.5", "0.7", "640", "360", "400", "10", "20",
               "16", "0", "1"}},
    {"late-escape", {"quatdepth", "-1.2", "-1.2", "-1.2", "1.2", "1.2", "1.2", "-0.291",
                     "-0.399", "0.339", "0.437", "0", "0.3", "0.5", "0.7", "640", "360",
                     "400", "10", "60", "16", "0", "1"}},
    // Mostly inside at a high cap: groups that run to the cap dominate.
    {"high-cap", {"quatdepth", "-1.2", "-1.2", "-1.2", "1.2", "1.2", "1.2", "-0.1", "0.2",
                  "0.3", "-0.1", "0", "0.3", "0.5", "0.7", "300", "300", "100", "10", "1000",
                  "16", "0", "1"}},
};

// Every 8th row: a fair sample of the image in an eighth of the time.
constexpr int32_t kRowStride = 8;

void searchRows(benchmark::State &state, const Workload *workload, SearchPath path) {
  if (!isSearchPathSupported(path)) {
    state.SkipWithError("this CPU does not support the path");
    return;
  }
  RenderSettings s;
  initSettings(&s, workload->arguments.data(),
               static_cast<int>(workload->arguments.size()));
  LevelTables tables;
  RowScratch rowScratch;
  buildLevelTables(&s, &tables);
  makeRowScratch(&s, &rowScratch);
  std::vector<int32_t> depths(static_cast<size_t>(s.width));

  int64_t neededPasses = 0;  // counted once, outside the timing
  for (int32_t row = 0; row < s.height; row += kRowStride)
    if (!addNeededRowPasses(&s, row, &neededPasses)) {
      state.SkipWithError("the needed passes' depths differ from the reference");
      return;
    }
  SearchStats stats;
  if (path != SearchPath::kScalar)
    for (int32_t row = 0; row < s.height; row += kRowStride)
      findRowDepthsOn(path, &s, {&tables, &rowScratch}, row, depths.data(), &stats);

  int64_t pixels = 0;
  for (auto _ : state) {
    for (int32_t row = 0; row < s.height; row += kRowStride) {
      findRowDepthsOn(path, &s, {&tables, &rowScratch}, row, depths.data());
      benchmark::DoNotOptimize(depths.data());
    }
    pixels += int64_t{s.width} * ((s.height + kRowStride - 1) / kRowStride);
  }
  const double runs = static_cast<double>(state.iterations());
  using benchmark::Counter;
  state.counters["pixels/s"] = Counter(static_cast<double>(pixels), Counter::kIsRate);
  state.counters["needed-passes/s"] =
      Counter(static_cast<double>(neededPasses) * runs, Counter::kIsRate);
  if (path != SearchPath::kScalar) {
    state.counters["probes/s"] =
        Counter(static_cast<double>(stats.probes) * runs, Counter::kIsRate);
    state.counters["utilisation"] = static_cast<double>(neededPasses) /
                                    static_cast<double>(stats.laneSlots);
    state.counters["busy-lanes"] = static_cast<double>(stats.activeIterations) /
                                   static_cast<double>(stats.laneSlots);
  }
}

// The nearest-level search over the same levels, on every 8th row, with
// its probes a pixel: compare with searchRows on the same path.
void searchNearestRows(benchmark::State &state, const Workload *workload, SearchPath path) {
  if (!isSearchPathSupported(path)) {
    state.SkipWithError("this CPU does not support the path");
    return;
  }
  RenderSettings s;
  initSettings(&s, workload->arguments.data(), static_cast<int>(workload->arguments.size()));
  LevelTables tables;
  RowScratch rowScratch;
  buildLevelTables(&s, &tables);
  makeRowScratch(&s, &rowScratch);
  std::vector<int32_t> depths(static_cast<size_t>(s.width));
  SearchStats stats;
  int64_t pixels = 0, found = 0;
  for (int32_t row = 0; row < s.height; row += kRowStride) {
    findRowNearestDepthsOn(path, &s, {&tables, &rowScratch}, row, depths.data(), &stats);
    pixels += s.width;
    for (int32_t depth : depths) found += depth >= 0;
  }
  for (auto _ : state) {
    for (int32_t row = 0; row < s.height; row += kRowStride) {
      findRowNearestDepthsOn(path, &s, {&tables, &rowScratch}, row, depths.data());
      benchmark::DoNotOptimize(depths.data());
    }
  }
  state.counters["pixels/s"] = benchmark::Counter(
      static_cast<double>(pixels) * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate);
  state.counters["surface"] = static_cast<double>(found) / static_cast<double>(pixels);
  if (path != SearchPath::kScalar) {
    state.counters["probes/pixel"] =
        static_cast<double>(stats.probes) / static_cast<double>(pixels);
    state.counters["busy-lanes"] = static_cast<double>(stats.activeIterations) /
                                   static_cast<double>(stats.laneSlots);
  }
}

// The whole image on `threads` threads, as quatdepth-render renders it;
// real time, since the work is on other threads.
void renderImage(benchmark::State &state, const Workload *workload, int threads) {
  RenderSettings s;
  initSettings(&s, workload->arguments.data(), static_cast<int>(workload->arguments.size()));
  std::string error;
  for (auto _ : state) {
    DepthImage rows;
    if (!renderAllRows(s, fastestSearchPath(), threads, &rows, [](int32_t) {}, &error)) {
      state.SkipWithError(error.c_str());
      return;
    }
    benchmark::DoNotOptimize(rows.depths.data());
  }
  state.counters["rows/s"] = benchmark::Counter(
      static_cast<double>(s.height) * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate);
}

// A plane of points for the membership test: a grid of kPlaneSide x
// kPlaneSide over the default box at its middle depth, under each
// workload's constant and cap.
constexpr int32_t kPlaneSide = 1024;

struct PointWorkload {
  const char *name;
  double juliaC[4];
  int32_t maxIterations;
};

const PointWorkload kPointWorkloads[] = {
    {"default", {-0.1, 0.2, 0.3, -0.1}, 10},
    {"late-escape", {-0.291, -0.399, 0.339, 0.437}, 60},
    {"high-cap", {-0.1, 0.2, 0.3, -0.1}, 1000},
};

void findPlanePoints(benchmark::State &state, const PointWorkload *workload, SearchPath path) {
  if (!isSearchPathSupported(path)) {
    state.SkipWithError("this CPU does not support the path");
    return;
  }
  const char *argv[] = {"quatdepth", nullptr};
  RenderSettings s;
  initSettings(&s, argv, 1);
  for (int i = 0; i < 4; ++i) s.juliaC[i] = workload->juliaC[i];
  s.maxIterations = workload->maxIterations;
  const size_t count = size_t{kPlaneSide} * kPlaneSide;
  std::vector<double> x(count), y(count), z(count, (s.zMin + s.zMax) * 0.5);
  for (int32_t row = 0; row < kPlaneSide; ++row)
    for (int32_t column = 0; column < kPlaneSide; ++column) {
      const size_t i = size_t{static_cast<uint32_t>(row)} * kPlaneSide +
                       static_cast<uint32_t>(column);
      x[i] = s.xMin + (s.xMax - s.xMin) * column / kPlaneSide;
      y[i] = s.yMin + (s.yMax - s.yMin) * row / kPlaneSide;
    }
  std::vector<uint8_t> inside(count);
  const EscapeBounds bounds = escapeBoundsOf(&s);
  for (auto _ : state) {
    findPointsInside(path, &s, bounds, x.data(), y.data(), z.data(),
                     static_cast<int32_t>(count), inside.data());
    benchmark::DoNotOptimize(inside.data());
  }
  int64_t found = 0;
  for (uint8_t in : inside) found += in;
  state.counters["points/s"] = benchmark::Counter(
      static_cast<double>(count) * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate);
  state.counters["inside"] = static_cast<double>(found) / static_cast<double>(count);
}

int registerAll() {
  for (const Workload &workload : kWorkloads)
    for (int threads : {1, 2})
      benchmark::RegisterBenchmark(
          (std::string(workload.name) + "/threads:" + std::to_string(threads)).c_str(),
          renderImage, &workload, threads)
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime();
  for (const Workload &workload : kWorkloads)
    for (SearchPath path : kAllSearchPaths)
      benchmark::RegisterBenchmark(
          (std::string(workload.name) + "/" + searchPathName(path)).c_str(),
          searchRows, &workload, path)
          ->Unit(benchmark::kMillisecond);
  for (const Workload &workload : kWorkloads)
    for (SearchPath path : kAllSearchPaths)
      benchmark::RegisterBenchmark(
          (std::string(workload.name) + "/nearest/" + searchPathName(path)).c_str(),
          searchNearestRows, &workload, path)
          ->Unit(benchmark::kMillisecond);
  for (const PointWorkload &workload : kPointWorkloads)
    for (SearchPath path : kAllSearchPaths)
      benchmark::RegisterBenchmark(
          (std::string("points/") + workload.name + "/" + searchPathName(path)).c_str(),
          findPlanePoints, &workload, path)
          ->Unit(benchmark::kMillisecond);
  return 0;
}

const int registered = registerAll();

}  // namespace
}  // namespace quatdepth

BENCHMARK_MAIN();
