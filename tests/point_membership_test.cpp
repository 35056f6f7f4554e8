// The membership of batches of points: every vector path against the
// scalar reference, byte for byte, and the reference against sets whose
// shape is known.
#include "julia/point_membership.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "julia/search_path.h"
#include "random_views.h"
#include "search_path_printing.h"
#include "test_settings.h"

namespace quatdepth {
namespace {

struct Points {
  std::vector<double> x, y, z;
  void add(double px, double py, double pz) {
    x.push_back(px), y.push_back(py), z.push_back(pz);
  }
  int32_t count() const { return static_cast<int32_t>(x.size()); }
};

// Answers of `path` for `points`, with a guard byte past the end; every
// answer byte starts as neither 0 nor 1.
std::vector<uint8_t> answers(SearchPath path, const RenderSettings &s, const Points &points) {
  std::vector<uint8_t> inside(points.x.size() + 1, 7);
  findPointsInside(path, &s, escapeBoundsOf(&s), points.x.data(),
                   points.y.data(), points.z.data(), points.count(),
                   inside.data());
  EXPECT_EQ(inside.back(), 7) << searchPathName(path) << " wrote past the last point";
  inside.pop_back();
  return inside;
}

// Compares `path` with the reference on every point; reports the first
// mismatch with its point and both answers. Counts the inside points.
void expectSameAsReference(SearchPath path, const RenderSettings &s, const Points &points,
                           int64_t *insideSeen = nullptr) {
  const std::vector<uint8_t> expected = answers(SearchPath::kScalar, s, points);
  const std::vector<uint8_t> actual = answers(path, s, points);
  for (size_t i = 0; i < expected.size(); ++i) {
    ASSERT_TRUE(expected[i] == 0 || expected[i] == 1) << "reference answer " << int{expected[i]};
    if (insideSeen) *insideSeen += expected[i];
    ASSERT_EQ(int{actual[i]}, int{expected[i]})
        << searchPathName(path) << ": first mismatch at point " << i << " of "
        << points.count() << " (" << points.x[i] << ", " << points.y[i] << ", "
        << points.z[i] << "), cap " << s.maxIterations << ", bailout " << s.bailout
        << ", for " << describe(s);
  }
}

// Points spread over the box and a little beyond it.
Points randomPoints(std::mt19937_64 &rng, const RenderSettings &s, int32_t count) {
  auto within = [&](double lo, double hi) {
    const double reach = (hi - lo) * 0.2;
    return std::uniform_real_distribution<double>(lo - reach, hi + reach)(rng);
  };
  Points points;
  for (int32_t i = 0; i < count; ++i)
    points.add(within(s.xMin, s.xMax), within(s.yMin, s.yMax), within(s.zMin, s.zMax));
  return points;
}

// A grid of width x height points over the box at its middle depth.
Points gridPlane(const RenderSettings &s, int32_t width, int32_t height) {
  Points points;
  const double z = (s.zMin + s.zMax) * 0.5;
  for (int32_t row = 0; row < height; ++row)
    for (int32_t column = 0; column < width; ++column)
      points.add(s.xMin + (s.xMax - s.xMin) * column / width,
                 s.yMin + (s.yMax - s.yMin) * row / height, z);
  return points;
}

// Points on the segment from `from` to `to`, both ends included.
Points segment(const double from[3], const double to[3], int32_t count) {
  Points points;
  for (int32_t i = 0; i < count; ++i) {
    const double t = count > 1 ? static_cast<double>(i) / (count - 1) : 0.0;
    points.add(from[0] + (to[0] - from[0]) * t, from[1] + (to[1] - from[1]) * t,
               from[2] + (to[2] - from[2]) * t);
  }
  return points;
}

TEST(PointMembership, ReferenceAnswersTheBallOfAZeroConstant) {
  // With c = 0 and w = 0 a pass squares the norm, and the test judges the
  // square's squared norm: a point of norm r is inside at cap N exactly
  // when r^(2^(N+1)) < bailout, so within 16^(1 / 2^(N+1)) of the origin.
  // The box is centred on the origin, so the turns keep each norm.
  RenderSettings s = defaultSettings();
  for (double &c : s.juliaC) c = 0;
  s.wSlice = 0;
  s.bailout = 16;
  setAngles(&s, 0.4, -1.1, 2.3);
  std::mt19937_64 rng(6502);
  std::normal_distribution<double> normal;
  for (int32_t cap : {-2, 0, 1, 2, 3, 5, 10}) {
    s.maxIterations = cap;
    const int32_t passes = cap < 1 ? 1 : cap;
    const double radius = std::pow(16.0, 1.0 / std::pow(2.0, passes + 1));
    Points points;
    std::vector<uint8_t> expected;
    for (int i = 0; i < 50; ++i) {
      double d[3] = {normal(rng), normal(rng), normal(rng)};
      const double length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
      for (double scale : {1 - 1e-6, 1 + 1e-6, 0.5, 1.5}) {
        const double r = radius * scale / length;
        points.add(d[0] * r, d[1] * r, d[2] * r);
        expected.push_back(scale < 1 ? 1 : 0);
      }
    }
    for (SearchPath path : kAllSearchPaths) {
      if (!isSearchPathSupported(path)) continue;
      const std::vector<uint8_t> inside = answers(path, s, points);
      for (size_t i = 0; i < expected.size(); ++i)
        ASSERT_EQ(int{inside[i]}, int{expected[i]})
            << searchPathName(path) << ", cap " << cap << ", point (" << points.x[i] << ", "
            << points.y[i] << ", " << points.z[i] << "), ball radius " << radius;
    }
  }
}

TEST(PointMembership, ReferenceTurnsThePointsAboutTheCentre) {
  // A box off the origin turned half a turn about z: the point at the
  // origin lands at twice the centre, far outside, and the point at twice
  // the centre lands on the origin, inside.
  RenderSettings s = defaultSettings();
  for (double &c : s.juliaC) c = 0;
  s.wSlice = 0;
  s.xMin = 4, s.xMax = 6, s.centreX = 5;
  s.yMin = -1, s.yMax = 1, s.centreY = 0;
  s.zMin = -1, s.zMax = 1, s.centreZ = 0;
  setAngles(&s, 0, 0, 3.141592653589793);
  const Points points = [] {
    Points p;
    p.add(0, 0, 0);
    p.add(10, 0, 0);
    return p;
  }();
  for (SearchPath path : kAllSearchPaths) {
    if (!isSearchPathSupported(path)) continue;
    const std::vector<uint8_t> inside = answers(path, s, points);
    EXPECT_EQ(int{inside[0]}, 0) << searchPathName(path);
    EXPECT_EQ(int{inside[1]}, 1) << searchPathName(path);
  }
}

// Each test runs on one vector path; a path this CPU cannot run is
// reported as skipped, never as passed.
class PointPath : public ::testing::TestWithParam<SearchPath> {
 protected:
  void SetUp() override {
    if (!isSearchPathSupported(GetParam()))
      GTEST_SKIP() << "this CPU cannot run " << searchPathName(GetParam());
  }
};

TEST_P(PointPath, MatchesTheReferenceOnRandomViews) {
  std::mt19937_64 rng(6502);
  auto pick = [&](std::initializer_list<int32_t> values) {
    std::vector<int32_t> v(values);
    return v[std::uniform_int_distribution<size_t>(0, v.size() - 1)(rng)];
  };
  int64_t insideSeen = 0, pointsSeen = 0;
  for (int trial = 0; trial < 2000; ++trial) {
    RenderSettings s = randomSettings(rng);
    s.maxIterations = pick({-3, 0, 1, 2, 10, 60, 200});
    s.bailout = pick({-1, 0, 1, 3, 7, 16, 16, 101});
    const int32_t count = pick({0, 1, 3, 7, 8, 9, 17, 1000});
    const Points points = randomPoints(rng, s, count);
    expectSameAsReference(GetParam(), s, points, &insideSeen);
    if (HasFatalFailure()) return;
    pointsSeen += count;
  }
  EXPECT_GT(insideSeen, pointsSeen / 50) << "the random points hardly meet the set";
  EXPECT_LT(insideSeen, pointsSeen / 2) << "the random points hardly leave the set";
}

// A point where the reference's answer changes between two points a few
// units in the last place apart, found by bisection of the segment from
// `a` to `b`, whose ends it answers differently; then every point within
// two units in the last place of it in each coordinate.
Points ulpsAboutTheSurface(const RenderSettings &s, const double a[3], const double b[3]) {
  auto at = [&](double t) {
    Points p;
    p.add(a[0] + (b[0] - a[0]) * t, a[1] + (b[1] - a[1]) * t, a[2] + (b[2] - a[2]) * t);
    return p;
  };
  auto answer = [&](double t) { return answers(SearchPath::kScalar, s, at(t))[0]; };
  double lo = 0, hi = 1;
  const uint8_t atLo = answer(lo);
  for (int step = 0; step < 80; ++step) {
    const double mid = (lo + hi) * 0.5;
    (answer(mid) == atLo ? lo : hi) = mid;
  }
  const Points centre = at(lo);
  Points points;
  auto ulps = [](double v, int n) {
    const double toward = n < 0 ? -std::numeric_limits<double>::infinity()
                                : std::numeric_limits<double>::infinity();
    for (int i = 0; i < (n < 0 ? -n : n); ++i) v = std::nextafter(v, toward);
    return v;
  };
  for (int i = -2; i <= 2; ++i)
    for (int j = -2; j <= 2; ++j)
      for (int k = -2; k <= 2; ++k)
        points.add(ulps(centre.x[0], i), ulps(centre.y[0], j), ulps(centre.z[0], k));
  return points;
}

TEST_P(PointPath, MatchesTheReferenceAcrossTheSurface) {
  // Points along a diagonal of the box, then closely spaced points about
  // the line's first change of answer, and the points a few units in the
  // last place about where the answer changes: there a turn or a pass
  // rounded even once otherwise changes some answers.
  std::mt19937_64 rng(1977);
  int crossings = 0;
  int64_t insideNearSurface = 0, nearSurface = 0;
  for (int trial = 0; trial < 60; ++trial) {
    RenderSettings s = randomSettings(rng);
    s.maxIterations = trial % 3 == 0 ? 10 : trial % 3 == 1 ? 60 : 200;
    s.bailout = 16;
    const double from[3] = {s.xMin, s.yMin, s.zMin};
    const double to[3] = {s.xMax, s.yMax, s.zMax};
    const Points line = segment(from, to, 1001);
    expectSameAsReference(GetParam(), s, line);
    if (HasFatalFailure()) return;
    const std::vector<uint8_t> inside = answers(SearchPath::kScalar, s, line);
    for (size_t i = 1; i < inside.size(); ++i) {
      if (inside[i] == inside[i - 1]) continue;
      const double a[3] = {line.x[i - 1], line.y[i - 1], line.z[i - 1]};
      const double b[3] = {line.x[i], line.y[i], line.z[i]};
      for (int32_t count : {9, 1000}) expectSameAsReference(GetParam(), s, segment(a, b, count));
      const Points near = ulpsAboutTheSurface(s, a, b);
      expectSameAsReference(GetParam(), s, near, &insideNearSurface);
      nearSurface += near.count();
      if (HasFatalFailure()) return;
      ++crossings;
      break;
    }
  }
  EXPECT_GT(crossings, 20) << "the lines hardly cross the surface";
  // Both answers near the surface, or the points miss it.
  EXPECT_GT(insideNearSurface, nearSurface / 10);
  EXPECT_LT(insideNearSurface, nearSurface * 9 / 10);
}

TEST_P(PointPath, MatchesTheReferenceOnAPlaneOfTheDefaultView) {
  RenderSettings s = defaultSettings();
  setAngles(&s, 0.3, 0.5, 0.7);
  const Points plane = gridPlane(s, 61, 61);
  for (int32_t cap : {10, 60, 200}) {
    s.maxIterations = cap;
    int64_t insideSeen = 0;
    expectSameAsReference(GetParam(), s, plane, &insideSeen);
    if (HasFatalFailure()) return;
    EXPECT_GT(insideSeen, plane.count() / 20) << "cap " << cap;
  }
  // A constant whose orbits escape late, and one whose inside orbits take
  // long to fall onto a cycle.
  s.juliaC[0] = -0.291, s.juliaC[1] = -0.399, s.juliaC[2] = 0.339, s.juliaC[3] = 0.437;
  for (int32_t cap : {60, 200}) {
    s.maxIterations = cap;
    expectSameAsReference(GetParam(), s, plane);
  }
  s.juliaC[0] = -0.2, s.juliaC[1] = 0.8, s.juliaC[2] = 0, s.juliaC[3] = 0;
  s.maxIterations = 300;
  expectSameAsReference(GetParam(), s, plane);
}

TEST_P(PointPath, MatchesTheReferenceOnPointsThatAreNotFinite) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  RenderSettings s = defaultSettings();
  setAngles(&s, 0.3, 0.5, 0.7);
  Points points;
  for (double v : {0.0, -0.0, 0.1, nan, inf, -inf, 1e300, -1e300, 1e-310})
    for (double w : {0.0, nan, inf, 1e300, 0.2}) {
      points.add(v, w, 0.05);
      points.add(w, 0.1, v);
    }
  for (int32_t cap : {1, 10, 200}) {
    s.maxIterations = cap;
    expectSameAsReference(GetParam(), s, points);
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, PointPath, ::testing::ValuesIn(kVectorSearchPaths),
                         [](const auto &path) { return searchPathName(path.param); });

}  // namespace
}  // namespace quatdepth
