// Normals from the set: exact on a set whose surface is known, the same
// whatever thread count or search path found the depths, and carried into
// the EXR's normal channels.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#if defined(QUATDEPTH_WITH_OPENEXR)
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>
#endif

#include "julia/depth_search.h"
#include "julia/search_path.h"
#include "julia/surface_normal.h"
#include "render/surface_normals.h"
#include "render/threaded_render.h"
#include "run_program.h"
#include "test_settings.h"

namespace quatdepth::testing {
namespace {

// The unit ball: c = 0 and w = 0 leave q -> q^2, whose filled set is
// |q| <= 1, so the outward normal at a hit is the hit's own direction from
// the centre, in the view's (unturned) coordinates.
TEST(SurfaceNormal, OnTheUnitBallPointsAwayFromTheCentre) {
  const struct {
    double a, b, c;
    int32_t size, coarse, iterations;
  } views[] = {{0.0, 0.0, 0.0, 31, 100, 10},
               {0.3, 0.5, 0.7, 40, 60, 25},
               {-1.2, 2.0, 0.1, 17, 200, 8},
               {0.0, 0.0, 0.0, 9, 100, 100}};
  for (const auto &view : views) {
    RenderSettings s = defaultSettings();
    s.juliaC[0] = s.juliaC[1] = s.juliaC[2] = s.juliaC[3] = 0.0;
    s.width = s.height = view.size;
    s.coarseSteps = view.coarse;
    s.maxIterations = view.iterations;
    setAngles(&s, view.a, view.b, view.c);
    const int32_t levels = s.coarseSteps * s.fineSteps;
    int hits = 0;
    for (int32_t row = 0; row < s.height; ++row) {
      for (int32_t column = 0; column < s.width; ++column) {
        const int32_t level = findSurfaceDepth(&s, column, row);
        if (level < 0) continue;
        ++hits;
        const double x = gridCoordinate(s.xMin, s.xMax, column, s.width);
        const double y = gridCoordinate(s.yMin, s.yMax, row, s.height);
        const double z = gridCoordinate(s.zMin, s.zMax, level, levels);
        const double r = std::sqrt(x * x + y * y + z * z);
        const SurfaceNormal n = surfaceNormal(&s, column, row, level);
        SCOPED_TRACE(std::to_string(column) + "," + std::to_string(row));
        EXPECT_NEAR(n.x, x / r, 1e-6);
        EXPECT_NEAR(n.y, y / r, 1e-6);
        EXPECT_NEAR(n.z, z / r, 1e-6);
        EXPECT_LT(n.z, 0.0) << "the near side faces the viewer";
      }
    }
    EXPECT_GT(hits, view.size * view.size / 2) << view.a;
  }
}

// Bit for bit the same normals from one thread or several, and from the
// depths of every search path this CPU runs.
TEST(SurfaceNormal, TheSameOnAnyThreadCountAndSearchPath) {
  RenderSettings s = defaultSettings();
  s.width = 37, s.height = 23, s.coarseSteps = 60, s.maxIterations = 60;
  s.juliaC[0] = -0.2, s.juliaC[1] = 0.8, s.juliaC[2] = 0.0, s.juliaC[3] = 0.0;
  setAngles(&s, 0.5, 0.3, 0.0);
  std::string error;
  MergedRows reference;
  ASSERT_TRUE(renderAllRows(s, SearchPath::kScalar, 1, &reference, [](int32_t) {}, &error));
  const std::vector<SurfaceNormal> one = surfaceNormals(s, reference, 1);
  int hits = 0;
  for (size_t i = 0; i < one.size(); ++i) {
    const SurfaceNormal &n = one[i];
    if (reference.depths[i] < 0) {
      EXPECT_TRUE(n.x == 0 && n.y == 0 && n.z == 0) << i;
      continue;
    }
    ++hits;
    EXPECT_NEAR(n.x * n.x + n.y * n.y + n.z * n.z, 1.0, 1e-12) << i;
  }
  EXPECT_GT(hits, 100);
  for (int threads : {2, 3, 64}) {
    const std::vector<SurfaceNormal> many = surfaceNormals(s, reference, threads);
    EXPECT_EQ(std::memcmp(many.data(), one.data(), one.size() * sizeof(SurfaceNormal)), 0)
        << threads << " threads";
  }
  for (SearchPath path : kAllSearchPaths) {
    if (!isSearchPathSupported(path)) continue;
    MergedRows rows;
    ASSERT_TRUE(renderAllRows(s, path, 2, &rows, [](int32_t) {}, &error));
    const std::vector<SurfaceNormal> normals = surfaceNormals(s, rows, 2);
    EXPECT_EQ(std::memcmp(normals.data(), one.data(), one.size() * sizeof(SurfaceNormal)), 0)
        << searchPathName(path);
  }
}

// quatdepth-render's EXR carries the normals as N.X, N.Y, N.Z beside Z.
TEST(SurfaceNormal, AnExrCarriesThemAsNormalChannels) {
#if !defined(QUATDEPTH_WITH_OPENEXR)
  GTEST_SKIP() << "this build has no OpenEXR";
#else
  TemporaryDirectory dir;
  const ProgramResult run =
      runProgram(QUATDEPTH_RENDER_PROGRAM, {"--size", "21x13", "--angles", "0.3,0.5,0.7",
                                            "--coarse", "40", "-o", dir.file("n.exr")});
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  RenderSettings s = defaultSettings();
  s.width = 21, s.height = 13, s.coarseSteps = 40;
  setAngles(&s, 0.3, 0.5, 0.7);

  Imf::InputFile file(dir.file("n.exr").c_str());
  std::vector<float> channels[4];
  Imf::FrameBuffer frame;
  const char *names[] = {"Z", "N.X", "N.Y", "N.Z"};
  for (int c = 0; c < 4; ++c) {
    ASSERT_NE(file.header().channels().findChannel(names[c]), nullptr) << names[c];
    EXPECT_EQ(file.header().channels().findChannel(names[c])->type, Imf::FLOAT);
    channels[c].resize(21 * 13);
    frame.insert(names[c], Imf::Slice(Imf::FLOAT, reinterpret_cast<char *>(channels[c].data()),
                                      sizeof(float), 21 * sizeof(float)));
  }
  file.setFrameBuffer(frame);
  file.readPixels(0, 12);
  int hits = 0;
  for (int32_t row = 0; row < 13; ++row) {
    for (int32_t column = 0; column < 21; ++column) {
      const size_t i = static_cast<size_t>(row * 21 + column);
      const int32_t level = findSurfaceDepth(&s, column, row);
      const SurfaceNormal n = level < 0 ? SurfaceNormal{} : surfaceNormal(&s, column, row, level);
      EXPECT_EQ(std::isinf(channels[0][i]), level < 0) << column << "," << row;
      EXPECT_EQ(channels[1][i], static_cast<float>(n.x)) << column << "," << row;
      EXPECT_EQ(channels[2][i], static_cast<float>(n.y)) << column << "," << row;
      EXPECT_EQ(channels[3][i], static_cast<float>(n.z)) << column << "," << row;
      hits += level >= 0;
    }
  }
  EXPECT_GT(hits, 0);
#endif
}

}  // namespace
}  // namespace quatdepth::testing
