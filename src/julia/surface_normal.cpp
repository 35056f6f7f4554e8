#include "julia/surface_normal.h"

#include <algorithm>
#include <cmath>

#include "julia/depth_search.h"
#include "julia/view_rotation.h"

namespace quatdepth {
namespace {

// One view axis turned as the search turns its points: the same turns,
// without the pivot, since only directions matter here.
void turnDirection(const RenderSettings *s, double *x, double *y, double *z) {
  const double y1 = *y * s->cosA - *z * s->sinA;
  const double z1 = *y * s->sinA + *z * s->cosA;
  const double x1 = *x * s->cosB + z1 * s->sinB;
  const double z2 = (-*x) * s->sinB + z1 * s->cosB;
  *x = x1 * s->cosC - y1 * s->sinC;
  *y = x1 * s->sinC + y1 * s->cosC;
  *z = z2;
}

// A quaternion and its derivatives along the three view axes.
struct DualQuaternion {
  double q[4];
  double d[3][4];  // d[axis][component]
};

// q -> q^2 + c, and d(q^2) = q dq + dq q, which for a square is
// (2 a da - 2 b db - 2 c dc - 2 d dd, 2 (a db + b da), ...).
void step(const RenderSettings *s, DualQuaternion *p) {
  const double a = p->q[0], b = p->q[1], c = p->q[2], d = p->q[3];
  for (auto &dq : p->d) {
    const double da = dq[0], db = dq[1], dc = dq[2], dd = dq[3];
    dq[0] = 2.0 * (((a * da - b * db) - c * dc) - d * dd);
    dq[1] = 2.0 * (a * db + b * da);
    dq[2] = 2.0 * (a * dc + c * da);
    dq[3] = 2.0 * (a * dd + d * da);
  }
  const double t = a + a;
  p->q[0] = (((a * a - b * b) - c * c) - d * d) + s->juliaC[0];
  p->q[1] = t * b + s->juliaC[1];
  p->q[2] = t * c + s->juliaC[2];
  p->q[3] = t * d + s->juliaC[3];
}

// The derivatives grow (or shrink) geometrically with the iterations; a
// power of two keeps them in range without changing their direction.
void rescale(DualQuaternion *p) {
  double largest = 0.0;
  for (const auto &dq : p->d)
    for (double v : dq) largest = std::max(largest, std::fabs(v));
  if (largest == 0.0 || !std::isfinite(largest)) return;
  const int exponent = std::ilogb(largest);
  if (exponent > -256 && exponent < 256) return;
  for (auto &dq : p->d)
    for (double &v : dq) v = std::ldexp(v, -exponent);
}

}  // namespace

int32_t escapeIteration(const RenderSettings *s, double x, double y, double z) {
  const double bailout = s->bailout;
  double a = x, b = y, c = z, d = s->wSlice;
  int32_t i = 0;
  for (;;) {
    const double t = a + a;
    const double aSquared = ((a * a - b * b) - c * c) - d * d;
    const double bSquared = t * b;
    const double cSquared = t * c;
    const double dSquared = t * d;
    const double n = ((aSquared * aSquared + bSquared * bSquared) + cSquared * cSquared) +
                     dSquared * dSquared;
    a = aSquared + s->juliaC[0];
    b = bSquared + s->juliaC[1];
    c = cSquared + s->juliaC[2];
    d = dSquared + s->juliaC[3];
    ++i;
    if (i >= s->maxIterations || !(bailout > n)) return i;
  }
}

SurfaceNormal surfaceNormal(const RenderSettings *s, int32_t column, int32_t row,
                            int32_t level) {
  const int32_t levels = s->coarseSteps * s->fineSteps;
  const double x = gridCoordinate(s->xMin, s->xMax, column, s->width);
  const double y = gridCoordinate(s->yMin, s->yMax, row, s->height);
  auto turnedAt = [&](int32_t k, double *px, double *py, double *pz) {
    *px = x, *py = y, *pz = gridCoordinate(s->zMin, s->zMax, k, levels);
    rotateAboutCentre(s, px, py, pz);
  };

  // n comes from a point about two pixels' width nearer than the hit, so
  // the iteration resolves what a pixel can show: the hit point's own
  // iterates, run as long as the nearest outside level's, would follow
  // the set's chaos far below a pixel and speckle the picture.
  constexpr double kFootprintPixels = 2.0;
  const double levelSize = std::fabs(s->zMax - s->zMin) / levels;
  const double pixelSize = std::fabs(s->xMax - s->xMin) / std::max(s->width, 1);
  const double footprint = levelSize > 0 ? kFootprintPixels * pixelSize / levelSize : 1.0;
  const int32_t back = static_cast<int32_t>(std::clamp(std::round(footprint), 1.0, 1e6));
  double nx, ny, nz;
  turnedAt(level - back, &nx, &ny, &nz);
  const int32_t iterations = escapeIteration(s, nx, ny, nz);

  DualQuaternion p{};
  turnedAt(level, &p.q[0], &p.q[1], &p.q[2]);
  p.q[3] = s->wSlice;
  for (int axis = 0; axis < 3; ++axis) {
    double dx = axis == 0, dy = axis == 1, dz = axis == 2;
    turnDirection(s, &dx, &dy, &dz);
    p.d[axis][0] = dx, p.d[axis][1] = dy, p.d[axis][2] = dz, p.d[axis][3] = 0.0;
  }
  for (int32_t i = 0; i < iterations; ++i) {
    step(s, &p);
    rescale(&p);
  }
  // d|q|^2 = 2 q . dq; the factor 2 does not change the direction.
  double g[3];
  for (int axis = 0; axis < 3; ++axis)
    g[axis] = ((p.q[0] * p.d[axis][0] + p.q[1] * p.d[axis][1]) + p.q[2] * p.d[axis][2]) +
              p.q[3] * p.d[axis][3];
  const double length = std::sqrt((g[0] * g[0] + g[1] * g[1]) + g[2] * g[2]);
  if (!(length > 0.0) || !std::isfinite(length)) return {0.0, 0.0, -1.0};
  return {g[0] / length, g[1] / length, g[2] / length};
}

}  // namespace quatdepth
