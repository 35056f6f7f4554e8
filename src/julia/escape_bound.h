#pragma once

#include <cmath>
#include <cstdint>

#include "settings/render_settings.h"

namespace quatdepth {

// A squared norm from which every point of the view surely escapes within
// the iteration cap: a probe whose starting quaternion (x, y, z, wSlice)
// has at least this squared norm is outside, so the vector searches give
// it no pass. The answers stay the membership test's, bit for bit.
// 0 when the bailout is 0 or less (every point is outside); +infinity when
// no norm can be shown to escape in time.
double escapeNormSquared(const RenderSettings *settings);

// Both bounds of one view. Each takes a bisection to find, so a caller
// testing many batches of points finds them once.
struct EscapeBounds {
  double startNormSquared = 0.0;  // escapeNormSquared
  double sureNorm = 0.0;          // sureEscapeNorm
};
EscapeBounds escapeBoundsOf(const RenderSettings *settings);

// Passes within which a probe that reaches sureEscapeNorm surely escapes.
constexpr int32_t kSureEscapePasses = 6;

// A squared norm of the quaternion a pass makes (the square plus juliaC)
// from which the orbit surely escapes within kSureEscapePasses more
// passes: a probe that reaches it at a pass at least that many short of
// the cap is outside, and the vector searches stop it there, testing this
// norm in place of the bailout. It can stand in for the bailout because
// every square that leaves the bailout makes a quaternion beyond it, and
// a search need not test it every pass because a quaternion beyond it
// makes one beyond it again; +infinity when either is not so, or nothing
// can be shown.
double sureEscapeNorm(const RenderSettings *settings);

// The passes (counted from 0) that take the sure-escape test: those before
// this, kSureEscapePasses short of the cap, or none without a norm.
inline int32_t sureEscapeUntil(const RenderSettings *settings, double sureNorm) {
  const int32_t cap = settings->maxIterations < 1 ? 1 : settings->maxIterations;
  return std::isfinite(sureNorm) ? cap - kSureEscapePasses : 0;
}

// Whether a probe starting at (x, y, z, w) surely escapes, given
// wSquared = w x w: its squared norm, summed in this order, is at least the
// bound, or not a number (a start that is not a number escapes at once).
inline bool surelyEscapes(double x, double y, double z, double wSquared, double bound) {
  return !(((x * x + y * y) + z * z) + wSquared < bound);
}

// Coarse positions first to last (level / fineSteps) of one pixel's ray;
// empty when first > last.
struct CoarseSpan {
  int32_t first, last;
};

// The coarse probes of one row's pixels that may stay in the set. A
// pixel's sample points lie on a straight line through the box, so those
// within the escape bound's sphere are one run of coarse positions, found
// from a quadratic; every coarse probe outside the span surely escapes.
// The span errs wide by far more than the rounding of the probes' own
// coordinates and of its own arithmetic (kept precise for boxes far off
// the origin), so it never leaves out a probe the bound does not decide.
class CoarseSpans {
 public:
  CoarseSpans() = default;  // no row: every span is empty
  // `py` is the row's y less the centre's, as the searches compute it.
  CoarseSpans(const RenderSettings *settings, double py, double bound);

  // For the pixel whose x less the centre's is px.
  CoarseSpan span(double px) const;
  // The spans of `count` pixels, px[i] to spans[i]. A span is a long chain
  // of dependent operations: a batch's chains overlap, where one pixel's
  // at a time would wait between two searches.
  void spans(const double *px, int32_t count, CoarseSpan *spans) const;

 private:
  CoarseSpan spanAt(double px) const;

  double cosB_ = 0, sinB_ = 0, cosC_ = 0, sinC_ = 0;
  double centreX_ = 0, centreY_ = 0, centreZ_ = 0;
  double rowX1_ = 0, rowY1_ = 0, rowZ2_ = 0;  // the row's part of the line's point at pz = 0
  double ux_ = 0, uy_ = 0, uz_ = 0, uu_ = 0;  // a sample point's step per unit of z
  double radius_ = 0, radiusSquared_ = 0;  // of the sphere in x, y, z the span keeps
  double zMin_ = 0, zSpan_ = 0, depthLevels_ = 0, fineSteps_ = 1;
  double perUU_ = 0, levelsPerZ_ = 0, perFineStep_ = 1;
  double margin_ = 0;         // in z, for the rounding of everything
  int32_t coarseLevels_ = 0;
  bool bounded_ = false;      // false: every span is all coarse levels
};

}  // namespace quatdepth
