// The bare pass on ymm vectors; built with -mavx2.
#include <immintrin.h>

#include "pass_rate.h"

namespace quatdepth::bench {
namespace {

struct YmmLanes {
  static constexpr int kLanes = 4;
  using Vec = __m256d;
  static Vec set(double v) { return _mm256_set1_pd(v); }
  static Vec add(Vec x, Vec y) { return _mm256_add_pd(x, y); }
  static Vec sub(Vec x, Vec y) { return _mm256_sub_pd(x, y); }
  static Vec mul(Vec x, Vec y) { return _mm256_mul_pd(x, y); }
  static uint32_t below(Vec n, Vec bailout) {
    return static_cast<uint32_t>(_mm256_movemask_pd(_mm256_cmp_pd(n, bailout, _CMP_LT_OQ)));
  }
  static double first(Vec v) { return _mm256_cvtsd_f64(v); }
};

}  // namespace

PassRate measureYmmPasses(RateOptions options) { return measurePassRate<YmmLanes>(options); }

}  // namespace quatdepth::bench
