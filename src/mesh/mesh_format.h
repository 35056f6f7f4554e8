#pragma once

namespace quatdepth {

// What a mesh file is written as.
enum class MeshFormat { kStl, kPly, kObj };
inline constexpr const char *kMeshFormatNames[] = {"stl", "ply", "obj"};

}  // namespace quatdepth
