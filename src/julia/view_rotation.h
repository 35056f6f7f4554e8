#pragma once

#include "settings/render_settings.h"

namespace quatdepth {

// Turns (x, y, z) about the centre of the view box by angle A about x, then
// B about y, then C about z; the order matters, the turns do not commute.
void rotateAboutCentre(const RenderSettings *settings, double *x, double *y,
                       double *z);

}  // namespace quatdepth
