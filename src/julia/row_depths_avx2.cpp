// Built with AVX2 enabled; only called after a run-time CPU check.
#include <immintrin.h>

#include "julia/vector_paths.h"
#include "julia/vector_search.h"

namespace quatdepth {
namespace {

// Each 4-bit lane mask as a blend mask.
struct LaneMasks {
  alignas(32) int64_t lanes[16][4];
  constexpr LaneMasks() : lanes() {
    for (int bits = 0; bits < 16; ++bits)
      for (int lane = 0; lane < 4; ++lane) lanes[bits][lane] = (bits >> lane) & 1 ? -1 : 0;
  }
};
constexpr LaneMasks kLaneMasks;

struct Avx2Lanes {
  static constexpr int kLanes = 4;
  // Whether a finished group is swapped by a branch rather than by blends.
  static constexpr bool kSwapByBranch = true;
  using Vec = __m256d;
  static Vec set(double v) { return _mm256_set1_pd(v); }
  static Vec load(const double *p) { return _mm256_loadu_pd(p); }
  static void store(double *p, Vec v) { _mm256_storeu_pd(p, v); }
  static Vec add(Vec x, Vec y) { return _mm256_add_pd(x, y); }
  static Vec sub(Vec x, Vec y) { return _mm256_sub_pd(x, y); }
  static Vec mul(Vec x, Vec y) { return _mm256_mul_pd(x, y); }
  static Vec div(Vec x, Vec y) { return _mm256_div_pd(x, y); }
  static Vec laneIndex() { return _mm256_set_pd(3, 2, 1, 0); }
  // The live lanes where n < bailout (false when n is not a number).
  static uint32_t liveBelow(uint32_t live, Vec n, Vec bailout) {
    return live & static_cast<uint32_t>(
                      _mm256_movemask_pd(_mm256_cmp_pd(n, bailout, _CMP_LT_OQ)));
  }
  static Vec laneMask(uint32_t bits) {
    return _mm256_castsi256_pd(_mm256_load_si256(
        reinterpret_cast<const __m256i *>(kLaneMasks.lanes[bits])));
  }
  // x + y in the lanes of `keep`; the others get `start`.
  static Vec addOrTake(Vec x, Vec y, uint32_t keep, Vec start) {
    return _mm256_blendv_pd(start, _mm256_add_pd(x, y), laneMask(keep));
  }
};

}  // namespace

void findRowDepthsAvx2(const RenderSettings *s, const LevelTables *tables,
                       int32_t row, int32_t *depths, SearchStats *stats) {
  runVectorSearch<Avx2Lanes, kAvx2Vectors>(s, tables, row, depths, stats);
}

}  // namespace quatdepth
