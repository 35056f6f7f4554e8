// The vector search on plain arrays of doubles: built for the baseline
// instruction set, it runs on any CPU, and whatever the compiler makes of
// the loops, each lane takes the scalar reference's operations in order.
#include <cmath>

#include "julia/nearest_vector_search.h"
#include "julia/point_membership_search.h"
#include "julia/run_vector_search.h"
#include "julia/vector_paths.h"

namespace quatdepth {
namespace {

template <int N>
struct PortableLanes {
  static constexpr int kLanes = N;
  struct Vec {
    double lane[N];
  };
  static Vec set(double v) {
    Vec r;
    for (int i = 0; i < N; ++i) r.lane[i] = v;
    return r;
  }
  static Vec load(const double *p) {
    Vec r;
    for (int i = 0; i < N; ++i) r.lane[i] = p[i];
    return r;
  }
  static void store(double *p, Vec v) {
    for (int i = 0; i < N; ++i) p[i] = v.lane[i];
  }
  static Vec add(Vec x, Vec y) {
    for (int i = 0; i < N; ++i) x.lane[i] = x.lane[i] + y.lane[i];
    return x;
  }
  static Vec sub(Vec x, Vec y) {
    for (int i = 0; i < N; ++i) x.lane[i] = x.lane[i] - y.lane[i];
    return x;
  }
  static Vec mul(Vec x, Vec y) {
    for (int i = 0; i < N; ++i) x.lane[i] = x.lane[i] * y.lane[i];
    return x;
  }
  static Vec div(Vec x, Vec y) {
    for (int i = 0; i < N; ++i) x.lane[i] = x.lane[i] / y.lane[i];
    return x;
  }
  static Vec sqrt(Vec x) {
    for (int i = 0; i < N; ++i) x.lane[i] = std::sqrt(x.lane[i]);
    return x;
  }
  // y < x ? y : x, lane by lane (x when either is not a number).
  static Vec min(Vec x, Vec y) {
    for (int i = 0; i < N; ++i) x.lane[i] = y.lane[i] < x.lane[i] ? y.lane[i] : x.lane[i];
    return x;
  }
  // yes on the lanes of `bits`, no on the others.
  static Vec select(uint32_t bits, Vec yes, Vec no) {
    for (int i = 0; i < N; ++i) no.lane[i] = ((bits >> i) & 1) ? yes.lane[i] : no.lane[i];
    return no;
  }
  static Vec laneIndex() {
    Vec r;
    for (int i = 0; i < N; ++i) r.lane[i] = i;
    return r;
  }
  // Lanes where n < bailout (false when n is not a number), as bits.
  static uint32_t below(Vec n, Vec bailout) {
    uint32_t bits = 0;
    for (int i = 0; i < N; ++i) bits |= static_cast<uint32_t>(n.lane[i] < bailout.lane[i]) << i;
    return bits;
  }
  static uint32_t equal(Vec x, Vec y) {
    uint32_t bits = 0;
    for (int i = 0; i < N; ++i) bits |= static_cast<uint32_t>(x.lane[i] == y.lane[i]) << i;
    return bits;
  }
};

}  // namespace

void findRowDepthsPortable4(const RenderSettings *s, SearchTables tables,
                            int32_t row, int32_t *depths, SearchStats *stats,
                            SearchDesign design) {
  runVectorSearch<PortableLanes<4>, kAvx2Shape>(s, tables, row, depths, stats, design);
}

void findRowDepthsPortable8(const RenderSettings *s, SearchTables tables,
                            int32_t row, int32_t *depths, SearchStats *stats,
                            SearchDesign design) {
  runVectorSearch<PortableLanes<8>, kAvx512Shape>(s, tables, row, depths, stats, design);
}

void findRowNearestDepthsPortable4(const RenderSettings *s, SearchTables tables, int32_t row,
                                   int32_t *depths, SearchStats *stats) {
  vector_search::nearest::runNearestSearch<PortableLanes<4>, kAvx2NearestVectors>(
      s, tables, row, depths, stats);
}

void findRowNearestDepthsPortable8(const RenderSettings *s, SearchTables tables, int32_t row,
                                   int32_t *depths, SearchStats *stats) {
  vector_search::nearest::runNearestSearch<PortableLanes<8>, kAvx512NearestVectors>(
      s, tables, row, depths, stats);
}

void findPointsInsidePortable4(const RenderSettings *s,
                               const EscapeBounds &bounds, const double *x,
                               const double *y, const double *z, int32_t count,
                               uint8_t *inside) {
  point_membership::findPointsInsideShaped<PortableLanes<4>, kAvx2Shape>(
      s, bounds, x, y, z, count, inside);
}

void findPointsInsidePortable8(const RenderSettings *s,
                               const EscapeBounds &bounds, const double *x,
                               const double *y, const double *z, int32_t count,
                               uint8_t *inside) {
  point_membership::findPointsInsideShaped<PortableLanes<8>, kAvx512Shape>(
      s, bounds, x, y, z, count, inside);
}

}  // namespace quatdepth
