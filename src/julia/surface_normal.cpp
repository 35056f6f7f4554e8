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

struct Vector3 {
  double x = 0.0, y = 0.0, z = 0.0;
};

Vector3 operator+(Vector3 a, Vector3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vector3 operator*(double k, Vector3 a) { return {k * a.x, k * a.y, k * a.z}; }
double length(Vector3 a) { return std::sqrt((a.x * a.x + a.y * a.y) + a.z * a.z); }

// A quaternion and its derivatives along the three view axes, the
// derivatives up to a common power of two.
struct DualQuaternion {
  double q[4];
  double d[3][4];  // d[axis][component]
};

// q -> q^2 + c, and d(q^2) = q dq + dq q, which for a square is
// (2 a da - 2 b db - 2 c dc - 2 d dd, 2 (a db + b da), ...). Returns the
// squared norm of q^2, formed as the membership test forms it, which
// judges escape on the square before the constant is added.
double step(const RenderSettings *s, DualQuaternion *p) {
  const double a = p->q[0], b = p->q[1], c = p->q[2], d = p->q[3];
  for (auto &dq : p->d) {
    const double da = dq[0], db = dq[1], dc = dq[2], dd = dq[3];
    dq[0] = 2.0 * (((a * da - b * db) - c * dc) - d * dd);
    dq[1] = 2.0 * (a * db + b * da);
    dq[2] = 2.0 * (a * dc + c * da);
    dq[3] = 2.0 * (a * dd + d * da);
  }
  const double t = a + a;
  const double aSquared = ((a * a - b * b) - c * c) - d * d;
  const double bSquared = t * b, cSquared = t * c, dSquared = t * d;
  p->q[0] = aSquared + s->juliaC[0];
  p->q[1] = bSquared + s->juliaC[1];
  p->q[2] = cSquared + s->juliaC[2];
  p->q[3] = dSquared + s->juliaC[3];
  return ((aSquared * aSquared + bSquared * bSquared) + cSquared * cSquared) +
         dSquared * dSquared;
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

double squaredNorm(const double q[4]) {
  return ((q[0] * q[0] + q[1] * q[1]) + q[2] * q[2]) + q[3] * q[3];
}

// Once an orbit has passed the bailout it is run on to this squared
// radius, where the direction of the gradient of |q_n|^2 no longer
// depends on n: without it, the normals of neighbouring pixels whose
// points escape one iteration apart would differ, and the picture would
// show the escape counts' contours.
constexpr double kFarSquaredRadius = 1e20;
// From the bailout to kFarSquaredRadius takes a handful of iterations.
constexpr int32_t kFarIterations = 64;
// A normal is measured 2^kFirstDoubling to 2^kLastDoubling pixels out.
constexpr int kFirstDoubling = 2;
constexpr int kLastDoubling = 6;

// The gradient of |q_n|^2 along the view's axes (up to a positive
// factor) at a point outside the set, its orbit run to
// kFarSquaredRadius. `escaped` is false where the orbit stays within the
// bailout up to the cap, or the gradient vanishes; then it means nothing.
struct Potential {
  bool escaped = false;
  Vector3 gradient;
};

Potential potentialAt(const RenderSettings *s, const Vector3 axes[3], Vector3 point) {
  DualQuaternion p{};
  p.q[0] = point.x, p.q[1] = point.y, p.q[2] = point.z, p.q[3] = s->wSlice;
  for (int axis = 0; axis < 3; ++axis)
    p.d[axis][0] = axes[axis].x, p.d[axis][1] = axes[axis].y, p.d[axis][2] = axes[axis].z,
    p.d[axis][3] = 0.0;
  Potential result;
  // Outside exactly where the membership test says so: escape within the
  // cap, and at least one pass whatever the cap.
  const double bailout = s->bailout;
  for (int32_t i = 1;; ++i) {
    const double squareNorm = step(s, &p);
    if ((i & 7) == 0) rescale(&p);
    if (!(bailout > squareNorm)) break;
    if (i >= s->maxIterations) return result;
  }
  rescale(&p);
  for (int32_t j = 0; j < kFarIterations && !(squaredNorm(p.q) > kFarSquaredRadius); ++j) {
    step(s, &p);
    rescale(&p);
  }
  double g[3];
  for (int axis = 0; axis < 3; ++axis)
    g[axis] = ((p.q[0] * p.d[axis][0] + p.q[1] * p.d[axis][1]) + p.q[2] * p.d[axis][2]) +
              p.q[3] * p.d[axis][3];
  result.gradient = {g[0], g[1], g[2]};
  const double size = length(result.gradient);
  result.escaped = size > 0.0 && std::isfinite(size);
  return result;
}

// A distance from the point to the set that errs on the near side:
// |q_n| log|q_n| / (2 |q_n'|), where |q_n'|, the quaternion derivative's
// norm, is the product of the 2 |q_k| (|ab| = |a| |b| for quaternions),
// kept as a mantissa and a power of two so that no cap overflows it.
// Zero where the orbit stays within the bailout up to the cap.
double distanceToSet(const RenderSettings *s, Vector3 point) {
  double a = point.x, b = point.y, c = point.z, d = s->wSlice;
  double derivativeSquared = 1.0;
  int exponent = 0;
  // Returns the squared norm of q^2, on which the membership test judges
  // escape.
  auto iterate = [&] {
    derivativeSquared *= 4.0 * (((a * a + b * b) + c * c) + d * d);
    const double t = a + a;
    const double aSquared = ((a * a - b * b) - c * c) - d * d;
    const double bSquared = t * b, cSquared = t * c, dSquared = t * d;
    a = aSquared + s->juliaC[0];
    b = bSquared + s->juliaC[1];
    c = cSquared + s->juliaC[2];
    d = dSquared + s->juliaC[3];
    return ((aSquared * aSquared + bSquared * bSquared) + cSquared * cSquared) +
           dSquared * dSquared;
  };
  const double bailout = s->bailout;
  for (int32_t i = 1;; ++i) {
    if (!(bailout > iterate())) break;
    if (i >= s->maxIterations) return 0.0;
    // At most 4 |q|^2 <= 4 sqrt(bailout) a step while within the bailout;
    // a mantissa and a power of two every eight keep that in range.
    if ((i & 7) == 0) {
      int e;
      derivativeSquared = std::frexp(derivativeSquared, &e);
      exponent += e;
    }
  }
  double r2 = ((a * a + b * b) + c * c) + d * d;
  for (int32_t j = 0; j < kFarIterations && !(r2 > kFarSquaredRadius); ++j) {
    iterate();
    r2 = ((a * a + b * b) + c * c) + d * d;
  }
  if (!std::isfinite(r2) || !std::isfinite(derivativeSquared) || !(derivativeSquared > 0.0))
    return 0.0;
  // 0.5 |q| log|q| / |q'|, with log|q| = log(r2) / 2.
  return 0.25 * std::sqrt(std::ldexp(r2 / derivativeSquared, -exponent)) * std::log(r2);
}

// The turned point of the set's space at (x, y, z) in the view's frame.
Vector3 turned(const RenderSettings *s, Vector3 v) {
  rotateAboutCentre(s, &v.x, &v.y, &v.z);
  return v;
}

// A pixel's width: the finer of its two sides that has a size.
double pixelWidth(const RenderSettings *s) {
  const double across = std::fabs(s->xMax - s->xMin) / std::max(s->width, 1);
  const double down = std::fabs(s->yMax - s->yMin) / std::max(s->height, 1);
  if (!(across > 0.0)) return down;
  if (!(down > 0.0)) return across;
  return std::min(across, down);
}

// +1 where the picture's axis (columns to the right, rows down, levels
// away from the viewer) runs with the box's, -1 where the box is given
// the other way round.
double axisSign(double lo, double hi) { return hi >= lo ? 1.0 : -1.0; }

}  // namespace

ViewPoint normalSamplePoint(const RenderSettings *s, int32_t column, int32_t row,
                            int32_t level) {
  const int32_t levels = s->coarseSteps * s->fineSteps;
  const Vector3 hit{gridCoordinate(s->xMin, s->xMax, column, s->width),
                    gridCoordinate(s->yMin, s->yMax, row, s->height),
                    gridCoordinate(s->zMin, s->zMax, level, levels)};
  const double reach = pixelWidth(s);
  const Vector3 towardViewer{0.0, 0.0, -axisSign(s->zMin, s->zMax)};
  // Never in front of the box: the set there is cut away, and the surface
  // the viewer sees is the box's face.
  const double room = std::fabs(hit.z - s->zMin);
  if (level <= 0 || !(reach > 0.0)) return {hit.x, hit.y, hit.z};
  // Doubling steps from four pixels out until the estimate reaches a
  // pixel's width, then a secant step between the last two, so that the
  // point moves continuously as the estimates do instead of jumping
  // between doublings from one pixel to the next. The first step is four
  // pixels because the estimate, which errs on the near side, almost
  // never reaches a pixel closer in.
  double along = 0.0, previousAlong = 0.0, previousDistance = 0.0;
  for (int doubling = kFirstDoubling; doubling <= kLastDoubling; ++doubling) {
    along = std::ldexp(reach, doubling);
    if (!(along < room)) {
      along = room;
      break;
    }
    const double distance = distanceToSet(s, turned(s, hit + along * towardViewer));
    if (distance >= reach) {
      along = previousAlong +
              (along - previousAlong) * ((reach - previousDistance) / (distance - previousDistance));
      break;
    }
    previousAlong = along, previousDistance = distance;
  }
  // Never nearer than the nearest level the search found outside: where
  // the cap is low, the capped set is far larger than the set the estimate
  // measures from, the estimate is large at once, and the secant would land
  // between that level and the hit, perhaps inside.
  const double levelSpacing = std::fabs(s->zMax - s->zMin) / levels;
  if (!(along > levelSpacing))
    return {hit.x, hit.y, gridCoordinate(s->zMin, s->zMax, level - 1, levels)};
  const Vector3 sample = hit + along * towardViewer;
  return {sample.x, sample.y, sample.z};
}

SurfaceNormal setNormalAt(const RenderSettings *s, ViewPoint point) {
  Vector3 axes[3] = {{1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}};
  for (Vector3 &a : axes) turnDirection(s, &a.x, &a.y, &a.z);
  const Potential potential = potentialAt(s, axes, turned(s, {point.x, point.y, point.z}));
  if (!potential.escaped) return {0.0, 0.0, -axisSign(s->zMin, s->zMax)};
  const Vector3 g = potential.gradient;
  const double size = length(g);
  return {g.x / size, g.y / size, g.z / size};
}

SurfaceNormal surfaceNormal(const RenderSettings *s, int32_t column, int32_t row,
                            int32_t level) {
  return surfaceNormalAt(s, level, normalSamplePoint(s, column, row, level));
}

SurfaceNormal surfaceNormalAt(const RenderSettings *s, int32_t level, ViewPoint sample) {
  // A hit on the box's near face is the set cut open by the box.
  if (level == 0) return {0.0, 0.0, -1.0};
  const SurfaceNormal n = setNormalAt(s, sample);
  SurfaceNormal picture{axisSign(s->xMin, s->xMax) * n.x, axisSign(s->yMin, s->yMax) * n.y,
                        axisSign(s->zMin, s->zMax) * n.z};
  // A surface the viewer sees faces the viewer. Where the set is finer
  // than the sample's distance, the gradient there may point a little
  // away; such a normal is mirrored into the viewer's half, as renderers
  // turn normals forward, rather than left to shade the pixel black.
  if (picture.z > 0.0) picture.z = -picture.z;
  return picture;
}

}  // namespace quatdepth
