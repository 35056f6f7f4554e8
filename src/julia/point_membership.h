#pragma once

#include <cstdint>

#include "julia/escape_bound.h"
#include "julia/search_path.h"
#include "settings/render_settings.h"

namespace quatdepth {

// Whether each point (x[i], y[i], z[i]), given in the box's coordinates before
// the view's turns, lies in the set: the point turned by rotateAboutCentre and
// tested by isInsideJulia, exactly, on `path` (which must be supported).
// inside[i] is 1 or 0. Every path gives the same bytes.
// `bounds` are escapeBoundsOf(settings): found once for many batches.
void findPointsInside(SearchPath path, const RenderSettings *settings,
                      const EscapeBounds &bounds, const double *x,
                      const double *y, const double *z, int32_t count,
                      uint8_t *inside);

// The scalar path: the readable reference for the others.
void findPointsInsideScalar(const RenderSettings *settings, const double *x, const double *y,
                            const double *z, int32_t count, uint8_t *inside);

}  // namespace quatdepth
