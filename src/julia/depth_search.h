#pragma once

#include <cstdint>

#include "settings/render_settings.h"

namespace quatdepth {

// Coordinate of step `index` out of `count` between lo and hi, in the three
// rounded steps every path must share: quotient, scaled span, offset.
// Always inlined, so builds for other instruction sets never share a copy.
[[gnu::always_inline]] inline double gridCoordinate(double lo, double hi, int32_t index,
                             int32_t count) {
  double fraction = static_cast<double>(index) / static_cast<double>(count);
  double offset = (hi - lo) * fraction;
  return lo + offset;
}

// Depth level of the first surface point on pixel (column, row)'s ray, or
// -1. Probes every fineSteps-th level, then refines back over the levels
// between the first inside probe and the previous one.
int32_t findSurfaceDepth(const RenderSettings *settings, int32_t column,
                         int32_t row);

}  // namespace quatdepth
