#include "mesh/cube_tetrahedra.h"

#include <cstddef>
#include <utility>

namespace quatdepth {
namespace {

// A tetrahedron's corners: from corner 0, a step along each axis in turn,
// in one of the six orders of the axes, ending at corner 7.
constexpr std::array<std::array<int, 4>, kCubeTetrahedra> kTetrahedra = [] {
  constexpr int kOrders[kCubeTetrahedra][3] = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2},
                                               {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
  std::array<std::array<int, 4>, kCubeTetrahedra> corners{};
  for (size_t t = 0; t < corners.size(); ++t) {
    const int first = 1 << kOrders[t][0];
    corners[t] = {0, first, first | (1 << kOrders[t][1]), 7};
  }
  return corners;
}();

struct Point {
  int x, y, z;
};

constexpr Point cornerPoint(int corner, int scale) {
  return {(corner & 1) * scale, ((corner >> 1) & 1) * scale, ((corner >> 2) & 1) * scale};
}

constexpr CubeEdge edgeBetween(int a, int b) {
  const int low = (a & b) == a ? a : b;
  const int high = low == a ? b : a;
  return {static_cast<uint8_t>(low), static_cast<uint8_t>(high ^ low)};
}

// An edge's midpoint, doubled so that it is whole.
constexpr Point midpoint(CubeEdge edge) {
  const Point low = cornerPoint(edge.corner, 1);
  const Point high = cornerPoint(edge.corner | edge.direction, 1);
  return {low.x + high.x, low.y + high.y, low.z + high.z};
}

// Orders a triangle's edges so that its normal, with each vertex at its
// edge's midpoint, points along `outward`. With vertices at the midpoints
// the cut is the level set of the function linear on the tetrahedron that
// is 1 at the inside corners and 0 at the others: the triangles are never
// flat, and their normals point down its gradient, whatever the corners.
constexpr std::array<CubeEdge, 3> oriented(std::array<CubeEdge, 3> edges, Point outward) {
  const Point a = midpoint(edges[0]), b = midpoint(edges[1]), c = midpoint(edges[2]);
  const Point u{b.x - a.x, b.y - a.y, b.z - a.z};
  const Point v{c.x - a.x, c.y - a.y, c.z - a.z};
  const Point n{u.y * v.z - u.z * v.y, u.z * v.x - u.x * v.z, u.x * v.y - u.y * v.x};
  if (n.x * outward.x + n.y * outward.y + n.z * outward.z < 0) std::swap(edges[1], edges[2]);
  return edges;
}

constexpr TetrahedronCut cutOf(const std::array<int, 4> &corners, int insideMask) {
  int inside[4] = {}, outside[4] = {};
  int ins = 0, outs = 0;
  for (size_t i = 0; i < corners.size(); ++i) {
    if (insideMask & (1 << i))
      inside[ins++] = corners[i];
    else
      outside[outs++] = corners[i];
  }
  TetrahedronCut cut;
  if (ins == 0 || outs == 0) return cut;
  // From the inside corners' centre to the outside ones', scaled to stay whole.
  Point outward{0, 0, 0};
  for (int i = 0; i < ins; ++i) {
    const Point p = cornerPoint(inside[i], outs);
    outward = {outward.x - p.x, outward.y - p.y, outward.z - p.z};
  }
  for (int i = 0; i < outs; ++i) {
    const Point p = cornerPoint(outside[i], ins);
    outward = {outward.x + p.x, outward.y + p.y, outward.z + p.z};
  }
  if (ins == 1 || outs == 1) {
    // One corner apart: a triangle on its three edges.
    const int lone = ins == 1 ? inside[0] : outside[0];
    const int *others = ins == 1 ? outside : inside;
    cut.triangles = 1;
    cut.edges[0] = oriented(
        {edgeBetween(lone, others[0]), edgeBetween(lone, others[1]), edgeBetween(lone, others[2])},
        outward);
    return cut;
  }
  // Two and two: a quadrilateral through the four edges between them, in
  // order around it, as two triangles.
  const CubeEdge ac = edgeBetween(inside[0], outside[0]);
  const CubeEdge bc = edgeBetween(inside[1], outside[0]);
  const CubeEdge bd = edgeBetween(inside[1], outside[1]);
  const CubeEdge ad = edgeBetween(inside[0], outside[1]);
  cut.triangles = 2;
  cut.edges[0] = oriented({ac, bc, bd}, outward);
  cut.edges[1] = oriented({ac, bd, ad}, outward);
  return cut;
}

constexpr auto kCuts = [] {
  std::array<std::array<TetrahedronCut, 256>, kCubeTetrahedra> cuts{};
  for (size_t t = 0; t < cuts.size(); ++t)
    for (size_t mask = 0; mask < cuts[t].size(); ++mask) {
      int tetrahedronMask = 0;
      for (size_t i = 0; i < 4; ++i)
        if (mask & (size_t{1} << kTetrahedra[t][i])) tetrahedronMask |= 1 << i;
      cuts[t][mask] = cutOf(kTetrahedra[t], tetrahedronMask);
    }
  return cuts;
}();

}  // namespace

const TetrahedronCut &tetrahedronCut(int tetrahedron, uint8_t insideCorners) {
  return kCuts[static_cast<size_t>(tetrahedron)][insideCorners];
}

}  // namespace quatdepth
