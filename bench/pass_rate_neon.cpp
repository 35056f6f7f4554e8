// The bare pass on NEON's 2-lane float64x2_t (part of every AArch64).
#include <arm_neon.h>

#include "pass_rate.h"

namespace quatdepth::bench {
namespace {

struct NeonLanes {
  static constexpr int kLanes = 2;
  using Vec = float64x2_t;
  static Vec set(double v) { return vdupq_n_f64(v); }
  static Vec add(Vec x, Vec y) { return vaddq_f64(x, y); }
  static Vec sub(Vec x, Vec y) { return vsubq_f64(x, y); }
  static Vec mul(Vec x, Vec y) { return vmulq_f64(x, y); }
  static uint32_t below(Vec n, Vec bailout) {
    const uint64x2_t lanes = vcltq_f64(n, bailout);
    return static_cast<uint32_t>((vgetq_lane_u64(lanes, 0) & 1) |
                                 ((vgetq_lane_u64(lanes, 1) & 1) << 1));
  }
  static double first(Vec v) { return vgetq_lane_f64(v, 0); }
};

}  // namespace

PassRate measureNeonPasses(RateOptions options) { return measurePassRate<NeonLanes>(options); }

}  // namespace quatdepth::bench
