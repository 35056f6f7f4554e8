#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "mesh/mesh_format.h"
#include "mesh/mesh_sink.h"
#include "mesh/scratch_file.h"

namespace quatdepth {

// A mesh file as its vertices and triangles arrive: binary STL (triangles
// only, for printing), binary little-endian PLY (shared vertices with the
// set's normals, and the view's parameters in its header's comments) or
// OBJ (the same as text). Both STL and PLY put their counts before their
// data, so the parts are gathered in scratch files beside the output and
// written in order at the end.
class MeshFileWriter final : public MeshSink {
 public:
  // `parameterText`: the view's "key = value" lines, for PLY and OBJ.
  MeshFileWriter(MeshFormat format, std::string parameterText);

  // The scratch files, in `folder`.
  bool open(const std::string &folder, std::string *error);
  bool addVertices(std::span<const MeshVertex> vertices, std::string *error) override;
  bool addTriangles(std::span<const MeshTriangle> triangles, const VertexWindow &window,
                    std::string *error) override;
  // The whole file into `out` (named `outName` in messages).
  bool finish(FILE *out, const std::string &outName, std::string *error);

  uint64_t vertexCount() const { return vertices_; }
  uint64_t triangleCount() const { return triangles_; }

 private:
  const MeshFormat format_;
  const std::string parameterText_;
  ScratchFile vertexBytes_, triangleBytes_;
  uint64_t vertices_ = 0, triangles_ = 0;
  std::vector<char> records_;  // a batch's records, as they are written
};

}  // namespace quatdepth
