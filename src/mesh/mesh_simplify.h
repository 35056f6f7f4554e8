#pragma once

#include <cstdint>
#include <string>

#include "mesh/whole_mesh.h"

namespace quatdepth {

// Bytes a mesh of about `triangles` triangles takes in memory while it is
// simplified.
int64_t simplifyMemory(int64_t triangles);

// Reduces `mesh` to at most `mostTriangles` triangles by collapsing edges
// where that changes its shape least, keeping it closed, manifold and
// oriented, and drops the vertices no triangle uses. False with a message
// when it cannot get that far or the result would not be closed.
bool simplifyMesh(WholeMesh *mesh, int64_t mostTriangles, std::string *error);

}  // namespace quatdepth
