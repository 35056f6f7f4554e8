// Built with AVX2 enabled; only called after a run-time CPU check.
#include <immintrin.h>

#include <cstdint>

#include "julia/nearest_vector_search.h"
#include "julia/point_membership_search.h"
#include "julia/run_vector_search.h"
#include "julia/vector_paths.h"

namespace quatdepth {
namespace {

// Four double lanes in a ymm register.
struct YmmLanes {
  static constexpr int kLanes = 4;
  using Vec = __m256d;
  static Vec set(double v) { return _mm256_set1_pd(v); }
  static Vec load(const double *p) { return _mm256_loadu_pd(p); }
  static void store(double *p, Vec v) { _mm256_storeu_pd(p, v); }
  static Vec add(Vec x, Vec y) { return _mm256_add_pd(x, y); }
  static Vec sub(Vec x, Vec y) { return _mm256_sub_pd(x, y); }
  static Vec mul(Vec x, Vec y) { return _mm256_mul_pd(x, y); }
  static Vec div(Vec x, Vec y) { return _mm256_div_pd(x, y); }
  static Vec sqrt(Vec x) { return _mm256_sqrt_pd(x); }
  // y < x ? y : x, lane by lane (x when either is not a number).
  static Vec min(Vec x, Vec y) { return _mm256_min_pd(y, x); }
  // yes on the lanes of `bits`, no on the others.
  static Vec select(uint32_t bits, Vec yes, Vec no) {
    const __m256i lanes = _mm256_set_epi64x(8, 4, 2, 1);
    const __m256i chosen = _mm256_and_si256(_mm256_set1_epi64x(bits), lanes);
    return _mm256_blendv_pd(no, yes, _mm256_castsi256_pd(_mm256_cmpeq_epi64(chosen, lanes)));
  }
  static Vec laneIndex() { return _mm256_set_pd(3, 2, 1, 0); }
  // Lanes where n < bailout (false when n is not a number), as bits.
  static uint32_t below(Vec n, Vec bailout) {
    return static_cast<uint32_t>(_mm256_movemask_pd(_mm256_cmp_pd(n, bailout, _CMP_LT_OQ)));
  }
  // Lanes where x == y (false when either is not a number), as bits.
  static uint32_t equal(Vec x, Vec y) {
    return static_cast<uint32_t>(_mm256_movemask_pd(_mm256_cmp_pd(x, y, _CMP_EQ_OQ)));
  }
};

}  // namespace

void findRowDepthsAvx2(const RenderSettings *s, SearchTables tables,
                       int32_t row, int32_t *depths, SearchStats *stats,
                       SearchDesign design) {
  runVectorSearch<YmmLanes, kAvx2Shape>(s, tables, row, depths, stats, design);
}

void findRowNearestDepthsAvx2(const RenderSettings *s, SearchTables tables, int32_t row,
                            int32_t *depths, SearchStats *stats) {
  vector_search::nearest::runNearestSearch<YmmLanes, kAvx2NearestVectors>(
      s, tables, row, depths, stats);
}

void findPointsInsideAvx2(const RenderSettings *s, const EscapeBounds &bounds,
                          const double *x, const double *y, const double *z,
                          int32_t count, uint8_t *inside) {
  point_membership::findPointsInsideShaped<YmmLanes, kAvx2Shape>(
      s, bounds, x, y, z, count, inside);
}

}  // namespace quatdepth
