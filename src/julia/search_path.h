#pragma once

#include <cstdint>

#include "julia/level_tables.h"
#include "julia/search_design.h"
#include "julia/search_stats.h"
#include "settings/render_settings.h"

namespace quatdepth {

// The implementations of the row search. Every one gives the same bytes;
// they differ only in speed and in the instructions they need. SSE2, AVX2
// and AVX-512 run on x86-64, NEON on AArch64, the others anywhere.
// The portable paths run the AVX2 and AVX-512 searches on plain arrays,
// on any CPU; they are never chosen by themselves.
enum class SearchPath { kScalar, kSse2, kAvx2, kAvx512, kNeon, kPortable4, kPortable8 };

constexpr SearchPath kAllSearchPaths[] = {
    SearchPath::kScalar, SearchPath::kSse2,      SearchPath::kAvx2,     SearchPath::kAvx512,
    SearchPath::kNeon,   SearchPath::kPortable4, SearchPath::kPortable8};

const char *searchPathName(SearchPath path);

// Which depth a search answers. kSteps probes every fineSteps-th level and
// refines before the first inside one: quatdepth's records, which miss
// what lies wholly between two coarse probes. kNearest answers the nearest
// inside level of all of them, skipping only levels an escaping probe's
// reach proves outside: what kSteps gives with one fine step.
enum class DepthSearch { kSteps, kNearest };

constexpr DepthSearch kAllDepthSearches[] = {DepthSearch::kSteps, DepthSearch::kNearest};

// The searches' names, in DepthSearch's order.
inline constexpr const char *kDepthSearchNames[] = {"steps", "nearest"};
const char *depthSearchName(DepthSearch search);
bool parseDepthSearch(const char *name, DepthSearch *search);

// Accepts the names searchPathName gives ("scalar", "sse2", "avx2", "avx512",
// "neon", "portable4", "portable8").
bool parseSearchPath(const char *name, SearchPath *path);

// Whether this CPU (and its operating system) can run `path`; false for the
// paths of another architecture, which this build does not contain.
bool isSearchPathSupported(SearchPath path);

// The fastest path this CPU supports.
SearchPath fastestSearchPath();

// Fills depths[0 .. width-1] for `row` with the given path, which must be
// supported. `tables` (built for these settings, either part may be null)
// and `stats` may be left out; the scalar path uses neither.
// `design` picks one of the vector searches, for tests; the scalar path
// ignores it.
void findRowDepthsOn(SearchPath path, const RenderSettings *settings,
                     SearchTables tables, int32_t row, int32_t *depths,
                     SearchStats *stats = nullptr,
                     SearchDesign design = SearchDesign::kAutomatic);

// The same for the nearest-level search: the depths
// findRowNearestDepthsScalar gives, on any supported path.
void findRowNearestDepthsOn(SearchPath path, const RenderSettings *settings,
                            SearchTables tables, int32_t row, int32_t *depths,
                            SearchStats *stats = nullptr);

// The search `search` asks for, on `path`.
void findRowDepthsFor(DepthSearch search, SearchPath path, const RenderSettings *settings,
                      SearchTables tables, int32_t row, int32_t *depths);

}  // namespace quatdepth
