#pragma once

#include <ostream>

#include "julia/search_path.h"

namespace quatdepth {

// Lets GoogleTest name a search path by its name, not its bytes.
inline void PrintTo(SearchPath path, std::ostream *out) { *out << searchPathName(path); }

// Every path but the scalar reference, for tests that compare them with it.
constexpr SearchPath kVectorSearchPaths[] = {SearchPath::kSse2,      SearchPath::kAvx2,
                                             SearchPath::kAvx512,    SearchPath::kNeon,
                                             SearchPath::kPortable4, SearchPath::kPortable8};

}  // namespace quatdepth
