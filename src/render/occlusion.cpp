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

// Scene sizes of one pixel across, one row down and one level deep.
struct Scale {
  double column;
  double row;
  double level;
};

// The surface at pixel i: its normal and depth where `surface` has them;
// where it has none, as the depth map alone shows it, facing the viewer
// squarely at its level's depth.
struct SurfaceAt {
  const DepthImage &rows;
  const ShownSurface &surface;
  double level;

  SurfaceNormal normal(size_t i) const {
    const SurfaceNormal none{};
    if (i >= surface.normals.size() || surface.normals[i] == none) return {0.0, 0.0, -1.0};
    return surface.normals[i];
  }
  double depth(size_t i) const {
    return i < surface.depths.size() ? surface.depths[i] : static_cast<double>(rows.depths[i]) * level;
  }
};

// For each direction, the highest point of the surface within `radius`
// above the plane tangent to it at (x, y) (the horizon), as the sine of
// its elevation above that plane, falling off with distance so far
// neighbours weigh less; occlusion is their mean. Each neighbour is first
// moved one level away from the viewer: depths come from levels, a level
// apart, so a neighbour on the tangent plane can read up to a level nearer
// than it is, and without the bias a smooth slope or a ball would show
// rings where its depths step.
float openness(const DepthImage &rows, const SurfaceAt &surface, Scale scale, int radius,
               int32_t x, int32_t y) {
  const size_t width = static_cast<size_t>(rows.width);
  const size_t i = static_cast<size_t>(y) * width + static_cast<size_t>(x);
  const double here = surface.depth(i);
  const SurfaceNormal n = surface.normal(i);
  double occluded = 0.0;
  for (int d = 0; d < kDirections; ++d) {
    double horizon = 0.0;
    for (int step = 1; step <= radius; ++step) {
      const long sx = std::lround(x + kDirectionX[d] * step);
      const long sy = std::lround(y + kDirectionY[d] * step);
      if (sx < 0 || sy < 0 || sx >= rows.width || sy >= rows.height) break;
      const size_t j = static_cast<size_t>(sy) * width + static_cast<size_t>(sx);
      if (rows.depths[j] < 0) continue;
      // From the pixel to the neighbour in the picture's frame (z away
      // from the viewer, as the normal's), the neighbour a level back.
      const double vx = static_cast<double>(sx - x) * scale.column;
      const double vy = static_cast<double>(sy - y) * scale.row;
      const double vz = surface.depth(j) - here + scale.level;
      const double above = vx * n.x + vy * n.y + vz * n.z;  // n faces the viewer
      if (above <= 0.0) continue;
      const double sine = above / std::sqrt(vx * vx + vy * vy + vz * vz);
      const double falloff = 1.0 - static_cast<double>(step) / (radius + 1);
      horizon = std::max(horizon, sine * falloff);
    }
    occluded += horizon;
  }
  return static_cast<float>(1.0 - occluded / kDirections);
}

void opennessOfRows(const DepthImage &rows, const SurfaceAt &surface, Scale scale, int radius,
                    int32_t first, int32_t step, std::vector<float> *result) {
  const size_t width = static_cast<size_t>(rows.width);
  for (int32_t y = first; y < rows.height; y += step)
    for (int32_t x = 0; x < rows.width; ++x) {
      const size_t i = static_cast<size_t>(y) * width + static_cast<size_t>(x);
      if (rows.depths[i] >= 0) (*result)[i] = openness(rows, surface, scale, radius, x, y);
    }
}

}  // namespace

std::vector<float> ambientOcclusion(const RenderSettings &s, const DepthImage &rows,
                                    const ShownSurface &surface, int radius, int threads) {
  std::vector<float> result;
  ambientOcclusion(s, rows, surface, radius, threads, &result);
  return result;
}

void ambientOcclusion(const RenderSettings &s, const DepthImage &rows,
                      const ShownSurface &surface, int radius, int threads,
                      std::vector<float> *result) {
  result->assign(rows.depths.size(), 1.0f);
  const int32_t levels = s.coarseSteps * s.fineSteps;
  const Scale scale{std::fabs(s.xMax - s.xMin) / std::max(s.width, 1),
                    std::fabs(s.yMax - s.yMin) / std::max(s.height, 1),
                    std::fabs(s.zMax - s.zMin) / std::max(levels, 1)};
  runOnRowThreads(rows.height, threads, [&](int32_t first, int32_t step) {
    opennessOfRows(rows, SurfaceAt{rows, surface, scale.level}, scale, radius, first, step,
                   result);
  });
}

}  // namespace quatdepth
