#pragma once

#include <vector>

#include "output/depth_image.h"
#include "render/normal_map.h"
#include "settings/render_settings.h"

namespace quatdepth {

// How open each pixel of `rows` (rendered with `settings`) is to the sky:
// 1 where nothing near it rises above the plane tangent to `surface`
// there, less in creases and under overhangs; 1 on background (a pixel of
// `rows` with no depth). So slopes and convex surfaces stay open; rises
// within a depth level of the tangent plane (the depths' quantization) do
// not count. `radius` is how far (in pixels of `rows`) it looks for what
// stands in front. The same for any thread count: each pixel reads only
// the surface. Where `surface` has no normals or no depths (fewer entries
// than `rows` has pixels), or a zero normal, each hit is taken as the depth
// map alone shows it: facing the viewer squarely, at its level's depth.
std::vector<float> ambientOcclusion(const RenderSettings &settings, const DepthImage &rows,
                                    const ShownSurface &surface, int radius, int threads);
// The same into `openness`, which keeps its memory where it has room enough.
void ambientOcclusion(const RenderSettings &settings, const DepthImage &rows,
                      const ShownSurface &surface, int radius, int threads,
                      std::vector<float> *openness);

}  // namespace quatdepth
