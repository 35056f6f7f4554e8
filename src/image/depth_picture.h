#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "julia/surface_normal.h"
#include "output/depth_image.h"

namespace quatdepth {

enum class Look {
  kLit,     // the set's own surface normals, one directional light
  kRelief,  // normals from neighbouring depths, the same light
  kDepth,   // near bright, far dark
};

// The looks' names, in Look's order.
inline constexpr const char *kLookNames[] = {"lit", "relief", "depth"};
bool parseLook(const std::string &name, Look *look);
const char *lookName(Look look);

// The smallest and largest depth present, or {-1, -1} with no surface.
struct DepthRange {
  int32_t nearest = -1;
  int32_t farthest = -1;
};
DepthRange depthRange(const DepthImage &rows);

// An 8-bit grey picture, row-major: 0 is background (no surface, or a row
// that never arrived); every surface pixel is at least kDarkestSurface, so
// the two never meet. Contrast follows the depths present. kLit takes one
// normal a pixel from `normals`; without them it draws kRelief. Where
// `openness` is given (one a pixel, 1 open, 0 shut in), every look is
// darkened by it.
constexpr uint8_t kDarkestSurface = 16;
std::vector<uint8_t> renderPicture(const DepthImage &rows, Look look,
                                   const std::vector<SurfaceNormal> *normals = nullptr,
                                   const std::vector<float> *openness = nullptr);
// The same into `picture`, which keeps its memory where it has room enough.
void renderPicture(const DepthImage &rows, Look look, const std::vector<SurfaceNormal> *normals,
                   const std::vector<float> *openness, std::vector<uint8_t> *picture);

}  // namespace quatdepth
