#pragma once

#include "settings/render_settings.h"

namespace quatdepth {

// True when the quaternion (x, y, z, wSlice) has not escaped after
// maxIterations passes of q -> q^2 + juliaC (at least one pass always runs).
bool isInsideJulia(const RenderSettings *settings, double x, double y,
                   double z);

}  // namespace quatdepth
