#pragma once

#include <cstdint>
#include <span>

#include "mesh/mesh_sink.h"

namespace quatdepth {

// What makes a mesh printable, counted.
struct MeshCheck {
  uint64_t unpairedEdges = 0;   // an edge with no twin running the other way
  uint64_t repeatedEdges = 0;   // an edge run the same way by two triangles
  uint64_t degenerateTriangles = 0;  // a vertex twice, or no area
  double volume = 0.0;  // enclosed, signed: positive when the normals point out
  double area = 0.0;

  // Closed, every edge in exactly two triangles in opposite directions, no
  // flat triangle, and turned outward.
  bool closedManifold() const {
    return unpairedEdges == 0 && repeatedEdges == 0 && degenerateTriangles == 0 && volume > 0.0;
  }
};

MeshCheck checkMesh(std::span<const MeshVertex> vertices, std::span<const MeshTriangle> triangles);

}  // namespace quatdepth
