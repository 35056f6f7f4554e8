#include "julia/depth_search.h"

#include "julia/julia_set.h"
#include "julia/view_rotation.h"

namespace quatdepth {
namespace {

bool isLevelInside(const RenderSettings *s, double x, double y, int32_t level,
                   int32_t depthLevels) {
  double px = x, py = y;
  double pz = gridCoordinate(s->zMin, s->zMax, level, depthLevels);
  rotateAboutCentre(s, &px, &py, &pz);
  return isInsideJulia(s, px, py, pz);
}

}  // namespace

int32_t findSurfaceDepth(const RenderSettings *s, int32_t column,
                         int32_t row) {
  const int32_t depthLevels = s->coarseSteps * s->fineSteps;
  const double x = gridCoordinate(s->xMin, s->xMax, column, s->width);
  const double y = gridCoordinate(s->yMin, s->yMax, row, s->height);

  int32_t result = -1;
  int32_t k = 0;
  do {
    if (isLevelInside(s, x, y, k, depthLevels)) {
      result = k;
      if (k >= 1) {
        // Coarse hit: walk back over every level down to just above the
        // previous coarse probe; the last inside one is the nearest.
        --k;
        for (int32_t step = 1; step < s->fineSteps; ++step) {
          if (isLevelInside(s, x, y, k, depthLevels)) result = k;
          --k;
        }
      }
    }
    k += s->fineSteps;
  } while (k <= depthLevels && result < 0);
  return result;
}

}  // namespace quatdepth
