#include "mesh/mesh_simplify.h"

#include <meshoptimizer.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <queue>
#include <vector>

#include "mesh/mesh_check.h"

namespace quatdepth {
namespace {

using Vector = std::array<double, 3>;

Vector minus(const Vector &a, const Vector &b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
Vector cross(const Vector &a, const Vector &b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double dot(const Vector &a, const Vector &b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

// The squared distance to a set of planes, as a symmetric 4 x 4 matrix:
// the error of moving a vertex off the surface it stood for.
struct Quadric {
  std::array<double, 10> m{};  // upper triangle, row by row
  void addPlane(const Vector &n, double d, double weight) {
    const double p[4] = {n[0], n[1], n[2], d};
    size_t k = 0;
    for (int i = 0; i < 4; ++i)
      for (int j = i; j < 4; ++j) m[k++] += weight * p[i] * p[j];
  }
  void add(const Quadric &other) {
    for (size_t k = 0; k < m.size(); ++k) m[k] += other.m[k];
  }
  double error(const Vector &v) const {
    const double p[4] = {v[0], v[1], v[2], 1.0};
    double sum = 0.0;
    size_t k = 0;
    for (int i = 0; i < 4; ++i)
      for (int j = i; j < 4; ++j) sum += (i == j ? 1.0 : 2.0) * m[k++] * p[i] * p[j];
    return sum;
  }
};

// Collapsing the edge from `from` into `to`, which keeps its place.
struct Collapse {
  double cost;
  uint32_t from, to;
  uint32_t fromVersion, toVersion;
  bool operator>(const Collapse &other) const { return cost > other.cost; }
};

// Edge collapses in order of least error, each allowed only where it keeps
// the surface a closed manifold: the two vertices share exactly the two
// neighbours of the triangles on their edge (the link condition), and no
// triangle that moves turns over or goes flat.
class EdgeCollapser {
 public:
  explicit EdgeCollapser(const WholeMesh &mesh)
      : positions_(mesh.vertices.size()), quadrics_(mesh.vertices.size()),
        around_(mesh.vertices.size()), versions_(mesh.vertices.size(), 0),
        alive_(mesh.triangles.size(), true), triangles_(mesh.triangles.size()),
        living_(static_cast<int64_t>(mesh.triangles.size())) {
    for (size_t v = 0; v < mesh.vertices.size(); ++v)
      for (size_t axis = 0; axis < 3; ++axis)
        positions_[v][axis] = mesh.vertices[v].position[axis];
    for (size_t t = 0; t < mesh.triangles.size(); ++t) {
      triangles_[t] = mesh.triangles[t].vertices;
      for (uint32_t v : triangles_[t]) around_[v].push_back(static_cast<uint32_t>(t));
      const Vector n = normalOf(triangles_[t]);
      const double twiceArea = std::sqrt(dot(n, n));
      if (!(twiceArea > 0.0)) continue;
      const Vector unit{n[0] / twiceArea, n[1] / twiceArea, n[2] / twiceArea};
      for (uint32_t v : triangles_[t])
        quadrics_[v].addPlane(unit, -dot(unit, positions_[triangles_[t][0]]), twiceArea);
    }
    refill();
  }

  // Collapses until at most `most` triangles are left; false when no
  // collapse that keeps the surface whole is left first.
  bool reduceTo(int64_t most) {
    while (living_ > most) {
      if (queue_.empty()) {
        // A collapse refused once may be allowed now that its
        // neighbourhood has changed: queue every edge again, as long as
        // the last round got anywhere.
        if (living_ == livingAtRefill_) return false;
        livingAtRefill_ = living_;
        refill();
        continue;
      }
      const Collapse c = queue_.top();
      queue_.pop();
      if (versions_[c.from] != c.fromVersion || versions_[c.to] != c.toVersion ||
          dead(c.from) || dead(c.to))
        continue;
      collapse(c.from, c.to);
    }
    return true;
  }

  int64_t living() const { return living_; }

  std::vector<unsigned int> indices() const {
    std::vector<unsigned int> out;
    out.reserve(static_cast<size_t>(living_) * 3);
    for (size_t t = 0; t < triangles_.size(); ++t)
      if (alive_[t]) out.insert(out.end(), triangles_[t].begin(), triangles_[t].end());
    return out;
  }

 private:
  Vector normalOf(const std::array<uint32_t, 3> &t) const {
    const Vector &a = positions_[t[0]];
    return cross(minus(positions_[t[1]], a), minus(positions_[t[2]], a));
  }
  bool dead(uint32_t v) const { return around_[v].empty(); }

  void refill() {
    for (size_t t = 0; t < triangles_.size(); ++t) {
      if (!alive_[t]) continue;
      const auto &corners = triangles_[t];
      for (size_t i = 0; i < 3; ++i) push(corners[i], corners[(i + 1) % 3]);
    }
  }

  // The cheaper way to collapse the edge between a and b.
  void push(uint32_t a, uint32_t b) {
    if (a > b) return;  // each edge once (its twin runs b to a)
    Quadric q = quadrics_[a];
    q.add(quadrics_[b]);
    const double intoB = q.error(positions_[b]), intoA = q.error(positions_[a]);
    if (intoB <= intoA)
      queue_.push({intoB, a, b, versions_[a], versions_[b]});
    else
      queue_.push({intoA, b, a, versions_[b], versions_[a]});
  }

  void neighbours(uint32_t v, std::vector<uint32_t> *out) const {
    out->clear();
    for (uint32_t t : around_[v])
      for (uint32_t w : triangles_[t])
        if (w != v) out->push_back(w);
    std::sort(out->begin(), out->end());
    out->erase(std::unique(out->begin(), out->end()), out->end());
  }

  bool allowed(uint32_t from, uint32_t to) {
    // The triangles on the edge: exactly two, in a closed manifold.
    int shared = 0;
    for (uint32_t t : around_[from])
      shared += std::count(triangles_[t].begin(), triangles_[t].end(), to) > 0;
    if (shared != 2) return false;
    neighbours(from, &fromRing_);
    neighbours(to, &toRing_);
    common_.clear();
    std::set_intersection(fromRing_.begin(), fromRing_.end(), toRing_.begin(), toRing_.end(),
                          std::back_inserter(common_));
    if (common_.size() != 2) return false;
    // Both of valence 3: the edge of a tetrahedron, which would fold
    // into two triangles back to back.
    if (fromRing_.size() <= 3 && toRing_.size() <= 3) return false;
    for (uint32_t t : around_[from]) {
      const auto &corners = triangles_[t];
      if (std::count(corners.begin(), corners.end(), to) > 0) continue;
      std::array<uint32_t, 3> moved = corners;
      for (uint32_t &v : moved)
        if (v == from) v = to;
      const Vector before = normalOf(corners), after = normalOf(moved);
      if (!(dot(after, after) > 0.0) || dot(before, after) <= 0.0) return false;
    }
    return true;
  }

  void collapse(uint32_t from, uint32_t to) {
    if (!allowed(from, to)) return;
    for (uint32_t t : around_[from]) {
      auto &corners = triangles_[t];
      if (std::count(corners.begin(), corners.end(), to) > 0) {
        alive_[t] = false;
        --living_;
        for (uint32_t v : corners) {
          if (v == from) continue;
          auto &list = around_[v];
          list.erase(std::remove(list.begin(), list.end(), t), list.end());
        }
      } else {
        for (uint32_t &v : corners)
          if (v == from) v = to;
        around_[to].push_back(t);
      }
    }
    around_[from].clear();
    around_[from].shrink_to_fit();
    quadrics_[to].add(quadrics_[from]);
    ++versions_[to];
    neighbours(to, &toRing_);
    for (uint32_t w : toRing_) push(std::min(w, to), std::max(w, to));
  }

  std::vector<Vector> positions_;
  std::vector<Quadric> quadrics_;
  std::vector<std::vector<uint32_t>> around_;  // each vertex's triangles
  std::vector<uint32_t> versions_;             // bumped when a vertex's edges change
  std::vector<bool> alive_;
  std::vector<std::array<uint32_t, 3>> triangles_;
  int64_t living_;
  int64_t livingAtRefill_ = -1;
  std::priority_queue<Collapse, std::vector<Collapse>, std::greater<>> queue_;
  std::vector<uint32_t> fromRing_, toRing_, common_;  // scratch
};

// A vertex keeps the set's normal it had, but the coarser surface around
// it may now face another way: where the two disagree, the normal is the
// surface's, its triangles' normals weighted by their areas.
void keepNormalsOutward(const std::vector<MeshTriangle> &triangles,
                        std::vector<MeshVertex> *vertices) {
  std::vector<Vector> around(vertices->size(), Vector{0.0, 0.0, 0.0});
  for (const MeshTriangle &t : triangles) {
    Vector corner[3];
    for (size_t c = 0; c < 3; ++c)
      for (size_t axis = 0; axis < 3; ++axis)
        corner[c][axis] = (*vertices)[t.vertices[c]].position[axis];
    const Vector n = cross(minus(corner[1], corner[0]), minus(corner[2], corner[0]));
    for (uint32_t v : t.vertices)
      for (size_t axis = 0; axis < 3; ++axis) around[v][axis] += n[axis];
  }
  for (size_t v = 0; v < vertices->size(); ++v) {
    MeshVertex &vertex = (*vertices)[v];
    const Vector kept{vertex.normal[0], vertex.normal[1], vertex.normal[2]};
    const double length = std::sqrt(dot(around[v], around[v]));
    if (dot(kept, around[v]) > 0.0 || !(length > 0.0)) continue;
    for (size_t axis = 0; axis < 3; ++axis)
      vertex.normal[axis] = static_cast<float>(around[v][axis] / length);
  }
}

}  // namespace

int64_t simplifyMemory(int64_t triangles) {
  // For each triangle: the mesh as it grows (a vertex for about two
  // triangles, the vectors up to twice their size) and its working copy;
  // for each vertex its quadric, its triangles' list and the collapses
  // queued for it, each edge's queued again after every collapse nearby.
  // Measured peaks come to about 210 bytes a triangle (docs/mesh.md).
  constexpr int64_t kBytesPerTriangle =
      2 * (sizeof(MeshTriangle) + sizeof(MeshVertex) / 2) + sizeof(MeshTriangle) +
      (sizeof(Quadric) + 80 + 12 * sizeof(Collapse)) / 2;
  return triangles * kBytesPerTriangle;
}

bool simplifyMesh(WholeMesh *mesh, int64_t mostTriangles, std::string *error) {
  if (static_cast<int64_t>(mesh->triangles.size()) <= mostTriangles) return true;
  EdgeCollapser collapser(*mesh);
  if (!collapser.reduceTo(mostTriangles)) {
    *error = "--max-triangles " + std::to_string(mostTriangles) + ": the surface stays closed "
             "only down to " + std::to_string(collapser.living()) +
             " triangles; give at least that many";
    return false;
  }
  std::vector<unsigned int> kept = collapser.indices();
  // Only the vertices the triangles use, in the order they first use them.
  std::vector<unsigned int> remap(mesh->vertices.size());
  const size_t used =
      meshopt_optimizeVertexFetchRemap(remap.data(), kept.data(), kept.size(), mesh->vertices.size());
  std::vector<MeshVertex> vertices(used);
  meshopt_remapVertexBuffer(vertices.data(), mesh->vertices.data(), mesh->vertices.size(),
                            sizeof(MeshVertex), remap.data());
  std::vector<MeshTriangle> triangles(kept.size() / 3);
  meshopt_remapIndexBuffer(&triangles[0].vertices[0], kept.data(), kept.size(), remap.data());
  // Guaranteed by each collapse; checked, since a broken file would
  // fail only at the printer.
  if (!checkMesh(vertices, triangles).closedManifold()) {
    *error = "--max-triangles " + std::to_string(mostTriangles) +
             ": the simplified mesh is not closed and manifold; nothing was kept";
    return false;
  }
  keepNormalsOutward(triangles, &vertices);
  mesh->vertices = std::move(vertices);
  mesh->triangles = std::move(triangles);
  return true;
}

}  // namespace quatdepth
