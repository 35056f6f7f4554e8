#pragma once

#include <vector>

#include "mesh/mesh_sink.h"

namespace quatdepth {

// A mesh held whole, for what needs all of it at once.
class WholeMesh final : public MeshSink {
 public:
  bool addVertices(std::span<const MeshVertex> added, std::string *) override {
    vertices.insert(vertices.end(), added.begin(), added.end());
    return true;
  }
  bool addTriangles(std::span<const MeshTriangle> added, const VertexWindow &,
                    std::string *) override {
    triangles.insert(triangles.end(), added.begin(), added.end());
    return true;
  }
  // Into another sink, as a sweep would give it.
  bool sendTo(MeshSink *sink, std::string *error) const {
    return sink->addVertices(vertices, error) &&
           sink->addTriangles(triangles, {0, vertices}, error);
  }

  std::vector<MeshVertex> vertices;
  std::vector<MeshTriangle> triangles;
};

}  // namespace quatdepth
