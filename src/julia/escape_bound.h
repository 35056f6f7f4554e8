#pragma once

#include "settings/render_settings.h"

namespace quatdepth {

// A squared norm from which every point of the view surely escapes within
// the iteration cap: a probe whose starting quaternion (x, y, z, wSlice)
// has at least this squared norm is outside, so the vector searches give
// it no pass. The answers stay the membership test's, bit for bit.
// 0 when the bailout is 0 or less (every point is outside); +infinity when
// no norm can be shown to escape in time.
double escapeNormSquared(const RenderSettings *settings);

// Whether a probe starting at (x, y, z, w) surely escapes, given
// wSquared = w x w: its squared norm, summed in this order, is at least the
// bound, or not a number (a start that is not a number escapes at once).
inline bool surelyEscapes(double x, double y, double z, double wSquared, double bound) {
  return !(((x * x + y * y) + z * z) + wSquared < bound);
}

}  // namespace quatdepth
