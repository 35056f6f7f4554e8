#pragma once

#include <ostream>

#include "julia/search_path.h"

namespace quatdepth {

// Lets GoogleTest name a search path by its name, not its bytes.
inline void PrintTo(SearchPath path, std::ostream *out) { *out << searchPathName(path); }

}  // namespace quatdepth
