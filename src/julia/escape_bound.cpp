#include "julia/escape_bound.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace quatdepth {
namespace {

// Relative slack for rounding. One pass in doubles loses less than 16
// units in the last place (2^-53 each) of the norms below; 1e-12 covers
// that many hundred times over, and the same slack also covers the
// rounding of this bound's own arithmetic.
constexpr double kSlack = 1e-12;
// Passes a bound may take to show an escape. Above the fixed point the
// bounded norm at least doubles its distance from it each pass, so any
// start that escapes at all does so within a few hundred.
constexpr int64_t kMostPasses = 10000;

// Whether every point of norm r or more escapes within `passes` passes.
// A pass squares the quaternion, which squares its norm, and the membership
// test leaves once the square's squared norm, r^4, reaches the bailout;
// adding juliaC then takes at most |c| off the norm. Each step below is
// smaller than the norm it stands for, by more than any rounding.
bool normEscapes(double r, double bailout, double cNorm, int64_t passes) {
  for (int64_t pass = 0; pass < passes && pass < kMostPasses; ++pass) {
    const double squared = r * r;
    if (squared * squared * (1 - 10 * kSlack) >= bailout) return true;
    const double next = (squared * (1 - kSlack) - cNorm) * (1 - kSlack);
    if (!(next > r)) return false;  // no longer growing: it never will
    r = next;
  }
  return false;
}

// |juliaC|, taken a little long; infinity when it is not finite.
double constantNorm(const RenderSettings *s) {
  const double *c = s->juliaC;
  const double norm =
      std::sqrt(((c[0] * c[0] + c[1] * c[1]) + c[2] * c[2]) + c[3] * c[3]) * (1 + kSlack);
  return std::isfinite(norm) ? norm : std::numeric_limits<double>::infinity();
}

// The smallest norm from which every point escapes within `passes`, by
// bisection (escaping only gets easier as the norm grows); infinity when
// none can be shown to.
double smallestEscapingNorm(double bailout, double cNorm, int64_t passes) {
  if (!std::isfinite(cNorm)) return std::numeric_limits<double>::infinity();
  double high = 2;
  while (!normEscapes(high, bailout, cNorm, passes)) {
    high *= 2;
    if (high > 1e100) return std::numeric_limits<double>::infinity();
  }
  double low = 0;
  for (int step = 0; step < 100; ++step) {
    const double middle = low + (high - low) / 2;
    if (middle <= low || middle >= high) break;
    if (normEscapes(middle, bailout, cNorm, passes))
      high = middle;
    else
      low = middle;
  }
  return high;
}

}  // namespace

double escapeNormSquared(const RenderSettings *s) {
  const double bailout = static_cast<double>(s->bailout);
  if (bailout <= 0) return 0;
  const int64_t passes = s->maxIterations < 1 ? 1 : s->maxIterations;
  const double r = smallestEscapingNorm(bailout, constantNorm(s), passes);
  // A start's squared norm is summed with less than 4 units of rounding.
  return r * r * (1 + 1000 * kSlack);
}

double sureEscapeNorm(const RenderSettings *s) {
  const double none = std::numeric_limits<double>::infinity();
  const double bailout = static_cast<double>(s->bailout);
  const double cNorm = constantNorm(s);
  const double r = smallestEscapingNorm(bailout, cNorm, kSureEscapePasses);
  if (!std::isfinite(r) || !(bailout > 0)) return none;
  // A computed squared norm is within a few units in the last place of
  // the true one.
  const double norm = r * r * (1 + 1000 * kSlack);
  // A square that leaves the bailout has norm at least sqrt(bailout), and
  // adding juliaC takes at most |c| off it: the new quaternion must then
  // be beyond the norm too, or the test could not replace the bailout's.
  const double least = std::sqrt(bailout) * (1 - 1000 * kSlack) - cNorm;
  if (!(least > 0 && least * least * (1 - 1000 * kSlack) >= norm)) return none;
  // A quaternion beyond the norm makes one beyond it again (its square's
  // norm is its own squared, and adding juliaC takes at most |c| off), so
  // a search may test every other pass and miss no sure escape.
  const double next = norm * (1 - 1000 * kSlack) - cNorm;
  if (!(next > 0 && next * next * (1 - 1000 * kSlack) >= norm)) return none;
  return norm;
}

EscapeBounds escapeBoundsOf(const RenderSettings *s) {
  return {escapeNormSquared(s), sureEscapeNorm(s)};
}

CoarseSpans::CoarseSpans(const RenderSettings *s, double py, double bound)
    : cosB_(s->cosB), sinB_(s->sinB), cosC_(s->cosC), sinC_(s->sinC), centreX_(s->centreX),
      centreY_(s->centreY), centreZ_(s->centreZ), rowX1_(py * s->sinA * s->sinB),
      rowY1_(py * s->cosA), rowZ2_(py * s->sinA * s->cosB), zMin_(s->zMin),
      zSpan_(s->zMax - s->zMin),
      depthLevels_(static_cast<double>(s->coarseSteps) * s->fineSteps),
      fineSteps_(s->fineSteps), coarseLevels_(s->coarseSteps + 1) {
  // The turn about the centre is linear in a point's z offset pz: a pixel's
  // sample points are p0 + pz u, with u the same for every pixel.
  const double x1 = s->cosA * s->sinB, y1 = -s->sinA;
  ux_ = x1 * cosC_ - y1 * sinC_;
  uy_ = x1 * sinC_ + y1 * cosC_;
  uz_ = s->cosA * s->cosB;
  uu_ = ux_ * ux_ + uy_ * uy_ + uz_ * uz_;
  // How far a probe's computed coordinates can stray from the line: a few
  // units in the last place of the largest term they are summed from,
  // taken a million times over.
  const double reach = std::max({std::fabs(s->xMin - s->centreX), std::fabs(s->xMax - s->centreX),
                                 std::fabs(py), std::fabs(s->zMin - s->centreZ),
                                 std::fabs(s->zMax - s->centreZ)});
  const double turns = (1 + std::fabs(s->cosA) + std::fabs(s->sinA)) *
                       (1 + std::fabs(cosB_) + std::fabs(sinB_)) *
                       (1 + std::fabs(cosC_) + std::fabs(sinC_));
  const double scale = std::fabs(centreX_) + std::fabs(centreY_) + std::fabs(centreZ_) +
                       4 * reach * turns;
  const double stray = 1e-10 * scale;
  // A probe is left out only when its point, strayed towards the centre,
  // is still beyond the bound once the w part is taken off.
  const double wSquared = s->wSlice * s->wSlice;
  radius_ = std::sqrt(std::max(0.0, bound * (1 + 1e-9) - wSquared)) + stray;
  radiusSquared_ = radius_ * radius_;
  margin_ = 1e-6 * (scale + radius_ / std::sqrt(uu_) + std::fabs(s->zMin) + std::fabs(s->zMax));
  bounded_ = std::isfinite(radiusSquared_) && std::isfinite(margin_) && uu_ > 1e-12 &&
             std::isfinite(depthLevels_ / zSpan_) && zSpan_ != 0;
  // Every pixel's span multiplies by these instead of dividing; their
  // rounding is far inside the margins.
  perUU_ = 1 / uu_;
  levelsPerZ_ = depthLevels_ / zSpan_;
  perFineStep_ = 1 / fineSteps_;
}

[[gnu::always_inline]] inline CoarseSpan CoarseSpans::spanAt(double px) const {
  const CoarseSpan all{0, coarseLevels_ - 1};
  if (!bounded_) return all;
  const double x1 = px * cosB_ + rowX1_;
  const double p0x = centreX_ + (x1 * cosC_ - rowY1_ * sinC_);
  const double p0y = centreY_ + (x1 * sinC_ + rowY1_ * cosC_);
  const double p0z = centreZ_ + ((-px) * sinB_ + rowZ2_);
  // |p0 + pz u| < radius on a stretch of the line around its point nearest
  // the origin. The line's distance from the origin comes from a cross
  // product, which keeps its precision when the box is far off the origin
  // (the expanded quadratic would cancel), and is taken a little short.
  const double crossX = p0y * uz_ - p0z * uy_;
  const double crossY = p0z * ux_ - p0x * uz_;
  const double crossZ = p0x * uy_ - p0y * ux_;
  const double distanceSquared = (crossX * crossX + crossY * crossY + crossZ * crossZ) * perUU_;
  // At least the point's distance from the origin.
  const double offCentre = std::fabs(p0x) + std::fabs(p0y) + std::fabs(p0z);
  const double room = radiusSquared_ - distanceSquared + 1e-10 * (offCentre + radius_) * radius_;
  if (!std::isfinite(room)) return all;
  if (room < 0) return {0, -1};  // the line misses the sphere
  const double nearest = -(p0x * ux_ + p0y * uy_ + p0z * uz_) * perUU_;
  const double reach = std::sqrt(room * perUU_);
  const double nearPz = nearest - reach - margin_;
  const double farPz = nearest + reach + margin_;
  // The levels at those offsets, a level wider on each side.
  const double a = (nearPz + centreZ_ - zMin_) * levelsPerZ_;
  const double b = (farPz + centreZ_ - zMin_) * levelsPerZ_;
  if (!std::isfinite(a) || !std::isfinite(b)) return all;
  const double firstLevel = std::min(a, b) - 1, lastLevel = std::max(a, b) + 1;
  if (lastLevel < 0 || firstLevel > depthLevels_) return {0, -1};
  // Rounded out to coarse positions by conversion (floor and ceiling are
  // calls to the C library on plain x86-64); both lie in 0 .. coarseLevels_.
  const double firstCoarse = firstLevel * perFineStep_;
  const double lastCoarse = std::min(coarseLevels_ - 1.0, lastLevel * perFineStep_);
  const int32_t first = firstCoarse > 0 ? static_cast<int32_t>(firstCoarse) : 0;
  int32_t last = static_cast<int32_t>(lastCoarse);
  if (last < lastCoarse) ++last;
  return {first, last};
}

CoarseSpan CoarseSpans::span(double px) const { return spanAt(px); }

void CoarseSpans::spans(const double *px, int32_t count, CoarseSpan *spans) const {
  for (int32_t i = 0; i < count; ++i) spans[i] = spanAt(px[i]);
}

}  // namespace quatdepth
