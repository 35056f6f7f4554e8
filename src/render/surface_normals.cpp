#include "render/surface_normals.h"

#include <algorithm>
#include <system_error>
#include <thread>

namespace quatdepth {
namespace {

// Rows first, first + step, ...: rows cost what their surfaces do, and
// interleaving spreads the costly ones.
void normalsOfRows(const RenderSettings &s, const MergedRows &rows, int32_t first,
                   int32_t step, std::vector<SurfaceNormal> *normals) {
  const size_t width = static_cast<size_t>(rows.width);
  for (int32_t row = first; row < rows.height; row += step) {
    for (int32_t column = 0; column < rows.width; ++column) {
      const size_t i = static_cast<size_t>(row) * width + static_cast<size_t>(column);
      if (rows.depths[i] >= 0) (*normals)[i] = surfaceNormal(&s, column, row, rows.depths[i]);
    }
  }
}

}  // namespace

std::vector<SurfaceNormal> surfaceNormals(const RenderSettings &settings,
                                          const MergedRows &rows, int threads) {
  std::vector<SurfaceNormal> normals(rows.depths.size());
  const int count = std::max(1, std::min(threads, std::max(rows.height, 1)));
  std::vector<std::thread> workers;
  int started = 0;
  for (; started < count - 1; ++started) {
    try {
      workers.emplace_back(normalsOfRows, std::cref(settings), std::cref(rows), started, count,
                           &normals);
    } catch (const std::system_error &) {
      break;  // the rows of threads that could not start are done below
    }
  }
  for (int first = started; first < count; ++first)
    normalsOfRows(settings, rows, first, count, &normals);
  for (std::thread &worker : workers) worker.join();
  return normals;
}

}  // namespace quatdepth
