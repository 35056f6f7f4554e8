#include "julia/row_depths.h"

#include "julia/depth_search.h"

namespace quatdepth {

void findRowDepthsScalar(const RenderSettings *s, int32_t row,
                         int32_t *depths) {
  for (int32_t column = 0; column < s->width; ++column)
    depths[column] = findSurfaceDepth(s, column, row);
}

}  // namespace quatdepth
