#include "mesh/mesh_grid.h"

#include <algorithm>
#include <cmath>

namespace quatdepth {

bool meshGridOf(const RenderSettings &settings, int32_t resolution, MeshGrid *grid,
                std::string *error) {
  grid->low = {settings.xMin, settings.yMin, settings.zMin};
  grid->high = {settings.xMax, settings.yMax, settings.zMax};
  grid->resolution = resolution;
  grid->longest = 0.0;
  for (size_t axis = 0; axis < 3; ++axis) {
    const double span = grid->high[axis] - grid->low[axis];
    // Also refuses an inverted edge, and a span too large for a double.
    if (!(span > 0.0) || !std::isfinite(span)) {
      *error = "--box: a mesh needs a box with length along every axis (each low corner "
               "below its high corner)";
      return false;
    }
    grid->longest = std::max(grid->longest, span);
  }
  for (size_t axis = 0; axis < 3; ++axis) {
    const double span = grid->high[axis] - grid->low[axis];
    // The first point at or beyond the high face, found from an estimate
    // so that rounding cannot leave the face uncovered.
    auto n = static_cast<int32_t>(
        std::clamp(std::ceil(span / grid->longest * resolution), 1.0, static_cast<double>(resolution)));
    while (n > 1 && meshCoordinate(*grid, axis, n - 1) >= grid->high[axis]) --n;
    while (n < resolution && meshCoordinate(*grid, axis, n) < grid->high[axis]) ++n;
    grid->cells[axis] = n;
  }
  return true;
}

bool checkMeshPrecision(const MeshGrid &grid, int refine, std::string *error) {
  // Positions reach half the longest edge and a cell beyond from the centre.
  const double reach = grid.longest / 2 + grid.longest / grid.resolution;
  constexpr double kLargest = 1e30, kSmallest = 1e-30;  // well within floats' range
  const double cell = grid.longest / grid.resolution;
  if (!(reach < kLargest) || !(std::ldexp(cell, -(refine + 1)) > kSmallest)) {
    *error = "--box: a mesh's float coordinates cannot hold a box this size at --resolution " +
             std::to_string(grid.resolution) + " and --refine " + std::to_string(refine);
    return false;
  }
  const auto far = static_cast<float>(reach);
  const double floatStep = std::nextafter(far, INFINITY) - far;
  constexpr double kSteps = 4;  // floats' steps a bracket spans at least
  const auto fits = [&](double width) { return width >= kSteps * floatStep; };
  if (fits(std::ldexp(cell, -(refine + 1)))) return true;
  int refineFits = refine;
  while (refineFits >= 0 && !fits(std::ldexp(cell, -(refineFits + 1)))) --refineFits;
  const auto resolutionFits = static_cast<int64_t>(
      std::floor(grid.longest / std::ldexp(kSteps * floatStep, refine + 1)));
  *error = "--resolution " + std::to_string(grid.resolution) + ", --refine " +
           std::to_string(refine) + ": vertices would be placed finer than a float can hold " +
           "across this box; give " +
           (refineFits >= 0 ? "--refine " + std::to_string(refineFits) + " or less, or " : "") +
           "--resolution " + std::to_string(resolutionFits) + " or less";
  return false;
}

double meshCoordinate(const MeshGrid &grid, size_t axis, int32_t i) {
  const double fraction = static_cast<double>(i) / static_cast<double>(grid.resolution);
  return grid.low[axis] + grid.longest * fraction;
}

}  // namespace quatdepth
