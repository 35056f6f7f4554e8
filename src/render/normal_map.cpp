#include "render/normal_map.h"

#include <cmath>

#include "render/row_threads.h"

namespace quatdepth {
namespace {

// Rows first, first + step, ...: rows cost what their surfaces do, and
// interleaving spreads the costly ones. `ofPixel(i, column, row, level)`
// fills entry i of whatever it fills.
template <typename OfPixel>
void pixelsOfRows(const DepthImage &rows, int32_t first, int32_t step, const OfPixel &ofPixel) {
  const size_t width = static_cast<size_t>(rows.width);
  for (int32_t row = first; row < rows.height; row += step) {
    for (int32_t column = 0; column < rows.width; ++column) {
      const size_t i = static_cast<size_t>(row) * width + static_cast<size_t>(column);
      if (rows.depths[i] >= 0) ofPixel(i, column, row, rows.depths[i]);
    }
  }
}

}  // namespace

std::vector<SurfaceNormal> normalMap(const RenderSettings &settings,
                                     const DepthImage &rows, int threads) {
  std::vector<SurfaceNormal> normals;
  normalMap(settings, rows, threads, &normals);
  return normals;
}

void normalMap(const RenderSettings &settings, const DepthImage &rows, int threads,
               std::vector<SurfaceNormal> *normals) {
  normals->assign(rows.depths.size(), SurfaceNormal{});
  const auto normal = [&](size_t i, int32_t column, int32_t row, int32_t level) {
    (*normals)[i] = surfaceNormal(&settings, column, row, level);
  };
  runOnRowThreads(rows.height, threads, [&](int32_t first, int32_t step) {
    pixelsOfRows(rows, first, step, normal);
  });
}

ShownSurface shownSurface(const RenderSettings &settings, const DepthImage &rows, int threads) {
  ShownSurface surface;
  shownSurface(settings, rows, threads, &surface);
  return surface;
}

void shownSurface(const RenderSettings &settings, const DepthImage &rows, int threads,
                  ShownSurface *surface) {
  surface->normals.assign(rows.depths.size(), SurfaceNormal{});
  surface->depths.assign(rows.depths.size(), 0.0);
  const auto shown = [&](size_t i, int32_t column, int32_t row, int32_t level) {
    const ViewPoint sample = normalSamplePoint(&settings, column, row, level);
    surface->normals[i] = surfaceNormalAt(&settings, level, sample);
    surface->depths[i] = std::fabs(sample.z - settings.zMin);
  };
  runOnRowThreads(rows.height, threads, [&](int32_t first, int32_t step) {
    pixelsOfRows(rows, first, step, shown);
  });
}

}  // namespace quatdepth
