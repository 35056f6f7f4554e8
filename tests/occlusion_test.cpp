// Ambient occlusion from the depth map: open ground stays lit, the foot of
// a wall darkens, the wall's top does not, and threads change nothing.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "render/occlusion.h"
#include "run_program.h"
#include "test_settings.h"

namespace quatdepth::testing {
namespace {

// A 40 x 30 floor at depth 500 with a block standing 200 levels nearer in
// columns 20 to 29, and a hole (background) at (2, 2).
MergedRows floorWithBlock() {
  MergedRows rows;
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
  const MergedRows rows = floorWithBlock();
  const std::vector<float> open = ambientOcclusion(s, rows, 6, 1);
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
    const std::vector<float> again = ambientOcclusion(s, rows, 6, threads);
    EXPECT_EQ(std::memcmp(again.data(), open.data(), open.size() * sizeof(float)), 0) << threads;
  }
}

// Through the program: --occlusion darkens some pixels and lightens none,
// and a picture's parameters carry it.
TEST(Occlusion, APictureWithItRendersAgainFromItsParameters) {
  TemporaryDirectory dir;
  const std::vector<std::string> view = {"--size", "60x40", "--iterations", "12", "--angles",
                                         "0.5,0.3,0", "--format", "pgm", "-o", "-"};
  std::vector<std::string> occluded = view;
  occluded.push_back("--occlusion");
  const ProgramResult plain = runProgram(QUATDEPTH_RENDER_PROGRAM, view);
  const ProgramResult dark = runProgram(QUATDEPTH_RENDER_PROGRAM, occluded);
  ASSERT_EQ(plain.exitStatus, 0) << plain.err;
  ASSERT_EQ(dark.exitStatus, 0) << dark.err;
  ASSERT_EQ(plain.out.size(), dark.out.size());
  int darker = 0;
  for (size_t i = 14; i < plain.out.size(); ++i) {
    const auto a = static_cast<uint8_t>(plain.out[i]), b = static_cast<uint8_t>(dark.out[i]);
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
