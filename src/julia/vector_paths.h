#pragma once

#include <cstdint>

#include "julia/escape_bound.h"
#include "julia/level_tables.h"
#include "julia/search_design.h"
#include "julia/search_stats.h"
#include "settings/render_settings.h"

namespace quatdepth {

// How a path searches. Below an iteration cap of poolFrom it takes one
// pixel at a time in groups of vectors, coarseVectors while coarse and
// fineVectors while refining: enough independent pass chains to keep the
// floating-point units busy, few enough to stay in registers and not to
// waste lanes past the answer. From pass dropFrom on, a vector whose lanes
// all escaped stops; from pass deferFrom the top vector waits while the
// lower ones, probably inside, finish (0 turns either off: they pay only
// where one vector alone still keeps the units nearly busy, as a zmm
// vector does on AMD Zen 4, whose 512-bit operations take two cycles).
// From that cap on, groups that run long dominate, and one pixel at a time
// waits on one chain: the pooled search runs short groups of the same
// sizes and moves the probes that run long into a pool of poolVectors
// vectors, each lane a probe of any pixel of the row. With
// poolKeepsSquares the pool keeps the squares of its quaternions' parts
// from a pass that tests the sure-escape norm for the next pass, which
// needs the same products: fewer operations, as many more registers.
struct SearchShape {
  int coarseVectors = 1;
  int fineVectors = 1;
  int32_t dropFrom = 0;   // 0: never
  int32_t deferFrom = 0;  // 0: never
  int32_t poolFrom = 0;   // 0: never
  int poolVectors = 1;
  bool poolKeepsSquares = false;
};

// Each path's shape is the one that measured best on the benchmark
// workloads at caps from 10 to 1000; docs/speed.md keeps the runs, each
// with its CPU, and what they ruled out.
constexpr SearchShape kAvx512Shape{.coarseVectors = 2, .fineVectors = 2, .dropFrom = 4,
                                   .deferFrom = 8, .poolFrom = 40, .poolVectors = 4,
                                   .poolKeepsSquares = true};
constexpr SearchShape kAvx2Shape{
    .coarseVectors = 2, .fineVectors = 2, .dropFrom = 4, .poolFrom = 100, .poolVectors = 3};
constexpr SearchShape kSse2Shape{
    .coarseVectors = 3, .fineVectors = 3, .poolFrom = 100, .poolVectors = 3};
// Two lanes like SSE2, and four chains for the two to four pipelined
// floating-point units of AArch64 cores (not yet measured on hardware).
constexpr SearchShape kNeonShape{
    .coarseVectors = 4, .fineVectors = 4, .poolFrom = 100, .poolVectors = 4};

// Vectors of lanes the nearest-level search runs at once: enough
// independent chains to hide a pass's latency.
constexpr int kAvx512NearestVectors = 2;
constexpr int kAvx2NearestVectors = 2;
constexpr int kSse2NearestVectors = 3;
constexpr int kNeonNearestVectors = 4;

// The vector searches, one per instruction set; each fills depths[0 ..
// width-1] for `row` exactly as the scalar reference does. Call one only
// when the CPU supports it. `tables` may be empty and `stats` null.
#if defined(__x86_64__)
void findRowDepthsAvx512(const RenderSettings *s, SearchTables tables,
                         int32_t row, int32_t *depths, SearchStats *stats,
                         SearchDesign design);
void findRowDepthsAvx2(const RenderSettings *s, SearchTables tables,
                       int32_t row, int32_t *depths, SearchStats *stats,
                       SearchDesign design);
void findRowDepthsSse2(const RenderSettings *s, SearchTables tables,
                       int32_t row, int32_t *depths, SearchStats *stats,
                       SearchDesign design);
#endif
#if defined(__x86_64__)
// The nearest-level search (nearest_vector_search.h), one per instruction
// set, filling depths[0 .. width-1] as findRowNearestDepthsScalar does.
void findRowNearestDepthsAvx512(const RenderSettings *s, SearchTables tables, int32_t row,
                                int32_t *depths, SearchStats *stats);
void findRowNearestDepthsAvx2(const RenderSettings *s, SearchTables tables, int32_t row,
                              int32_t *depths, SearchStats *stats);
void findRowNearestDepthsSse2(const RenderSettings *s, SearchTables tables, int32_t row,
                              int32_t *depths, SearchStats *stats);
#endif
#if defined(__aarch64__)
void findRowNearestDepthsNeon(const RenderSettings *s, SearchTables tables, int32_t row,
                              int32_t *depths, SearchStats *stats);
#endif
void findRowNearestDepthsPortable4(const RenderSettings *s, SearchTables tables, int32_t row,
                                   int32_t *depths, SearchStats *stats);
void findRowNearestDepthsPortable8(const RenderSettings *s, SearchTables tables, int32_t row,
                                   int32_t *depths, SearchStats *stats);
#if defined(__aarch64__)
void findRowDepthsNeon(const RenderSettings *s, SearchTables tables, int32_t row,
                       int32_t *depths, SearchStats *stats, SearchDesign design);
#endif
// The same searches on plain arrays of 4 and 8 doubles, for any CPU: the
// logic of the AVX2 and AVX-512 paths, shape included, testable anywhere.
void findRowDepthsPortable4(const RenderSettings *s, SearchTables tables,
                            int32_t row, int32_t *depths, SearchStats *stats,
                            SearchDesign design);
void findRowDepthsPortable8(const RenderSettings *s, SearchTables tables,
                            int32_t row, int32_t *depths, SearchStats *stats,
                            SearchDesign design);


// The membership of points (point_membership_search.h), one per
// instruction set, filling inside[0 .. count-1] as
// findPointsInsideScalar does. Call one only when the CPU supports it.
#if defined(__x86_64__)
void findPointsInsideAvx512(const RenderSettings *s, const EscapeBounds &bounds,
                            const double *x, const double *y, const double *z,
                            int32_t count, uint8_t *inside);
void findPointsInsideAvx2(const RenderSettings *s, const EscapeBounds &bounds,
                          const double *x, const double *y, const double *z,
                          int32_t count, uint8_t *inside);
void findPointsInsideSse2(const RenderSettings *s, const EscapeBounds &bounds,
                          const double *x, const double *y, const double *z,
                          int32_t count, uint8_t *inside);
#endif
#if defined(__aarch64__)
void findPointsInsideNeon(const RenderSettings *s, const EscapeBounds &bounds,
                          const double *x, const double *y, const double *z,
                          int32_t count, uint8_t *inside);
#endif
void findPointsInsidePortable4(const RenderSettings *s,
                               const EscapeBounds &bounds, const double *x,
                               const double *y, const double *z, int32_t count,
                               uint8_t *inside);
void findPointsInsidePortable8(const RenderSettings *s,
                               const EscapeBounds &bounds, const double *x,
                               const double *y, const double *z, int32_t count,
                               uint8_t *inside);

}  // namespace quatdepth
