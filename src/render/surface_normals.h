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

}  // namespace quatdepth
