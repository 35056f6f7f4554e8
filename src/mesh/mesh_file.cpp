#include "mesh/mesh_file.h"

#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <utility>

#include "request/parameter_text.h"

namespace quatdepth {
namespace {

static_assert(std::endian::native == std::endian::little,
              "STL and the PLY written here are little-endian");

// What binary STL and PLY count with.
constexpr uint64_t kMostTriangles = UINT32_MAX;

// STL's 80-byte header: anything but "solid", which would make readers
// take the file for text.
constexpr char kStlHeader[] = "binary STL from quatdepth-mesh";

template <typename T>
char *put(char *at, const T &value) {
  std::memcpy(at, &value, sizeof value);
  return at + sizeof value;
}

// A float in its shortest decimal that reads back to it: at most 15
// characters ("-1.2345678e-38").
char *putFloat(char *at, float value) {
  return std::to_chars(at, at + 15, value).ptr;
}

// A facet's normal from its corners, of unit length (zero when flat).
std::array<float, 3> facetNormal(const MeshVertex &a, const MeshVertex &b, const MeshVertex &c) {
  double u[3], v[3];
  for (size_t i = 0; i < 3; ++i) {
    u[i] = double{b.position[i]} - a.position[i];
    v[i] = double{c.position[i]} - a.position[i];
  }
  const double n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2],
                       u[0] * v[1] - u[1] * v[0]};
  const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
  if (!(length > 0.0)) return {0.0f, 0.0f, 0.0f};
  return {static_cast<float>(n[0] / length), static_cast<float>(n[1] / length),
          static_cast<float>(n[2] / length)};
}

// "key = value" lines, each after `prefix`.
std::string prefixedLines(const std::string &text, const std::string &prefix) {
  std::string lines;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    lines.append(prefix).append(text, at, end - at).append("\n");
    at = end + 1;
  }
  return lines;
}

}  // namespace

MeshFileWriter::MeshFileWriter(MeshFormat format, std::string parameterText)
    : format_(format), parameterText_(std::move(parameterText)) {}

bool MeshFileWriter::open(const std::string &folder, std::string *error) {
  return vertexBytes_.open(folder, error) && triangleBytes_.open(folder, error);
}

bool MeshFileWriter::addVertices(std::span<const MeshVertex> vertices, std::string *error) {
  vertices_ += vertices.size();
  if (format_ == MeshFormat::kStl) return true;
  // Each record into one buffer, written at once.
  constexpr size_t kMostBytes = 6 * 16 + 8;  // an OBJ vertex and its normal
  records_.resize(vertices.size() * kMostBytes);
  char *at = records_.data();
  for (const MeshVertex &v : vertices) {
    if (format_ == MeshFormat::kPly) {
      for (float x : v.position) at = put(at, x);
      for (float x : v.normal) at = put(at, x);
    } else {
      at = put(at, 'v');
      for (float x : v.position) at = putFloat(put(at, ' '), x);
      at = put(put(at, '\n'), 'v');
      at = put(at, 'n');
      for (float x : v.normal) at = putFloat(put(at, ' '), x);
      at = put(at, '\n');
    }
  }
  return vertexBytes_.write(records_.data(), static_cast<size_t>(at - records_.data()), error);
}

bool MeshFileWriter::addTriangles(std::span<const MeshTriangle> triangles,
                                  const VertexWindow &window, std::string *error) {
  if (triangles.size() > kMostTriangles - triangles_) {
    *error = "the mesh has more than 4294967295 triangles, more than STL and PLY can count; "
             "lower --resolution or give --max-triangles";
    return false;
  }
  triangles_ += triangles.size();
  constexpr size_t kMostBytes = 3 * 24 + 4;  // an OBJ face
  records_.resize(triangles.size() * kMostBytes);
  char *at = records_.data();
  for (const MeshTriangle &t : triangles) {
    if (format_ == MeshFormat::kStl) {
      const MeshVertex &a = window[t.vertices[0]], &b = window[t.vertices[1]],
                       &c = window[t.vertices[2]];
      for (float x : facetNormal(a, b, c)) at = put(at, x);
      for (const MeshVertex *v : {&a, &b, &c})
        for (float x : v->position) at = put(at, x);
      at = put(at, uint16_t{0});
    } else if (format_ == MeshFormat::kPly) {
      at = put(at, uint8_t{3});
      for (uint32_t v : t.vertices) at = put(at, v);
    } else {
      at = put(at, 'f');
      for (uint32_t v : t.vertices) {
        at = put(at, ' ');
        // OBJ counts from 1; each corner takes its vertex's normal.
        at = std::to_chars(at, at + 11, uint64_t{v} + 1).ptr;
        at = put(put(at, '/'), '/');
        at = std::to_chars(at, at + 11, uint64_t{v} + 1).ptr;
      }
      at = put(at, '\n');
    }
  }
  return triangleBytes_.write(records_.data(), static_cast<size_t>(at - records_.data()), error);
}

bool MeshFileWriter::finish(FILE *out, const std::string &outName, std::string *error) {
  std::string header;
  if (format_ == MeshFormat::kStl) {
    header.assign(kStlHeader);
    header.resize(80, ' ');
    const auto count = static_cast<uint32_t>(triangles_);
    header.append(reinterpret_cast<const char *>(&count), sizeof count);
  } else if (format_ == MeshFormat::kPly) {
    header = "ply\nformat binary_little_endian 1.0\n";
    header.append(prefixedLines(parameterText_, std::string("comment ") + kMeshParameterPrefix));
    header.append("element vertex " + std::to_string(vertices_) +
                  "\nproperty float x\nproperty float y\nproperty float z\n"
                  "property float nx\nproperty float ny\nproperty float nz\n"
                  "element face " + std::to_string(triangles_) +
                  "\nproperty list uchar uint vertex_indices\nend_header\n");
  } else {
    header = prefixedLines(parameterText_, std::string("# ") + kMeshParameterPrefix);
  }
  if (std::fwrite(header.data(), 1, header.size(), out) != header.size()) {
    *error = outName + ": " + std::strerror(errno);
    return false;
  }
  return vertexBytes_.copyTo(out, outName, error) && triangleBytes_.copyTo(out, outName, error);
}

}  // namespace quatdepth
