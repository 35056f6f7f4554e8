#pragma once

// Chooses between the two vector searches for a row. Included only by the
// per-ISA source files.

#include "julia/long_probe_pool.h"
#include "julia/search_stats.h"
#include "julia/vector_paths.h"
#include "julia/vector_search.h"

namespace quatdepth {

template <class L, SearchShape kShape, class Counts>
void findRowDepthsShaped(const RenderSettings *s, SearchTables tables, int32_t row,
                         int32_t *depths, Counts *counts, SearchDesign design) {
  if (design == SearchDesign::kAutomatic)
    design = kShape.poolFrom > 0 && s->maxIterations >= kShape.poolFrom ? SearchDesign::kPooled
                                                                        : SearchDesign::kGrouped;
  if (design == SearchDesign::kPooled)
    vector_search::pooled::findRowDepths<L, kShape>(s, tables, row, depths, counts);
  else
    vector_search::grouped::findRowDepths<L, kShape>(s, tables, row, depths, counts);
}

// Runs the search for one row, with statistics when `stats` is given.
template <class L, SearchShape kShape>
void runVectorSearch(const RenderSettings *s, SearchTables tables, int32_t row,
                     int32_t *depths, SearchStats *stats, SearchDesign design) {
  if (stats) {
    stats->laneWidth = L::kLanes;
    vector_search::LaneCounts counts{stats};
    findRowDepthsShaped<L, kShape>(s, tables, row, depths, &counts, design);
  } else {
    vector_search::NoCounts none;
    findRowDepthsShaped<L, kShape>(s, tables, row, depths, &none, design);
  }
}

}  // namespace quatdepth
