#pragma once

#include <cstdint>

#include "settings/render_settings.h"

namespace quatdepth {

// A unit vector in the picture's frame: x along the row (right), y down
// the rows, z along the depth axis away from the viewer, however the box
// is given. A surface facing the viewer has negative z. All zero where
// there is no surface.
struct SurfaceNormal {
  double x = 0.0;
  double y = 0.0;
  double z = 0.0;
  bool operator==(const SurfaceNormal &) const = default;
};

// A point in the box's coordinates, before the view's turns.
struct ViewPoint {
  double x = 0.0;
  double y = 0.0;
  double z = 0.0;
};

// Where the normal of the hit of pixel (column, row) at depth `level` is
// measured: the point on the pixel's ray, toward the viewer, where an
// estimate of the distance to the set (one that errs on the near side)
// reaches a pixel's width, or the box's near face if that comes first.
// Measured at the hit itself, the normal would follow the set's structure
// far below a pixel and speckle the picture; a pixel's width out, it shows
// the surface a pixel can show.
ViewPoint normalSamplePoint(const RenderSettings *settings, int32_t column, int32_t row,
                            int32_t level);

// The direction, at a point outside the set, in which |q_n|^2 grows
// fastest, in the box's axes: q_n the point's n-th iterate, n the
// iteration where |q_n| passes a radius far beyond the bailout (so the
// direction no longer depends on n). The derivatives along the box's three
// axes, turned as the search turns its points, are carried through the
// iteration exactly. Faces the viewer where the membership test counts the
// point as inside.
SurfaceNormal setNormalAt(const RenderSettings *settings, ViewPoint point);

// The outward normal of the set's surface at the hit of pixel (column,
// row) at depth `level` (a level the search returned, not -1), in the
// picture's frame: the set's normal at normalSamplePoint, turned to face
// the viewer if it faces away; facing the viewer on the box's near face,
// where the box cuts the set. It depends on that pixel alone, and on no
// other pixel's depth, so pictures have no stair-steps from depth levels.
SurfaceNormal surfaceNormal(const RenderSettings *settings, int32_t column, int32_t row,
                            int32_t level);

// The same, given the hit's normalSamplePoint, for callers that need that
// point too.
SurfaceNormal surfaceNormalAt(const RenderSettings *settings, int32_t level, ViewPoint sample);

}  // namespace quatdepth
