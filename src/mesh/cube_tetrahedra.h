#pragma once

#include <array>
#include <cstdint>

namespace quatdepth {

// A cube of the grid cut into six tetrahedra along its diagonal from
// corner 0 to corner 7, the same way in every cube, so that neighbouring
// cubes' tetrahedra meet face to face. Marching tetrahedra on this
// division has no ambiguous cases: the surface through each tetrahedron
// is one triangle or two, and the surface as a whole is closed and
// manifold wherever the set is.
//
// A cube's corner is a 3-bit number: bit 0 the step along x, bit 1 along
// y, bit 2 along z. Every edge of the division runs from a corner to one
// with more bits set, so it is named by its lower corner and the bits it
// adds, its direction (1 to 7).
struct CubeEdge {
  uint8_t corner = 0;
  uint8_t direction = 0;
};

// The triangles of one tetrahedron for one pattern of its corners inside,
// each as the three edges its vertices lie on, ordered so that the normal
// (v1 - v0) x (v2 - v0) points from the inside corners to the outside ones.
struct TetrahedronCut {
  int triangles = 0;
  std::array<std::array<CubeEdge, 3>, 2> edges{};
};

constexpr int kCubeTetrahedra = 6;

// The cut of tetrahedron `tetrahedron` (0 to 5) when the cube's corners
// inside are the set bits of `insideCorners` (bit c for corner c).
const TetrahedronCut &tetrahedronCut(int tetrahedron, uint8_t insideCorners);

}  // namespace quatdepth
