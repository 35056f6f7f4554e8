// Ambient occlusion from the depth map: open ground stays lit, the foot of
// a wall darkens, the wall's top does not, threads change nothing, and a
// real surface's openness is its plain definition's at any radius and
// supersampling.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>
#include <string>
#include <vector>

#include "image/colormap.h"
#include "image/depth_picture.h"
#include "julia/search_path.h"
#include "render/occlusion.h"
#include "render/normal_map.h"
#include "render/threaded_render.h"
#include "run_program.h"
#include "test_settings.h"

namespace quatdepth::testing {
namespace {

// A 40 x 30 floor at depth 500 with a block standing 200 levels nearer in
// columns 20 to 29, and a hole (background) at (2, 2).
DepthImage floorWithBlock() {
  DepthImage rows;
  rows.width = 40, rows.height = 30;
  rows.depths.assign(40 * 30, 500);
  for (int y = 0; y < 30; ++y)
    for (int x = 20; x < 30; ++x) rows.depths[static_cast<size_t>(y * 40 + x)] = 300;
  rows.depths[2 * 40 + 2] = -1;
  return rows;
}

TEST(Occlusion, DarkensTheFootOfAWallAndNothingElse) {
  RenderSettings s = defaultSettings();
  s.width = 40, s.height = 30;  // 1000 levels over 2.4, 40 pixels over 2.4
  const DepthImage rows = floorWithBlock();
  const ShownSurface surface;  // none: each hit faces the viewer at its level
  const std::vector<float> open = ambientOcclusion(s, rows, surface, 6, 1);
  ASSERT_EQ(open.size(), rows.depths.size());
  auto at = [&](int x, int y) { return open[static_cast<size_t>(y * 40 + x)]; };
  EXPECT_EQ(at(2, 2), 1.0f) << "background";
  EXPECT_EQ(at(5, 15), 1.0f) << "open floor, out of the wall's reach";
  EXPECT_EQ(at(25, 15), 1.0f) << "the top of the block";
  EXPECT_LT(at(19, 15), 0.95f) << "right at the foot of the wall";
  EXPECT_LT(at(19, 15), at(16, 15)) << "darker nearer the wall";
  EXPECT_LT(at(16, 15), 1.0f);
  EXPECT_EQ(at(12, 15), 1.0f) << "beyond the radius";
  for (int threads : {2, 3, 30}) {
    const std::vector<float> again = ambientOcclusion(s, rows, surface, 6, threads);
    EXPECT_EQ(std::memcmp(again.data(), open.data(), open.size() * sizeof(float)), 0) << threads;
  }
}

// A depth map of the surface z = z0 + slope * x (x in scene units along
// the row), or of a valley (|x - middle| in place of x) or a ridge (with
// the slope's sign turned on the right half), each pixel at its first
// level at or behind the surface as the search finds it, with the exact
// normals of its planes and its depths as the levels read them.
enum class Shape { kPlane, kValley, kRidge };

struct SlopedSurface {
  DepthImage rows;
  ShownSurface surface;
};

SlopedSurface slopedSurface(const RenderSettings &s, Shape shape, double slope) {
  const double pixel = (s.xMax - s.xMin) / s.width;
  const double level = (s.zMax - s.zMin) / (s.coarseSteps * s.fineSteps);
  SlopedSurface result;
  result.rows.width = s.width, result.rows.height = s.height;
  const size_t count = static_cast<size_t>(s.width) * static_cast<size_t>(s.height);
  result.rows.depths.resize(count);
  result.surface.normals.resize(count);
  result.surface.depths.resize(count);
  const double middle = (s.width - 1) / 2.0;
  for (int32_t y = 0; y < s.height; ++y)
    for (int32_t x = 0; x < s.width; ++x) {
      double along = slope, run = (x - middle) * pixel;
      if (shape != Shape::kPlane && x < middle) along = -along;
      if (shape == Shape::kValley) along = -along;
      const double z = 1.2 + along * run;  // the middle column at 1.2 deep
      const size_t i = static_cast<size_t>(y) * static_cast<size_t>(s.width) +
                       static_cast<size_t>(x);
      result.rows.depths[i] = static_cast<int32_t>(std::ceil(z / level));
      result.surface.depths[i] = result.rows.depths[i] * level;
      const double length = std::sqrt(1.0 + along * along);
      result.surface.normals[i] = SurfaceNormal{along / length, 0.0, -1.0 / length};
    }
  return result;
}

RenderSettings slopeView() {
  RenderSettings s = defaultSettings();
  s.width = 61, s.height = 9;  // 1000 levels over 2.4, 61 pixels over 2.4
  return s;
}

// A tilted plane is no crease: its depths step a level at a time across
// it, and none of those steps may darken it, whichever way it leans.
TEST(Occlusion, LeavesATiltedPlaneOpen) {
  const RenderSettings s = slopeView();
  for (double slope : {0.3, -0.3, 1.0, 2.5}) {
    const SlopedSurface plane = slopedSurface(s, Shape::kPlane, slope);
    const std::vector<float> open = ambientOcclusion(s, plane.rows, plane.surface, 8, 2);
    for (size_t i = 0; i < open.size(); ++i)
      ASSERT_EQ(open[i], 1.0f) << "slope " << slope << ", pixel " << i % 61 << "," << i / 61;
  }
}

// The same slopes meeting in a valley darken its floor, most at the fold,
// and leave its sides open beyond the radius; meeting in a ridge they
// leave it all open.
TEST(Occlusion, DarkensAValleyAndNotARidge) {
  const RenderSettings s = slopeView();
  constexpr int kRadius = 8;
  for (double slope : {0.3, 1.0}) {
    SCOPED_TRACE("slope " + std::to_string(slope));
    const SlopedSurface valley = slopedSurface(s, Shape::kValley, slope);
    const std::vector<float> open = ambientOcclusion(s, valley.rows, valley.surface, kRadius, 1);
    auto at = [&](int x) { return open[4 * 61 + static_cast<size_t>(x)]; };
    EXPECT_LT(at(30), 0.95f) << "the fold";
    EXPECT_LT(at(30), at(26));
    EXPECT_LT(at(26), 1.0f);
    EXPECT_EQ(at(30 - kRadius - 2), 1.0f) << "beyond the radius";
    EXPECT_EQ(at(30 + kRadius + 2), 1.0f) << "beyond the radius";

    const SlopedSurface ridge = slopedSurface(s, Shape::kRidge, slope);
    for (float o : ambientOcclusion(s, ridge.rows, ridge.surface, kRadius, 1)) ASSERT_EQ(o, 1.0f);
  }
}

// The unit ball (c = 0, w = 0: q -> q^2, whose filled set is |q| <= 1) is
// convex: nothing on it stands above its tangent planes, so occlusion,
// from its own normals and depths at 100 coarse steps, leaves it open,
// however it is turned.
TEST(Occlusion, LeavesTheUnitBallOpen) {
  for (const double angleB : {0.0, 0.8}) {
    RenderSettings s = defaultSettings();
    s.juliaC[0] = s.juliaC[1] = s.juliaC[2] = s.juliaC[3] = 0.0;
    s.width = s.height = 90, s.coarseSteps = 100, s.maxIterations = 200;
    setAngles(&s, 0.3, angleB, 0.0);
    DepthImage rows;
    std::string error;
    ASSERT_TRUE(renderAllRows(s, SearchPath::kScalar, 2, &rows, [](int32_t) {}, &error)) << error;
    const ShownSurface surface = shownSurface(s, rows, 2);
    EXPECT_TRUE(shownSurface(s, rows, 3).depths == surface.depths) << "any thread count";
    EXPECT_TRUE(normalMap(s, rows, 1) == surface.normals) << "the normals the lit look uses";
    const std::vector<float> open = ambientOcclusion(s, rows, surface, 6, 2);
    int hits = 0, shut = 0;
    for (size_t i = 0; i < open.size(); ++i) {
      if (rows.depths[i] < 0) continue;
      ++hits;
      if (open[i] < 0.97f) {
        ++shut;
        ADD_FAILURE_AT(__FILE__, __LINE__)
            << "pixel " << i % 90 << "," << i / 90 << " openness " << open[i];
        if (shut > 5) return;
      }
    }
    EXPECT_GT(hits, 90 * 90 / 2);
  }
}

// Openness by its definition, written plainly: in each of eight directions
// at multiples of 45 degrees, the steepest rise above the pixel's tangent
// plane of a surface point within `radius` steps (each a level further
// back, for the depths' quantization), as the sine of its elevation and
// weighed by 1 - step / (radius + 1), so the farthest step still counts;
// one less their mean.
std::vector<float> plainOpenness(const RenderSettings &s, const DepthImage &rows,
                                 const ShownSurface &surface, int radius) {
  const double column = (s.xMax - s.xMin) / s.width, row = (s.yMax - s.yMin) / s.height;
  const double level = (s.zMax - s.zMin) / (s.coarseSteps * s.fineSteps);
  std::vector<float> open(rows.depths.size(), 1.0f);
  for (int y = 0; y < rows.height; ++y) {
    for (int x = 0; x < rows.width; ++x) {
      const size_t i = static_cast<size_t>(y * rows.width + x);
      if (rows.depths[i] < 0) continue;
      const SurfaceNormal n = surface.normals[i];
      double sum = 0.0;
      for (int d = 0; d < 8; ++d) {
        const double angle = d * M_PI / 4;
        double highest = 0.0;
        for (int step = 1; step <= radius; ++step) {
          const long nx = std::lround(x + std::cos(angle) * step);
          const long ny = std::lround(y + std::sin(angle) * step);
          if (nx < 0 || ny < 0 || nx >= rows.width || ny >= rows.height) break;
          const size_t j = static_cast<size_t>(ny * rows.width + nx);
          if (rows.depths[j] < 0) continue;
          const double vx = static_cast<double>(nx - x) * column;
          const double vy = static_cast<double>(ny - y) * row;
          const double vz = surface.depths[j] - surface.depths[i] + level;
          const double rise = vx * n.x + vy * n.y + vz * n.z;
          if (rise <= 0.0) continue;
          highest = std::max(highest, rise / std::sqrt(vx * vx + vy * vy + vz * vz) *
                                          (1.0 - static_cast<double>(step) / (radius + 1)));
        }
        sum += highest;
      }
      open[i] = static_cast<float>(1.0 - sum / 8);
    }
  }
  return open;
}

// A turned view of the default set, which has creases and overhangs.
RenderSettings creasedView(int32_t width, int32_t height) {
  RenderSettings s = defaultSettings();
  s.width = width, s.height = height, s.maxIterations = 12;
  setAngles(&s, 0.5, 0.25, 0.0);
  return s;
}

// On a real set's surface, at radii from one step (where the falloff
// weighs the only neighbour by a half) up, every pixel is what the
// definition gives.
TEST(Occlusion, IsItsDefinitionOnARealSurface) {
  const RenderSettings s = creasedView(70, 50);
  DepthImage rows;
  std::string error;
  ASSERT_TRUE(renderAllRows(s, fastestSearchPath(), 2, &rows, [](int32_t) {}, &error)) << error;
  const ShownSurface surface = shownSurface(s, rows, 2);
  for (int radius : {1, 2, 5, 9}) {
    SCOPED_TRACE("radius " + std::to_string(radius));
    const std::vector<float> open = ambientOcclusion(s, rows, surface, radius, 2);
    const std::vector<float> expected = plainOpenness(s, rows, surface, radius);
    ASSERT_EQ(open.size(), expected.size());
    int shut = 0, wrong = 0;
    for (size_t i = 0; i < open.size(); ++i) {
      shut += expected[i] < 0.99f;
      if (std::fabs(open[i] - expected[i]) > 1e-6f && ++wrong <= 5)
        ADD_FAILURE() << "pixel " << i % 70 << "," << i / 70 << ": " << open[i] << ", not "
                      << expected[i];
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_GT(shut, 50) << "a view with creases";
  }
}

// quatdepth-render looks a fiftieth of the picture's width out (at least
// three pixels), whatever the samples a pixel: at N x N samples, N times
// as many samples out. Its PGM is the picture of its samples darkened by
// the definition's openness at that radius, then averaged.
TEST(Occlusion, ReachesAFiftiethOfTheWidthAtEverySupersampling) {
  for (const auto &[width, height] : {std::pair{250, 40}, std::pair{90, 60}}) {
    const RenderSettings s = creasedView(width, height);
    const int radius = std::max(3, width / 50);
    for (int n : {1, 2, 3}) {
      SCOPED_TRACE(std::to_string(width) + " wide, " + std::to_string(n) + " x " +
                   std::to_string(n) + " samples");
      const ProgramResult run = runProgram(
          QUATDEPTH_RENDER_PROGRAM,
          {"--size", std::to_string(width) + "x" + std::to_string(height), "--iterations", "12",
           "--angles", "0.5,0.25,0", "--look", "depth", "--occlusion", "--supersample",
           std::to_string(n), "--format", "pgm", "-o", "-"});
      ASSERT_EQ(run.exitStatus, 0) << run.err;
      const std::string header =
          "P5\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
      ASSERT_EQ(run.out.substr(0, header.size()), header);
      const std::string pixels = run.out.substr(header.size());

      const RenderSettings sampled = supersampledSettings(s, n);
      DepthImage samples;
      std::string error;
      ASSERT_TRUE(
          renderAllRows(sampled, fastestSearchPath(), 2, &samples, [](int32_t) {}, &error));
      const std::vector<float> open =
          plainOpenness(sampled, samples, shownSurface(sampled, samples, 2), radius * n);
      const std::vector<uint8_t> expected = shrinkPicture(
          renderPicture(samples, Look::kDepth, nullptr, &open), sampled.width, sampled.height, 1, n);
      ASSERT_EQ(pixels.size(), expected.size());
      int wrong = 0;
      for (size_t i = 0; i < expected.size(); ++i)
        wrong += static_cast<uint8_t>(pixels[i]) != expected[i];
      EXPECT_EQ(wrong, 0) << "of " << expected.size() << " pixels";
    }
  }
}

// The pixels of a view rendered by quatdepth-render as a PGM (which the
// view asks for), without and with --occlusion.
void renderWithAndWithoutOcclusion(const std::vector<std::string> &view,
                                   std::string *plainPixels, std::string *darkPixels) {
  std::vector<std::string> occluded = view;
  occluded.push_back("--occlusion");
  const ProgramResult plain = runProgram(QUATDEPTH_RENDER_PROGRAM, view);
  const ProgramResult dark = runProgram(QUATDEPTH_RENDER_PROGRAM, occluded);
  ASSERT_EQ(plain.exitStatus, 0) << plain.err;
  ASSERT_EQ(dark.exitStatus, 0) << dark.err;
  ASSERT_EQ(plain.out.size(), dark.out.size());
  // The header is "P5", the size and the largest value, a line each.
  size_t header = 0;
  for (int line = 0; line < 3; ++line) header = plain.out.find('\n', header) + 1;
  ASSERT_GT(header, 0u);
  *plainPixels = plain.out.substr(header);
  *darkPixels = dark.out.substr(header);
}

// Through the program, in a look that needs no normals of its own: the
// ball keeps its brightness under --occlusion, pixel for pixel.
TEST(Occlusion, TheBallKeepsItsBrightnessInTheReliefLook) {
  std::string plain, dark;
  ASSERT_NO_FATAL_FAILURE(renderWithAndWithoutOcclusion(
      {"--size", "80x80", "--c", "0,0,0,0", "--iterations", "200", "--coarse", "100", "--look",
       "relief", "--format", "pgm", "-o", "-"},
      &plain, &dark));
  ASSERT_EQ(plain.size(), 80u * 80u);
  int lit = 0;
  for (size_t i = 0; i < plain.size(); ++i) {
    const auto a = static_cast<uint8_t>(plain[i]), b = static_cast<uint8_t>(dark[i]);
    if (a == 0) continue;
    ++lit;
    ASSERT_GE(b + 1, 0.97 * a) << "pixel " << i % 80 << "," << i / 80;
  }
  EXPECT_GT(lit, 80 * 80 / 2);
}

// Through the program: --occlusion darkens some pixels and lightens none,
// and a picture's parameters carry it.
TEST(Occlusion, APictureWithItRendersAgainFromItsParameters) {
  TemporaryDirectory dir;
  std::string plain, dark;
  ASSERT_NO_FATAL_FAILURE(renderWithAndWithoutOcclusion(
      {"--size", "60x40", "--iterations", "12", "--angles", "0.5,0.3,0", "--format", "pgm", "-o",
       "-"},
      &plain, &dark));
  ASSERT_EQ(plain.size(), 60u * 40u);
  int darker = 0;
  for (size_t i = 0; i < plain.size(); ++i) {
    const auto a = static_cast<uint8_t>(plain[i]), b = static_cast<uint8_t>(dark[i]);
    EXPECT_LE(b, a) << i;
    darker += b < a;
  }
  EXPECT_GT(darker, 20);

  const std::string first = dir.file("first.png"), again = dir.file("again.png");
  ASSERT_EQ(runProgram(QUATDEPTH_RENDER_PROGRAM,
                       {"--size", "30x20", "--occlusion", "--look", "relief", "-o", first})
                .exitStatus,
            0);
  const ProgramResult rerun = runProgram(QUATDEPTH_RENDER_PROGRAM, {"--params", first, "-o", again});
  ASSERT_EQ(rerun.exitStatus, 0) << rerun.err;
  EXPECT_TRUE(readFile(first) == readFile(again));
  ASSERT_EQ(runProgram(QUATDEPTH_RENDER_PROGRAM, {"--size", "30x20", "--look", "relief", "-o", again})
                .exitStatus,
            0);
  EXPECT_FALSE(readFile(first) == readFile(again)) << "the occlusion is in the picture";
}

}  // namespace
}  // namespace quatdepth::testing
