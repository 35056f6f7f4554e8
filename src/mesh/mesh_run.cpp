#include "mesh/mesh_run.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <optional>
#include <string>

#include "image/image_output.h"
#include "julia/search_path.h"
#include "mesh/memory_budget.h"
#include "mesh/mesh_file.h"
#include "mesh/mesh_grid.h"
#include "mesh/mesh_request.h"
#include "mesh/mesh_simplify.h"
#include "mesh/surface_sweep.h"
#include "mesh/whole_mesh.h"
#include "render/progress_bar.h"
#include "render/threaded_render.h"
#include "request/parameter_text.h"
#include "request/render_exit.h"

namespace quatdepth {
namespace {

void report(const std::string &message) {
  std::fprintf(stderr, "quatdepth-mesh: %s\n", message.c_str());
}

std::string megabytes(int64_t bytes) {
  return std::to_string((bytes + (1 << 20) - 1) >> 20) + " MB";
}

// Counts triangles and nothing else.
class TriangleCount final : public MeshSink {
 public:
  bool addVertices(std::span<const MeshVertex>, std::string *) override { return true; }
  bool addTriangles(std::span<const MeshTriangle> triangles, const VertexWindow &,
                    std::string *) override {
    count += static_cast<int64_t>(triangles.size());
    return true;
  }
  int64_t count = 0;
};

// The largest resolution from 1 to `resolution` whose need fits
// `available` (needs grow with the resolution), or 0 when none does.
int32_t fittingResolution(int32_t resolution, int64_t available,
                          const std::function<int64_t(int32_t)> &need) {
  int32_t low = 0, high = resolution;  // low fits (0: nothing), high + 1 does not
  while (low < high) {
    const int32_t middle = low + (high - low + 1) / 2;
    if (need(middle) <= available)
      low = middle;
    else
      high = middle - 1;
  }
  return low;
}

// The sweep's planes at a resolution of the same box.
int64_t planesAt(const RenderSettings &settings, int32_t resolution, int threads) {
  MeshGrid grid;
  std::string ignored;
  return meshGridOf(settings, resolution, &grid, &ignored) ? sweepMemory(grid, threads)
                                                            : INT64_MAX;
}

// A whole mesh needs memory for all its triangles: estimated from two
// coarse sweeps of the same view, before hours go into the fine one. A
// smooth surface's triangles grow with the square of the resolution, a
// fractal one's faster: the growth from the first to the second gives the
// power, between 2 and 3, and a quarter more is kept for safety.
bool checkSimplifyMemory(const RenderSettings &settings, const MeshRequest &request,
                         const SweepOptions &options, std::string *error) {
  constexpr int32_t kProbes[] = {32, 64};
  // A mesh that coarse holds a few megabytes.
  if (request.resolution <= kProbes[1]) return true;
  int64_t counts[2] = {};
  for (size_t i = 0; i < 2; ++i) {
    MeshGrid coarse;
    if (!meshGridOf(settings, kProbes[i], &coarse, error)) return false;
    TriangleCount counted;
    SweepOptions quiet = options;
    quiet.onProgress = nullptr;
    if (!sweepSurface(settings, coarse, quiet, &counted, error)) return false;
    counts[i] = std::max<int64_t>(counted.count, 1);
  }
  const double power = std::clamp(
      std::log2(static_cast<double>(counts[1]) / static_cast<double>(counts[0])), 2.0, 3.0);
  const auto trianglesAt = [&](int32_t resolution) {
    return static_cast<int64_t>(
        std::min(1.25 * static_cast<double>(counts[1]) *
                     std::pow(static_cast<double>(resolution) / kProbes[1], power),
                 1e15));
  };
  const auto need = [&](int32_t resolution) {
    return simplifyMemory(trianglesAt(resolution)) +
           planesAt(settings, resolution, options.threads);
  };
  const int64_t available = availableMemory();
  const int64_t needed = need(request.resolution);
  if (needed <= available) return true;
  *error = "--max-triangles: simplifying holds the whole mesh in memory, about " +
           megabytes(needed) + " for some " + std::to_string(trianglesAt(request.resolution)) +
           " triangles at --resolution " + std::to_string(request.resolution) + ", but " +
           megabytes(available) + " are free; --resolution " +
           std::to_string(fittingResolution(request.resolution, available, need)) +
           " would fit, or leave out --max-triangles to stream the mesh";
  return false;
}

// Where the scratch files go: beside the output, so they take the disk the
// user chose; the temporary folder for standard output.
std::string scratchFolder(const std::string &output) {
  if (output != "-") {
    const size_t slash = output.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : output.substr(0, slash);
  }
  const char *temporary = std::getenv("TMPDIR");
  return temporary && *temporary ? temporary : "/tmp";
}

// `output` is open already, or opened here once the mesh is made.
int meshAndWrite(const MeshRequest &request, const MeshGrid &grid,
                 std::optional<ImageOutput> *output) {
  const RenderSettings &settings = request.view.settings;
  std::string error;
  const int threads = request.threads > 0 ? request.threads : defaultThreadCount();
  const int64_t sweepBytes = sweepMemory(grid, threads);
  if (const int64_t available = availableMemory(); sweepBytes > available) {
    report("--resolution " + std::to_string(request.resolution) + ": the sweep's planes take " +
           megabytes(sweepBytes) + ", more than the " + megabytes(available) +
           " free; --resolution " +
           std::to_string(fittingResolution(request.resolution, available,
                                            [&](int32_t resolution) {
                                              return planesAt(settings, resolution, threads);
                                            })) +
           " would fit; nothing was written");
    return kRenderFailed;
  }
  SweepOptions options;
  options.path = fastestSearchPath();
  options.threads = threads;
  options.refine = request.refine;
  if (request.maxTriangles > 0 &&
      !checkSimplifyMemory(settings, request, options, &error)) {
    report(error + "; nothing was written");
    return kRenderFailed;
  }
  MeshFileWriter writer(request.format, viewParameterText(request.view));
  if (!writer.open(scratchFolder(request.output), &error) &&
      !(request.output != "-" && writer.open(scratchFolder("-"), &error))) {
    report(error);
    return kRenderCannotWrite;
  }
  ProgressBar bar(grid.cells[2] + 2, "quatdepth-mesh", "planes");
  options.onProgress = [&bar](int32_t done, int32_t) { bar.show(done); };
  WholeMesh whole;
  MeshSink *sink = request.maxTriangles > 0 ? static_cast<MeshSink *>(&whole) : &writer;
  if (!sweepSurface(settings, grid, options, sink, &error)) {
    report(error + "; nothing was written");
    return sink == &writer ? kRenderCannotWrite : kRenderFailed;
  }
  if (sink == &whole) {
    if (!simplifyMesh(&whole, request.maxTriangles, &error)) {
      report(error + "; nothing was written");
      return kRenderFailed;
    }
    if (!whole.sendTo(&writer, &error)) {
      report(error + "; nothing was written");
      return kRenderCannotWrite;
    }
  }
  if (writer.triangleCount() == 0) {
    report("no point of the grid lies in the set, so there is no surface to mesh; try a finer "
           "--resolution or another view; nothing was written");
    return kRenderFailed;
  }
  if (!*output && !output->emplace().open(request.output, &error)) {
    report(error);
    return kRenderCannotWrite;
  }
  FILE *out = (*output)->begin(&error);
  if (!out) {
    report(error);
    return kRenderCannotWrite;
  }
  if (!writer.finish(out, (*output)->name(), &error) || !(*output)->commit(&error)) {
    report(error);
    return kRenderCannotWrite;
  }
  return kRenderSuccess;
}

}  // namespace

int runQuatdepthMesh(int argc, const char *const *argv) {
  const ClosedStreams closed = occupyClosedStreams();
  MeshRequest request;
  const int parsed = parseMeshOptions(argc, argv, &request);
  if (parsed >= 0) return parsed;
  if (request.output == "-" && closed.output) {
    report("standard output: " + std::string(std::strerror(EBADF)));
    return kRenderCannotWrite;
  }
  MeshGrid grid;
  std::string error;
  if (!meshGridOf(request.view.settings, request.resolution, &grid, &error) ||
      !checkMeshPrecision(grid, request.refine, &error)) {
    report(error);
    return kRenderUsage;
  }
  // The output is checked before the sweep, which may take long. A regular
  // file's temporary is made again only when the mesh is done, so that not
  // even a kill in between leaves one behind; anything else (a pipe, a
  // device) is opened once.
  std::optional<ImageOutput> output;
  output.emplace();
  if (!output->open(request.output, &error)) {
    report(error);
    return kRenderCannotWrite;
  }
  struct stat status;
  if (request.output != "-" &&
      (stat(request.output.c_str(), &status) != 0 || S_ISREG(status.st_mode)))
    output.reset();
  try {
    return meshAndWrite(request, grid, &output);
  } catch (const std::bad_alloc &) {
    // The planes were checked before the sweep; what can still run out is
    // a slab the surface crosses everywhere, where the box cuts the set
    // across its depth.
    report("not enough memory for a mesh at --resolution " + std::to_string(request.resolution) +
           (request.maxTriangles > 0
                ? " to simplify; give a lower --resolution"
                : " (a box that cuts the set across its depth holds the whole cut at once); "
                  "give a lower --resolution") +
           "; nothing was written");
    return kRenderFailed;
  }
}

}  // namespace quatdepth
