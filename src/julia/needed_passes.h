#pragma once

#include <cstdint>
#include <limits>

#include "settings/render_settings.h"

namespace quatdepth {

// The work a depth answer needs, counted in lane passes (one pass of
// q -> q^2 + c on one probe), whatever path computes it: the measure the
// search's efficiency is taken against. A pixel needs its coarse probes
// (0, fineSteps, ... up to the coarse hit, or all coarseSteps + 1 on a
// miss) and, after a coarse hit k0 > 0, the refinement probes from the near
// side (k0 - fineSteps + 1 upwards) up to the first inside one.
// Of these, the probes that start beyond the view's escape bound
// (escapeNormSquared) are decided without a pass: the rest are the work a
// search that knows the bound cannot avoid.

// Passes the membership test runs for one point: it stops at the cap (at
// least one pass) or once the square's norm leaves the bailout. `inside`
// gets isInsideJulia's answer.
int32_t membershipPasses(const RenderSettings *settings, double x, double y,
                         double z, bool *inside);

struct PixelPasses {
  int32_t depth;            // the same as findSurfaceDepth's
  int64_t lanePasses;       // passes of the probes the depth needs
  int64_t undecidedPasses;  // those of probes short of the escape bound
};

PixelPasses neededPixelPasses(
    const RenderSettings *settings, int32_t column, int32_t row,
    double escapeBound = std::numeric_limits<double>::infinity());

// The needed lane passes of every pixel of `row`, added to *passes, and
// when asked those short of the view's escape bound, added to *undecided.
// False, with both untouched, if a pixel's depth is not findSurfaceDepth's.
bool addNeededRowPasses(const RenderSettings *settings, int32_t row,
                        int64_t *passes, int64_t *undecided = nullptr);

}  // namespace quatdepth
