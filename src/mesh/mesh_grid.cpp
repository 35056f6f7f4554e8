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

double meshCoordinate(const MeshGrid &grid, size_t axis, int32_t i) {
  const double fraction = static_cast<double>(i) / static_cast<double>(grid.resolution);
  return grid.low[axis] + grid.longest * fraction;
}

}  // namespace quatdepth
