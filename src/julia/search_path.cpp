#include "julia/search_path.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "julia/nearest_search.h"
#include "julia/row_depths.h"
#include "julia/vector_paths.h"

namespace quatdepth {

const char *searchPathName(SearchPath path) {
  switch (path) {
    case SearchPath::kScalar: return "scalar";
    case SearchPath::kSse2: return "sse2";
    case SearchPath::kAvx2: return "avx2";
    case SearchPath::kAvx512: return "avx512";
    case SearchPath::kNeon: return "neon";
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

const char *depthSearchName(DepthSearch search) {
  return kDepthSearchNames[static_cast<size_t>(search)];
}

bool parseDepthSearch(const char *name, DepthSearch *search) {
  for (DepthSearch candidate : kAllDepthSearches) {
    if (std::strcmp(name, depthSearchName(candidate)) == 0) {
      *search = candidate;
      return true;
    }
  }
  return false;
}

bool isSearchPathSupported(SearchPath path) {
  switch (path) {
    case SearchPath::kScalar:
    case SearchPath::kPortable4:
    case SearchPath::kPortable8: return true;
#if defined(__x86_64__)
    case SearchPath::kSse2: return true;  // part of every x86-64
    case SearchPath::kAvx2: return __builtin_cpu_supports("avx2");
    case SearchPath::kAvx512: return __builtin_cpu_supports("avx512f");
    case SearchPath::kNeon: return false;
#elif defined(__aarch64__)
    case SearchPath::kNeon: return true;  // part of every AArch64
    case SearchPath::kSse2:
    case SearchPath::kAvx2:
    case SearchPath::kAvx512: return false;
#else
    case SearchPath::kSse2:
    case SearchPath::kAvx2:
    case SearchPath::kAvx512:
    case SearchPath::kNeon: return false;
#endif
  }
  return false;
}

SearchPath fastestSearchPath() {
  for (SearchPath path : {SearchPath::kAvx512, SearchPath::kAvx2, SearchPath::kSse2,
                          SearchPath::kNeon})
    if (isSearchPathSupported(path)) return path;
  return SearchPath::kScalar;
}

void findRowDepthsOn(SearchPath path, const RenderSettings *settings,
                     SearchTables tables, int32_t row, int32_t *depths,
                     SearchStats *stats, SearchDesign design) {
  switch (path) {
    case SearchPath::kScalar:
      findRowDepthsScalar(settings, row, depths);
      return;
#if defined(__x86_64__)
    case SearchPath::kSse2:
      findRowDepthsSse2(settings, tables, row, depths, stats, design);
      return;
    case SearchPath::kAvx2:
      findRowDepthsAvx2(settings, tables, row, depths, stats, design);
      return;
    case SearchPath::kAvx512:
      findRowDepthsAvx512(settings, tables, row, depths, stats, design);
      return;
#else
    case SearchPath::kSse2:
    case SearchPath::kAvx2:
    case SearchPath::kAvx512: std::abort();  // not in this build: never supported
#endif
#if defined(__aarch64__)
    case SearchPath::kNeon:
      findRowDepthsNeon(settings, tables, row, depths, stats, design);
      return;
#else
    case SearchPath::kNeon: std::abort();
#endif
    case SearchPath::kPortable4:
      findRowDepthsPortable4(settings, tables, row, depths, stats, design);
      return;
    case SearchPath::kPortable8:
      findRowDepthsPortable8(settings, tables, row, depths, stats, design);
      return;
  }
}

void findRowNearestDepthsOn(SearchPath path, const RenderSettings *settings,
                            SearchTables tables, int32_t row, int32_t *depths,
                            SearchStats *stats) {
  switch (path) {
    case SearchPath::kScalar:
      findRowNearestDepthsScalar(settings, row, depths);
      return;
#if defined(__x86_64__)
    case SearchPath::kSse2:
      findRowNearestDepthsSse2(settings, tables, row, depths, stats);
      return;
    case SearchPath::kAvx2:
      findRowNearestDepthsAvx2(settings, tables, row, depths, stats);
      return;
    case SearchPath::kAvx512:
      findRowNearestDepthsAvx512(settings, tables, row, depths, stats);
      return;
#else
    case SearchPath::kSse2:
    case SearchPath::kAvx2:
    case SearchPath::kAvx512: std::abort();
#endif
#if defined(__aarch64__)
    case SearchPath::kNeon:
      findRowNearestDepthsNeon(settings, tables, row, depths, stats);
      return;
#else
    case SearchPath::kNeon: std::abort();
#endif
    case SearchPath::kPortable4:
      findRowNearestDepthsPortable4(settings, tables, row, depths, stats);
      return;
    case SearchPath::kPortable8:
      findRowNearestDepthsPortable8(settings, tables, row, depths, stats);
      return;
  }
}

void findRowDepthsFor(DepthSearch search, SearchPath path, const RenderSettings *settings,
                      SearchTables tables, int32_t row, int32_t *depths) {
  if (search == DepthSearch::kNearest)
    findRowNearestDepthsOn(path, settings, tables, row, depths);
  else
    findRowDepthsOn(path, settings, tables, row, depths);
}

}  // namespace quatdepth
