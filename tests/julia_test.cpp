#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "julia/depth_search.h"
#include "julia/julia_set.h"
#include "julia/view_rotation.h"
#include "test_settings.h"

namespace quatdepth {
namespace {

TEST(IsInsideJulia, OnePassWhenMaxIterationsIsOneOrLess) {
  RenderSettings s = defaultSettings();
  // |p|^4 = 16 exactly: the first square is on the bailout, so outside;
  // a point just inside it stays inside after its single pass.
  for (int32_t cap : {1, 0, -5}) {
    s.maxIterations = cap;
    EXPECT_FALSE(isInsideJulia(&s, 2.0, 0.0, 0.0)) << cap;
    EXPECT_TRUE(isInsideJulia(&s, 1.99, 0.0, 0.0)) << cap;
  }
  // With more passes the same point escapes later.
  s.maxIterations = 10;
  EXPECT_FALSE(isInsideJulia(&s, 1.99, 0.0, 0.0));
}

TEST(IsInsideJulia, NothingIsInsideWithNonPositiveBailout) {
  RenderSettings s = defaultSettings();
  for (int32_t bailout : {0, -16}) {
    s.bailout = bailout;
    EXPECT_FALSE(isInsideJulia(&s, 0.0, 0.0, 0.0)) << bailout;
  }
}

TEST(IsInsideJulia, OriginContinuesFromTheConstant) {
  RenderSettings s = defaultSettings();
  // The origin squares to zero, so a second pass starts from juliaC: the
  // answer must equal testing juliaC itself with one pass fewer.
  s.juliaC[0] = 1.5;
  s.juliaC[3] = 0.0;
  s.wSlice = 0.0;
  s.maxIterations = 2;
  bool fromOrigin = isInsideJulia(&s, 0.0, 0.0, 0.0);
  s.maxIterations = 1;
  s.wSlice = s.juliaC[3];
  EXPECT_EQ(fromOrigin, isInsideJulia(&s, 1.5, 0.2, 0.3));
  EXPECT_TRUE(fromOrigin);
  s.maxIterations = 3;  // 1.5 -> ~2.2 -> escapes on the third pass
  s.wSlice = 0.0;
  EXPECT_FALSE(isInsideJulia(&s, 0.0, 0.0, 0.0));
}

struct Offset {
  double u, v, w;
};

Offset rotatedOffset(const RenderSettings &s, Offset p) {
  double x = s.centreX + p.u, y = s.centreY + p.v, z = s.centreZ + p.w;
  rotateAboutCentre(&s, &x, &y, &z);
  return {x - s.centreX, y - s.centreY, z - s.centreZ};
}

TEST(RotateAboutCentre, QuarterTurnsMoveAxesTheRightWay) {
  RenderSettings s = defaultSettings();
  s.xMin = 1.0, s.xMax = 3.0, s.centreX = 2.0;
  const Offset p{0.25, 0.5, 0.75};
  const double quarter = std::numbers::pi / 2;

  setAngles(&s, quarter, 0, 0);
  Offset a = rotatedOffset(s, p);
  EXPECT_NEAR(a.u, 0.25, 1e-15);
  EXPECT_NEAR(a.v, -0.75, 1e-15);
  EXPECT_NEAR(a.w, 0.5, 1e-15);

  setAngles(&s, 0, 0, quarter);
  Offset c = rotatedOffset(s, p);
  EXPECT_NEAR(c.u, -0.5, 1e-15);
  EXPECT_NEAR(c.v, 0.25, 1e-15);
  EXPECT_NEAR(c.w, 0.75, 1e-15);

  // A, then B, then C: B turns z1 (after A) into x.
  setAngles(&s, quarter, quarter, 0);
  Offset ab = rotatedOffset(s, p);
  EXPECT_NEAR(ab.u, 0.5, 1e-15);
  EXPECT_NEAR(ab.v, -0.75, 1e-15);
  EXPECT_NEAR(ab.w, -0.25, 1e-15);
}

TEST(RotateAboutCentre, CentreIsFixedAndZeroAnglesKeepPoints) {
  RenderSettings s = defaultSettings();
  setAngles(&s, 0.3, -1.1, 2.5);
  double x = s.centreX, y = s.centreY, z = s.centreZ;
  rotateAboutCentre(&s, &x, &y, &z);
  EXPECT_EQ(x, s.centreX);
  EXPECT_EQ(y, s.centreY);
  EXPECT_EQ(z, s.centreZ);

  setAngles(&s, 0, 0, 0);
  x = 0.5, y = -0.25, z = 1.125;  // exact in binary, so no rounding at all
  rotateAboutCentre(&s, &x, &y, &z);
  EXPECT_EQ(x, 0.5);
  EXPECT_EQ(y, -0.25);
  EXPECT_EQ(z, 1.125);
}

// The search's contract, written the slow way: test every level, take the
// first inside coarse level k0 (a multiple of fineSteps), then the
// smallest inside level above the previous coarse probe.
int32_t expectedDepth(const RenderSettings &s, int32_t column, int32_t row) {
  const int32_t levels = s.coarseSteps * s.fineSteps;
  const double x = gridCoordinate(s.xMin, s.xMax, column, s.width);
  const double y = gridCoordinate(s.yMin, s.yMax, row, s.height);
  std::vector<bool> inside(static_cast<size_t>(levels) + 1);
  for (int32_t k = 0; k <= levels; ++k) {
    double px = x, py = y, pz = gridCoordinate(s.zMin, s.zMax, k, levels);
    rotateAboutCentre(&s, &px, &py, &pz);
    inside[static_cast<size_t>(k)] = isInsideJulia(&s, px, py, pz);
  }
  for (int32_t k0 = 0; k0 <= levels; k0 += s.fineSteps) {
    if (!inside[static_cast<size_t>(k0)]) continue;
    for (int32_t k = std::max(0, k0 - s.fineSteps + 1); k < k0; ++k)
      if (inside[static_cast<size_t>(k)]) return k;
    return k0;
  }
  return -1;
}

TEST(FindSurfaceDepth, MatchesTheExhaustiveModelOnRotatedViews) {
  RenderSettings s = defaultSettings();
  s.width = 24;
  s.height = 12;
  s.coarseSteps = 30;
  for (int32_t fine : {1, 2, 7}) {
    s.fineSteps = fine;
    setAngles(&s, 0.3, 0.5 * fine, 0.7);
    int hits = 0, misses = 0, refined = 0;
    for (int32_t row = 0; row < s.height; ++row)
      for (int32_t column = 0; column < s.width; ++column) {
        int32_t depth = findSurfaceDepth(&s, column, row);
        ASSERT_EQ(depth, expectedDepth(s, column, row))
            << "fine " << fine << " column " << column << " row " << row;
        depth < 0 ? ++misses : ++hits;
        if (depth > 0 && depth % fine != 0) ++refined;
      }
    // The view must exercise hits, misses and (with refinement) levels
    // between coarse probes, or the comparison proves little.
    EXPECT_GT(hits, 20) << fine;
    EXPECT_GT(misses, 20) << fine;
    if (fine > 1) {
      EXPECT_GT(refined, 5) << fine;
    }
  }
}

TEST(FindSurfaceDepth, InsideAtTheNearFaceIsZero) {
  RenderSettings s = defaultSettings();
  s.zMin = 0.0;  // the near face passes through the middle of the set
  s.width = 2;
  s.height = 2;
  EXPECT_EQ(findSurfaceDepth(&s, 1, 1), 0);
  s.bailout = 0;  // nothing is inside
  EXPECT_EQ(findSurfaceDepth(&s, 1, 1), -1);
}

}  // namespace
}  // namespace quatdepth
