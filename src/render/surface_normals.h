#pragma once

#include <vector>

#include "image/row_merge.h"
#include "julia/surface_normal.h"
#include "settings/render_settings.h"

namespace quatdepth {

// The set's surface normal at every pixel of `rows` (rendered with
// `settings`) that has a surface, zero elsewhere, on up to `threads`
// threads. Each pixel's normal depends on that pixel alone, so the result
// is the same for any thread count. Throws std::bad_alloc without memory.
std::vector<SurfaceNormal> surfaceNormals(const RenderSettings &settings,
                                          const MergedRows &rows, int threads);

// The depth, in scene units from the box's near face along the view, of
// the point each pixel's normal is measured at (normalSamplePoint), at
// every pixel with a surface, zero elsewhere: the surface a pixel can
// show, smooth where the set is finer than a pixel, which the normals are
// the normals of. Per pixel and the same for any thread count, as above.
std::vector<double> shownSurfaceDepths(const RenderSettings &settings, const MergedRows &rows,
                                       int threads);

}  // namespace quatdepth
