#include "julia/point_membership.h"

#include <cstdlib>

#include "julia/julia_set.h"
#include "julia/vector_paths.h"
#include "julia/view_rotation.h"

namespace quatdepth {

void findPointsInsideScalar(const RenderSettings *s, const double *x, const double *y,
                            const double *z, int32_t count, uint8_t *inside) {
  for (int32_t i = 0; i < count; ++i) {
    double px = x[i], py = y[i], pz = z[i];
    rotateAboutCentre(s, &px, &py, &pz);
    inside[i] = isInsideJulia(s, px, py, pz) ? 1 : 0;
  }
}

void findPointsInside(SearchPath path, const RenderSettings *s,
                      const EscapeBounds &bounds, const double *x,
                      const double *y, const double *z, int32_t count,
                      uint8_t *inside) {
  switch (path) {
    case SearchPath::kScalar:
      findPointsInsideScalar(s, x, y, z, count, inside);
      return;
#if defined(__x86_64__)
    case SearchPath::kSse2:
      findPointsInsideSse2(s, bounds, x, y, z, count, inside);
      return;
    case SearchPath::kAvx2:
      findPointsInsideAvx2(s, bounds, x, y, z, count, inside);
      return;
    case SearchPath::kAvx512:
      findPointsInsideAvx512(s, bounds, x, y, z, count, inside);
      return;
#else
    case SearchPath::kSse2:
    case SearchPath::kAvx2:
    case SearchPath::kAvx512: std::abort();  // not in this build: never supported
#endif
#if defined(__aarch64__)
    case SearchPath::kNeon:
      findPointsInsideNeon(s, bounds, x, y, z, count, inside);
      return;
#else
    case SearchPath::kNeon: std::abort();
#endif
    case SearchPath::kPortable4:
      findPointsInsidePortable4(s, bounds, x, y, z, count, inside);
      return;
    case SearchPath::kPortable8:
      findPointsInsidePortable8(s, bounds, x, y, z, count, inside);
      return;
  }
}

}  // namespace quatdepth
