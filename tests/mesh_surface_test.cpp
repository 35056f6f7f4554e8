// The mesh's surface: on a set whose surface is known, where its vertices
// lie and what it encloses; closed, manifold and outward on real views;
// the same bytes on every path and thread count; and written to each
// format as it was made.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <numbers>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "julia/search_path.h"
#include "mesh/cube_tetrahedra.h"
#include "mesh/mesh_check.h"
#include "mesh/mesh_file.h"
#include "mesh/mesh_grid.h"
#include "mesh/mesh_simplify.h"
#include "mesh/surface_sweep.h"
#include "mesh/whole_mesh.h"
#include "render/row_threads.h"
#include "run_program.h"
#include "test_settings.h"

namespace quatdepth::testing {
namespace {

WholeMesh sweep(const RenderSettings &s, int32_t resolution, SearchPath path = SearchPath::kScalar,
                int threads = 1, int refine = 6) {
  MeshGrid grid;
  std::string error;
  EXPECT_TRUE(meshGridOf(s, resolution, &grid, &error)) << error;
  SweepOptions options;
  options.path = path;
  options.threads = threads;
  options.refine = refine;
  WholeMesh mesh;
  EXPECT_TRUE(sweepSurface(s, grid, options, &mesh, &error)) << error;
  return mesh;
}

// Vertices whose normal points into the mesh: against the sum of their
// triangles' normals, weighted by area.
size_t inwardNormals(const WholeMesh &mesh) {
  std::vector<std::array<double, 3>> around(mesh.vertices.size(), {0.0, 0.0, 0.0});
  for (const MeshTriangle &t : mesh.triangles) {
    const auto &a = mesh.vertices[t.vertices[0]].position, &b = mesh.vertices[t.vertices[1]].position,
               &c = mesh.vertices[t.vertices[2]].position;
    const double u[3] = {double{b[0]} - a[0], double{b[1]} - a[1], double{b[2]} - a[2]};
    const double w[3] = {double{c[0]} - a[0], double{c[1]} - a[1], double{c[2]} - a[2]};
    const double n[3] = {u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2],
                         u[0] * w[1] - u[1] * w[0]};
    for (uint32_t v : t.vertices)
      for (size_t axis = 0; axis < 3; ++axis) around[v][axis] += n[axis];
  }
  size_t inward = 0;
  for (size_t v = 0; v < mesh.vertices.size(); ++v) {
    const auto &n = mesh.vertices[v].normal;
    inward += n[0] * around[v][0] + n[1] * around[v][1] + n[2] * around[v][2] <= 0.0;
  }
  return inward;
}

// c = 0 and w = 0 leave q -> q^2: a point stays in for `cap` passes while
// |q|^(2^(cap+1)) < 16 (the bailout), so the set is the ball of radius
// 16^(1 / 2^(cap+1)) about the origin.
RenderSettings ballView(int32_t cap, double half) {
  RenderSettings s = defaultSettings();
  for (double &c : s.juliaC) c = 0.0;
  s.wSlice = 0.0;
  s.maxIterations = cap;
  s.xMin = s.yMin = s.zMin = -half;
  s.xMax = s.yMax = s.zMax = half;
  s.centreX = s.centreY = s.centreZ = 0.0;
  setAngles(&s, 0.0, 0.0, 0.0);
  return s;
}

TEST(MeshSurface, BallHasTheBallsVolumeAreaAndVerticesOnItsSphere) {
  for (const int32_t cap : {1, 3}) {
    const double radius = std::pow(16.0, 1.0 / std::pow(2.0, cap + 1));
    SCOPED_TRACE("cap " + std::to_string(cap) + ", radius " + std::to_string(radius));
    const RenderSettings s = ballView(cap, radius * 1.25);
    const WholeMesh mesh = sweep(s, 128, fastestSearchPath(), 2);
    const MeshCheck check = checkMesh(mesh.vertices, mesh.triangles);
    EXPECT_TRUE(check.closedManifold())
        << check.unpairedEdges << " unpaired, " << check.repeatedEdges << " repeated, "
        << check.degenerateTriangles << " degenerate, volume " << check.volume;
    const double volume = 4.0 / 3.0 * std::numbers::pi * radius * radius * radius;
    const double area = 4.0 * std::numbers::pi * radius * radius;
    EXPECT_NEAR(check.volume / volume, 1.0, 0.005);
    EXPECT_NEAR(check.area / area, 1.0, 0.005);
    // Bisected six times, a vertex lies within 1/128 of its edge (at most
    // sqrt(3) cells long) of the crossing: within 1/64 of a cell.
    const double cell = 2.0 * radius * 1.25 / 128;
    double worst = 0.0;
    for (const MeshVertex &v : mesh.vertices) {
      const double r = std::hypot(double{v.position[0]}, double{v.position[1]},
                                  double{v.position[2]});
      worst = std::max(worst, std::abs(r - radius));
      // Outward: along the radius.
      const double along = (v.normal[0] * v.position[0] + v.normal[1] * v.position[1] +
                            v.normal[2] * v.position[2]) / r;
      ASSERT_GT(along, 0.99);
    }
    EXPECT_LE(worst, cell / 64) << "cells: " << worst / cell;
    // The midpoint with no bisection is within half an edge, and no closer.
    const WholeMesh rough = sweep(s, 32, SearchPath::kScalar, 1, 0);
    double roughWorst = 0.0;
    for (const MeshVertex &v : rough.vertices)
      roughWorst = std::max(roughWorst, std::abs(std::hypot(double{v.position[0]},
                                                            double{v.position[1]},
                                                            double{v.position[2]}) - radius));
    EXPECT_GT(roughWorst, 4 * radius * 2.5 / 32 / 64);
  }
}

// A ball the box cuts: closed by the box's faces, whose vertices lie on
// the faces and whose normals are theirs.
TEST(MeshSurface, BoxCutsTheSetWithClosedFlatFaces) {
  RenderSettings s = ballView(1, 2.5);
  s.xMax = 1.0;   // cuts the ball of radius 2
  s.zMin = -0.5;  // and its near side
  s.centreX = (s.xMax - s.xMin) * 0.5 + s.xMin;
  s.centreZ = (s.zMax - s.zMin) * 0.5 + s.zMin;
  setAngles(&s, 0.0, 0.0, 0.0);
  const WholeMesh mesh = sweep(s, 40, SearchPath::kScalar, 2);
  const MeshCheck check = checkMesh(mesh.vertices, mesh.triangles);
  EXPECT_TRUE(check.closedManifold()) << check.unpairedEdges << " " << check.repeatedEdges;
  // Away from the rim, where the sphere meets the face, the normal is the
  // face's. The mesh is from the box's centre, its y up and z toward the
  // viewer: the cut at x = 1 is at 1.75, the near face at z = -0.5 at 1.5.
  int onCut = 0, onNear = 0;
  for (const MeshVertex &v : mesh.vertices) {
    const double x = v.position[0] + s.centreX, y = -double{v.position[1]} + s.centreY,
                 z = -double{v.position[2]} + s.centreZ;
    const double r = std::hypot(x, y, z);
    const bool cut = std::abs(v.position[0] - 1.75f) < 0.002f;  // 1/64 of a cell
    const bool near = std::abs(v.position[2] - 1.5f) < 0.002f;
    // Within a cell of the edge where the faces meet, either face's.
    const bool corner = std::abs(v.position[0] - 1.75f) < 0.2f && std::abs(v.position[2] - 1.5f) < 0.2f;
    if (r > 1.9 || corner) continue;
    if (cut) {
      ++onCut;
      EXPECT_EQ(v.normal[0], 1.0f);
    }
    if (near) {
      ++onNear;
      EXPECT_EQ(v.normal[2], 1.0f);
    }
  }
  EXPECT_GT(onCut, 50);
  EXPECT_GT(onNear, 50);
}

// Real views: constants, angles, caps, boxes that are not cubes and that
// cut the set.
TEST(MeshSurface, RealViewsAreClosedManifoldAndOutward) {
  const struct {
    double c[4], w, angles[3];
    int32_t cap, resolution;
    double box[6];
    int32_t bailout = 16;
  } views[] = {
      {{-0.1, 0.2, 0.3, -0.1}, 0.0, {0.0, 0.0, 0.0}, 10, 48, {-1.2, -1.2, -1.2, 1.2, 1.2, 1.2}},
      {{-0.291, -0.399, 0.339, 0.437}, 0.0, {0.3, 0.5, 0.7}, 20, 40, {-1.2, -1.2, -1.2, 1.2, 1.2, 1.2}},
      {{-0.2, 0.8, 0.0, 0.0}, 0.1, {0.5, 0.3, 0.0}, 8, 45, {-1.5, -1.1, -0.3, 1.4, 1.0, 0.9}},
      {{0.2, -0.5, 0.1, 0.3}, -0.2, {-1.0, 2.0, 0.4}, 30, 37, {-0.9, -1.3, -1.0, 0.2, 1.3, 1.1}},
      // A bailout of 1: the set's gradient points in over much of it.
      {{-0.1, 0.2, 0.3, -0.1}, 0.0, {0.0, 0.0, 0.0}, 10, 30, {-1.2, -1.2, -1.2, 1.2, 1.2, 1.2}, 1},
  };
  for (const auto &view : views) {
    RenderSettings s = defaultSettings();
    for (int i = 0; i < 4; ++i) s.juliaC[i] = view.c[i];
    s.wSlice = view.w;
    s.maxIterations = view.cap;
    s.bailout = view.bailout;
    s.xMin = view.box[0], s.yMin = view.box[1], s.zMin = view.box[2];
    s.xMax = view.box[3], s.yMax = view.box[4], s.zMax = view.box[5];
    s.centreX = (s.xMax - s.xMin) * 0.5 + s.xMin;
    s.centreY = (s.yMax - s.yMin) * 0.5 + s.yMin;
    s.centreZ = (s.zMax - s.zMin) * 0.5 + s.zMin;
    setAngles(&s, view.angles[0], view.angles[1], view.angles[2]);
    SCOPED_TRACE("c0 " + std::to_string(view.c[0]) + " cap " + std::to_string(view.cap));
    const WholeMesh mesh = sweep(s, view.resolution, fastestSearchPath(), 2);
    ASSERT_GT(mesh.triangles.size(), 100u);
    EXPECT_EQ(inwardNormals(mesh), 0u) << "of " << mesh.vertices.size();
    const MeshCheck check = checkMesh(mesh.vertices, mesh.triangles);
    EXPECT_TRUE(check.closedManifold())
        << check.unpairedEdges << " unpaired, " << check.repeatedEdges << " repeated, "
        << check.degenerateTriangles << " degenerate, volume " << check.volume;
  }
}

TEST(MeshSurface, EveryPathAndThreadCountGivesTheSameMesh) {
  RenderSettings s = defaultSettings();
  s.juliaC[0] = -0.291, s.juliaC[1] = -0.399, s.juliaC[2] = 0.339, s.juliaC[3] = 0.437;
  s.maxIterations = 20;
  s.xMax = 1.1;  // a box that is not a cube, with an odd count of cells
  s.centreX = (s.xMax - s.xMin) * 0.5 + s.xMin;
  setAngles(&s, 0.3, 0.5, 0.7);
  const WholeMesh reference = sweep(s, 37, SearchPath::kScalar, 1);
  ASSERT_GT(reference.triangles.size(), 1000u);
  int compared = 0;
  for (const SearchPath path : kAllSearchPaths) {
    if (!isSearchPathSupported(path)) continue;
    for (const int threads : {1, 2, 3}) {
      SCOPED_TRACE(std::string(searchPathName(path)) + ", threads " + std::to_string(threads));
      const WholeMesh mesh = sweep(s, 37, path, threads);
      ASSERT_EQ(mesh.vertices.size(), reference.vertices.size());
      ASSERT_EQ(mesh.triangles.size(), reference.triangles.size());
      EXPECT_EQ(std::memcmp(mesh.vertices.data(), reference.vertices.data(),
                            mesh.vertices.size() * sizeof(MeshVertex)), 0);
      EXPECT_EQ(std::memcmp(mesh.triangles.data(), reference.triangles.data(),
                            mesh.triangles.size() * sizeof(MeshTriangle)), 0);
      ++compared;
    }
  }
  EXPECT_GE(compared, 3);
}

// Every cut's triangles on the edges between its inside and outside
// corners, turned so the normal runs from inside to outside.
TEST(MeshSurface, TetrahedronCutsSeparateInsideFromOutside) {
  for (int t = 0; t < kCubeTetrahedra; ++t) {
    for (int mask = 0; mask < 256; ++mask) {
      const TetrahedronCut &cut = tetrahedronCut(t, static_cast<uint8_t>(mask));
      for (int n = 0; n < cut.triangles; ++n) {
        for (const CubeEdge &edge : cut.edges[static_cast<size_t>(n)]) {
          const bool low = (mask >> edge.corner) & 1;
          const bool high = (mask >> (edge.corner | edge.direction)) & 1;
          EXPECT_NE(low, high) << t << " " << mask;
          EXPECT_EQ(edge.corner & edge.direction, 0);
        }
      }
    }
  }
  // A lone inside corner 0: one triangle, whose normal points away from it.
  for (int t = 0; t < kCubeTetrahedra; ++t) {
    const TetrahedronCut &cut = tetrahedronCut(t, 1);
    ASSERT_EQ(cut.triangles, 1);
    double p[3][3];
    for (int v = 0; v < 3; ++v) {
      const CubeEdge e = cut.edges[0][static_cast<size_t>(v)];
      const int far = e.corner | e.direction;
      for (size_t axis = 0; axis < 3; ++axis)
        p[v][axis] = 0.5 * (((e.corner >> axis) & 1) + ((far >> axis) & 1));
    }
    const double u[3] = {p[1][0] - p[0][0], p[1][1] - p[0][1], p[1][2] - p[0][2]};
    const double w[3] = {p[2][0] - p[0][0], p[2][1] - p[0][1], p[2][2] - p[0][2]};
    const double n[3] = {u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2],
                         u[0] * w[1] - u[1] * w[0]};
    EXPECT_GT(n[0] * p[0][0] + n[1] * p[0][1] + n[2] * p[0][2], 0.0) << t;
  }
}

// A closed mesh's flaws, each counted.
TEST(MeshSurface, CheckCountsEachFlaw) {
  const WholeMesh ball = sweep(ballView(1, 2.5), 12);
  ASSERT_TRUE(checkMesh(ball.vertices, ball.triangles).closedManifold());
  WholeMesh open = ball;
  open.triangles.pop_back();
  EXPECT_EQ(checkMesh(open.vertices, open.triangles).unpairedEdges, 3u);
  WholeMesh turned = ball;
  std::swap(turned.triangles[0].vertices[1], turned.triangles[0].vertices[2]);
  EXPECT_FALSE(checkMesh(turned.vertices, turned.triangles).closedManifold());
  WholeMesh inside = ball;
  for (MeshTriangle &t : inside.triangles) std::swap(t.vertices[1], t.vertices[2]);
  const MeshCheck inverted = checkMesh(inside.vertices, inside.triangles);
  EXPECT_EQ(inverted.unpairedEdges, 0u);
  EXPECT_LT(inverted.volume, 0.0);
  EXPECT_FALSE(inverted.closedManifold());
  WholeMesh flat = ball;
  flat.triangles[0].vertices[1] = flat.triangles[0].vertices[0];
  EXPECT_EQ(checkMesh(flat.vertices, flat.triangles).degenerateTriangles, 1u);
}

TEST(MeshSurface, BoxWithoutLengthIsRefused) {
  RenderSettings s = defaultSettings();
  s.zMax = s.zMin;
  MeshGrid grid;
  std::string error;
  EXPECT_FALSE(meshGridOf(s, 10, &grid, &error));
  EXPECT_NE(error.find("--box"), std::string::npos);
  s = defaultSettings();
  std::swap(s.xMin, s.xMax);
  EXPECT_FALSE(meshGridOf(s, 10, &grid, &error));
  // The longest edge takes the resolution; the others as many cells as
  // cover them.
  s = defaultSettings();
  s.yMax = 0.0;  // half as tall
  ASSERT_TRUE(meshGridOf(s, 10, &grid, &error));
  EXPECT_EQ(grid.cells[0], 10);
  EXPECT_EQ(grid.cells[1], 5);
  EXPECT_EQ(grid.cells[2], 10);
  s.yMax = 0.01;  // a little more: one more cell, beyond the box
  ASSERT_TRUE(meshGridOf(s, 10, &grid, &error));
  EXPECT_EQ(grid.cells[1], 6);
}

// Vertices bisected finer than floats can tell apart would fall on one
// another: refused, naming what fits, whatever the box's size or place.
TEST(MeshSurface, PrecisionFloatsCannotHoldIsRefused) {
  for (const double scale : {1.0, 1e-6, 1e6}) {
    SCOPED_TRACE(scale);
    RenderSettings s = defaultSettings();
    for (double *bound : {&s.xMin, &s.yMin, &s.zMin, &s.xMax, &s.yMax, &s.zMax})
      *bound = *bound * scale + 0.3;  // far from the origin for small boxes
    MeshGrid grid;
    std::string error;
    ASSERT_TRUE(meshGridOf(s, 4096, &grid, &error)) << error;
    EXPECT_TRUE(checkMeshPrecision(grid, 6, &error)) << error;
    ASSERT_TRUE(meshGridOf(s, 65536, &grid, &error));
    ASSERT_FALSE(checkMeshPrecision(grid, 6, &error));
    // What it names fits, and no more does.
    std::smatch named;
    ASSERT_TRUE(std::regex_search(
        error, named, std::regex("give --refine ([0-9]+) or less, or --resolution ([0-9]+) or less")))
        << error;
    const int refine = std::stoi(named[1]);
    const auto resolution = static_cast<int32_t>(std::stoi(named[2]));
    EXPECT_TRUE(checkMeshPrecision(grid, refine, &error)) << error;
    EXPECT_FALSE(checkMeshPrecision(grid, refine + 1, &error));
    ASSERT_TRUE(meshGridOf(s, resolution, &grid, &error));
    EXPECT_TRUE(checkMeshPrecision(grid, 6, &error)) << error;
    ASSERT_TRUE(meshGridOf(s, resolution + resolution / 50, &grid, &error));
    EXPECT_FALSE(checkMeshPrecision(grid, 6, &error));
  }
  RenderSettings tiny = defaultSettings();
  for (double *bound : {&tiny.xMin, &tiny.yMin, &tiny.zMin, &tiny.xMax, &tiny.yMax, &tiny.zMax})
    *bound *= 1e-300;
  MeshGrid grid;
  std::string error;
  ASSERT_TRUE(meshGridOf(tiny, 10, &grid, &error));
  EXPECT_FALSE(checkMeshPrecision(grid, 0, &error));
  EXPECT_NE(error.find("--box"), std::string::npos) << error;
}

}  // namespace
}  // namespace quatdepth::testing

namespace quatdepth::testing {
namespace {

// The mesh a writer wrote, read back from its bytes.
struct ReadMesh {
  std::vector<std::array<float, 3>> positions, normals;
  std::vector<std::array<uint32_t, 3>> triangles;     // PLY and OBJ
  std::vector<std::array<float, 9>> stlTriangles;     // STL's corners
  std::string header;
};

template <typename T>
T take(const std::string &bytes, size_t *at) {
  T value;
  std::memcpy(&value, bytes.data() + *at, sizeof value);
  *at += sizeof value;
  return value;
}

ReadMesh readBack(MeshFormat format, const std::string &bytes) {
  ReadMesh mesh;
  size_t at = 0;
  if (format == MeshFormat::kStl) {
    mesh.header = bytes.substr(0, 80);
    at = 80;
    const auto count = take<uint32_t>(bytes, &at);
    EXPECT_EQ(bytes.size(), 84 + size_t{count} * 50);
    for (uint32_t t = 0; t < count && at + 50 <= bytes.size(); ++t) {
      at += 12;  // the facet's normal
      std::array<float, 9> corners;
      for (float &x : corners) x = take<float>(bytes, &at);
      mesh.stlTriangles.push_back(corners);
      EXPECT_EQ(take<uint16_t>(bytes, &at), 0);
    }
    return mesh;
  }
  if (format == MeshFormat::kPly) {
    const size_t end = bytes.find("end_header\n");
    EXPECT_NE(end, std::string::npos);
    mesh.header = bytes.substr(0, end + 11);
    at = end + 11;
    const auto countOf = [&](const std::string &element) {
      const size_t p = mesh.header.find("element " + element + " ");
      return std::stoul(mesh.header.substr(p + element.size() + 9));
    };
    const size_t vertices = countOf("vertex"), faces = countOf("face");
    EXPECT_EQ(bytes.size(), at + vertices * 24 + faces * 13);
    for (size_t v = 0; v < vertices && at + 24 <= bytes.size(); ++v) {
      std::array<float, 3> p, n;
      for (float &x : p) x = take<float>(bytes, &at);
      for (float &x : n) x = take<float>(bytes, &at);
      mesh.positions.push_back(p), mesh.normals.push_back(n);
    }
    for (size_t f = 0; f < faces && at + 13 <= bytes.size(); ++f) {
      EXPECT_EQ(take<uint8_t>(bytes, &at), 3);
      std::array<uint32_t, 3> t;
      for (uint32_t &v : t) v = take<uint32_t>(bytes, &at);
      mesh.triangles.push_back(t);
    }
    return mesh;
  }
  std::istringstream in(bytes);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string kind;
    words >> kind;
    if (kind == "#") {
      mesh.header += line + "\n";
    } else if (kind == "v" || kind == "vn") {
      std::array<float, 3> p;
      words >> p[0] >> p[1] >> p[2];
      (kind == "v" ? mesh.positions : mesh.normals).push_back(p);
    } else if (kind == "f") {
      std::array<uint32_t, 3> t;
      for (uint32_t &v : t) {
        std::string corner;
        words >> corner;
        const size_t slashes = corner.find("//");
        EXPECT_EQ(corner.substr(0, slashes), corner.substr(slashes + 2));
        v = static_cast<uint32_t>(std::stoul(corner)) - 1;
      }
      mesh.triangles.push_back(t);
    } else {
      ADD_FAILURE() << "unexpected line: " << line;
    }
  }
  return mesh;
}

TEST(MeshFile, EachFormatHoldsTheMeshAsMade) {
  RenderSettings s = defaultSettings();
  s.maxIterations = 6;
  const WholeMesh mesh = sweep(s, 20, SearchPath::kScalar, 2);
  ASSERT_GT(mesh.triangles.size(), 100u);
  TemporaryDirectory folder;
  for (const MeshFormat format : {MeshFormat::kStl, MeshFormat::kPly, MeshFormat::kObj}) {
    SCOPED_TRACE(static_cast<int>(format));
    MeshFileWriter writer(format, "box = -1.2,-1.2,-1.2,1.2,1.2,1.2\niterations = 6\n");
    std::string error;
    ASSERT_TRUE(writer.open(folder.path(), &error)) << error;
    // Fed in two slabs' worth, as a sweep feeds it.
    const size_t half = mesh.triangles.size() / 2;
    ASSERT_TRUE(writer.addVertices(mesh.vertices, &error));
    ASSERT_TRUE(writer.addTriangles(std::span(mesh.triangles).first(half), {0, mesh.vertices}, &error));
    ASSERT_TRUE(writer.addTriangles(std::span(mesh.triangles).subspan(half), {0, mesh.vertices}, &error));
    const std::string path = folder.path() + "/mesh";
    FILE *out = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(writer.finish(out, path, &error)) << error;
    std::fclose(out);
    const ReadMesh read = readBack(format, readFile(path));
    if (format == MeshFormat::kStl) {
      EXPECT_EQ(read.header.rfind("solid", 0), std::string::npos);
      ASSERT_EQ(read.stlTriangles.size(), mesh.triangles.size());
      for (size_t t = 0; t < mesh.triangles.size(); ++t)
        for (size_t corner = 0; corner < 3; ++corner)
          for (size_t axis = 0; axis < 3; ++axis)
            ASSERT_EQ(read.stlTriangles[t][corner * 3 + axis],
                      mesh.vertices[mesh.triangles[t].vertices[corner]].position[axis]);
      continue;
    }
    // PLY's and OBJ's parameters are the view's lines, each marked.
    const std::string mark = format == MeshFormat::kPly ? "comment quatdepth: " : "# quatdepth: ";
    EXPECT_NE(read.header.find(mark + "box = -1.2,-1.2,-1.2,1.2,1.2,1.2\n"), std::string::npos);
    EXPECT_NE(read.header.find(mark + "iterations = 6\n"), std::string::npos);
    ASSERT_EQ(read.positions.size(), mesh.vertices.size());
    ASSERT_EQ(read.normals.size(), mesh.vertices.size());
    for (size_t v = 0; v < mesh.vertices.size(); ++v) {
      ASSERT_EQ(read.positions[v], mesh.vertices[v].position);
      ASSERT_EQ(read.normals[v], mesh.vertices[v].normal);
    }
    ASSERT_EQ(read.triangles.size(), mesh.triangles.size());
    for (size_t t = 0; t < mesh.triangles.size(); ++t)
      ASSERT_EQ(read.triangles[t], mesh.triangles[t].vertices);
  }
}

}  // namespace
}  // namespace quatdepth::testing

namespace quatdepth::testing {
namespace {

// Seen from the front, the mesh covers the pixels the renderer finds a
// depth for, at the same resolution, and its nearest point along a pixel's
// ray lies within a cell of the renderer's depth.
TEST(MeshSurface, SeenFromTheFrontItIsTheRenderersPicture) {
  const struct {
    double c[4];
    double angles[3];
    int32_t cap;
  } views[] = {{{-0.1, 0.2, 0.3, -0.1}, {0.0, 0.0, 0.0}, 10},
               {{-0.291, -0.399, 0.339, 0.437}, {0.3, 0.5, 0.7}, 20},
               {{-0.2, 0.8, 0.0, 0.0}, {0.5, 0.3, 0.0}, 8}};
  constexpr int32_t kSize = 96;
  for (const auto &view : views) {
    RenderSettings s = defaultSettings();
    for (int i = 0; i < 4; ++i) s.juliaC[i] = view.c[i];
    s.maxIterations = view.cap;
    setAngles(&s, view.angles[0], view.angles[1], view.angles[2]);
    s.width = s.height = kSize;
    // The nearest inside level of every level, a level a cell: the grid's
    // points are the renderer's samples.
    s.coarseSteps = kSize;
    s.fineSteps = 1;
    const int32_t levels = s.coarseSteps;
    SCOPED_TRACE("cap " + std::to_string(view.cap));
    std::vector<int32_t> depths(static_cast<size_t>(kSize) * kSize);
    for (int32_t row = 0; row < kSize; ++row)
      findRowDepthsFor(DepthSearch::kNearest, SearchPath::kScalar, &s, {}, row,
                       &depths[static_cast<size_t>(row) * kSize]);

    const WholeMesh mesh = sweep(s, kSize, fastestSearchPath(), 2);
    // The mesh's nearest z (toward the viewer) over each pixel's sample
    // point, found by testing each triangle against the pixels under it.
    const double cell = (s.xMax - s.xMin) / kSize;
    std::vector<double> nearest(depths.size(), -INFINITY);
    for (const MeshTriangle &t : mesh.triangles) {
      double x[3], y[3], z[3];
      for (int c = 0; c < 3; ++c) {
        const MeshVertex &v = mesh.vertices[t.vertices[static_cast<size_t>(c)]];
        // Back to the picture's frame: x right, y down the rows.
        x[c] = v.position[0], y[c] = -double{v.position[1]}, z[c] = v.position[2];
      }
      const double area = (x[1] - x[0]) * (y[2] - y[0]) - (x[2] - x[0]) * (y[1] - y[0]);
      if (area == 0.0) continue;  // edge-on
      const auto column = [&](double value) { return (value - s.xMin) / cell; };
      const auto rowOf = [&](double value) { return (value - s.yMin) / cell; };
      const auto lo = [](double a, double b, double c) {
        return static_cast<int32_t>(std::ceil(std::min({a, b, c}) - 1e-9));
      };
      const auto hi = [](double a, double b, double c) {
        return static_cast<int32_t>(std::floor(std::max({a, b, c}) + 1e-9));
      };
      for (int32_t r = std::max(0, lo(rowOf(y[0]), rowOf(y[1]), rowOf(y[2])));
           r <= std::min(kSize - 1, hi(rowOf(y[0]), rowOf(y[1]), rowOf(y[2]))); ++r) {
        for (int32_t i = std::max(0, lo(column(x[0]), column(x[1]), column(x[2])));
             i <= std::min(kSize - 1, hi(column(x[0]), column(x[1]), column(x[2]))); ++i) {
          const double px = s.xMin + cell * i, py = s.yMin + cell * r;
          // Barycentric weights, edges included.
          const double w1 = ((px - x[0]) * (y[2] - y[0]) - (x[2] - x[0]) * (py - y[0])) / area;
          const double w2 = ((x[1] - x[0]) * (py - y[0]) - (px - x[0]) * (y[1] - y[0])) / area;
          const double w0 = 1.0 - w1 - w2;
          if (w0 < -1e-9 || w1 < -1e-9 || w2 < -1e-9) continue;
          double &best = nearest[static_cast<size_t>(r) * kSize + static_cast<size_t>(i)];
          best = std::max(best, w0 * z[0] + w1 * z[1] + w2 * z[2]);
        }
      }
    }
    int agree = 0, hits = 0, far = 0;
    for (size_t p = 0; p < depths.size(); ++p) {
      const bool rendered = depths[p] >= 0, meshed = nearest[p] > -INFINITY;
      agree += rendered == meshed;
      if (!rendered || !meshed) continue;
      ++hits;
      const double z = s.zMin + (s.zMax - s.zMin) * (static_cast<double>(depths[p]) / levels);
      // The mesh's z runs toward the viewer: the box's z is its negative.
      if (std::abs(-nearest[p] - z) > cell) ++far;
    }
    EXPECT_GT(hits, kSize * kSize / 10);
    EXPECT_GE(agree, 0.99 * static_cast<double>(depths.size())) << "of " << depths.size();
    EXPECT_EQ(far, 0) << "of " << hits;
  }
}

}  // namespace
}  // namespace quatdepth::testing

namespace quatdepth::testing {
namespace {

// Simplified to a budget, a mesh stays closed, manifold and outward, and
// keeps about its volume; a budget it cannot meet is refused.
TEST(MeshSimplify, ReachesTheBudgetStillClosed) {
  RenderSettings s = defaultSettings();
  s.juliaC[0] = -0.2, s.juliaC[1] = 0.8, s.juliaC[2] = 0.0, s.juliaC[3] = 0.0;
  s.maxIterations = 8;
  setAngles(&s, 0.5, 0.3, 0.0);
  const WholeMesh full = sweep(s, 64, fastestSearchPath(), 2);
  const MeshCheck before = checkMesh(full.vertices, full.triangles);
  for (const int64_t budget : {int64_t{20000}, int64_t{3000}}) {
    SCOPED_TRACE(budget);
    ASSERT_GT(static_cast<int64_t>(full.triangles.size()), budget);
    WholeMesh mesh = full;
    std::string error;
    ASSERT_TRUE(simplifyMesh(&mesh, budget, &error)) << error;
    EXPECT_LE(static_cast<int64_t>(mesh.triangles.size()), budget);
    EXPECT_GT(static_cast<int64_t>(mesh.triangles.size()), budget / 2);
    const MeshCheck after = checkMesh(mesh.vertices, mesh.triangles);
    EXPECT_TRUE(after.closedManifold());
    EXPECT_NEAR(after.volume / before.volume, 1.0, 0.05);
    EXPECT_EQ(inwardNormals(mesh), 0u) << "of " << mesh.vertices.size();
    // Every vertex kept is used.
    std::vector<bool> used(mesh.vertices.size());
    for (const MeshTriangle &t : mesh.triangles)
      for (uint32_t v : t.vertices) used[v] = true;
    EXPECT_EQ(std::count(used.begin(), used.end(), false), 0);
  }
  // Within budget already: as it was.
  WholeMesh same = full;
  std::string error;
  ASSERT_TRUE(simplifyMesh(&same, static_cast<int64_t>(full.triangles.size()), &error));
  EXPECT_EQ(same.triangles.size(), full.triangles.size());
  // Four triangles cannot hold this set's shape.
  WholeMesh tiny = full;
  EXPECT_FALSE(simplifyMesh(&tiny, 4, &error));
  EXPECT_NE(error.find("--max-triangles 4"), std::string::npos) << error;
}

}  // namespace
}  // namespace quatdepth::testing

namespace quatdepth::testing {
namespace {

// A share that runs out of memory on another thread ends the run as if on
// this one, with every other share done: not by ending the process.
TEST(RowThreads, AShareThrowingOnAnyThreadIsThrownToTheCaller) {
  for (const int32_t thrower : {0, 1, 2}) {
    std::atomic<int> done{0};
    EXPECT_THROW(runOnRowThreads(30, 3,
                                 [&](int32_t first, int32_t) {
                                   if (first == thrower) throw std::bad_alloc();
                                   ++done;
                                 }),
                 std::bad_alloc);
    EXPECT_EQ(done.load(), 2);
  }
}

}  // namespace
}  // namespace quatdepth::testing
