// AArch64: two double lanes of Advanced SIMD, which every AArch64 CPU has.
// Built with -ffp-contract=off like everything else, so no multiply and
// add fuse and the bytes match the other paths.
#include <arm_neon.h>

#include "julia/nearest_vector_search.h"
#include "julia/point_membership_search.h"
#include "julia/run_vector_search.h"
#include "julia/vector_paths.h"

namespace quatdepth {
namespace {

struct NeonLanes {
  static constexpr int kLanes = 2;
  using Vec = float64x2_t;
  static Vec set(double v) { return vdupq_n_f64(v); }
  static Vec load(const double *p) { return vld1q_f64(p); }
  static void store(double *p, Vec v) { vst1q_f64(p, v); }
  static Vec add(Vec x, Vec y) { return vaddq_f64(x, y); }
  static Vec sub(Vec x, Vec y) { return vsubq_f64(x, y); }
  static Vec mul(Vec x, Vec y) { return vmulq_f64(x, y); }
  static Vec div(Vec x, Vec y) { return vdivq_f64(x, y); }
  static Vec sqrt(Vec x) { return vsqrtq_f64(x); }
  // y < x ? y : x, lane by lane (x when either is not a number).
  static Vec min(Vec x, Vec y) { return vbslq_f64(vcltq_f64(y, x), y, x); }
  // yes on the lanes of `bits`, no on the others.
  static Vec select(uint32_t bits, Vec yes, Vec no) {
    const uint64x2_t mask = vcombine_u64(vdup_n_u64((bits & 1) ? ~0ull : 0),
                                         vdup_n_u64((bits & 2) ? ~0ull : 0));
    return vbslq_f64(mask, yes, no);
  }
  static Vec laneIndex() { return vcombine_f64(vdup_n_f64(0.0), vdup_n_f64(1.0)); }
  // Lanes where n < bailout (false when n is not a number), as bits.
  static uint32_t below(Vec n, Vec bailout) {
    const uint64x2_t lanes = vcltq_f64(n, bailout);
    return static_cast<uint32_t>((vgetq_lane_u64(lanes, 0) & 1) |
                                 ((vgetq_lane_u64(lanes, 1) & 1) << 1));
  }
  static uint32_t equal(Vec x, Vec y) {
    const uint64x2_t lanes = vceqq_f64(x, y);
    return static_cast<uint32_t>((vgetq_lane_u64(lanes, 0) & 1) |
                                 ((vgetq_lane_u64(lanes, 1) & 1) << 1));
  }
};

}  // namespace

void findRowDepthsNeon(const RenderSettings *s, SearchTables tables,
                       int32_t row, int32_t *depths, SearchStats *stats,
                       SearchDesign design) {
  runVectorSearch<NeonLanes, kNeonShape>(s, tables, row, depths, stats, design);
}

void findRowNearestDepthsNeon(const RenderSettings *s, SearchTables tables, int32_t row,
                            int32_t *depths, SearchStats *stats) {
  vector_search::nearest::runNearestSearch<NeonLanes, kNeonNearestVectors>(
      s, tables, row, depths, stats);
}

void findPointsInsideNeon(const RenderSettings *s, const EscapeBounds &bounds,
                          const double *x, const double *y, const double *z,
                          int32_t count, uint8_t *inside) {
  point_membership::findPointsInsideShaped<NeonLanes, kNeonShape>(
      s, bounds, x, y, z, count, inside);
}

}  // namespace quatdepth
