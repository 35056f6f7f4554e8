// Built with AVX2 enabled; only called after a run-time CPU check.
#include "julia/nearest_vector_search.h"
#include "julia/run_vector_search.h"
#include "julia/vector_paths.h"
#include "julia/ymm_lanes.h"

namespace quatdepth {

void findRowDepthsAvx2(const RenderSettings *s, SearchTables tables,
                       int32_t row, int32_t *depths, SearchStats *stats,
                       SearchDesign design) {
  runVectorSearch<YmmLanes, kAvx2Shape>(s, tables, row, depths, stats, design);
}

void findRowNearestDepthsAvx2(const RenderSettings *s, SearchTables tables, int32_t row,
                            int32_t *depths, SearchStats *stats) {
  nearest_search::runNearestSearch<YmmLanes, kAvx2NearestVectors>(s, tables, row, depths, stats);
}

}  // namespace quatdepth
