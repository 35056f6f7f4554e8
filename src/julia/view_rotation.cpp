#include "julia/view_rotation.h"

namespace quatdepth {

void rotateAboutCentre(const RenderSettings *s, double *x, double *y,
                       double *z) {
  double px = *x - s->centreX;
  double py = *y - s->centreY;
  double pz = *z - s->centreZ;

  double y1 = py * s->cosA - pz * s->sinA;
  double z1 = py * s->sinA + pz * s->cosA;

  double x1 = px * s->cosB + z1 * s->sinB;
  double z2 = (-px) * s->sinB + z1 * s->cosB;

  double x2 = x1 * s->cosC - y1 * s->sinC;
  double y2 = x1 * s->sinC + y1 * s->cosC;

  *x = s->centreX + x2;
  *y = s->centreY + y2;
  *z = s->centreZ + z2;
}

}  // namespace quatdepth
