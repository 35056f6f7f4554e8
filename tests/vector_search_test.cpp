// Every vector path against the scalar reference, on many random views.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>

#include <cmath>
#include <limits>
#include <random>
#include <sstream>
#include <tuple>
#include <vector>

#include "julia/escape_bound.h"
#include "julia/level_tables.h"
#include "julia/needed_passes.h"
#include "julia/pixel_steps.h"
#include "julia/row_depths.h"
#include "julia/search_path.h"
#include "julia/vector_paths.h"
#include "random_views.h"
#include "search_path_printing.h"
#include "test_settings.h"

namespace quatdepth {
namespace {

const char *designName(SearchDesign design) {
  switch (design) {
    case SearchDesign::kAutomatic: return "automatic";
    case SearchDesign::kGrouped: return "grouped";
    case SearchDesign::kPooled: return "pooled";
  }
  return "unknown";
}

// Compares every row of `s` on `path` with the reference; reports the first
// mismatch with its pixel, row and both values.
void expectSameAsReference(const RenderSettings &s, SearchPath path,
                           SearchTables tables, int *insideSeen,
                           SearchDesign design = SearchDesign::kAutomatic) {
  const size_t width = static_cast<size_t>(s.width);
  std::vector<int32_t> expected(width + 1, -7), actual(width + 1, -7);
  for (int32_t row = 0; row < s.height; ++row) {
    findRowDepthsScalar(&s, row, expected.data());
    findRowDepthsOn(path, &s, tables, row, actual.data(), nullptr, design);
    for (size_t column = 0; column < width; ++column) {
      if (expected[column] >= 0) ++*insideSeen;
      ASSERT_EQ(actual[column], expected[column])
          << searchPathName(path) << " (" << designName(design) << " design)"
          << (!tables.levels       ? " without tables"
              : tables.rowScratch ? " with tables and row scratch"
                                  : " with tables, no row scratch")
          << ": first mismatch at pixel " << column << ", row "
          << row << " (reference " << expected[column] << ", vector "
          << actual[column] << ") for " << describe(s);
    }
    ASSERT_EQ(actual[width], -7) << "wrote past the row";
  }
}

// A view's level tables and row scratch, as the renderer makes them.
struct ViewTables {
  LevelTables levels;
  RowScratch rowScratch;
  const bool made;

  explicit ViewTables(const RenderSettings &s)
      : made(buildLevelTables(&s, &levels) && makeRowScratch(&s, &rowScratch)) {}
  SearchTables all() { return {&levels, &rowScratch}; }
  // Tables whose row scratch could not be had.
  SearchTables levelsOnly() { return {&levels, nullptr}; }
};

// The default view turned off its axes, so that its rows cross the set
// and the space around it at every angle, with the tables the renderer
// makes for it.
struct TurnedDefaultView {
  RenderSettings settings = turnedDefaultSettings();
  ViewTables tables{settings};

  static RenderSettings turnedDefaultSettings() {
    RenderSettings s = defaultSettings();
    setAngles(&s, 0.3, 0.5, 0.7);
    return s;
  }
};

// Each test runs on one vector path; a path this CPU cannot run is
// reported as skipped, never as passed.
class VectorPath : public ::testing::TestWithParam<SearchPath> {
 protected:
  void SetUp() override {
    if (!isSearchPathSupported(GetParam()))
      GTEST_SKIP() << "this CPU cannot run " << searchPathName(GetParam());
  }
};

TEST_P(VectorPath, MatchesTheReferenceOnRandomViews) {
  std::mt19937_64 rng(6502);
  int insideSeen = 0;
  for (int trial = 0; trial < 2000; ++trial) {
    RenderSettings s = randomSettings(rng);
    ViewTables tables(s);
    ASSERT_TRUE(tables.made);
    // Every search at any cap, with and without the tables.
    for (SearchDesign design : {SearchDesign::kGrouped, SearchDesign::kPooled}) {
      expectSameAsReference(s, GetParam(), tables.all(), &insideSeen, design);
      expectSameAsReference(s, GetParam(), {}, &insideSeen, design);
    }
    // Tables whose row scratch could not be had.
    expectSameAsReference(s, GetParam(), tables.levelsOnly(), &insideSeen);
    if (HasFatalFailure()) return;
  }
  EXPECT_GT(insideSeen, 4000) << "the random views hardly meet the set";
}

TEST_P(VectorPath, MatchesTheReferenceOnTheDefaultView) {
  RenderSettings s = defaultSettings();
  s.width = 61;  // not a multiple of any lane count
  s.height = 61;
  setAngles(&s, 0.3, 0.5, 0.7);
  ViewTables tables(s);
  ASSERT_TRUE(tables.made);
  int insideSeen = 0;
  // Every design, on rows that take pixels in more than one batch.
  for (SearchDesign design :
       {SearchDesign::kAutomatic, SearchDesign::kGrouped, SearchDesign::kPooled}) {
    for (int32_t cap : {10, 120}) {  // 120: the pool's cap on every path
      s.maxIterations = cap;
      expectSameAsReference(s, GetParam(), tables.all(), &insideSeen, design);
      // The tables alone: coarse levels from the level tables.
      expectSameAsReference(s, GetParam(), tables.levelsOnly(), &insideSeen, design);
    }
  }
}

// At high caps most passes are in probes that run to the cap, and the
// pooled search moves them into its pool: rows of one, two and odd numbers
// of pixels, and rows with more pixels than it keeps in flight, at caps
// where nearly every pixel's hit runs long.
TEST_P(VectorPath, ThePoolMatchesTheReferenceAtHighCaps) {
  RenderSettings s = defaultSettings();
  s.juliaC[0] = -0.1, s.juliaC[1] = 0.2, s.juliaC[2] = 0.3, s.juliaC[3] = -0.1;
  setAngles(&s, 0.3, 0.5, 0.7);
  s.coarseSteps = 100;
  int insideSeen = 0;
  for (int32_t width : {1, 2, 67, 131}) {
    for (int32_t fine : {1, 10}) {
      for (int32_t cap : {1000, 257}) {
        s.width = width, s.height = 5, s.fineSteps = fine, s.maxIterations = cap;
        ViewTables tables(s);
        ASSERT_TRUE(tables.made);
        for (SearchDesign design : {SearchDesign::kPooled, SearchDesign::kAutomatic}) {
          expectSameAsReference(s, GetParam(), tables.all(), &insideSeen, design);
          expectSameAsReference(s, GetParam(), {}, &insideSeen, design);
        }
        if (HasFatalFailure()) return;
      }
    }
  }
  EXPECT_GT(insideSeen, 1000) << "the view hardly meets the set";
}

// With the default constant an inside orbit falls onto a cycle of doubles
// within about 130 passes: the pool answers such probes then, not at the
// cap, and still gives the reference's depths, at any cap.
TEST_P(VectorPath, ThePoolAnswersProbesOnACycleAtOnce) {
  RenderSettings s = defaultSettings();
  setAngles(&s, 0.3, 0.5, 0.7);
  s.width = 23, s.height = 300, s.coarseSteps = 50;
  for (int32_t cap : {1000, 100000}) {
    s.maxIterations = cap;
    ViewTables tables(s);
    ASSERT_TRUE(tables.made);
    std::vector<int32_t> expected(23), actual(23);
    SearchStats stats;
    int64_t needed = 0;
    int hits = 0;
    for (int32_t row = 100; row < 200; row += 20) {
      findRowDepthsScalar(&s, row, expected.data());
      findRowDepthsOn(GetParam(), &s, tables.all(), row, actual.data(), &stats,
                      SearchDesign::kPooled);
      ASSERT_EQ(actual, expected) << "cap " << cap << ", row " << row;
      ASSERT_TRUE(addNeededRowPasses(&s, row, &needed));
      for (int32_t depth : expected) hits += depth >= 0;
    }
    ASSERT_GT(hits, 50) << "the view hardly meets the set";
    // Each hit needs at least `cap` passes; about 150 are run.
    EXPECT_LT(stats.activeIterations * 3, needed) << "cap " << cap;
    EXPECT_LT(stats.activeIterations, int64_t{hits} * 2000) << "cap " << cap;
  }
}

TEST_P(VectorPath, IsTheOneThatRunsAndItsStatisticsAddUp) {
  RenderSettings s = defaultSettings();
  std::vector<int32_t> depths(300);
  SearchStats stats;
  for (int32_t row = 100; row < 200; row += 10) {
    s.maxIterations = row < 150 ? 10 : 150;  // either search
    findRowDepthsOn(GetParam(), &s, {}, row, depths.data(), &stats);
  }
  const std::map<SearchPath, int32_t> laneWidths = {
      {SearchPath::kSse2, 2}, {SearchPath::kAvx2, 4},      {SearchPath::kAvx512, 8},
      {SearchPath::kNeon, 2}, {SearchPath::kPortable4, 4}, {SearchPath::kPortable8, 8}};
  EXPECT_EQ(stats.laneWidth, laneWidths.at(GetParam()));
  EXPECT_GT(stats.usefulIterations, 0);
  EXPECT_LE(stats.usefulIterations, stats.activeIterations);
  EXPECT_LE(stats.activeIterations, stats.laneSlots);
}

// The cap from which each path's shape runs the pool by itself.
int32_t poolCap(SearchPath path) {
  switch (path) {
    case SearchPath::kSse2: return kSse2Shape.poolFrom;
    case SearchPath::kAvx2:
    case SearchPath::kPortable4: return kAvx2Shape.poolFrom;
    case SearchPath::kAvx512:
    case SearchPath::kPortable8: return kAvx512Shape.poolFrom;
    case SearchPath::kNeon: return kNeonShape.poolFrom;
    case SearchPath::kScalar: break;
  }
  return 0;
}

// How a search ran, as its statistics tell: the two designs run the same
// probes in different groups and passes.
auto howItRan(const SearchStats &s) {
  return std::tuple(s.probes, s.groups, s.laneSlots, s.activeIterations, s.usefulIterations);
}

// Left to itself, a path runs the grouped search below its shape's pool
// cap and the pool from it on.
TEST_P(VectorPath, ChoosesTheGroupedSearchBelowThePoolsCapAndThePoolFromIt) {
  const int32_t poolFrom = poolCap(GetParam());
  ASSERT_GT(poolFrom, 1);
  TurnedDefaultView view;
  ASSERT_TRUE(view.tables.made);
  RenderSettings s = view.settings;
  std::vector<int32_t> depths(static_cast<size_t>(s.width));
  for (int32_t cap : {poolFrom - 1, poolFrom, 1000}) {
    s.maxIterations = cap;
    SearchStats automatic, grouped, pooled;
    for (int32_t row = 0; row < s.height; row += 30) {
      findRowDepthsOn(GetParam(), &s, {}, row, depths.data(), &automatic);
      findRowDepthsOn(GetParam(), &s, {}, row, depths.data(), &grouped, SearchDesign::kGrouped);
      findRowDepthsOn(GetParam(), &s, {}, row, depths.data(), &pooled, SearchDesign::kPooled);
    }
    ASSERT_NE(howItRan(grouped), howItRan(pooled)) << "cap " << cap << ": the designs look alike";
    EXPECT_EQ(howItRan(automatic), howItRan(cap < poolFrom ? grouped : pooled)) << "cap " << cap;
  }
}

// Probes that start beyond the escape bound get no pass: a view beyond it
// runs none at all, and on the default view the bound saves passes
// without changing a depth.
TEST_P(VectorPath, GivesNoPassBeyondTheEscapeBound) {
  for (SearchDesign design : {SearchDesign::kGrouped, SearchDesign::kPooled}) {
    for (int32_t cap : {10, 150}) {
      RenderSettings s = defaultSettings();
      s.xMin = 9, s.xMax = 11, s.centreX = 10, s.width = 13, s.maxIterations = cap;
      ViewTables tables(s);
      ASSERT_TRUE(tables.made);
      std::vector<int32_t> depths(13, -7);
      SearchStats stats;
      for (SearchTables t : {tables.all(), SearchTables{}}) {
        findRowDepthsOn(GetParam(), &s, t, 150, depths.data(), &stats, design);
        EXPECT_EQ(depths, std::vector<int32_t>(13, -1));
      }
      EXPECT_EQ(stats.laneSlots, 0) << "design " << designName(design) << ", cap " << cap;
      EXPECT_EQ(stats.groups, 0);
    }
  }
  TurnedDefaultView view;
  ASSERT_TRUE(view.tables.made);
  const RenderSettings &s = view.settings;
  ViewTables &tables = view.tables;
  std::vector<int32_t> bounded(300), unbounded(300);
  SearchStats withBound, withoutBound;
  for (int32_t row = 0; row < 300; row += 30) {
    tables.levels.escapeNormSquared = escapeNormSquared(&s);
    findRowDepthsOn(GetParam(), &s, tables.all(), row, bounded.data(), &withBound);
    tables.levels.escapeNormSquared = std::numeric_limits<double>::infinity();
    findRowDepthsOn(GetParam(), &s, tables.all(), row, unbounded.data(), &withoutBound);
    ASSERT_EQ(bounded, unbounded) << "row " << row;
  }
  EXPECT_LT(withBound.laneSlots * 10, withoutBound.laneSlots * 9);
}

// The tables carry the view's sure-escape norm, and a search stops probes
// by it whether it reads it there or works it out itself; without it the
// same depths take many more passes.
TEST_P(VectorPath, SureEscapesCutThePassesRunWithOrWithoutTables) {
  TurnedDefaultView view;
  ASSERT_TRUE(view.tables.made);
  const RenderSettings &s = view.settings;
  ViewTables &tables = view.tables;
  EXPECT_EQ(tables.levels.sureEscapeNorm, sureEscapeNorm(&s));
  std::vector<int32_t> tabled(300), untabled(300), unsure(300);
  SearchStats withTables, withoutTables, withoutNorm;
  for (int32_t row = 0; row < 300; row += 30) {
    tables.levels.sureEscapeNorm = sureEscapeNorm(&s);
    findRowDepthsOn(GetParam(), &s, tables.all(), row, tabled.data(), &withTables);
    findRowDepthsOn(GetParam(), &s, {}, row, untabled.data(), &withoutTables);
    tables.levels.sureEscapeNorm = std::numeric_limits<double>::infinity();
    findRowDepthsOn(GetParam(), &s, tables.all(), row, unsure.data(), &withoutNorm);
    ASSERT_EQ(tabled, untabled) << "row " << row;
    ASSERT_EQ(tabled, unsure) << "row " << row;
  }
  EXPECT_EQ(withTables.activeIterations, withoutTables.activeIterations);
  EXPECT_LT(withTables.activeIterations * 10, withoutNorm.activeIterations * 9);
}

// Real orbits under a negative real constant come nearest to staying in
// from the sure-escape norm: starts x whose first pass makes x^2 - 0.7
// about at it leave within about kSureEscapePasses more passes, some just
// after. With caps that many passes and a little more, a probe stopped one
// pass too late in the cap, or under too small a norm, gets the wrong
// answer.
TEST_P(VectorPath, StopsASurelyEscapingProbeOnlyWithPassesToSpare) {
  for (int32_t spare : {0, 1, 2}) {
    RenderSettings s = defaultSettings();
    s.juliaC[0] = -0.7, s.juliaC[1] = s.juliaC[2] = s.juliaC[3] = 0, s.wSlice = 0;
    s.maxIterations = kSureEscapePasses + spare;
    setAngles(&s, 0, 0, 0);
    const double x = std::sqrt(std::sqrt(sureEscapeNorm(&s)) + 0.7);
    s.xMin = x * (1 - 3e-9), s.xMax = x * (1 + 3e-9), s.centreX = x;
    s.yMin = 0, s.yMax = 1e-3, s.centreY = 0, s.height = 1;
    s.zMin = 0, s.zMax = 1, s.centreZ = 0;  // level 0 lies on the real line
    s.width = 4001, s.coarseSteps = 2, s.fineSteps = 1;
    ViewTables tables(s);
    ASSERT_TRUE(tables.made);
    std::vector<int32_t> reference(4001);
    findRowDepthsScalar(&s, 0, reference.data());
    // At that many passes and one more, the strip holds starts that stay
    // in and starts that leave, those beyond x among them.
    const auto inside = std::count(reference.begin(), reference.end(), 0);
    if (spare == 1) {
      EXPECT_GT(inside, 0);
      EXPECT_LT(inside, 4001);
    }
    int insideSeen = 0;
    for (SearchDesign design : {SearchDesign::kGrouped, SearchDesign::kPooled})
      expectSameAsReference(s, GetParam(), tables.all(), &insideSeen, design);
  }
}

// The same near the cap after many passes: real starts just beyond the
// repelling fixed point of x^2 - 0.7 linger before they leave, the longer
// the nearer they start, so they cross the sure-escape norm each at its
// own pass, on passes with the test and without it, and in the pool after
// its short groups, and some leave at the cap's last pass. Each factor of
// 100 nearer the fixed point adds about 4 passes: starts 1e-14 to 1e-12
// beyond it (relative) leave after 25 to 30, and the nearer windows take
// caps from 14 on, where the last sure pass comes before, at or after a
// short group's end.
TEST_P(VectorPath, StopsALingeringProbeOnlyWithPassesToSpare) {
  struct Lingering {
    double nearest, farthest;
    int32_t firstCap, lastCap;
  };
  for (const Lingering &linger : {Lingering{1e-14, 1e-12, 26, 29}, Lingering{1e-12, 1e-10, 22, 25},
        Lingering{1e-10, 1e-8, 17, 21}, Lingering{1e-8, 1e-6, 14, 16}}) {
    for (int32_t cap = linger.firstCap; cap <= linger.lastCap; ++cap) {
      RenderSettings s = defaultSettings();
      s.juliaC[0] = -0.7, s.juliaC[1] = s.juliaC[2] = s.juliaC[3] = 0, s.wSlice = 0;
      s.maxIterations = cap;
      setAngles(&s, 0, 0, 0);
      const double fixed = (1 + std::sqrt(1 + 4 * 0.7)) / 2;
      s.xMin = fixed * (1 + linger.nearest), s.xMax = fixed * (1 + linger.farthest);
      s.centreX = fixed;
      s.yMin = 0, s.yMax = 1e-3, s.centreY = 0, s.height = 1;
      s.zMin = 0, s.zMax = 1, s.centreZ = 0;
      s.width = 2001, s.coarseSteps = 2, s.fineSteps = 1;
      ViewTables tables(s);
      ASSERT_TRUE(tables.made);
      for (SearchDesign design : {SearchDesign::kGrouped, SearchDesign::kPooled}) {
        int insideSeen = 0;
        expectSameAsReference(s, GetParam(), tables.all(), &insideSeen, design);
        EXPECT_GT(insideSeen, 0) << "cap " << cap;
        EXPECT_LT(insideSeen, 2001) << "cap " << cap;
      }
    }
  }
}

// The scalar reference's walk (findSurfaceDepth) over a set of inside
// levels, with the coarse probes outside `span` escaping, as the span
// proves they do.
int32_t referenceDepth(const std::vector<bool> &inside, int32_t fineSteps, CoarseSpan span) {
  const int32_t depthLevels = static_cast<int32_t>(inside.size()) - 1;
  auto isInside = [&](int32_t level) {
    const bool coarse = level % fineSteps == 0;
    const int32_t at = level / fineSteps;
    if (coarse && (at < span.first || at > span.last)) return false;
    return static_cast<bool>(inside[static_cast<size_t>(level)]);
  };
  int32_t result = -1;
  int32_t k = 0;
  do {
    if (isInside(k)) {
      result = k;
      if (k >= 1) {
        --k;
        for (int32_t step = 1; step < fineSteps; ++step) {
          if (isInside(k)) result = k;
          --k;
        }
      }
    }
    k += fineSteps;
  } while (k <= depthLevels && result < 0);
  return result;
}

// Every design hands PixelSteps the first inside level of each sequence
// it gives; driven so over random sets of inside levels, in spans that
// may be empty or leave out either end, it settles on the reference's
// depth, asking only for levels of the pixel's ray, with at most one
// refinement.
TEST(PixelSteps, SettlesOnTheReferencesDepth) {
  std::mt19937_64 rng(6502);
  for (int trial = 0; trial < 20000; ++trial) {
    const int32_t fineSteps = std::uniform_int_distribution<int32_t>(1, 12)(rng);
    const int32_t coarseSteps = std::uniform_int_distribution<int32_t>(1, 20)(rng);
    const int32_t depthLevels = coarseSteps * fineSteps;
    const double density = std::array{0.01, 0.1, 0.5}[static_cast<size_t>(trial % 3)];
    std::bernoulli_distribution inLevel(density);
    std::vector<bool> inside(static_cast<size_t>(depthLevels + 1));
    for (size_t level = 0; level < inside.size(); ++level) inside[level] = inLevel(rng);
    CoarseSpan span;
    span.first = std::uniform_int_distribution<int32_t>(0, coarseSteps + 1)(rng);
    span.last = std::uniform_int_distribution<int32_t>(span.first - 1, coarseSteps)(rng);

    vector_search::PixelSteps steps(fineSteps, span);
    int32_t depth = -7;
    int sequences = 0;
    for (bool settled = false; !settled;) {
      ASSERT_LT(++sequences, 3) << "trial " << trial << ": more than one refinement";
      const vector_search::Sequence &seq = steps.sequence();
      int32_t first = -1;
      for (int32_t at = steps.from(); at < seq.length && first < 0; ++at) {
        const int32_t level = seq.first + at * seq.step;
        ASSERT_GE(level, 0) << "trial " << trial;
        ASSERT_LE(level, depthLevels) << "trial " << trial;
        if (inside[static_cast<size_t>(level)]) first = level;
      }
      settled = steps.settle(first, &depth);
    }
    ASSERT_EQ(depth, referenceDepth(inside, fineSteps, span))
        << "trial " << trial << ": fine steps " << fineSteps << ", coarse steps "
        << coarseSteps << ", span " << span.first << " to " << span.last;
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, VectorPath,
                         ::testing::ValuesIn(kVectorSearchPaths),
                         [](const auto &path) { return searchPathName(path.param); });

TEST(SearchPath, ScalarTakesNoLanesAndTheFastestPathIsSupported) {
  RenderSettings s = defaultSettings();
  s.width = 9;
  std::vector<int32_t> depths(9);
  SearchStats stats;
  findRowDepthsOn(SearchPath::kScalar, &s, {}, 150, depths.data(), &stats);
  EXPECT_EQ(stats.laneWidth, 0);
  EXPECT_TRUE(isSearchPathSupported(fastestSearchPath()));
}

TEST(SearchPath, NamesRoundTrip) {
  for (SearchPath path : kAllSearchPaths) {
    SearchPath parsed = SearchPath::kScalar;
    EXPECT_TRUE(parseSearchPath(searchPathName(path), &parsed));
    EXPECT_EQ(parsed, path);
  }
  SearchPath unchanged = SearchPath::kAvx2;
  EXPECT_FALSE(parseSearchPath("avx1024", &unchanged));
  EXPECT_EQ(unchanged, SearchPath::kAvx2);
}

// By default a CPU gets the widest vector it runs: the bytes are the same
// on every path, so only this notices a narrower one chosen first.
TEST(SearchPath, TheDefaultIsTheWidestThisCpuRuns) {
  const struct {
    SearchPath path;
    int doublesPerVector;
  } hardwarePaths[] = {{SearchPath::kAvx512, 8}, {SearchPath::kAvx2, 4},
                       {SearchPath::kSse2, 2},   {SearchPath::kNeon, 2},
                       {SearchPath::kScalar, 1}};
  int widest = 0;
  for (const auto &p : hardwarePaths)
    if (isSearchPathSupported(p.path)) widest = std::max(widest, p.doublesPerVector);
  for (const auto &p : hardwarePaths)
    if (p.path == fastestSearchPath()) {
      EXPECT_EQ(p.doublesPerVector, widest) << searchPathName(p.path);
      return;
    }
  ADD_FAILURE() << "the default is not a hardware path: " << searchPathName(fastestSearchPath());
}

}  // namespace
}  // namespace quatdepth
