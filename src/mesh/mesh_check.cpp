#include "mesh/mesh_check.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace quatdepth {

MeshCheck checkMesh(std::span<const MeshVertex> vertices,
                    std::span<const MeshTriangle> triangles) {
  MeshCheck check;
  std::vector<uint64_t> edges;
  edges.reserve(triangles.size() * 3);
  for (const MeshTriangle &t : triangles) {
    const auto &v = t.vertices;
    if (v[0] == v[1] || v[1] == v[2] || v[2] == v[0]) {
      ++check.degenerateTriangles;
      continue;
    }
    double p[3][3];
    for (int corner = 0; corner < 3; ++corner)
      for (size_t axis = 0; axis < 3; ++axis)
        p[corner][axis] = vertices[v[static_cast<size_t>(corner)]].position[static_cast<size_t>(axis)];
    const double u[3] = {p[1][0] - p[0][0], p[1][1] - p[0][1], p[1][2] - p[0][2]};
    const double w[3] = {p[2][0] - p[0][0], p[2][1] - p[0][1], p[2][2] - p[0][2]};
    const double n[3] = {u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2],
                         u[0] * w[1] - u[1] * w[0]};
    const double twiceArea = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    if (!(twiceArea > 0.0)) ++check.degenerateTriangles;
    check.area += 0.5 * twiceArea;
    // The tetrahedron from the origin: their sum is the enclosed volume.
    check.volume += (p[0][0] * n[0] + p[0][1] * n[1] + p[0][2] * n[2]) / 6.0;
    for (int i = 0; i < 3; ++i)
      edges.push_back(uint64_t{v[static_cast<size_t>(i)]} << 32 | v[static_cast<size_t>((i + 1) % 3)]);
  }
  std::sort(edges.begin(), edges.end());
  for (size_t i = 0; i < edges.size(); ++i) {
    if (i + 1 < edges.size() && edges[i + 1] == edges[i]) ++check.repeatedEdges;
    const uint64_t twin = edges[i] << 32 | edges[i] >> 32;
    if (!std::binary_search(edges.begin(), edges.end(), twin)) ++check.unpairedEdges;
  }
  return check;
}

}  // namespace quatdepth
