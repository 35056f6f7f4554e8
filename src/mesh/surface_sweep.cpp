#include "mesh/surface_sweep.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "julia/point_membership.h"
#include "julia/surface_normal.h"
#include "mesh/cube_tetrahedra.h"
#include "render/row_threads.h"

namespace quatdepth {
namespace {

constexpr uint32_t kNoVertex = UINT32_MAX;

// A plane's edges that stay in it (x, y, xy) and those that run to the
// next plane (z, xz, yz, xyz), by their direction bits.
constexpr size_t kPlaneDirections = 3;
constexpr size_t kCrossDirections = 4;
constexpr int kPlaneDirection[] = {1, 2, 3};
constexpr int kCrossDirection[] = {4, 5, 6, 7};

// Whether a row of a plane has a point inside, so that rows away from the
// surface are passed over. (The ring beyond the box keeps every row from
// being wholly inside.)
enum RowState : uint8_t { kRowOutside, kRowMixed };

// Edges bisected together, as many as keep a thread's buffers small.
constexpr size_t kEdgeBatch = 2048;

// An edge between an inside and an outside point, to be given a vertex.
struct EdgeJob {
  std::array<int32_t, 3> inside;  // grid indices
  std::array<int32_t, 3> outside;
  uint32_t *slot;  // where its vertex's number goes
};

// A cube of a slab that the surface passes through.
struct MixedCube {
  int32_t i;
  uint8_t corners;  // inside, a bit each
};

// What one row of a slab's cubes gives.
struct RowWork {
  std::vector<MixedCube> cubes;
  std::vector<EdgeJob> jobs;
  std::vector<MeshTriangle> triangles;
};

// A thread's buffers for one batch of membership tests, and of bisections.
struct TestBuffers {
  std::vector<double> x, y, z;
  std::vector<uint8_t> inside;
  std::vector<double> low, high;  // each edge's bracket, as fractions of it
  void resize(size_t n) {
    x.resize(n), y.resize(n), z.resize(n), inside.resize(n);
    low.resize(n), high.resize(n);
  }
};

class SurfaceSweep {
 public:
  SurfaceSweep(const RenderSettings &settings, const MeshGrid &grid,
               const SweepOptions &options)
      : settings_(settings),
        grid_(grid),
        options_(options),
        threads_(std::max(1, options.threads)),
        bounds_(escapeBoundsOf(&settings)),
        nx_(gridPoints(grid, 0)),
        ny_(gridPoints(grid, 1)),
        planePoints_(static_cast<size_t>(nx_) * static_cast<size_t>(ny_)),
        below_(planePoints_, 0),
        above_(planePoints_, 0),
        belowRows_(static_cast<size_t>(ny_), kRowOutside),
        aboveRows_(belowRows_),
        belowEdges_(planePoints_ * kPlaneDirections, kNoVertex),
        aboveEdges_(belowEdges_),
        crossEdges_(planePoints_ * kCrossDirections, kNoVertex),
        buffers_(static_cast<size_t>(threads_)),
        rows_(static_cast<size_t>(grid.cells[1]) + 2) {
    for (size_t axis = 0; axis < 3; ++axis) {
      coordinates_[axis].resize(static_cast<size_t>(gridPoints(grid, axis)));
      for (int32_t i = -1; i <= grid.cells[axis] + 1; ++i)
        coordinates_[axis][static_cast<size_t>(i + 1)] = meshCoordinate(grid, axis, i);
    }
  }

  bool run(MeshSink *sink, std::string *error) {
    const int32_t slabs = grid_.cells[2] + 2;  // from plane -1 to the last
    for (int32_t k = -1; k <= grid_.cells[2]; ++k) {
      classifyPlane(k + 1);
      findEdges(k);
      placeVertices();
      if (!numberVertices(sink, error)) return false;
      cutCubes();
      addSurfaceNormals();
      if (!triangles_.empty() &&
          !sink->addTriangles(triangles_, {windowFirst_, window_}, error))
        return false;
      std::swap(below_, above_);
      std::swap(belowRows_, aboveRows_);
      std::swap(belowEdges_, aboveEdges_);
      if (options_.onProgress) options_.onProgress(k + 2, slabs);
    }
    return sendVertices(window_.size(), sink, error);
  }

 private:
  size_t point(int32_t i, int32_t j) const {
    return static_cast<size_t>(j + 1) * static_cast<size_t>(nx_) + static_cast<size_t>(i + 1);
  }
  double coordinate(size_t axis, int32_t i) const {
    return coordinates_[axis][static_cast<size_t>(i + 1)];
  }

  bool isMember(const double p[3], uint8_t tested) const {
    return tested != 0 && insideBox(grid_, p);
  }

  // The memberships of plane k into above_, rows shared among the threads.
  void classifyPlane(int32_t k) {
    std::fill(above_.begin(), above_.end(), uint8_t{0});
    std::fill(aboveRows_.begin(), aboveRows_.end(), kRowOutside);
    const double z = coordinate(2, k);
    if (k < 0 || k > grid_.cells[2] || z > grid_.high[2]) return;
    // The points in the box along x: the ring beyond it stays outside.
    int32_t last = grid_.cells[0];
    while (last >= 0 && coordinate(0, last) > grid_.high[0]) --last;
    const int32_t count = last + 1;
    if (count <= 0) return;
    runOnRowThreads(grid_.cells[1] + 1, threads_, [&](int32_t first, int32_t step) {
      TestBuffers &b = buffers_[static_cast<size_t>(first)];
      b.resize(static_cast<size_t>(count));
      for (int32_t j = first; j <= grid_.cells[1]; j += step) {
        const double y = coordinate(1, j);
        if (y > grid_.high[1]) continue;
        std::copy_n(coordinates_[0].begin() + 1, count, b.x.begin());
        std::fill_n(b.y.begin(), count, y);
        std::fill_n(b.z.begin(), count, z);
        findPointsInside(options_.path, &settings_, bounds_, b.x.data(),
                         b.y.data(), b.z.data(), count, b.inside.data());
        uint8_t *row = &above_[point(0, j)];
        int insideCount = 0;
        for (int32_t i = 0; i < count; ++i) {
          row[i] = b.inside[static_cast<size_t>(i)];
          insideCount += row[i];
        }
        aboveRows_[static_cast<size_t>(j + 1)] = insideCount == 0 ? kRowOutside : kRowMixed;
      }
    });
  }

  // Whether rows j and j + 1 of both planes are all outside: no edge and
  // no cube there meets the surface.
  bool quiet(int32_t j) const {
    const auto r = static_cast<size_t>(j + 1);
    const bool next = j + 1 < ny_ - 1;
    return belowRows_[r] == kRowOutside && aboveRows_[r] == kRowOutside &&
           (!next || (belowRows_[r + 1] == kRowOutside && aboveRows_[r + 1] == kRowOutside));
  }

  // The corners of cube (i, j) of the slab inside, a bit each (bit 0 x,
  // bit 1 y, bit 2 the plane above).
  uint8_t cubeCorners(int32_t i, int32_t j) const {
    const size_t p = point(i, j), q = point(i, j + 1);
    return static_cast<uint8_t>(below_[p] | below_[p + 1] << 1 | below_[q] << 2 |
                                below_[q + 1] << 3 | above_[p] << 4 | above_[p + 1] << 5 |
                                above_[q] << 6 | above_[q + 1] << 7);
  }

  // Whether cubes i .. i + 7 of row j have every corner alike: their
  // points in both planes' rows j and j + 1 (i .. i + 8) all inside, or
  // all outside.
  bool uniformCubes(int32_t i, int32_t j) const {
    constexpr uint64_t kOnes = 0x0101010101010101u;  // a point's byte is 0 or 1
    const size_t p = point(i, j), q = point(i, j + 1);
    uint64_t anyInside = 0, allInside = kOnes;
    unsigned ninthAny = 0, ninthAll = 1;
    for (const uint8_t *row : {&below_[p], &below_[q], &above_[p], &above_[q]}) {
      uint64_t word;
      std::memcpy(&word, row, sizeof word);
      anyInside |= word, allInside &= word;
      ninthAny |= row[8], ninthAll &= row[8];
    }
    return (anyInside == 0 && ninthAny == 0) || (allInside == kOnes && ninthAll == 1);
  }

  // The cubes of row j the surface passes through, and the edges that
  // start at their low corners and whose ends differ: plane k + 1's own
  // and those across the slab, the edges no earlier slab holds. Every such
  // edge lies in the cube at its low corner, so no other edge can differ.
  void scanRow(int32_t k, int32_t j, RowWork *row) {
    row->cubes.clear();
    row->jobs.clear();
    if (quiet(j)) return;
    for (int32_t i = -1; i <= grid_.cells[0]; ++i) {
      // Eight cubes at a time, where their corners are all alike.
      while (i + 8 <= grid_.cells[0] && uniformCubes(i, j)) i += 8;
      const uint8_t corners = cubeCorners(i, j);
      if (corners == 0 || corners == 255) continue;
      row->cubes.push_back({i, corners});
      const size_t p = point(i, j);
      const auto consider = [&](int32_t k0, int direction, bool inside0, uint32_t *slot) {
        const int32_t i1 = i + (direction & 1), j1 = j + ((direction >> 1) & 1);
        // Every edge ends in plane k + 1.
        if ((above_[point(i1, j1)] != 0) == inside0) return;
        const std::array<int32_t, 3> a{i, j, k0}, b{i1, j1, k + 1};
        row->jobs.push_back(inside0 ? EdgeJob{a, b, slot} : EdgeJob{b, a, slot});
      };
      for (size_t d = 0; d < kPlaneDirections; ++d)
        consider(k + 1, kPlaneDirection[d], above_[p] != 0,
                 &aboveEdges_[p * kPlaneDirections + d]);
      for (size_t d = 0; d < kCrossDirections; ++d)
        consider(k, kCrossDirection[d], below_[p] != 0, &crossEdges_[p * kCrossDirections + d]);
    }
  }

  // Every row of slab k scanned, the rows shared among the threads, and
  // their edges gathered in order: the vertices' numbers do not depend on
  // the threads.
  void findEdges(int32_t k) {
    runOnRowThreads(static_cast<int32_t>(rows_.size()), threads_,
                    [&](int32_t first, int32_t step) {
                      for (auto j = static_cast<size_t>(first); j < rows_.size();
                           j += static_cast<size_t>(step))
                        scanRow(k, static_cast<int32_t>(j) - 1, &rows_[j]);
                    });
    jobs_.clear();
    for (const RowWork &row : rows_) jobs_.insert(jobs_.end(), row.jobs.begin(), row.jobs.end());
  }

  std::array<double, 3> gridPoint(const std::array<int32_t, 3> &index) const {
    return {coordinate(0, index[0]), coordinate(1, index[1]), coordinate(2, index[2])};
  }

  // The point a fraction t of the way from `from` to `to`.
  static std::array<double, 3> along(const std::array<double, 3> &from,
                                     const std::array<double, 3> &to, double t) {
    return {from[0] + t * (to[0] - from[0]), from[1] + t * (to[1] - from[1]),
            from[2] + t * (to[2] - from[2])};
  }

  // The outward normal at a point just outside the surface: the set's, or
  // the box's face where the point lies beyond it; along the edge where the
  // set gives none, or one that points in.
  MeshVertex vertexAt(const std::array<double, 3> &position,
                      const std::array<double, 3> &outsideEnd,
                      const std::array<double, 3> &edge) const {
    std::array<double, 3> n{0.0, 0.0, 0.0};
    if (!insideBox(grid_, outsideEnd.data())) {
      for (size_t axis = 0; axis < 3; ++axis) {
        if (outsideEnd[axis] < grid_.low[axis]) n[axis] = -1.0;
        if (outsideEnd[axis] > grid_.high[axis]) n[axis] = 1.0;
      }
    } else {
      const SurfaceNormal s =
          setNormalAt(&settings_, ViewPoint{outsideEnd[0], outsideEnd[1], outsideEnd[2]});
      n = {s.x, s.y, s.z};
    }
    double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    // The set's gradient can point inward where its escape is not the
    // bailout's (a bailout below 4, say): the edge, from inside to out,
    // is outward there.
    const bool inward = n[0] * edge[0] + n[1] * edge[1] + n[2] * edge[2] <= 0.0;
    if (!(length > 0.0) || !std::isfinite(length) || inward) {
      n = edge;
      length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    }
    // The mesh's frame: y up and z toward the viewer, a half turn about x,
    // from the box's centre, so that floats hold a small box far from the
    // origin as finely as any.
    MeshVertex v;
    v.position = {static_cast<float>(position[0] - settings_.centreX),
                  static_cast<float>(-(position[1] - settings_.centreY)),
                  static_cast<float>(-(position[2] - settings_.centreZ))};
    v.normal = {static_cast<float>(n[0] / length), static_cast<float>(-n[1] / length),
                static_cast<float>(-n[2] / length)};
    return v;
  }

  // Bisects every edge of the slab, batches shared among the threads.
  void placeVertices() {
    placed_.resize(jobs_.size());
    const auto batches = static_cast<int32_t>((jobs_.size() + kEdgeBatch - 1) / kEdgeBatch);
    if (batches == 0) return;
    runOnRowThreads(batches, threads_, [&](int32_t first, int32_t step) {
      TestBuffers &b = buffers_[static_cast<size_t>(first)];
      b.resize(kEdgeBatch);
      std::vector<double> &low = b.low, &high = b.high;
      for (int32_t batch = first; batch < batches; batch += step) {
        const size_t begin = static_cast<size_t>(batch) * kEdgeBatch;
        const size_t count = std::min(kEdgeBatch, jobs_.size() - begin);
        std::fill_n(low.begin(), count, 0.0);
        std::fill_n(high.begin(), count, 1.0);
        for (int round = 0; round < options_.refine; ++round) {
          for (size_t e = 0; e < count; ++e) {
            const EdgeJob &job = jobs_[begin + e];
            const auto p = along(gridPoint(job.inside), gridPoint(job.outside),
                                 0.5 * (low[e] + high[e]));
            b.x[e] = p[0], b.y[e] = p[1], b.z[e] = p[2];
          }
          findPointsInside(options_.path, &settings_, bounds_, b.x.data(),
                           b.y.data(), b.z.data(), static_cast<int32_t>(count),
                           b.inside.data());
          for (size_t e = 0; e < count; ++e) {
            const double p[3] = {b.x[e], b.y[e], b.z[e]};
            const double middle = 0.5 * (low[e] + high[e]);
            (isMember(p, b.inside[e]) ? low[e] : high[e]) = middle;
          }
        }
        for (size_t e = 0; e < count; ++e) {
          const EdgeJob &job = jobs_[begin + e];
          const auto from = gridPoint(job.inside), to = gridPoint(job.outside);
          placed_[begin + e] =
              vertexAt(along(from, to, 0.5 * (low[e] + high[e])), along(from, to, high[e]),
                       {to[0] - from[0], to[1] - from[1], to[2] - from[2]});
        }
      }
    });
  }

  // Numbers the slab's new vertices in the order their edges were found,
  // and keeps them and the slab before's to look up. The slab before the
  // last one's leave, to the sink: no later triangle uses them.
  bool numberVertices(MeshSink *sink, std::string *error) {
    if (placed_.size() > static_cast<size_t>(kNoVertex - 1) - vertexCount_) {
      *error = "the mesh has more vertices than 32-bit numbers can name; lower --resolution";
      return false;
    }
    if (!sendVertices(slabFirst_ - windowFirst_, sink, error)) return false;
    slabFirst_ = static_cast<uint32_t>(vertexCount_);
    for (size_t e = 0; e < jobs_.size(); ++e)
      *jobs_[e].slot = static_cast<uint32_t>(vertexCount_ + e);
    vertexCount_ += placed_.size();
    window_.insert(window_.end(), placed_.begin(), placed_.end());
    surfaceNormals_.resize(window_.size(), {0.0, 0.0, 0.0});
    return true;
  }

  // The window's first `count` vertices to the sink, and out of the
  // window. Each keeps the set's normal unless that points into the
  // surface its triangles make (the set's gradient follows structure far
  // finer than a cell, and where its escape is not the bailout's it may
  // point in): then it takes the surface's, its triangles' normals
  // weighted by their areas.
  bool sendVertices(size_t count, MeshSink *sink, std::string *error) {
    for (size_t v = 0; v < count; ++v) {
      MeshVertex &vertex = window_[v];
      const std::array<double, 3> &around = surfaceNormals_[v];
      const double agreement = vertex.normal[0] * around[0] + vertex.normal[1] * around[1] +
                               vertex.normal[2] * around[2];
      const double length =
          std::sqrt(around[0] * around[0] + around[1] * around[1] + around[2] * around[2]);
      if (agreement > 0.0 || !(length > 0.0)) continue;
      for (size_t axis = 0; axis < 3; ++axis)
        vertex.normal[axis] = static_cast<float>(around[axis] / length);
    }
    if (count > 0 && !sink->addVertices(std::span(window_).first(count), error)) return false;
    window_.erase(window_.begin(), window_.begin() + static_cast<ptrdiff_t>(count));
    surfaceNormals_.erase(surfaceNormals_.begin(),
                          surfaceNormals_.begin() + static_cast<ptrdiff_t>(count));
    windowFirst_ += static_cast<uint32_t>(count);
    return true;
  }

  // Each triangle's normal, its length twice its area, added to its
  // vertices' surface normals.
  void addSurfaceNormals() {
    for (const MeshTriangle &t : triangles_) {
      const auto &a = window_[t.vertices[0] - windowFirst_].position;
      const auto &b = window_[t.vertices[1] - windowFirst_].position;
      const auto &c = window_[t.vertices[2] - windowFirst_].position;
      const double u[3] = {double{b[0]} - a[0], double{b[1]} - a[1], double{b[2]} - a[2]};
      const double w[3] = {double{c[0]} - a[0], double{c[1]} - a[1], double{c[2]} - a[2]};
      const std::array<double, 3> n{u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2],
                                    u[0] * w[1] - u[1] * w[0]};
      for (uint32_t v : t.vertices)
        for (size_t axis = 0; axis < 3; ++axis) surfaceNormals_[v - windowFirst_][axis] += n[axis];
    }
  }

  uint32_t vertexOf(int32_t i, int32_t j, CubeEdge edge) const {
    const int32_t ci = i + (edge.corner & 1), cj = j + ((edge.corner >> 1) & 1);
    const size_t p = point(ci, cj);
    if (edge.direction & 4)
      return crossEdges_[p * kCrossDirections + static_cast<size_t>(edge.direction - 4)];
    const std::vector<uint32_t> &plane = (edge.corner & 4) ? aboveEdges_ : belowEdges_;
    return plane[p * kPlaneDirections + static_cast<size_t>(edge.direction - 1)];
  }

  // The triangles of row j's cubes the surface passes through.
  void cutRow(int32_t j, RowWork *row) const {
    row->triangles.clear();
    for (const MixedCube &cube : row->cubes) {
      for (int t = 0; t < kCubeTetrahedra; ++t) {
        const TetrahedronCut &cut = tetrahedronCut(t, cube.corners);
        for (int n = 0; n < cut.triangles; ++n) {
          const auto &edges = cut.edges[static_cast<size_t>(n)];
          row->triangles.push_back({{vertexOf(cube.i, j, edges[0]), vertexOf(cube.i, j, edges[1]),
                                     vertexOf(cube.i, j, edges[2])}});
        }
      }
    }
  }

  // The slab's triangles, rows shared among the threads, in row order.
  void cutCubes() {
    runOnRowThreads(static_cast<int32_t>(rows_.size()), threads_,
                    [&](int32_t first, int32_t step) {
                      for (auto j = static_cast<size_t>(first); j < rows_.size();
                           j += static_cast<size_t>(step))
                        cutRow(static_cast<int32_t>(j) - 1, &rows_[j]);
                    });
    triangles_.clear();
    for (const RowWork &row : rows_)
      triangles_.insert(triangles_.end(), row.triangles.begin(), row.triangles.end());
  }

  const RenderSettings &settings_;
  const MeshGrid &grid_;
  const SweepOptions &options_;
  const int threads_;
  const EscapeBounds bounds_;
  const int32_t nx_, ny_;
  const size_t planePoints_;
  std::array<std::vector<double>, 3> coordinates_;
  std::vector<uint8_t> below_, above_;        // planes k and k + 1: 1 inside
  std::vector<RowState> belowRows_, aboveRows_;
  std::vector<uint32_t> belowEdges_, aboveEdges_;  // vertices of a plane's own edges
  std::vector<uint32_t> crossEdges_;               // vertices of the edges across the slab
  std::vector<TestBuffers> buffers_;               // one a thread
  std::vector<RowWork> rows_;  // the slab's rows of cubes, from -1
  std::vector<EdgeJob> jobs_;
  std::vector<MeshVertex> placed_;
  std::vector<MeshVertex> window_;  // the vertices of this slab and the one before
  std::vector<std::array<double, 3>> surfaceNormals_;  // the window's, from its triangles
  uint32_t windowFirst_ = 0, slabFirst_ = 0;
  size_t vertexCount_ = 0;
  std::vector<MeshTriangle> triangles_;
};

}  // namespace

int64_t sweepMemory(const MeshGrid &grid, int threads) {
  const int64_t points = int64_t{gridPoints(grid, 0)} * gridPoints(grid, 1);
  // Two planes of memberships, three planes of edge vertices (two of a
  // plane's own, one across), and each thread's batch buffers.
  const int64_t planes =
      points * (2 + 4 * static_cast<int64_t>(2 * kPlaneDirections + kCrossDirections)) +
      2 * int64_t{gridPoints(grid, 1)};
  const int64_t buffers =
      int64_t{std::max(1, threads)} * std::max<int64_t>(gridPoints(grid, 0), kEdgeBatch) * 41;
  return planes + buffers;
}

bool sweepSurface(const RenderSettings &settings, const MeshGrid &grid,
                  const SweepOptions &options, MeshSink *sink, std::string *error) {
  SurfaceSweep sweep(settings, grid, options);
  return sweep.run(sink, error);
}

}  // namespace quatdepth
