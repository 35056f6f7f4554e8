// Built with AVX-512 enabled; only called after a run-time CPU check.
#include <immintrin.h>

#include "julia/nearest_vector_search.h"
#include "julia/point_membership_search.h"
#include "julia/run_vector_search.h"
#include "julia/vector_paths.h"

namespace quatdepth {
namespace {

struct Avx512Lanes {
  static constexpr int kLanes = 8;
  using Vec = __m512d;
  static Vec set(double v) { return _mm512_set1_pd(v); }
  static Vec load(const double *p) { return _mm512_loadu_pd(p); }
  static void store(double *p, Vec v) { _mm512_storeu_pd(p, v); }
  static Vec add(Vec x, Vec y) { return _mm512_add_pd(x, y); }
  static Vec sub(Vec x, Vec y) { return _mm512_sub_pd(x, y); }
  static Vec mul(Vec x, Vec y) { return _mm512_mul_pd(x, y); }
  static Vec div(Vec x, Vec y) { return _mm512_div_pd(x, y); }
  // The masked forms, every lane set: the plain ones start from an
  // undefined vector, which gcc 12 takes for an uninitialised read.
  static Vec sqrt(Vec x) { return _mm512_mask_sqrt_pd(x, 0xff, x); }
  // y < x ? y : x, lane by lane (x when either is not a number).
  static Vec min(Vec x, Vec y) { return _mm512_mask_min_pd(x, 0xff, y, x); }
  // yes on the lanes of `bits`, no on the others.
  static Vec select(uint32_t bits, Vec yes, Vec no) {
    return _mm512_mask_blend_pd(static_cast<__mmask8>(bits), no, yes);
  }
  static Vec laneIndex() { return _mm512_set_pd(7, 6, 5, 4, 3, 2, 1, 0); }
  // Lanes where n < bailout (false when n is not a number), as bits.
  static uint32_t below(Vec n, Vec bailout) {
    return _mm512_cmp_pd_mask(n, bailout, _CMP_LT_OQ);
  }
  static uint32_t equal(Vec x, Vec y) { return _mm512_cmp_pd_mask(x, y, _CMP_EQ_OQ); }
};

}  // namespace

void findRowDepthsAvx512(const RenderSettings *s, SearchTables tables,
                         int32_t row, int32_t *depths, SearchStats *stats,
                         SearchDesign design) {
  runVectorSearch<Avx512Lanes, kAvx512Shape>(s, tables, row, depths, stats, design);
}

void findRowNearestDepthsAvx512(const RenderSettings *s, SearchTables tables, int32_t row,
                            int32_t *depths, SearchStats *stats) {
  vector_search::nearest::runNearestSearch<Avx512Lanes, kAvx512NearestVectors>(
      s, tables, row, depths, stats);
}

void findPointsInsideAvx512(const RenderSettings *s, const EscapeBounds &bounds,
                            const double *x, const double *y, const double *z,
                            int32_t count, uint8_t *inside) {
  point_membership::findPointsInsideShaped<Avx512Lanes, kAvx512Shape>(
      s, bounds, x, y, z, count, inside);
}

}  // namespace quatdepth
