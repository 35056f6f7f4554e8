#pragma once

#include <cstdint>

#include "julia/level_tables.h"
#include "julia/search_stats.h"
#include "settings/render_settings.h"

namespace quatdepth {

// Pixels in flight per vector path: enough independent pass chains to hide
// the latency of one, few enough to stay in registers (32 of them with
// AVX-512, 16 otherwise). Measured best on the benchmark workloads.
constexpr int kAvx512Vectors = 4;
constexpr int kAvx2Vectors = 2;
constexpr int kSse2Vectors = 2;

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
