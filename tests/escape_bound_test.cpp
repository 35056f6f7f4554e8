// The escape bound: every start at or beyond it escapes within the cap,
// and it is no further out than it must be where the bound is tight.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "julia/escape_bound.h"
#include "julia/julia_set.h"
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
    s.maxIterations = kCaps[view % std::size(kCaps)];
    s.bailout = kBailouts[view % std::size(kBailouts)];
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

}  // namespace
}  // namespace quatdepth
