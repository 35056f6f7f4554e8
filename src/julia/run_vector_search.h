#pragma once

// Chooses between the two vector searches for a row. Included only by the
// per-ISA source files.

#include "julia/interleaved_search.h"
#include "julia/long_probe_pool.h"
#include "julia/search_stats.h"
#include "julia/vector_paths.h"
#include "julia/vector_search.h"

namespace quatdepth {

template <class L, SearchShape kShape, class LInterleaved, class Counts>
void findRowDepthsShaped(const RenderSettings *s, SearchTables tables, int32_t row,
                         int32_t *depths, Counts *counts, SearchDesign design) {
  if (design == SearchDesign::kAutomatic) {
    design = SearchDesign::kGrouped;
    if (kShape.interleaveFrom > 0 && s->maxIterations >= kShape.interleaveFrom)
      design = SearchDesign::kInterleaved;
    if (kShape.poolFrom > 0 && s->maxIterations >= kShape.poolFrom)
      design = SearchDesign::kPooled;
  }
  if (design == SearchDesign::kPooled)
    pooled_search::findRowDepths<L, kShape>(s, tables, row, depths, counts);
  else if (design == SearchDesign::kInterleaved)
    interleaved_search::findRowDepths<LInterleaved, kShape.pixelsInFlight>(s, tables, row, depths,
                                                                          counts);
  else
    vector_search::findRowDepths<L, kShape>(s, tables, row, depths, counts);
}

// Runs the search for one row, with statistics when `stats` is given. The
// interleaved search may run on narrower lanes than the grouped one: its
// lanes past a pixel's hit run to the cap for nothing.
template <class L, SearchShape kShape, class LInterleaved = L>
void runVectorSearch(const RenderSettings *s, SearchTables tables, int32_t row,
                     int32_t *depths, SearchStats *stats, SearchDesign design) {
  if (stats) {
    stats->laneWidth = L::kLanes;
    vector_search::LaneCounts counts{stats};
    findRowDepthsShaped<L, kShape, LInterleaved>(s, tables, row, depths, &counts, design);
  } else {
    vector_search::NoCounts none;
    findRowDepthsShaped<L, kShape, LInterleaved>(s, tables, row, depths, &none, design);
  }
}

}  // namespace quatdepth
