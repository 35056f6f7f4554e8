#pragma once

#include <vector>

#include "image/row_merge.h"
#include "settings/render_settings.h"

namespace quatdepth {

// How open each pixel of `rows` (rendered with `settings`) is to the sky,
// from the depth map alone: 1 where nothing near it stands in front, less
// in creases and under overhangs; 1 on background. `radius` is how far
// (in pixels of `rows`) it looks for what stands in front. The same for
// any thread count: each pixel reads only the depths.
std::vector<float> ambientOcclusion(const RenderSettings &settings, const MergedRows &rows,
                                    int radius, int threads);

}  // namespace quatdepth
