#include "julia/nearest_search.h"

#include "julia/depth_search.h"
#include "julia/escape_bound.h"
#include "julia/view_rotation.h"

namespace quatdepth {
namespace {

// How one probe ended, with what its reach needs.
struct Probe {
  bool inside = false;
  double beyond = 0;       // n of the pass that stopped it
  double lastQ = 0;        // |q|^2 before that pass
  double lastProduct = 1;  // the deviation product before it
  double least = 1;        // the least product of the passes
  int32_t passes = 0;
};

// The membership test of (x, y, z, wSlice), pass for pass as
// isInsideJulia, keeping the deviation product. Past an escape it runs on
// while the square is within twice the bailout's root (and passes are
// left), which widens the reach of a bare escape many times.
Probe runProbe(const RenderSettings *s, const EscapeReach &r, double x, double y, double z,
               double zetaTerm) {
  const double bailout = s->bailout;
  const int32_t cap = s->maxIterations < 1 ? 1 : s->maxIterations;
  Probe p;
  double a = x, b = y, c = z, d = s->wSlice;
  double product = 1, least = 1;
  bool escaped = false;
  for (int32_t i = 1;; ++i) {
    p.lastQ = ((a * a + b * b) + c * c) + d * d;
    p.lastProduct = product;
    growDeviation<OneLane>(r.grow, p.lastQ, zetaTerm, &product, &least);
    double t = a + a;
    double aSquared = ((a * a - b * b) - c * c) - d * d;
    double bSquared = t * b;
    double cSquared = t * c;
    double dSquared = t * d;
    const double n = ((aSquared * aSquared + bSquared * bSquared) + cSquared * cSquared) +
                     dSquared * dSquared;
    a = aSquared + s->juliaC[0];
    b = bSquared + s->juliaC[1];
    c = cSquared + s->juliaC[2];
    d = dSquared + s->juliaC[3];
    p.beyond = n;
    p.passes = i;
    p.least = least;
    if (!(bailout > n)) escaped = true;
    if (i >= cap || (escaped && !(n < 4 * bailout))) break;
  }
  p.inside = !escaped;
  return p;
}

}  // namespace

ProbeReach probeReach(const RenderSettings *s, const EscapeReach &r, double x, double y,
                      double z, double zeta) {
  const Probe p = runProbe(s, r, x, y, z, r.nonlinear * zeta * zeta);
  ProbeReach result{p.inside, 0, 0};
  if (p.inside) return result;
  result.reach = reachOfEscape<OneLane>(r, p.beyond, r.bailoutRoot, p.lastQ, p.lastProduct,
                                        p.least, p.passes, zeta, &result.unlimited);
  // The rounding allowance holds for starts within the norm it assumed.
  const double startNorm = ((x * x + y * y) + z * z) + s->wSlice * s->wSlice;
  if (!(startNorm <= r.largestStart)) result.reach = 0;
  return result;
}

int32_t findNearestSurfaceDepth(const RenderSettings *s, const EscapeReach &r, int32_t column,
                                int32_t row) {
  if (!(s->bailout > 0)) return -1;  // every square's norm reaches it
  const int32_t depthLevels = s->coarseSteps * s->fineSteps;
  const double x = gridCoordinate(s->xMin, s->xMax, column, s->width);
  const double y = gridCoordinate(s->yMin, s->yMax, row, s->height);
  double zeta = r.longestReach;
  // 64 bits: a skip may run past the last level.
  for (int64_t level = 0; level <= depthLevels;) {
    double px = x, py = y;
    double pz = gridCoordinate(s->zMin, s->zMax, static_cast<int32_t>(level), depthLevels);
    rotateAboutCentre(s, &px, &py, &pz);
    const ProbeReach probe = probeReach(s, r, px, py, pz, zeta);
    if (probe.inside) return static_cast<int32_t>(level);
    level += 1 + levelsWithin(r, probe.reach);
    zeta = nextZeta<OneLane>(r, probe.unlimited);
  }
  return -1;
}

void findRowNearestDepthsScalar(const RenderSettings *s, int32_t row, int32_t *depths) {
  const EscapeReach reach = escapeReach(s, sureEscapeNorm(s));
  for (int32_t column = 0; column < s->width; ++column)
    depths[column] = findNearestSurfaceDepth(s, reach, column, row);
}

}  // namespace quatdepth
