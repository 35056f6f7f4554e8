#pragma once

#include <cstdint>
#include <vector>

#include "image/row_merge.h"

namespace quatdepth {

enum class Look {
  kLit,    // surface normals from neighbouring depths, one directional light
  kDepth,  // near bright, far dark
};

// The smallest and largest depth present, or {-1, -1} with no surface.
struct DepthRange {
  int32_t nearest = -1;
  int32_t farthest = -1;
};
DepthRange depthRange(const MergedRows &rows);

// An 8-bit grey picture, row-major: 0 is background (no surface, or a row
// that never arrived); every surface pixel is at least kDarkestSurface, so
// the two never meet. Contrast follows the depths present.
constexpr uint8_t kDarkestSurface = 16;
std::vector<uint8_t> renderPicture(const MergedRows &rows, Look look);

}  // namespace quatdepth
