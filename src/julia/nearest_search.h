#pragma once

#include <cstdint>

#include "julia/escape_reach.h"
#include "settings/render_settings.h"

namespace quatdepth {

// The nearest inside level of all coarseSteps x fineSteps + 1 levels on
// pixel (column, row)'s ray, or -1: what findSurfaceDepth gives with one
// fine step and coarseSteps x fineSteps coarse steps, so nothing thinner
// than the coarse steps is missed. Levels are probed from the near face;
// a probe that escapes skips every level its reach proves outside.
// `reach` is escapeReach's for these settings.
int32_t findNearestSurfaceDepth(const RenderSettings *settings, const EscapeReach &reach,
                                int32_t column, int32_t row);

// What one probe at the turned point (x, y, z) shows: whether it is
// inside (isInsideJulia's answer), and if not, the radius around it within
// which every point is outside too, for a probe allowed to prove at most
// `zeta` (escape_reach.h). `unlimited` is the reach zeta did not cap.
struct ProbeReach {
  bool inside;
  double reach;      // no reach when not positive or not a number
  double unlimited;
};
ProbeReach probeReach(const RenderSettings *settings, const EscapeReach &reach, double x,
                      double y, double z, double zeta);

// Fills depths[0 .. width-1] with findNearestSurfaceDepth for every column
// of `row`, one pixel at a time: the readable reference for faster paths.
void findRowNearestDepthsScalar(const RenderSettings *settings, int32_t row, int32_t *depths);

}  // namespace quatdepth
