#include "render/surface_normals.h"

#include "render/row_threads.h"

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
  runOnRowThreads(rows.height, threads, [&](int32_t first, int32_t step) {
    normalsOfRows(settings, rows, first, step, &normals);
  });
  return normals;
}

}  // namespace quatdepth
