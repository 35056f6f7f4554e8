#pragma once

#include <cstdint>

#include "settings/render_settings.h"

namespace quatdepth {

// Fills depths[0 .. width-1] with findSurfaceDepth for every column of
// `row`, one pixel at a time: the readable reference for faster paths.
void findRowDepthsScalar(const RenderSettings *settings, int32_t row,
                         int32_t *depths);

}  // namespace quatdepth
