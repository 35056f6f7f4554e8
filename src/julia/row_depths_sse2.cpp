// The baseline every x86-64 processor runs: two lanes of SSE2.
#include <emmintrin.h>

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

}  // namespace quatdepth
