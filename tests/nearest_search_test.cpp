// The nearest-level search: the scalar one against probing every level,
// every vector path against the scalar one, and the reach it skips by
// against points that would prove it wrong.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "julia/depth_search.h"
#include "julia/escape_bound.h"
#include "julia/escape_reach.h"
#include "julia/julia_set.h"
#include "julia/level_tables.h"
#include "julia/nearest_search.h"
#include "julia/row_depths.h"
#include "julia/search_path.h"
#include "julia/view_rotation.h"
#include "random_views.h"
#include "search_path_printing.h"
#include "test_settings.h"

namespace quatdepth {
namespace {

// The same levels probed one by one: quatdepth with one fine step.
RenderSettings everyLevel(const RenderSettings &s) {
  RenderSettings one = s;
  one.coarseSteps = s.coarseSteps * s.fineSteps;
  one.fineSteps = 1;
  return one;
}

// A random view small enough to probe every level of, with caps up to 200.
RenderSettings smallRandomView(std::mt19937_64 &rng) {
  RenderSettings s = randomSettings(rng);
  auto pick = [&](std::initializer_list<int32_t> values) {
    std::vector<int32_t> v(values);
    return v[std::uniform_int_distribution<size_t>(0, v.size() - 1)(rng)];
  };
  s.width = pick({1, 2, 3, 5, 7, 9});
  s.height = pick({1, 2, 3});
  s.coarseSteps = pick({1, 2, 5, 13, 40});
  s.fineSteps = pick({1, 2, 3, 7, 10});
  s.maxIterations = pick({-3, 0, 1, 2, 3, 5, 10, 20, 60, 100, 200});
  return s;
}

struct Compared {
  int inside = 0;       // pixels with a surface
  int deeperSteps = 0;  // pixels where the steps search misses the nearest level
};

// Compares the scalar nearest search with probing every level on every
// pixel of `s`.
void expectEveryLevelsAnswer(const RenderSettings &s, Compared *seen) {
  const RenderSettings one = everyLevel(s);
  std::vector<int32_t> nearest(static_cast<size_t>(s.width) + 1, -7);
  std::vector<int32_t> steps(static_cast<size_t>(s.width) + 1, -7);
  for (int32_t row = 0; row < s.height; ++row) {
    findRowNearestDepthsScalar(&s, row, nearest.data());
    findRowDepthsScalar(&s, row, steps.data());
    for (int32_t column = 0; column < s.width; ++column) {
      const int32_t expected = findSurfaceDepth(&one, column, row);
      const size_t at = static_cast<size_t>(column);
      ASSERT_EQ(nearest[at], expected) << "pixel " << column << ", row " << row << " of "
                                           << describe(s);
      if (expected >= 0) ++seen->inside;
      if (expected >= 0 && (steps[at] < 0 || steps[at] > expected)) ++seen->deeperSteps;
    }
    ASSERT_EQ(nearest[static_cast<size_t>(s.width)], -7) << "wrote past the row";
  }
}

TEST(NearestSearch, GivesWhatProbingEveryLevelGivesOnRandomViews) {
  std::mt19937_64 rng(1969);
  Compared seen;
  for (int view = 0; view < 4000; ++view) {
    expectEveryLevelsAnswer(smallRandomView(rng), &seen);
    if (HasFatalFailure()) return;
  }
  // The views meet the set, and often where the coarse steps miss it.
  EXPECT_GT(seen.inside, 8000);
  EXPECT_GT(seen.deeperSteps, 500);
}

// Views where a wrong skip would show: a box a millionth across around a
// point of the surface, caps of 1 and 2, the ball of c = 0, bailouts that
// put the surface just at an escape.
TEST(NearestSearch, GivesWhatProbingEveryLevelGivesWhereSkipsAreTight) {
  Compared seen;
  for (int32_t cap : {1, 2, 3, 10, 60, 200}) {
    for (int32_t bailout : {1, 2, 4, 16}) {
      for (bool ball : {true, false}) {
        RenderSettings s = defaultSettings();
        if (ball) s.juliaC[0] = s.juliaC[1] = s.juliaC[2] = s.juliaC[3] = 0, s.wSlice = 0;
        s.maxIterations = cap;
        s.bailout = bailout;
        s.width = 9, s.height = 3, s.coarseSteps = 30, s.fineSteps = 7;
        setAngles(&s, 0.3, 0.5, 0.7);
        expectEveryLevelsAnswer(s, &seen);
        // Zoomed on the surface the default box shows at its centre pixel.
        std::vector<int32_t> depths(static_cast<size_t>(s.width));
        findRowNearestDepthsScalar(&s, 1, depths.data());
        if (depths[4] < 0) continue;
        double x = gridCoordinate(s.xMin, s.xMax, 4, s.width);
        double y = gridCoordinate(s.yMin, s.yMax, 1, s.height);
        double z = gridCoordinate(s.zMin, s.zMax, depths[4], s.coarseSteps * s.fineSteps);
        rotateAboutCentre(&s, &x, &y, &z);
        // Turned about the point itself, the zoomed box stays around it.
        for (double half : {1e-3, 1e-6, 1e-9}) {
          RenderSettings zoomed = s;
          zoomed.xMin = x - half, zoomed.xMax = x + half;
          zoomed.yMin = y - half, zoomed.yMax = y + half;
          zoomed.zMin = z - 2 * half, zoomed.zMax = z + half;
          zoomed.centreX = x, zoomed.centreY = y, zoomed.centreZ = z;
          expectEveryLevelsAnswer(zoomed, &seen);
          if (HasFatalFailure()) return;
        }
      }
    }
  }
  EXPECT_GT(seen.inside, 500);
}

// Rays through the origin, where every orbit starts with a square near 0
// and so with products near 0: only the deviation's own growth keeps the
// reach there from spanning the box. Constants just outside the set of
// connected sets escape from the origin slowly, with points all around
// that do not.
TEST(NearestSearch, GivesWhatProbingEveryLevelGivesOnRaysThroughTheOrigin) {
  Compared seen;
  for (double c0 : {0.26, 0.3, 0.5, -2.1}) {
    for (int32_t cap : {2, 5, 10, 30, 100}) {
      RenderSettings s = defaultSettings();
      s.juliaC[0] = c0, s.juliaC[1] = s.juliaC[2] = s.juliaC[3] = 0, s.wSlice = 0;
      s.xMin = s.yMin = s.zMin = -2;
      s.xMax = s.yMax = s.zMax = 2;
      s.width = s.height = 2;  // pixel (1, 1) looks down x = y = 0
      s.coarseSteps = 100, s.fineSteps = 4;
      s.maxIterations = cap;
      setAngles(&s, 0, 0, 0);
      expectEveryLevelsAnswer(s, &seen);
      if (HasFatalFailure()) return;
    }
  }
  EXPECT_GT(seen.inside, 5);
}

TEST(NearestSearch, FindsNothingWithoutABailoutAndEverythingInsideAtOnce) {
  RenderSettings s = defaultSettings();
  s.width = 5, s.height = 2;
  std::vector<int32_t> depths(5, -7);
  for (int32_t bailout : {0, -3}) {
    s.bailout = bailout;
    findRowNearestDepthsScalar(&s, 1, depths.data());
    for (int32_t depth : depths) EXPECT_EQ(depth, -1) << "bailout " << bailout;
  }
  // With a huge bailout and one pass every point of the box is inside:
  // the nearest level is the first.
  s.bailout = 1 << 30, s.maxIterations = 1;
  findRowNearestDepthsScalar(&s, 1, depths.data());
  for (int32_t depth : depths) EXPECT_EQ(depth, 0);
}

// A point uniformly in the ball of radius `radius` around `centre`, or on
// its sphere.
void pointNear(std::mt19937_64 &rng, const double centre[3], double radius, bool onSphere,
               double out[3]) {
  std::normal_distribution<double> normal;
  double v[3] = {normal(rng), normal(rng), normal(rng)};
  const double length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  const double r =
      onSphere ? radius : radius * std::cbrt(std::uniform_real_distribution<double>(0, 1)(rng));
  for (int i = 0; i < 3; ++i) out[i] = centre[i] + v[i] / length * r;
}

// The reach itself: no point within it is inside. Probes are taken on the
// outside edge of the set, where reaches are tightest, for random views,
// caps and bailouts, with the zeta the search would use and with others.
TEST(EscapeReach, NoPointWithinItIsInside) {
  std::mt19937_64 rng(2718);
  int reachesChecked = 0, pointsChecked = 0;
  for (int view = 0; view < 300; ++view) {
    RenderSettings s = randomSettings(rng);
    auto pick = [&](std::initializer_list<int32_t> values) {
      std::vector<int32_t> v(values);
      return v[std::uniform_int_distribution<size_t>(0, v.size() - 1)(rng)];
    };
    s.maxIterations = pick({1, 2, 3, 6, 7, 10, 30, 60, 200});
    s.bailout = pick({1, 2, 4, 16, 100});
    if (view % 5 == 0) s.juliaC[0] = s.juliaC[1] = s.juliaC[2] = s.juliaC[3] = 0;
    s.coarseSteps = 200, s.fineSteps = 1;
    const EscapeReach r = escapeReach(&s, sureEscapeNorm(&s));
    // Along a ray through the box centre, the last outside level before
    // each inside one.
    const double x = s.centreX + std::uniform_real_distribution<double>(-0.3, 0.3)(rng);
    const double y = s.centreY + std::uniform_real_distribution<double>(-0.3, 0.3)(rng);
    bool wasInside = false;
    for (int32_t level = 200; level >= 0; --level) {
      double p[3] = {x, y, gridCoordinate(s.zMin, s.zMax, level, 200)};
      rotateAboutCentre(&s, &p[0], &p[1], &p[2]);
      const bool inside = isInsideJulia(&s, p[0], p[1], p[2]);
      const bool edge = !inside && wasInside;
      wasInside = inside;
      if (!edge && level % 37 != 0) continue;
      if (inside) continue;
      for (double zeta : {r.longestReach, 1e-2, 1e-4}) {
        const ProbeReach probe = probeReach(&s, r, p[0], p[1], p[2], zeta);
        ASSERT_FALSE(probe.inside);
        if (!(probe.reach > 0)) continue;
        ASSERT_LE(probe.reach, zeta);
        ++reachesChecked;
        for (int sample = 0; sample < 40; ++sample) {
          double q[3];
          pointNear(rng, p, probe.reach, sample % 2 == 0, q);
          ++pointsChecked;
          ASSERT_FALSE(isInsideJulia(&s, q[0], q[1], q[2]))
              << "inside at distance " << probe.reach << " from an escaping probe at (" << p[0]
              << ", " << p[1] << ", " << p[2] << ") with zeta " << zeta << ", " << describe(s);
        }
      }
    }
  }
  EXPECT_GT(reachesChecked, 2000);
  EXPECT_GT(pointsChecked, 80000);
}

// Orbits that pass near 0, where a deviation's square outgrows its
// linear part: starts near 0 and near the roots of -c, with constants
// whose own orbit escapes slowly.
TEST(EscapeReach, HoldsForOrbitsThroughZero) {
  std::mt19937_64 rng(1618);
  int reachesChecked = 0;
  for (double c0 : {0.26, 0.3, 0.5, 1.0}) {
    for (int32_t cap : {3, 5, 10, 30}) {
      RenderSettings s = defaultSettings();
      s.juliaC[0] = c0, s.juliaC[1] = s.juliaC[2] = s.juliaC[3] = 0, s.wSlice = 0;
      s.maxIterations = cap;
      const EscapeReach r = escapeReach(&s, sureEscapeNorm(&s));
      for (double offset : {0.0, 1e-9, 1e-5, 1e-3, 3e-2, 0.1}) {
        for (double root : {0.0, std::sqrt(c0)}) {
          const double p[3] = {offset, root + offset / 3, offset / 7};
          for (double zeta : {r.longestReach, 1.0, 0.3, 0.1}) {
            const ProbeReach probe = probeReach(&s, r, p[0], p[1], p[2], zeta);
            if (probe.inside || !(probe.reach > 0)) continue;
            ++reachesChecked;
            for (int sample = 0; sample < 400; ++sample) {
              double q[3];
              pointNear(rng, p, probe.reach, sample % 2 == 0, q);
              ASSERT_FALSE(isInsideJulia(&s, q[0], q[1], q[2]))
                  << "inside at distance " << probe.reach << " from (" << p[0] << ", " << p[1]
                  << ", " << p[2] << "), c " << c0 << ", cap " << cap << ", zeta " << zeta;
            }
          }
        }
      }
    }
  }
  EXPECT_GT(reachesChecked, 100);
}

TEST(EscapeReach, CoversNoLevelWhereItIsNotANumberOrShort) {
  RenderSettings s = defaultSettings();
  const EscapeReach r = escapeReach(&s, sureEscapeNorm(&s));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(levelsWithin(r, nan), 0);
  EXPECT_EQ(levelsWithin(r, -1), 0);
  EXPECT_EQ(levelsWithin(r, 0), 0);
  EXPECT_EQ(levelsWithin(r, r.levelStep * 0.999), 0);
  EXPECT_EQ(levelsWithin(r, inf), 1 << 30);
  // A reach of n levels and the strays covers n - 1 or n of them, never more.
  for (int32_t n : {1, 2, 3, 10, 1000}) {
    const int32_t covered = levelsWithin(r, n * r.levelStep + r.strays);
    EXPECT_LE(covered, n);
    EXPECT_GE(covered, n - 1);
  }
}

// Each test runs on one vector path; a path this CPU cannot run is
// reported as skipped, never as passed.
class NearestPath : public ::testing::TestWithParam<SearchPath> {
 protected:
  void SetUp() override {
    if (!isSearchPathSupported(GetParam()))
      GTEST_SKIP() << "this CPU cannot run " << searchPathName(GetParam());
  }
};

TEST_P(NearestPath, MatchesTheScalarSearchOnRandomViews) {
  std::mt19937_64 rng(4004);
  int inside = 0;
  for (int view = 0; view < 400; ++view) {
    RenderSettings s = randomSettings(rng);
    if (view % 3 == 0) s.maxIterations = 200;
    LevelTables levels;
    RowScratch scratch;
    const bool tabled = view % 2 == 0 && buildLevelTables(&s, &levels) &&
                        makeRowScratch(&s, &scratch);
    const SearchTables tables = tabled ? SearchTables{&levels, &scratch} : SearchTables{};
    std::vector<int32_t> expected(static_cast<size_t>(s.width) + 1, -7);
    std::vector<int32_t> actual(static_cast<size_t>(s.width) + 1, -7);
    for (int32_t row = 0; row < s.height; ++row) {
      findRowNearestDepthsScalar(&s, row, expected.data());
      findRowNearestDepthsOn(GetParam(), &s, tables, row, actual.data());
      ASSERT_EQ(actual, expected) << searchPathName(GetParam()) << ", row " << row << " of "
                                  << describe(s);
      for (int32_t depth : expected) inside += depth >= 0;
    }
  }
  EXPECT_GT(inside, 4000);
}

// The default view at the caps where the coarse steps miss most: every
// path finds the levels probing every level finds.
TEST_P(NearestPath, FindsTheThinPartsTheCoarseStepsMiss) {
  RenderSettings s = defaultSettings();
  s.width = 48, s.height = 27;
  s.juliaC[0] = -0.291, s.juliaC[1] = -0.399, s.juliaC[2] = 0.339, s.juliaC[3] = 0.437;
  s.coarseSteps = 40;
  s.maxIterations = 100;
  const RenderSettings one = everyLevel(s);
  std::vector<int32_t> nearest(48), steps(48);
  int found = 0, missedBySteps = 0;
  for (int32_t row = 0; row < s.height; row += 2) {
    findRowNearestDepthsOn(GetParam(), &s, {}, row, nearest.data());
    findRowDepthsOn(GetParam(), &s, {}, row, steps.data());
    for (int32_t column = 0; column < s.width; ++column) {
      const size_t at = static_cast<size_t>(column);
      ASSERT_EQ(nearest[at], findSurfaceDepth(&one, column, row));
      found += nearest[at] >= 0;
      missedBySteps += nearest[at] >= 0 && steps[at] < 0;
    }
  }
  EXPECT_GT(missedBySteps, found / 4) << "of " << found;
}

TEST_P(NearestPath, CountsItsProbesAndPasses) {
  RenderSettings s = defaultSettings();
  s.width = 40, s.height = 3;
  std::vector<int32_t> depths(40);
  SearchStats stats;
  findRowNearestDepthsOn(GetParam(), &s, {}, 1, depths.data(), &stats);
  if (GetParam() == SearchPath::kScalar) {
    EXPECT_EQ(stats.probes, 0);
    return;
  }
  EXPECT_GT(stats.probes, 40);
  EXPECT_GT(stats.laneSlots, 0);
  EXPECT_LE(stats.activeIterations, stats.laneSlots);
  EXPECT_GT(stats.activeIterations, stats.probes);
}

INSTANTIATE_TEST_SUITE_P(Paths, NearestPath, ::testing::ValuesIn(kAllSearchPaths),
                         [](const auto &path) { return searchPathName(path.param); });

TEST(DepthSearch, NamesRoundTrip) {
  for (DepthSearch search : kAllDepthSearches) {
    DepthSearch parsed = search == DepthSearch::kSteps ? DepthSearch::kNearest
                                                       : DepthSearch::kSteps;
    ASSERT_TRUE(parseDepthSearch(depthSearchName(search), &parsed));
    EXPECT_EQ(parsed, search);
  }
  DepthSearch untouched = DepthSearch::kNearest;
  EXPECT_FALSE(parseDepthSearch("Nearest", &untouched));
  EXPECT_FALSE(parseDepthSearch("", &untouched));
  EXPECT_EQ(untouched, DepthSearch::kNearest);
}

}  // namespace
}  // namespace quatdepth
