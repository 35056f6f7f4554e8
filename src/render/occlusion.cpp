#include "render/occlusion.h"

#include <algorithm>
#include <cmath>

#include "render/row_threads.h"

namespace quatdepth {
namespace {

// Eight directions around each pixel: enough to find creases without a
// noisy random pattern (and so the picture is the same on every run).
constexpr int kDirections = 8;
constexpr double kDirectionX[kDirections] = {1, 0.7071067811865476, 0, -0.7071067811865476,
                                             -1, -0.7071067811865476, 0, 0.7071067811865476};
constexpr double kDirectionY[kDirections] = {0, 0.7071067811865476, 1, 0.7071067811865476,
                                             0, -0.7071067811865476, -1, -0.7071067811865476};

// Scene sizes of one pixel across and one level deep.
struct Scale {
  double pixel;
  double level;
};

// For each direction, the steepest rise of the depth map towards the
// viewer within `radius` (the horizon), as the sine of its angle, falling
// off with distance so far neighbours weigh less; occlusion is their mean.
float openness(const MergedRows &rows, Scale scale, int radius, int32_t x, int32_t y) {
  const size_t width = static_cast<size_t>(rows.width);
  const double here = rows.depths[static_cast<size_t>(y) * width + static_cast<size_t>(x)];
  double occluded = 0.0;
  for (int d = 0; d < kDirections; ++d) {
    double horizon = 0.0;
    for (int step = 1; step <= radius; ++step) {
      const long sx = std::lround(x + kDirectionX[d] * step);
      const long sy = std::lround(y + kDirectionY[d] * step);
      if (sx < 0 || sy < 0 || sx >= rows.width || sy >= rows.height) break;
      const int32_t there = rows.depths[static_cast<size_t>(sy) * width + static_cast<size_t>(sx)];
      if (there < 0) continue;
      const double rise = (here - there) * scale.level;  // nearer is higher
      if (rise <= 0.0) continue;
      const double run = step * scale.pixel;
      const double sine = rise / std::sqrt(rise * rise + run * run);
      const double falloff = 1.0 - static_cast<double>(step) / (radius + 1);
      horizon = std::max(horizon, sine * falloff);
    }
    occluded += horizon;
  }
  return static_cast<float>(1.0 - occluded / kDirections);
}

void opennessOfRows(const MergedRows &rows, Scale scale, int radius, int32_t first, int32_t step,
                    std::vector<float> *result) {
  const size_t width = static_cast<size_t>(rows.width);
  for (int32_t y = first; y < rows.height; y += step)
    for (int32_t x = 0; x < rows.width; ++x) {
      const size_t i = static_cast<size_t>(y) * width + static_cast<size_t>(x);
      if (rows.depths[i] >= 0) (*result)[i] = openness(rows, scale, radius, x, y);
    }
}

}  // namespace

std::vector<float> ambientOcclusion(const RenderSettings &s, const MergedRows &rows, int radius,
                                    int threads) {
  std::vector<float> result(rows.depths.size(), 1.0f);
  const int32_t levels = s.coarseSteps * s.fineSteps;
  const Scale scale{std::fabs(s.xMax - s.xMin) / std::max(s.width, 1),
                    std::fabs(s.zMax - s.zMin) / std::max(levels, 1)};
  runOnRowThreads(rows.height, threads, [&](int32_t first, int32_t step) {
    opennessOfRows(rows, scale, radius, first, step, &result);
  });
  return result;
}

}  // namespace quatdepth
