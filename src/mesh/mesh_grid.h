#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "settings/render_settings.h"

namespace quatdepth {

// The points a mesh is sampled at, in the box's coordinates: cubic cells,
// `resolution` of them along the box's longest edge, from the box's low
// corner, as many along the other edges as cover the box. Point i along an
// axis lies at low + longest x (i / resolution), formed as the search forms
// a pixel's x, so along the longest edge the points are the pixels' of a
// picture `resolution` wide. Indices run from -1 to cells + 1: the points
// beyond the box count as outside, so the surface closes where the box
// cuts the set.
struct MeshGrid {
  std::array<double, 3> low{};
  std::array<double, 3> high{};
  double longest = 0.0;
  int32_t resolution = 0;
  std::array<int32_t, 3> cells{};
};

// The grid for `settings`' box, or false with a message naming --box when
// an edge of the box has no length (a mesh needs a solid box).
bool meshGridOf(const RenderSettings &settings, int32_t resolution, MeshGrid *grid,
                std::string *error);

// Whether vertices bisected `refine` times stay apart in the mesh's float
// coordinates (taken from the box's centre): the last bracket, a cell over
// 2^(refine + 1), must span several of a float's steps at the box's edge,
// or neighbouring vertices would fall on one another. False with a message
// naming the largest --refine and --resolution that fit.
bool checkMeshPrecision(const MeshGrid &grid, int refine, std::string *error);

// Point i's coordinate along `axis`.
double meshCoordinate(const MeshGrid &grid, size_t axis, int32_t i);

// Points along `axis`, the outer ring included.
inline int32_t gridPoints(const MeshGrid &grid, size_t axis) { return grid.cells[axis] + 3; }

// Whether a point lies in the box, faces included.
inline bool insideBox(const MeshGrid &grid, const double point[3]) {
  for (size_t axis = 0; axis < 3; ++axis)
    if (!(point[axis] >= grid.low[axis] && point[axis] <= grid.high[axis])) return false;
  return true;
}

}  // namespace quatdepth
