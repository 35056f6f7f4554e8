#include "julia/julia_set.h"

namespace quatdepth {

bool isInsideJulia(const RenderSettings *s, double x, double y, double z) {
  const double bailout = s->bailout;
  double a = x, b = y, c = z, d = s->wSlice;
  double n;
  int32_t i = 0;
  for (;;) {
    double t = a + a;
    double aSquared = ((a * a - b * b) - c * c) - d * d;
    double bSquared = t * b;
    double cSquared = t * c;
    double dSquared = t * d;
    // Escape is judged on the square, before the constant is added.
    n = ((aSquared * aSquared + bSquared * bSquared) + cSquared * cSquared) +
        dSquared * dSquared;
    a = aSquared + s->juliaC[0];
    b = bSquared + s->juliaC[1];
    c = cSquared + s->juliaC[2];
    d = dSquared + s->juliaC[3];
    ++i;
    if (i >= s->maxIterations || !(bailout > n)) break;
  }
  return bailout > n;
}

}  // namespace quatdepth
