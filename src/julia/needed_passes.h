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
// Of these passes, a search that knows the view's escape bound
// (escapeNormSquared), stops probes at the sure-escape norm
// (sureEscapeNorm) and spots an orbit that comes back to a quaternion it
// had still has to run those of the probes short of the bound, each up to
// its escape or sure escape, the cap, or its first return, whichever comes
// first: a floor, as it takes the sure-escape test on every pass, where
// the searches skip it on some and may see an escape a pass later.

// Passes the membership test runs for one point: it stops at the cap (at
// least one pass) or once the square's norm leaves the bailout. `inside`
// gets isInsideJulia's answer.
int32_t membershipPasses(const RenderSettings *settings, double x, double y,
                         double z, bool *inside);

// Passes until the membership test's answer is known to a search that
// spots cycles and sure escapes: membershipPasses, or fewer when the orbit
// first comes back exactly to a quaternion it had before the cap, or
// reaches the sure-escape norm with kSureEscapePasses to spare.
int32_t passesToKnow(const RenderSettings *settings, double x, double y, double z);

struct PixelPasses {
  int32_t depth;            // the same as findSurfaceDepth's
  int64_t lanePasses;       // passes of the probes the depth needs
  int64_t passesToRun;  // those a search knowing the bound, sure escapes and cycles runs
};

PixelPasses neededPixelPasses(
    const RenderSettings *settings, int32_t column, int32_t row,
    double escapeBound = std::numeric_limits<double>::infinity(),
    double sureEscapeNorm = std::numeric_limits<double>::infinity());

// The needed lane passes of every pixel of `row`, added to *passes, and
// when asked those still to run (passesToRun), added to *toRun.
// False, with both untouched, if a pixel's depth is not findSurfaceDepth's.
bool addNeededRowPasses(const RenderSettings *settings, int32_t row,
                        int64_t *passes, int64_t *toRun = nullptr);

}  // namespace quatdepth
