// The escape bound: every start at or beyond it escapes within the cap,
// and it is no further out than it must be where the bound is tight.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "julia/depth_search.h"
#include "julia/escape_bound.h"
#include "julia/julia_set.h"
#include "julia/view_rotation.h"
#include "test_settings.h"

namespace quatdepth {
namespace {

const int32_t kCaps[] = {-2, 0, 1, 2, 3, 5, 10, 20, 100, 1000, 100000};
const int32_t kBailouts[] = {1, 2, 4, 16, 100, 2147483647};

// The membership test of a start (x, y, z, w) of the given squared norm
// in direction (dx, dy, dz, dw).
bool insideAtNorm(RenderSettings *s, double squaredNorm, const double (&direction)[4]) {
  const double length =
      std::sqrt(direction[0] * direction[0] + direction[1] * direction[1] +
                direction[2] * direction[2] + direction[3] * direction[3]);
  const double scale = std::sqrt(squaredNorm) / length;
  s->wSlice = direction[3] * scale;
  return isInsideJulia(s, direction[0] * scale, direction[1] * scale, direction[2] * scale);
}

// A real start (r, 0, 0, 0) under a real constant -|c| is the worst case:
// each pass takes the norm from r to exactly r^2 - |c|. Just beyond the
// bound it must escape; a little short of it, it must not, or the bound
// gives away probes it could have decided.
TEST(EscapeBound, IsSharpOnTheWorstCase) {
  // With |c| up to 1 and a bailout of 4 or more, the orbit's swings below
  // zero never reach the bailout, so short of the bound it stays in.
  for (double c : {0.0, 0.05, 0.3, 1.0}) {
    for (int32_t cap : kCaps) {
      for (int32_t bailout : {4, 16, 100, 2147483647}) {
        RenderSettings s = defaultSettings();
        s.juliaC[0] = -c, s.juliaC[1] = s.juliaC[2] = s.juliaC[3] = 0;
        s.maxIterations = cap, s.bailout = bailout;
        const double bound = escapeNormSquared(&s);
        ASSERT_TRUE(std::isfinite(bound)) << c << " " << cap << " " << bailout;
        const double x = std::sqrt(bound * (1 + 1e-12));
        EXPECT_FALSE(isInsideJulia(&s, x, 0, 0))
            << "c " << -c << ", cap " << cap << ", bailout " << bailout << ": a start at "
            << x << " does not escape, the bound is " << bound;
        EXPECT_TRUE(isInsideJulia(&s, std::sqrt(bound * (1 - 1e-6)), 0, 0))
            << "c " << -c << ", cap " << cap << ", bailout " << bailout
            << ": the bound " << bound << " is further out than it must be";
      }
    }
  }
}

TEST(EscapeBound, EveryStartBeyondItEscapes) {
  std::mt19937_64 rng(1989);
  std::uniform_real_distribution<double> component(-1, 1);
  int starts = 0;
  for (int view = 0; view < 300; ++view) {
    RenderSettings s = defaultSettings();
    for (double &c : s.juliaC) c = component(rng) * (view % 3 + 1) * 0.5;
    s.maxIterations = kCaps[static_cast<size_t>(view) % std::size(kCaps)];
    s.bailout = kBailouts[static_cast<size_t>(view) % std::size(kBailouts)];
    const double bound = escapeNormSquared(&s);
    ASSERT_TRUE(std::isfinite(bound));
    for (int trial = 0; trial < 100; ++trial) {
      double direction[4] = {component(rng), component(rng), component(rng), component(rng)};
      // Now and then straight along the constant, or against it.
      if (trial % 10 == 0)
        for (int i = 0; i < 4; ++i) direction[i] = (trial % 20 ? 1 : -1) * s.juliaC[i];
      ++starts;
      ASSERT_FALSE(insideAtNorm(&s, bound * (1 + 1e-12), direction))
          << "view " << view << ", cap " << s.maxIterations << ", bailout " << s.bailout;
    }
  }
  EXPECT_EQ(starts, 30000);
}

// A quaternion a pass makes at or beyond sureEscapeNorm escapes within
// kSureEscapePasses, the sharpest case being a positive real one under a
// negative real constant; and every square that leaves the bailout makes
// one beyond it (the square plus juliaC), so the norm's test can stand in
// for the bailout's. Where that cannot be shown there is no norm.
TEST(SureEscapeNorm, EscapesInTimeAndStandsInForTheBailout) {
  std::mt19937_64 rng(2718);
  std::normal_distribution<double> normal;
  auto randomScaled = [&](double (&q)[4], double squaredNorm) {
    for (double &x : q) x = normal(rng);
    const double length = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    for (double &x : q) x *= std::sqrt(squaredNorm) / length * (1 + 1e-12);
  };
  int escapes = 0, squares = 0;
  for (double cNorm : {0.0, 0.1, 0.5, 0.75, 1.5}) {
    for (int32_t bailout : {4, 16, 100, 2147483647}) {
      RenderSettings s = defaultSettings();
      s.bailout = bailout, s.maxIterations = kSureEscapePasses;
      for (int trial = 0; trial < 300; ++trial) {
        double c[4], q[4];
        randomScaled(c, cNorm * cNorm);
        if (trial == 0) c[0] = -cNorm, c[1] = c[2] = c[3] = 0;
        for (int i = 0; i < 4; ++i) s.juliaC[i] = c[i];
        const double sure = sureEscapeNorm(&s);
        if (!std::isfinite(sure)) continue;
        randomScaled(q, sure);
        if (trial == 0) q[0] = std::sqrt(sure) * (1 + 1e-12), q[1] = q[2] = q[3] = 0;
        if (((q[0] * q[0] + q[1] * q[1]) + q[2] * q[2]) + q[3] * q[3] >= sure) {
          // A pass from beyond the norm, as the searches make it, ends
          // beyond it again: passes that skip the test miss nothing.
          const double t = q[0] + q[0];
          const double next[4] = {(((q[0] * q[0] - q[1] * q[1]) - q[2] * q[2]) - q[3] * q[3]) + c[0],
                                  t * q[1] + c[1], t * q[2] + c[2], t * q[3] + c[3]};
          EXPECT_GE(((next[1] * next[1] + next[2] * next[2]) + next[3] * next[3]) + next[0] * next[0],
                    sure)
              << "|c| " << cNorm << ", bailout " << bailout << ": falls back inside the norm";
          s.wSlice = q[3];
          EXPECT_FALSE(isInsideJulia(&s, q[0], q[1], q[2]))
              << "|c| " << cNorm << ", bailout " << bailout << ": " << q[0] << " " << q[1]
              << " " << q[2] << " " << q[3] << " stays in";
          ++escapes;
        }
        // A square just at the bailout, half the time against the constant.
        randomScaled(q, bailout);
        if (trial % 2 == 1 && cNorm > 0)
          for (int i = 0; i < 4; ++i) q[i] = -c[i] / cNorm * std::sqrt(bailout) * (1 + 1e-12);
        const double n = ((q[0] * q[0] + q[1] * q[1]) + q[2] * q[2]) + q[3] * q[3];
        if (!(n >= bailout)) continue;
        double next[4];
        for (int i = 0; i < 4; ++i) next[i] = q[i] + c[i];
        EXPECT_GE(((next[0] * next[0] + next[1] * next[1]) + next[2] * next[2]) + next[3] * next[3],
                  sure)
            << "|c| " << cNorm << ", bailout " << bailout;
        ++squares;
      }
    }
  }
  EXPECT_GT(escapes, 4000);
  EXPECT_GT(squares, 4000);
  const double none = std::numeric_limits<double>::infinity();
  RenderSettings s = defaultSettings();
  for (int32_t bailout : {0, -1}) {
    s.bailout = bailout;
    EXPECT_EQ(sureEscapeNorm(&s), none) << bailout;
  }
  // A bailout so small that a square leaving it may make a quaternion
  // nearer the origin than any escaping norm.
  s.bailout = 1;
  EXPECT_EQ(sureEscapeNorm(&s), none);
  s.bailout = 16;
  s.juliaC[0] = 1e300, s.juliaC[1] = 1e300;
  EXPECT_EQ(sureEscapeNorm(&s), none);
  // Near the worst case's fixed point where it can be: the default
  // constant's orbits are sure to leave from a norm of about 1.3.
  s = defaultSettings();
  EXPECT_GT(sureEscapeNorm(&s), 1.29 * 1.29);
  EXPECT_LT(sureEscapeNorm(&s), 1.4 * 1.4);
}

TEST(EscapeBound, EdgeCases) {
  RenderSettings s = defaultSettings();
  // Every point is outside when the bailout is 0 or less.
  for (int32_t bailout : {0, -1, -2147483647 - 1}) {
    s.bailout = bailout;
    EXPECT_EQ(escapeNormSquared(&s), 0) << bailout;
    EXPECT_TRUE(surelyEscapes(0, 0, 0, 0, escapeNormSquared(&s)));
  }
  s.bailout = 16;
  // One pass (a cap of 1 or less): the start escapes when |q|^4 >= 16.
  for (int32_t cap : {1, 0, -5}) {
    s.maxIterations = cap;
    EXPECT_NEAR(escapeNormSquared(&s), 4, 1e-6) << cap;
  }
  // A high cap: the bound comes down to the norm that the worst case
  // holds still, (1 + sqrt(1 + 4|c|)) / 2.
  s.maxIterations = 1000000;
  const double cNorm = std::sqrt(0.01 + 0.04 + 0.09 + 0.01);
  const double fixed = (1 + std::sqrt(1 + 4 * cNorm)) / 2;
  EXPECT_NEAR(escapeNormSquared(&s), fixed * fixed, 1e-6);
  // A constant too large to bound by: no start is decided.
  s.juliaC[0] = 1e300;
  s.juliaC[1] = 1e300;
  EXPECT_EQ(escapeNormSquared(&s), std::numeric_limits<double>::infinity());
  // Starts that are not numbers escape at once.
  EXPECT_TRUE(surelyEscapes(std::nan(""), 0, 0, 0, 4));
  EXPECT_FALSE(surelyEscapes(1, 1, 0.5, 0.25, 4));
  EXPECT_TRUE(surelyEscapes(1, 1, 1, 1, 4));
}

// Every coarse probe a span leaves out starts beyond the bound, at the
// coordinates the reference search computes for it; boxes from inside the
// bound's sphere to far beyond it, from either face, turned any way, and
// long boxes centred far off the origin whose rays still pass through the
// set (where a span worked out carelessly loses all its precision).
TEST(CoarseSpans, LeaveOutOnlyProbesBeyondTheBound) {
  std::mt19937_64 rng(42);
  std::uniform_real_distribution<double> unit(-1, 1);
  int64_t leftOut = 0, kept = 0;
  int emptySpans = 0;
  for (int view = 0; view < 200; ++view) {
    RenderSettings s = defaultSettings();
    const double size = 0.3 + 3 * (unit(rng) + 1);
    s.xMin = -size + unit(rng), s.xMax = size + unit(rng);
    s.yMin = -size + unit(rng), s.yMax = size + unit(rng);
    s.zMin = -size + unit(rng), s.zMax = size + unit(rng);
    setAngles(&s, 4 * unit(rng), 4 * unit(rng), 4 * unit(rng));
    if (view % 5 == 4) {
      // Centred at distance `far` along the turned depth axis, reaching
      // back to the origin.
      const double far = std::pow(10.0, 4 + 4.5 * (unit(rng) + 1));
      const double x1 = s.cosA * s.sinB, y1 = -s.sinA;
      const double centre[3] = {far * (x1 * s.cosC - y1 * s.sinC),
                                far * (x1 * s.sinC + y1 * s.cosC), far * (s.cosA * s.cosB)};
      s.xMin = centre[0] - 1, s.xMax = centre[0] + 1;
      s.yMin = centre[1] - 1, s.yMax = centre[1] + 1;
      s.zMin = centre[2] - far, s.zMax = centre[2] + far;
    }
    if (view % 4 == 0) std::swap(s.zMin, s.zMax);
    s.centreX = (s.xMax - s.xMin) * 0.5 + s.xMin;
    s.centreY = (s.yMax - s.yMin) * 0.5 + s.yMin;
    s.centreZ = (s.zMax - s.zMin) * 0.5 + s.zMin;
    for (double &c : s.juliaC) c = unit(rng) * 0.6;
    s.wSlice = unit(rng) * (view % 2 ? 0.5 : 2.5);
    s.width = 11, s.height = 7, s.coarseSteps = 37, s.fineSteps = view % 3 ? 10 : 1;
    s.maxIterations = kCaps[static_cast<size_t>(view) % std::size(kCaps)];
    const double bound = escapeNormSquared(&s);
    const int32_t levels = s.coarseSteps * s.fineSteps;
    for (int32_t row = 0; row < s.height; ++row) {
      const double py = gridCoordinate(s.yMin, s.yMax, row, s.height) - s.centreY;
      const CoarseSpans spans(&s, py, bound);
      for (int32_t column = 0; column < s.width; ++column) {
        const double px = gridCoordinate(s.xMin, s.xMax, column, s.width) - s.centreX;
        const CoarseSpan span = spans.span(px);
        emptySpans += span.first > span.last;
        for (int32_t j = 0; j <= s.coarseSteps; ++j) {
          if (j >= span.first && j <= span.last) {
            ++kept;
            continue;
          }
          double x = gridCoordinate(s.xMin, s.xMax, column, s.width);
          double y = gridCoordinate(s.yMin, s.yMax, row, s.height);
          double z = gridCoordinate(s.zMin, s.zMax, j * s.fineSteps, levels);
          rotateAboutCentre(&s, &x, &y, &z);
          ++leftOut;
          ASSERT_TRUE(surelyEscapes(x, y, z, s.wSlice * s.wSlice, bound))
              << "view " << view << ", pixel " << column << ", row " << row
              << ": coarse probe " << j << " left out of " << span.first << " to "
              << span.last << " may stay in";
        }
      }
    }
  }
  // Both kinds were seen, and whole rays that miss the bound's sphere.
  EXPECT_GT(leftOut, 50000);
  EXPECT_GT(kept, 50000);
  EXPECT_GT(emptySpans, 100);
}

// A bound that decides nothing, or a row with no bound, keeps every
// coarse probe.
TEST(CoarseSpans, WithoutABoundKeepEveryProbe) {
  RenderSettings s = defaultSettings();
  const CoarseSpans spans(&s, 0.5, std::numeric_limits<double>::infinity());
  for (double px : {-1.0, 0.0, 1.1}) {
    const CoarseSpan span = spans.span(px);
    EXPECT_EQ(span.first, 0);
    EXPECT_EQ(span.last, s.coarseSteps);
  }
  // A box with no depth: its probes are all at one point.
  s.zMin = s.zMax = 3;
  s.centreZ = 3;
  const CoarseSpan flat = CoarseSpans(&s, 0, escapeNormSquared(&s)).span(0);
  EXPECT_EQ(flat.first, 0);
  EXPECT_EQ(flat.last, s.coarseSteps);
}

}  // namespace
}  // namespace quatdepth
