// The baseline every x86-64 processor runs: two lanes of SSE2.
#include <emmintrin.h>

#include "julia/nearest_vector_search.h"
#include "julia/point_membership_search.h"
#include "julia/run_vector_search.h"
#include "julia/vector_paths.h"

namespace quatdepth {
namespace {

struct Sse2Lanes {
  static constexpr int kLanes = 2;
  using Vec = __m128d;
  static Vec set(double v) { return _mm_set1_pd(v); }
  static Vec load(const double *p) { return _mm_loadu_pd(p); }
  static void store(double *p, Vec v) { _mm_storeu_pd(p, v); }
  static Vec add(Vec x, Vec y) { return _mm_add_pd(x, y); }
  static Vec sub(Vec x, Vec y) { return _mm_sub_pd(x, y); }
  static Vec mul(Vec x, Vec y) { return _mm_mul_pd(x, y); }
  static Vec div(Vec x, Vec y) { return _mm_div_pd(x, y); }
  static Vec sqrt(Vec x) { return _mm_sqrt_pd(x); }
  // y < x ? y : x, lane by lane (x when either is not a number).
  static Vec min(Vec x, Vec y) { return _mm_min_pd(y, x); }
  // yes on the lanes of `bits`, no on the others.
  static Vec select(uint32_t bits, Vec yes, Vec no) {
    const __m128d mask = _mm_castsi128_pd(
        _mm_set_epi64x((bits & 2) ? -1 : 0, (bits & 1) ? -1 : 0));
    return _mm_or_pd(_mm_and_pd(mask, yes), _mm_andnot_pd(mask, no));
  }
  static Vec laneIndex() { return _mm_set_pd(1, 0); }
  // Lanes where n < bailout (false when n is not a number), as bits.
  static uint32_t below(Vec n, Vec bailout) {
    return static_cast<uint32_t>(_mm_movemask_pd(_mm_cmplt_pd(n, bailout)));
  }
  static uint32_t equal(Vec x, Vec y) {
    return static_cast<uint32_t>(_mm_movemask_pd(_mm_cmpeq_pd(x, y)));
  }
};

}  // namespace

void findRowDepthsSse2(const RenderSettings *s, SearchTables tables,
                       int32_t row, int32_t *depths, SearchStats *stats,
                       SearchDesign design) {
  runVectorSearch<Sse2Lanes, kSse2Shape>(s, tables, row, depths, stats, design);
}

void findRowNearestDepthsSse2(const RenderSettings *s, SearchTables tables, int32_t row,
                            int32_t *depths, SearchStats *stats) {
  vector_search::nearest::runNearestSearch<Sse2Lanes, kSse2NearestVectors>(
      s, tables, row, depths, stats);
}

void findPointsInsideSse2(const RenderSettings *s, const EscapeBounds &bounds,
                          const double *x, const double *y, const double *z,
                          int32_t count, uint8_t *inside) {
  point_membership::findPointsInsideShaped<Sse2Lanes, kSse2Shape>(
      s, bounds, x, y, z, count, inside);
}

}  // namespace quatdepth
