#include "render/surface_normals.h"

#include <cmath>

#include "render/row_threads.h"

namespace quatdepth {
namespace {

// Rows first, first + step, ...: rows cost what their surfaces do, and
// interleaving spreads the costly ones.
template <typename Value, typename OfPixel>
void valuesOfRows(const MergedRows &rows, int32_t first, int32_t step, const OfPixel &ofPixel,
                  std::vector<Value> *values) {
  const size_t width = static_cast<size_t>(rows.width);
  for (int32_t row = first; row < rows.height; row += step) {
    for (int32_t column = 0; column < rows.width; ++column) {
      const size_t i = static_cast<size_t>(row) * width + static_cast<size_t>(column);
      if (rows.depths[i] >= 0) (*values)[i] = ofPixel(column, row, rows.depths[i]);
    }
  }
}

}  // namespace

std::vector<SurfaceNormal> surfaceNormals(const RenderSettings &settings,
                                          const MergedRows &rows, int threads) {
  std::vector<SurfaceNormal> normals(rows.depths.size());
  const auto normal = [&](int32_t column, int32_t row, int32_t level) {
    return surfaceNormal(&settings, column, row, level);
  };
  runOnRowThreads(rows.height, threads, [&](int32_t first, int32_t step) {
    valuesOfRows(rows, first, step, normal, &normals);
  });
  return normals;
}

std::vector<double> shownSurfaceDepths(const RenderSettings &settings, const MergedRows &rows,
                                       int threads) {
  std::vector<double> depths(rows.depths.size(), 0.0);
  const auto depth = [&](int32_t column, int32_t row, int32_t level) {
    return std::fabs(normalSamplePoint(&settings, column, row, level).z - settings.zMin);
  };
  runOnRowThreads(rows.height, threads, [&](int32_t first, int32_t step) {
    valuesOfRows(rows, first, step, depth, &depths);
  });
  return depths;
}

}  // namespace quatdepth
