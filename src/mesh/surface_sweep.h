#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "julia/search_path.h"
#include "mesh/mesh_grid.h"
#include "mesh/mesh_sink.h"
#include "settings/render_settings.h"

namespace quatdepth {

struct SweepOptions {
  SearchPath path = SearchPath::kScalar;  // for the membership tests
  int threads = 1;
  int refine = 6;  // bisections a vertex: within 1 / 2^(refine + 1) of its edge
  // After each slab: slabs done, of `slabs`.
  std::function<void(int32_t done, int32_t slabs)> onProgress;
};

// Bytes the sweep holds at once for `grid`: its planes and their edges'
// vertices, whatever the number of planes.
int64_t sweepMemory(const MeshGrid &grid, int threads);

// The surface of the set within the grid's box, into `sink`, slab by slab
// along z: two planes of points' memberships and the vertices of their
// edges at a time. Each grid point is turned about the box centre as the
// search turns its samples and tested exactly; a vertex sits on each edge
// between an inside and an outside point (the edges of the cubes' six
// tetrahedra), where bisecting the edge `refine` times with the same test
// puts it. The mesh is closed, manifold and oriented outward, and its bytes
// do not depend on the path or the number of threads. False with the
// sink's message, or one saying the mesh has too many vertices to number.
bool sweepSurface(const RenderSettings &settings, const MeshGrid &grid,
                  const SweepOptions &options, MeshSink *sink, std::string *error);

}  // namespace quatdepth
