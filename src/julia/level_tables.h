#pragma once

#include <cstdint>
#include <limits>
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
  std::unique_ptr<double[]> storage;   // every array above
  // The view's escapeNormSquared and sureEscapeNorm, set even when the
  // arrays are not built.
  double escapeNormSquared = std::numeric_limits<double>::infinity();
  double sureEscapeNorm = std::numeric_limits<double>::infinity();
};

// One search's room for a row's terms of every coarse level, which it
// fills at the start of each row: after the turn by A, z1 x sin B,
// z1 x cos B, y1 x sin C and y1 x cos C. Padded like the tables. The
// tables are only read, so searches on several threads can share them;
// each needs its own scratch.
struct RowScratch {
  double *z1SinB = nullptr;
  double *z1CosB = nullptr;
  double *y1SinC = nullptr;
  double *y1CosC = nullptr;
  std::unique_ptr<double[]> storage;  // every array above
};

// What a vector search may use besides the settings; either may be null or
// empty, and the scratch is used only with the tables.
struct SearchTables {
  const LevelTables *levels = nullptr;
  RowScratch *rowScratch = nullptr;
};

// Above this many levels the tables are not built (two doubles per level
// and two per coarse step, and four more per coarse step in each search's
// scratch: at 2^20 levels up to 64 MiB) and the vector searches compute
// every level directly.
constexpr int32_t kMaxTabledLevels = 1 << 20;

// Fills `tables` for the settings' levels. Returns false only when the
// memory cannot be had; then, and over kMaxTabledLevels, it leaves the
// arrays empty, and the searches run without them.
bool buildLevelTables(const RenderSettings *settings, LevelTables *tables);

// Makes room for the settings' coarse levels, on the same terms.
bool makeRowScratch(const RenderSettings *settings, RowScratch *scratch);

}  // namespace quatdepth
