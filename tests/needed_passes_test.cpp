// The needed lane passes: the depth they come with is the reference's, and
// small rays whose passes can be counted by hand cost what they should.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <array>
#include <random>
#include <vector>

#include "julia/depth_search.h"
#include "julia/escape_bound.h"
#include "julia/julia_set.h"
#include "julia/needed_passes.h"
#include "test_settings.h"

namespace quatdepth {
namespace {

// One pixel, column 1 of 2 and row 1 of 2, so its ray runs along x = y = 0
// (w = 0) from z = zNear to z = zFar, unturned.
RenderSettings axisRay(double zNear, double zFar, int32_t coarse, int32_t fine,
                       int32_t cap) {
  RenderSettings s = defaultSettings();
  s.xMin = -1, s.xMax = 1, s.yMin = -1, s.yMax = 1;
  s.zMin = zNear, s.zMax = zFar;
  s.width = 2, s.height = 2;
  s.coarseSteps = coarse, s.fineSteps = fine, s.maxIterations = cap;
  s.wSlice = 0;
  setAngles(&s, 0, 0, 0);
  s.centreX = 0, s.centreY = 0, s.centreZ = (zNear + zFar) / 2;
  return s;
}

TEST(MembershipPasses, StopsAtTheEscapingPassOrTheCap) {
  RenderSettings s = defaultSettings();
  std::mt19937_64 rng(6502);
  std::uniform_real_distribution<double> coordinate(-1.5, 1.5);
  int escapedLate = 0;
  for (int trial = 0; trial < 2000; ++trial) {
    s.maxIterations = 40;
    const double x = coordinate(rng), y = coordinate(rng), z = coordinate(rng);
    bool inside;
    const int32_t passes = membershipPasses(&s, x, y, z, &inside);
    ASSERT_EQ(inside, isInsideJulia(&s, x, y, z));
    if (inside) {
      ASSERT_EQ(passes, 40);
      continue;
    }
    // Escaped on pass `passes`: still inside one pass earlier.
    s.maxIterations = passes;
    ASSERT_FALSE(isInsideJulia(&s, x, y, z)) << passes;
    if (passes > 1) {
      ++escapedLate;
      s.maxIterations = passes - 1;
      ASSERT_TRUE(isInsideJulia(&s, x, y, z)) << passes;
    }
  }
  EXPECT_GT(escapedLate, 100);  // the interesting case was seen
}

TEST(MembershipPasses, AtLeastOnePass) {
  RenderSettings s = defaultSettings();
  bool inside;
  for (int32_t cap : {1, 0, -4}) {
    s.maxIterations = cap;
    EXPECT_EQ(membershipPasses(&s, 0, 0, 0, &inside), 1) << cap;
    EXPECT_TRUE(inside);
  }
}

// The pass at which an orbit first comes back to a quaternion it had, by
// keeping every one: the slow way to what passesToKnow finds.
int32_t firstReturn(const RenderSettings &s, double x, double y, double z, int32_t cap) {
  std::vector<std::array<double, 4>> orbit{{x, y, z, s.wSlice}};
  for (int32_t i = 1; i <= cap; ++i) {
    const auto [a, b, c, d] = orbit.back();
    const double t = a + a;
    const double a2 = ((a * a - b * b) - c * c) - d * d;
    orbit.push_back({a2 + s.juliaC[0], t * b + s.juliaC[1], t * c + s.juliaC[2],
                     t * d + s.juliaC[3]});
    for (size_t j = 0; j + 1 < orbit.size(); ++j)
      if (orbit[j] == orbit.back()) return i;
  }
  return cap;
}

TEST(PassesToKnow, StopsAtTheFirstReturnOfAnInsideOrbit) {
  std::mt19937_64 rng(77);
  std::uniform_real_distribution<double> coordinate(-0.6, 0.6);
  RenderSettings s = defaultSettings();
  s.maxIterations = 600;
  int early = 0;
  for (int trial = 0; trial < 60; ++trial) {
    const double x = coordinate(rng), y = coordinate(rng), z = coordinate(rng);
    bool inside;
    const int32_t passes = membershipPasses(&s, x, y, z, &inside);
    const int32_t known = passesToKnow(&s, x, y, z);
    if (!inside) {
      // An escape is known when it happens, or sooner once surely coming.
      EXPECT_LE(known, passes);
      EXPECT_GE(known, 1);
      continue;
    }
    EXPECT_EQ(known, firstReturn(s, x, y, z, 600)) << x << " " << y << " " << z;
    early += known < 600;
  }
  EXPECT_GT(early, 10);  // the default constant's orbits fall onto a cycle
  // An orbit that first returns at pass 707, close enough below the cap
  // that Brent's method sees its cycle only after it.
  s.juliaC[0] = -0.2, s.juliaC[1] = 0.1, s.juliaC[2] = s.juliaC[3] = 0, s.wSlice = 0;
  const double x = -0.10286463261139178, y = -0.1547899671161157, z = 0.037059463687755256;
  for (int32_t cap : {700, 706, 707, 708, 800, 1000, 1200}) {
    s.maxIterations = cap;
    EXPECT_EQ(passesToKnow(&s, x, y, z), firstReturn(s, x, y, z, cap)) << "cap " << cap;
    EXPECT_EQ(passesToKnow(&s, x, y, z), std::min(cap, 707)) << "cap " << cap;
  }
  s.maxIterations = 600;
  // Orbits in a Siegel disk never come back: known only at the cap.
  s.juliaC[0] = -0.390540870218399, s.juliaC[1] = -0.586787907346969;
  s.juliaC[2] = s.juliaC[3] = 0, s.wSlice = 0;
  EXPECT_EQ(passesToKnow(&s, -0.3687, -0.3378, 0), 600);
  // A fixed point from the start: known after one pass.
  s.juliaC[0] = s.juliaC[1] = 0;
  EXPECT_EQ(passesToKnow(&s, 0, 0, 0), 1);
}

// A real start whose first pass makes a quaternion a little beyond the
// sure-escape norm leaves only after about kSureEscapePasses more passes;
// a search stops it at the first pass, but only while that many passes
// remain before the cap.
TEST(PassesToKnow, StopsASureEscapeWithPassesToSpare) {
  RenderSettings s = defaultSettings();
  s.juliaC[0] = -0.7, s.juliaC[1] = s.juliaC[2] = s.juliaC[3] = 0, s.wSlice = 0;
  for (int32_t cap : {kSureEscapePasses + 1, kSureEscapePasses + 2, 100}) {
    s.maxIterations = cap;
    const double x = std::sqrt(std::sqrt(sureEscapeNorm(&s)) + 0.7) * (1 + 1e-8);
    bool inside;
    EXPECT_GT(membershipPasses(&s, x, 0, 0, &inside), 3) << "cap " << cap;
    EXPECT_FALSE(inside);
    EXPECT_EQ(passesToKnow(&s, x, 0, 0), 1) << "cap " << cap;
    s.maxIterations = kSureEscapePasses;
    EXPECT_EQ(passesToKnow(&s, x, 0, 0), membershipPasses(&s, x, 0, 0, &inside));
  }
  // Without the passes to spare, the escape itself decides, even for a
  // start that escapes by that cap and was beyond the norm at once.
  s.maxIterations = kSureEscapePasses;
  const double x = std::sqrt(std::sqrt(sureEscapeNorm(&s)) + 0.7) * 1.02;
  bool inside;
  const int32_t passes = membershipPasses(&s, x, 0, 0, &inside);
  EXPECT_FALSE(inside);
  EXPECT_GT(passes, 1);
  EXPECT_EQ(passesToKnow(&s, x, 0, 0), passes);
}

TEST(NeededPixelPasses, AllOutsideCostsOnePassACoarseProbe) {
  // x = 10 escapes on the first pass at any cap: no refinement, every
  // coarse probe one pass.
  for (int32_t cap : {1, 1000}) {
    RenderSettings s = axisRay(-1, 1, 37, 10, cap);
    s.xMin = 9, s.xMax = 11, s.centreX = 10;
    const PixelPasses p = neededPixelPasses(&s, 1, 1);
    EXPECT_EQ(p.depth, -1);
    EXPECT_EQ(p.lanePasses, 38) << cap;
  }
}

TEST(NeededPixelPasses, InsideAtTheNearFaceCostsTheCap) {
  // The origin is inside the default set: one probe, run to the cap.
  RenderSettings s = axisRay(0, 1, 20, 10, 1000);
  const PixelPasses p = neededPixelPasses(&s, 1, 1);
  EXPECT_EQ(p.depth, 0);
  EXPECT_EQ(p.lanePasses, 1000);
}

// At cap 1 a point (0, 0, z, 0) is inside when z^4 < 16, |z| < 2, and every
// probe costs one pass: the cost is the number of probes.
TEST(NeededPixelPasses, CountsTheRefinementFromTheNearSide) {
  // z = 3.05 - 0.1 k: coarse probes 0, 10 out, 20 in; refinement from 11,
  // which is inside: 3 + 1 probes.
  RenderSettings s = axisRay(3.05, 0.05, 3, 10, 1);
  PixelPasses p = neededPixelPasses(&s, 1, 1);
  EXPECT_EQ(p.depth, 11);
  EXPECT_EQ(p.lanePasses, 4);
  // z = 2.95 - 0.1 k: coarse 0 out, 10 in; levels 1 to 9 all out:
  // 2 + 9 probes.
  s = axisRay(2.95, -0.05, 3, 10, 1);
  p = neededPixelPasses(&s, 1, 1);
  EXPECT_EQ(p.depth, 10);
  EXPECT_EQ(p.lanePasses, 11);
  // One level per coarse step: no refinement at all.
  s = axisRay(3.05, 0.05, 30, 1, 1);
  p = neededPixelPasses(&s, 1, 1);
  EXPECT_EQ(p.depth, 11);
  EXPECT_EQ(p.lanePasses, 12);
}

TEST(NeededPixelPasses, CountsApartTheProbesBeyondTheEscapeBound) {
  // At cap 1 the bound is |q| = 2, a squared norm of 4 (and a little).
  // z = 3.05 - 0.1 k: coarse probes 0 (z = 3.05) and 10 (2.05) lie beyond
  // it, 20 (1.05) and the refinement's 11 (1.95) do not.
  RenderSettings s = axisRay(3.05, 0.05, 3, 10, 1);
  const double bound = escapeNormSquared(&s);
  EXPECT_NEAR(bound, 4, 1e-6);
  PixelPasses p = neededPixelPasses(&s, 1, 1, bound);
  EXPECT_EQ(p.depth, 11);
  EXPECT_EQ(p.lanePasses, 4);
  EXPECT_EQ(p.passesToRun, 2);
  // Without a bound every pass is toRun.
  p = neededPixelPasses(&s, 1, 1);
  EXPECT_EQ(p.passesToRun, 4);
  int64_t passes = 0, toRun = 0;
  ASSERT_TRUE(addNeededRowPasses(&s, 1, &passes, &toRun));
  EXPECT_EQ(passes, 4 + neededPixelPasses(&s, 0, 1).lanePasses);
  EXPECT_EQ(toRun, 2 + neededPixelPasses(&s, 0, 1, bound).passesToRun);
}

TEST(NeededPixelPasses, DepthIsTheReferenceDepth) {
  std::mt19937_64 rng(1234);
  std::uniform_real_distribution<double> angle(-3.2, 3.2), constant(-0.6, 0.6);
  int hits = 0, refined = 0;
  for (int32_t fine : {1, 10}) {
    for (int32_t cap : {1, 20, 1000}) {
      for (int view = 0; view < 4; ++view) {
        RenderSettings s = defaultSettings();
        for (double &c : s.juliaC) c = constant(rng);
        setAngles(&s, angle(rng), angle(rng), angle(rng));
        s.width = 9, s.height = 7;
        s.coarseSteps = 30, s.fineSteps = fine, s.maxIterations = cap;
        int64_t rowPasses = 0;
        for (int32_t row = 0; row < s.height; ++row) {
          int64_t sum = 0;
          for (int32_t column = 0; column < s.width; ++column) {
            const PixelPasses p = neededPixelPasses(&s, column, row);
            ASSERT_EQ(p.depth, findSurfaceDepth(&s, column, row))
                << "pixel " << column << ", row " << row << ", fine " << fine
                << ", cap " << cap;
            hits += p.depth >= 0;
            refined += p.depth > 0 && p.depth % fine != 0;
            sum += p.lanePasses;
          }
          ASSERT_TRUE(addNeededRowPasses(&s, row, &rowPasses));
          ASSERT_EQ(rowPasses, sum) << "row " << row;
          rowPasses = 0;
        }
      }
    }
  }
  EXPECT_GT(hits, 50);
  EXPECT_GT(refined, 10);
}

}  // namespace
}  // namespace quatdepth
