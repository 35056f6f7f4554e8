#pragma once

#include <cstdint>

#include "julia/level_tables.h"
#include "julia/search_stats.h"
#include "settings/render_settings.h"

namespace quatdepth {

// How a vector search groups its probes: vectors per group while coarse
// and while refining (enough independent pass chains to keep the
// floating-point units busy, few enough to stay in registers and not to
// waste lanes past the answer), and whether chains leave a group early.
// From pass dropFrom on, a vector whose lanes all escaped stops; at pass
// deferFrom the top vector waits while the lower ones, probably inside,
// finish. 0 turns either off: it pays only where one vector alone still
// keeps the units nearly busy (AVX-512 on AMD Zen 4, where a zmm
// operation takes two cycles).
struct SearchShape {
  int coarseVectors, fineVectors;
  int32_t dropFrom, deferFrom;
};

// Measured best on the benchmark workloads.
constexpr SearchShape kAvx512Shape{2, 1, 4, 8};
constexpr SearchShape kAvx2Shape{3, 3, 0, 0};
constexpr SearchShape kSse2Shape{3, 3, 0, 0};

// The vector searches, one per instruction set; each fills depths[0 ..
// width-1] for `row` exactly as the scalar reference does. Call one only
// when the CPU supports it. `tables` and `stats` may be null.
void findRowDepthsAvx512(const RenderSettings *s, const LevelTables *tables,
                         int32_t row, int32_t *depths, SearchStats *stats);
void findRowDepthsAvx2(const RenderSettings *s, const LevelTables *tables,
                       int32_t row, int32_t *depths, SearchStats *stats);
void findRowDepthsSse2(const RenderSettings *s, const LevelTables *tables,
                       int32_t row, int32_t *depths, SearchStats *stats);
// The same searches on plain arrays of 4 and 8 doubles, for any CPU: the
// logic of the AVX2 and AVX-512 paths, shape included, testable anywhere.
void findRowDepthsPortable4(const RenderSettings *s, const LevelTables *tables,
                            int32_t row, int32_t *depths, SearchStats *stats);
void findRowDepthsPortable8(const RenderSettings *s, const LevelTables *tables,
                            int32_t row, int32_t *depths, SearchStats *stats);

}  // namespace quatdepth
