#pragma once

#include <vector>

#include "julia/surface_normal.h"
#include "output/depth_image.h"
#include "settings/render_settings.h"

namespace quatdepth {

// The set's surface normal at every pixel of `rows` (rendered with
// `settings`) that has a surface, zero elsewhere, on up to `threads`
// threads. Each pixel's normal depends on that pixel alone, so the result
// is the same for any thread count. Throws std::bad_alloc without memory.
std::vector<SurfaceNormal> normalMap(const RenderSettings &settings,
                                     const DepthImage &rows, int threads);
// The same into `normals`, which keeps its memory where it has room enough.
void normalMap(const RenderSettings &settings, const DepthImage &rows, int threads,
               std::vector<SurfaceNormal> *normals);

// The surface each pixel shows, one entry a pixel of the rows: its normal
// in the picture's frame (as normalMap gives them) and the depth, in
// scene units from the box's near face along the view, of the point that
// normal is measured at (normalSamplePoint), zero where there is no
// surface: the surface a pixel can show, smooth where the set is finer
// than a pixel.
struct ShownSurface {
  std::vector<SurfaceNormal> normals;
  std::vector<double> depths;
};

// Both at once, each pixel's point found once; per pixel and the same for
// any thread count, as above.
ShownSurface shownSurface(const RenderSettings &settings, const DepthImage &rows, int threads);
// The same into `surface`, which keeps its memory where it has room enough.
void shownSurface(const RenderSettings &settings, const DepthImage &rows, int threads,
                  ShownSurface *surface);

}  // namespace quatdepth
