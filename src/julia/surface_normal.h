#pragma once

#include <cstdint>

#include "settings/render_settings.h"

namespace quatdepth {

// A unit vector in the view's frame: x along the row (right), y down the
// rows, z along the depth axis away from the viewer. A surface facing the
// viewer has negative z. All zero where there is no surface.
struct SurfaceNormal {
  double x = 0.0;
  double y = 0.0;
  double z = 0.0;
};

// The iterations the set's map runs at the (already turned) point before
// it escapes, as the membership test counts them; maxIterations when it
// does not escape.
int32_t escapeIteration(const RenderSettings *settings, double x, double y, double z);

// The outward normal of the set's surface at the hit of pixel (column,
// row) at depth `level` (a level the search returned, not -1): the
// direction in which |q_n|^2 grows fastest, q_n the n-th iterate of the
// hit point, n the iteration where the point two pixels' width nearer
// along the ray (at least one level) escapes, or the cap. The derivatives
// are carried through the iteration exactly, so the normal is smooth
// across pixels whose depths differ only by whole levels. Where the
// gradient vanishes or overflows, the normal faces the viewer.
SurfaceNormal surfaceNormal(const RenderSettings *settings, int32_t column, int32_t row,
                            int32_t level);

}  // namespace quatdepth
