#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace quatdepth {

// A vertex of a mesh in the mesh's frame: the picture's x (right), y up
// and z toward the viewer, in the box's units; the normal is the set's
// outward one, of unit length.
struct MeshVertex {
  std::array<float, 3> position{};
  std::array<float, 3> normal{};
};

// Three vertices, numbered in the order they were made, counterclockwise
// seen from outside.
struct MeshTriangle {
  std::array<uint32_t, 3> vertices{};
};

// The vertices a sink may look up while it takes triangles: those numbered
// from `first` on.
struct VertexWindow {
  uint32_t first = 0;
  std::span<const MeshVertex> vertices;
  const MeshVertex &operator[](uint32_t id) const { return vertices[id - first]; }
};

// Where a mesh goes as it is made: vertices, numbered on from those given
// before, and triangles over them, which may come before the vertices they
// use (a vertex is given once every triangle around it is made); the window
// holds those a sink may look up. False with a message stops the mesh.
class MeshSink {
 public:
  virtual ~MeshSink() = default;
  virtual bool addVertices(std::span<const MeshVertex> vertices, std::string *error) = 0;
  virtual bool addTriangles(std::span<const MeshTriangle> triangles, const VertexWindow &window,
                            std::string *error) = 0;
};

}  // namespace quatdepth
