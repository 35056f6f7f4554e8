#pragma once

#include <cstdint>

#include "julia/level_tables.h"
#include "julia/search_stats.h"
#include "settings/render_settings.h"

namespace quatdepth {

// Vectors per group of probes, coarse and refining, per path: enough
// independent pass chains to keep the floating-point units busy, few enough
// to stay in registers and not to waste lanes on levels past the answer.
// Measured best on the benchmark workloads.
constexpr int kAvx512CoarseVectors = 2, kAvx512FineVectors = 1;
constexpr int kAvx2CoarseVectors = 3, kAvx2FineVectors = 3;
constexpr int kSse2CoarseVectors = 3, kSse2FineVectors = 3;

// The vector searches, one per instruction set; each fills depths[0 ..
// width-1] for `row` exactly as the scalar reference does. Call one only
// when the CPU supports it. `tables` and `stats` may be null.
void findRowDepthsAvx512(const RenderSettings *s, const LevelTables *tables,
                         int32_t row, int32_t *depths, SearchStats *stats);
void findRowDepthsAvx2(const RenderSettings *s, const LevelTables *tables,
                       int32_t row, int32_t *depths, SearchStats *stats);
void findRowDepthsSse2(const RenderSettings *s, const LevelTables *tables,
                       int32_t row, int32_t *depths, SearchStats *stats);

}  // namespace quatdepth
