#pragma once

#include <cstdint>

#include "explore/view_query.h"
#include "request/render_request.h"

namespace quatdepth {

// The most a view's render can cost, known before it starts, so that the
// server refuses or queues it before any work.
struct RenderCost {
  int64_t samples = 0;  // pixels x supersamples
  // Iteration passes at most: every sample probes every coarse level and
  // refines over a whole coarse step, each probe running to the cap (four
  // times that for the nearest search, its usual cost, not its worst); and
  // the normals, occlusion and EXR scanlines the output needs, in passes.
  double passes = 0;
  int64_t memoryBytes = 0;  // the render process at its largest, output included
};

RenderCost renderCostOf(const RenderRequest &request, ViewOutput output);

}  // namespace quatdepth
