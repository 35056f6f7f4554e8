#include "julia/escape_reach.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quatdepth {
namespace {

constexpr double kUnit = 0x1p-53;  // a unit in the last place, relative
constexpr double kLonger = 1 + 1e-12, kShorter = 1 - 1e-12;

}  // namespace

EscapeReach escapeReach(const RenderSettings *s, double sureNorm) {
  EscapeReach r;
  const int32_t cap = s->maxIterations < 1 ? 1 : s->maxIterations;
  // theta trades the passes' relative excess, (1 + theta) each, against
  // the deviation's own growth near the stop, (1 + 1/theta) zeta^2 P. Three
  // over the cap took the fewest probes on views with caps of 10 to 200.
  const double theta = std::clamp(3.0 / cap, 1.0 / 512, 1.0 / 8);
  r.grow = 4 * (1 + theta) * kLonger;
  r.nonlinear = (1 + 1 / theta) * kLonger;
  const double bailout = static_cast<double>(s->bailout);
  r.bailoutRoot = bailout > 0 ? std::sqrt(bailout) * kLonger : 0;
  const bool sure = std::isfinite(sureNorm);
  r.sureRoot = sure ? std::sqrt(sureNorm) * kLonger : 0;
  r.stopNorm = sure ? 4 * sureNorm : std::numeric_limits<double>::infinity();
  const double *c = s->juliaC;
  const double cNorm =
      std::sqrt(((c[0] * c[0] + c[1] * c[1]) + c[2] * c[2]) + c[3] * c[3]) * kLonger;
  // Before its stop a probe's quaternion stays short of the stop norm, or
  // of twice the bailout's root plus |c| (the scalar search runs on past
  // the bailout until its square is twice as far).
  const double twice = 2 * r.bailoutRoot + cNorm;
  r.largestStart = std::max(sure ? r.stopNorm : 0.0, twice * twice) * kLonger;
  // A computed pass: the square's parts round by 4.4 units of |q|^2, both
  // orbits', and adding c by one of each new quaternion's norm, about
  // 11 (|q|^2 + |c|) units in all; taken three times over.
  r.eta = 32 * kUnit * (r.largestStart + cNorm + 1);
  if (!std::isfinite(r.eta)) r.eta = std::numeric_limits<double>::infinity();
  const double levels = static_cast<double>(s->coarseSteps) * s->fineSteps;
  const double zSpan = std::fabs(s->zMax - s->zMin);
  r.levelStep = zSpan / levels * kLonger;
  r.perLevelStep = 1 / r.levelStep * kShorter;
  // A computed sample point strays from the exactly turned one by a few
  // units in the last place of the largest term it is summed from.
  const double reach = std::max({std::fabs(s->xMin - s->centreX), std::fabs(s->xMax - s->centreX),
                                 std::fabs(s->yMin - s->centreY), std::fabs(s->yMax - s->centreY),
                                 std::fabs(s->zMin - s->centreZ), std::fabs(s->zMax - s->centreZ)});
  const double turns = (1 + std::fabs(s->cosA) + std::fabs(s->sinA)) *
                       (1 + std::fabs(s->cosB) + std::fabs(s->sinB)) *
                       (1 + std::fabs(s->cosC) + std::fabs(s->sinC));
  const double scale = std::fabs(s->centreX) + std::fabs(s->centreY) + std::fabs(s->centreZ) +
                       4 * reach * turns + std::fabs(s->xMin) + std::fabs(s->zMin) +
                       std::fabs(s->yMin);
  r.strays = 2 * 1e-13 * scale;
  r.longestReach = zSpan * kLonger + r.strays + 2 * r.levelStep;
  if (!std::isfinite(r.levelStep) || !std::isfinite(r.strays) || !(r.levelStep > 0))
    r.longestReach = 0;  // nothing is skipped
  return r;
}

int32_t levelsWithin(const EscapeReach &r, double reach) {
  return static_cast<int32_t>(levelsWithinLanes<OneLane>(r, reach));
}

}  // namespace quatdepth
