#include "julia/level_tables.h"

#include <new>
#include <utility>

#include "julia/depth_search.h"
#include "julia/escape_bound.h"

namespace quatdepth {
bool buildLevelTables(const RenderSettings *s, LevelTables *tables) {
  *tables = LevelTables{};
  const double bound = escapeNormSquared(s), sureNorm = sureEscapeNorm(s);
  tables->escapeNormSquared = bound;
  tables->sureEscapeNorm = sureNorm;
  const int32_t levels = s->coarseSteps * s->fineSteps;
  if (levels > kMaxTabledLevels) return true;
  const size_t fine = static_cast<size_t>(levels) + 1 + kLevelTablePadding;
  const size_t coarse = static_cast<size_t>(s->coarseSteps) + 1 + kLevelTablePadding;
  std::unique_ptr<double[]> storage(new (std::nothrow) double[2 * fine + 2 * coarse]());
  if (!storage) return false;

  double *sinA = storage.get();
  double *cosA = sinA + fine;
  double *coarseSinA = cosA + fine;
  double *coarseCosA = coarseSinA + coarse;
  for (int32_t k = 0; k <= levels; ++k) {
    // The same rounded steps as the scalar search takes for each probe.
    double pz = gridCoordinate(s->zMin, s->zMax, k, levels) - s->centreZ;
    sinA[k] = pz * s->sinA;
    cosA[k] = pz * s->cosA;
    if (k % s->fineSteps == 0) {
      coarseSinA[k / s->fineSteps] = sinA[k];
      coarseCosA[k / s->fineSteps] = cosA[k];
    }
  }
  *tables = LevelTables{sinA, cosA, coarseSinA, coarseCosA, std::move(storage), bound, sureNorm};
  return true;
}

bool makeRowScratch(const RenderSettings *s, RowScratch *scratch) {
  *scratch = RowScratch{};
  if (s->coarseSteps * s->fineSteps > kMaxTabledLevels) return true;
  const size_t coarse = static_cast<size_t>(s->coarseSteps) + 1 + kLevelTablePadding;
  std::unique_ptr<double[]> storage(new (std::nothrow) double[4 * coarse]());
  if (!storage) return false;
  double *row = storage.get();
  *scratch = RowScratch{row, row + coarse, row + 2 * coarse, row + 3 * coarse, std::move(storage)};
  return true;
}

}  // namespace quatdepth
