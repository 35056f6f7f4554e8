#include "julia/search_path.h"

#include <cstring>
#include <initializer_list>

#include "julia/row_depths.h"
#include "julia/vector_paths.h"

namespace quatdepth {

const char *searchPathName(SearchPath path) {
  switch (path) {
    case SearchPath::kScalar: return "scalar";
    case SearchPath::kSse2: return "sse2";
    case SearchPath::kAvx2: return "avx2";
    case SearchPath::kAvx512: return "avx512";
    case SearchPath::kPortable4: return "portable4";
    case SearchPath::kPortable8: return "portable8";
  }
  return "unknown";
}

bool parseSearchPath(const char *name, SearchPath *path) {
  for (SearchPath candidate : kAllSearchPaths) {
    if (std::strcmp(name, searchPathName(candidate)) == 0) {
      *path = candidate;
      return true;
    }
  }
  return false;
}

bool isSearchPathSupported(SearchPath path) {
  switch (path) {
    case SearchPath::kScalar:
    case SearchPath::kSse2: return true;  // part of every x86-64
    case SearchPath::kPortable4:
    case SearchPath::kPortable8: return true;
    case SearchPath::kAvx2: return __builtin_cpu_supports("avx2");
    case SearchPath::kAvx512: return __builtin_cpu_supports("avx512f");
  }
  return false;
}

SearchPath fastestSearchPath() {
  for (SearchPath path : {SearchPath::kAvx512, SearchPath::kAvx2})
    if (isSearchPathSupported(path)) return path;
  return SearchPath::kSse2;
}

void findRowDepthsOn(SearchPath path, const RenderSettings *settings,
                     const LevelTables *tables, int32_t row, int32_t *depths,
                     SearchStats *stats, SearchDesign design) {
  switch (path) {
    case SearchPath::kScalar:
      findRowDepthsScalar(settings, row, depths);
      return;
    case SearchPath::kSse2:
      findRowDepthsSse2(settings, tables, row, depths, stats, design);
      return;
    case SearchPath::kAvx2:
      findRowDepthsAvx2(settings, tables, row, depths, stats, design);
      return;
    case SearchPath::kAvx512:
      findRowDepthsAvx512(settings, tables, row, depths, stats, design);
      return;
    case SearchPath::kPortable4:
      findRowDepthsPortable4(settings, tables, row, depths, stats, design);
      return;
    case SearchPath::kPortable8:
      findRowDepthsPortable8(settings, tables, row, depths, stats, design);
      return;
  }
}

}  // namespace quatdepth
