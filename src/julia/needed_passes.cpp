#include "julia/needed_passes.h"

#include <cstdint>

#include "julia/depth_search.h"
#include "julia/escape_bound.h"
#include "julia/view_rotation.h"

namespace quatdepth {
namespace {

struct Quaternion {
  double a, b, c, d;
  bool operator==(const Quaternion &) const = default;
};

// One pass of the membership test; *n gets the escape value.
Quaternion pass(const RenderSettings *s, Quaternion q, double *n) {
  const double t = q.a + q.a;
  const Quaternion square{((q.a * q.a - q.b * q.b) - q.c * q.c) - q.d * q.d, t * q.b, t * q.c,
                          t * q.d};
  *n = ((square.a * square.a + square.b * square.b) + square.c * square.c) +
       square.d * square.d;
  return {square.a + s->juliaC[0], square.b + s->juliaC[1], square.c + s->juliaC[2],
          square.d + s->juliaC[3]};
}

// The first pass at which the orbit of `start`, inside for `passes`
// passes, comes back to a quaternion it had, or `passes` if it does not
// by then. The period comes from Brent's method: the quaternion kept at
// doubling intervals and compared after every pass. Brent sees a cycle up
// to about three times later than its first return, so it runs on past
// the cap: an orbit that returns by the cap never escapes, and one that
// escapes after the cap did not return by it.
int32_t firstReturn(const RenderSettings *s, Quaternion start, int32_t passes) {
  const double bailout = s->bailout;
  Quaternion kept = start, q = start;
  int64_t period = 0;
  for (int64_t i = 1, interval = 1, since = 0; i <= 3 * int64_t{passes} + 2; ++i) {
    double n;
    q = pass(s, q, &n);
    if (!(bailout > n)) return passes;
    if (q == kept) {
      period = since + 1;
      break;
    }
    if (++since == interval) kept = q, interval *= 2, since = 0;
  }
  if (period == 0 || period > passes) return passes;
  // The first pass i whose quaternion is the one of pass i - period.
  Quaternion behind = start, ahead = start;
  double n;
  for (int64_t i = 0; i < period; ++i) ahead = pass(s, ahead, &n);
  int64_t first = period;
  while (!(ahead == behind) && first < passes)
    ahead = pass(s, ahead, &n), behind = pass(s, behind, &n), ++first;
  return static_cast<int32_t>(first);
}

}  // namespace

// isInsideJulia's loop, counting its passes.
int32_t membershipPasses(const RenderSettings *s, double x, double y, double z,
                         bool *inside) {
  const double bailout = s->bailout;
  Quaternion q{x, y, z, s->wSlice};
  double n;
  int32_t i = 0;
  do {
    q = pass(s, q, &n);
    ++i;
  } while (i < s->maxIterations && bailout > n);
  *inside = bailout > n;
  return i;
}

namespace {

// The pass at which a search stops an outside probe: its escape, or the
// first pass at least kSureEscapePasses short of the cap whose new
// quaternion reaches `sureNorm`.
int32_t passesToStop(const RenderSettings *s, Quaternion q, double sureNorm) {
  const double bailout = s->bailout;
  const int32_t sureUntil = sureEscapeUntil(s, sureNorm);
  double n;
  int32_t i = 0;
  do {
    q = pass(s, q, &n);
    ++i;
    const double m = ((q.a * q.a + q.b * q.b) + q.c * q.c) + q.d * q.d;
    if (i - 1 < sureUntil && !(m < sureNorm)) return i;  // pass i - 1 from 0
  } while (i < s->maxIterations && bailout > n);
  return i;
}

// passesToKnow, given the view's sureEscapeNorm.
int32_t passesToKnow(const RenderSettings *s, Quaternion start, double sureNorm) {
  bool inside;
  const int32_t passes = membershipPasses(s, start.a, start.b, start.c, &inside);
  return inside ? firstReturn(s, start, passes) : passesToStop(s, start, sureNorm);
}

}  // namespace

int32_t passesToKnow(const RenderSettings *s, double x, double y, double z) {
  return passesToKnow(s, {x, y, z, s->wSlice}, sureEscapeNorm(s));
}

namespace {

// One probe of the pixel's ray, at the reference search's coordinates.
struct Ray {
  const RenderSettings *s;
  double x, y;
  int32_t depthLevels;
  double escapeBound, sureNorm;

  bool probe(int32_t level, PixelPasses *passes) const {
    double px = x, py = y;
    double pz = gridCoordinate(s->zMin, s->zMax, level, depthLevels);
    rotateAboutCentre(s, &px, &py, &pz);
    bool inside;
    passes->lanePasses += membershipPasses(s, px, py, pz, &inside);
    if (!surelyEscapes(px, py, pz, s->wSlice * s->wSlice, escapeBound))
      passes->passesToRun += passesToKnow(s, {px, py, pz, s->wSlice}, sureNorm);
    return inside;
  }
};

}  // namespace

PixelPasses neededPixelPasses(const RenderSettings *s, int32_t column, int32_t row,
                              double escapeBound, double sureNorm) {
  const Ray ray{s, gridCoordinate(s->xMin, s->xMax, column, s->width),
                gridCoordinate(s->yMin, s->yMax, row, s->height),
                s->coarseSteps * s->fineSteps, escapeBound, sureNorm};
  PixelPasses passes{-1, 0, 0};
  for (int32_t k = 0; k <= ray.depthLevels; k += s->fineSteps) {
    if (!ray.probe(k, &passes)) continue;
    passes.depth = k;
    // The nearest inside level between the previous coarse probe and k.
    for (int32_t level = k - s->fineSteps + 1; k > 0 && level < k; ++level) {
      if (ray.probe(level, &passes)) {
        passes.depth = level;
        break;
      }
    }
    return passes;
  }
  return passes;
}

bool addNeededRowPasses(const RenderSettings *s, int32_t row, int64_t *passes,
                        int64_t *toRun) {
  const double none = std::numeric_limits<double>::infinity();
  const double bound = toRun ? escapeNormSquared(s) : none;
  const double sureNorm = toRun ? sureEscapeNorm(s) : none;
  int64_t sum = 0, toRunSum = 0;
  for (int32_t column = 0; column < s->width; ++column) {
    const PixelPasses pixel = neededPixelPasses(s, column, row, bound, sureNorm);
    if (pixel.depth != findSurfaceDepth(s, column, row)) return false;
    sum += pixel.lanePasses;
    toRunSum += pixel.passesToRun;
  }
  *passes += sum;
  if (toRun) *toRun += toRunSum;
  return true;
}

}  // namespace quatdepth
