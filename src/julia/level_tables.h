#pragma once

#include <cstdint>
#include <memory>

#include "settings/render_settings.h"

namespace quatdepth {

// Per depth level, the part of the view rotation that depends on the level
// alone: its z offset from the box centre times sin A and times cos A. The
// vector searches read these instead of dividing for every group of probes.
// Each array is followed by kLevelTablePadding entries of zeros, so a
// search may read a whole group of levels from any entry.
constexpr int32_t kLevelTablePadding = 32;

struct LevelTables {
  const double *sinA = nullptr;        // level k at index k
  const double *cosA = nullptr;
  const double *coarseSinA = nullptr;  // level j x fineSteps at index j
  const double *coarseCosA = nullptr;
  // Room for one row's terms of every coarse level, which a vector search
  // fills at the start of each row: after the turn by A, z1 x sin B,
  // z1 x cos B, y1 x sin C and y1 x cos C.
  double *rowZ1SinB = nullptr;
  double *rowZ1CosB = nullptr;
  double *rowY1SinC = nullptr;
  double *rowY1CosC = nullptr;
  std::unique_ptr<double[]> storage;  // every array above
};

// Above this many levels the tables are not built (two doubles per level
// and six per coarse step: at 2^20 levels up to 64 MiB) and the vector
// searches compute every level directly.
constexpr int32_t kMaxTabledLevels = 1 << 20;

// Fills `tables` for the settings' levels. Returns false only when the
// memory cannot be had; then, and over kMaxTabledLevels, it leaves them
// empty, and the searches run without them.
bool buildLevelTables(const RenderSettings *settings, LevelTables *tables);

// Releases the tables before they go out of scope, which also frees them.
void freeLevelTables(LevelTables *tables);

}  // namespace quatdepth
