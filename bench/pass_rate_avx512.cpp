// The bare pass on zmm vectors; built with -mavx512f.
#include <immintrin.h>

#include "pass_rate.h"

namespace quatdepth::bench {
namespace {

struct ZmmLanes {
  static constexpr int kLanes = 8;
  using Vec = __m512d;
  static Vec set(double v) { return _mm512_set1_pd(v); }
  static Vec add(Vec x, Vec y) { return _mm512_add_pd(x, y); }
  static Vec sub(Vec x, Vec y) { return _mm512_sub_pd(x, y); }
  static Vec mul(Vec x, Vec y) { return _mm512_mul_pd(x, y); }
  static uint32_t below(Vec n, Vec bailout) { return _mm512_cmp_pd_mask(n, bailout, _CMP_LT_OQ); }
  static double first(Vec v) { return _mm512_cvtsd_f64(v); }
};

}  // namespace

PassRate measureZmmPasses(RateOptions options) { return measurePassRate<ZmmLanes>(options); }

}  // namespace quatdepth::bench
