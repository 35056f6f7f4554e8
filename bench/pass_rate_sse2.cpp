// The bare pass on xmm vectors, with SSE2 alone (part of every x86-64).
#include <emmintrin.h>

#include "pass_rate.h"

namespace quatdepth::bench {
namespace {

struct XmmLanes {
  static constexpr int kLanes = 2;
  using Vec = __m128d;
  static Vec set(double v) { return _mm_set1_pd(v); }
  static Vec add(Vec x, Vec y) { return _mm_add_pd(x, y); }
  static Vec sub(Vec x, Vec y) { return _mm_sub_pd(x, y); }
  static Vec mul(Vec x, Vec y) { return _mm_mul_pd(x, y); }
  static uint32_t below(Vec n, Vec bailout) {
    return static_cast<uint32_t>(_mm_movemask_pd(_mm_cmplt_pd(n, bailout)));
  }
  static double first(Vec v) { return _mm_cvtsd_f64(v); }
};

}  // namespace

PassRate measureXmmPasses(RateOptions options) { return measurePassRate<XmmLanes>(options); }

}  // namespace quatdepth::bench
