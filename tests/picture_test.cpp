// What a picture's pixels are: the shading of simple depths, worked out by
// hand from the light the pictures are lit by, and each colour map against
// the published values it comes from.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <numeric>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "image/colormap.h"
#include "png_reading.h"
#include "record_decoding.h"
#include "run_program.h"

namespace quatdepth::testing {
namespace {

const std::string kImage = QUATDEPTH_IMAGE_PROGRAM;
const std::string kRender = QUATDEPTH_RENDER_PROGRAM;

// quatdepth-image's 8-bit picture, row-major, of a width x height image
// of depthOf(x, y) (-1 for no surface) in `look`.
std::vector<uint8_t> pictureOf(int width, int height,
                               const std::function<int(int, int)> &depthOf,
                               const std::string &look) {
  TemporaryDirectory dir;
  std::vector<int> rows(static_cast<size_t>(height));
  std::iota(rows.begin(), rows.end(), 0);
  writeFile(dir.file("in.rows"), encodeRecords(width, rows, depthOf));
  const std::string w = std::to_string(width), h = std::to_string(height);
  const ProgramResult run =
      runProgram(kImage, {"--width", w, "--height", h, "--look", look, "--format", "pgm", "-o",
                          "-", dir.file("in.rows")});
  const std::string header = "P5\n" + w + " " + h + "\n255\n";
  if (run.exitStatus != 0 || run.out.rfind(header, 0) != 0) {
    ADD_FAILURE() << "quatdepth-image: " << run.err;
    return {};
  }
  return std::vector<uint8_t>(run.out.begin() + static_cast<ptrdiff_t>(header.size()),
                              run.out.end());
}

// The light comes from the top left and towards the viewer, along
// (-1, -1, -1.5), |light| = sqrt(4.25). A surface's brightness b is 0.12
// ambient plus 0.88 of the cosine between its normal and the light,
// dimmed to 0.55 of that at the farthest depth present; it is drawn as the
// grey 16 + round(239 b). The background is 0.

TEST(Shading, AFlatSurfaceIsItsOwnNearestDepthFacingTheViewer) {
  // A flat plane at depth 37 with a hole in it. The hole's edges and the
  // picture's read as flat, not as cliffs down to some other depth.
  const auto plane = [](int x, int y) { return x == 3 && y == 2 ? -1 : 37; };
  const size_t hole = 2 * 7 + 3;
  // Normal (0, 0, -1): cosine 1.5 / sqrt(4.25) = 0.72761;
  // b = 0.12 + 0.88 x 0.72761 = 0.76029, and 239 b = 181.71.
  std::vector<uint8_t> expected(7 * 5, 16 + 182);
  expected[hole] = 0;
  EXPECT_EQ(pictureOf(7, 5, plane, "lit"), expected);
  std::fill(expected.begin(), expected.end(), 255);  // near is bright
  expected[hole] = 0;
  EXPECT_EQ(pictureOf(7, 5, plane, "depth"), expected);
}

TEST(Shading, SlopesFacingTheLightAreBrighterThanSlopesFacingAway) {
  // Depths 10, 12, ..., 18 over 5 x 5 pixels, deepening one way.
  const struct {
    std::string towards;  // where it deepens
    std::function<int(int, int)> depth;
    int centre;
  } ramps[] = {
      // Deeper to the right: it faces right, away from the light. The
      // relief is drawn with the depths' span a third of the picture's
      // width, so 2 levels a pixel is a slope of 2 x 5 / (3 x 8) = 5/12:
      // normal (5/12, 0, -1), of length 13/12. Cosine
      // (-5/12 + 1.5) / (13/12 x sqrt(4.25)) = 0.48507; the centre is
      // halfway in depth, dimmed to 0.775: b = (0.12 + 0.88 x 0.48507)
      // x 0.775 = 0.42382, and 239 b = 101.29.
      {"right", [](int x, int) { return 10 + 2 * x; }, 16 + 101},
      // Deeper to the left: it faces the light. Cosine
      // (5/12 + 1.5) / (13/12 x sqrt(4.25)) = 0.85820; b = 0.67829, and
      // 239 b = 162.11.
      {"left", [](int x, int) { return 18 - 2 * x; }, 16 + 162},
      // The light is as high as it is to the left.
      {"down", [](int, int y) { return 10 + 2 * y; }, 16 + 101},
      {"up", [](int, int y) { return 18 - 2 * y; }, 16 + 162},
  };
  for (const auto &ramp : ramps) {
    const std::vector<uint8_t> lit = pictureOf(5, 5, ramp.depth, "lit");
    ASSERT_EQ(lit.size(), 25u);
    EXPECT_EQ(lit[2 * 5 + 2], ramp.centre) << "deeper " << ramp.towards;
  }
  // The depth look spreads the greys evenly from the nearest depth (255)
  // to the farthest (16): 16 + round(239 x 3/4) = 195, 16 + round(119.5) = 136.
  const std::vector<uint8_t> depth = pictureOf(5, 5, ramps[0].depth, "depth");
  ASSERT_EQ(depth.size(), 25u);
  EXPECT_EQ(std::vector<uint8_t>(depth.begin() + 10, depth.begin() + 15),
            (std::vector<uint8_t>{255, 195, 136, 76, 16}));
}

// The published polynomial fits the maps' tables are sampled from, in
// powers of t = grey / 255, one column a channel: matplotlib's viridis and
// magma fitted to degree 6 (CC0), and Google's approximation of Turbo.
struct Fit {
  const char *name;
  Colormap map;
  double coefficients[7][3];
};

const Fit kFits[] = {
    {"viridis",
     Colormap::kViridis,
     {{0.2777273272234177, 0.005407344544966578, 0.3340998053353061},
      {0.1050930431085774, 1.404613529898575, 1.384590162594685},
      {-0.3308618287255563, 0.214847559468213, 0.09509516302823659},
      {-4.634230498983486, -5.799100973351585, -19.33244095627987},
      {6.228269936347081, 14.17993336680509, 56.69055260068105},
      {4.776384997670288, -13.74514537767416, -65.35303263337234},
      {-5.435455855934631, 4.645852612178535, 26.3124352495832}}},
    {"magma",
     Colormap::kMagma,
     {{-0.002136485053939582, -0.000749655052795221, -0.005386127855323933},
      {0.2516605407371642, 0.6775232436837668, 2.494026599312351},
      {8.353717279216625, -3.577719514958484, 0.3144679030132573},
      {-27.66873308576866, 14.26473078096533, -13.64921318813922},
      {52.17613981234068, -27.94360607168351, 12.94416944238394},
      {-50.76852536473588, 29.04658282127291, 4.23415299384598},
      {18.65570506591883, -11.48977351997711, -5.601961508734096}}},
    {"turbo",
     Colormap::kTurbo,
     {{0.13572138, 0.09140261, 0.10667330},
      {4.61539260, 2.19418839, 12.64194608},
      {-42.66032258, 4.84296658, -60.58204836},
      {132.13108234, -14.18503333, 110.36276771},
      {-152.94239396, 4.27729857, -89.90310912},
      {59.28637943, 2.82956604, 27.34824973},
      {0, 0, 0}}},
};

std::array<int, 3> fitted(const Fit &fit, int grey) {
  const double t = grey / 255.0;
  std::array<int, 3> rgb{};
  for (size_t channel = 0; channel < 3; ++channel) {
    double value = 0.0;
    for (int power = 6; power >= 0; --power)
      value = value * t + fit.coefficients[power][channel];
    rgb[channel] = static_cast<int>(std::lround(std::clamp(value, 0.0, 1.0) * 255.0));
  }
  return rgb;
}

std::array<int, 3> pixel(const std::vector<uint8_t> &rgb, size_t i) {
  return {rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]};
}

std::string text(const std::array<int, 3> &rgb) {
  return std::to_string(rgb[0]) + "," + std::to_string(rgb[1]) + "," + std::to_string(rgb[2]);
}

TEST(ColourMaps, EveryGreyLevelTakesItsMapsColourAndTheBackgroundStaysBlack) {
  std::vector<uint8_t> grey(256);
  std::iota(grey.begin(), grey.end(), 0);
  for (const Fit &fit : kFits) {
    const std::vector<uint8_t> rgb = colourPicture(grey, fit.map);
    ASSERT_EQ(rgb.size(), 3 * grey.size());
    EXPECT_EQ(text(pixel(rgb, 0)), "0,0,0") << fit.name;
    std::ostringstream wrong;  // every level that is off, not 255 failures
    for (int level = 1; level <= 255; ++level) {
      const auto got = pixel(rgb, static_cast<size_t>(level));
      if (got != fitted(fit, level))
        wrong << " " << level << ": " << text(got) << " not " << text(fitted(fit, level)) << ";";
    }
    EXPECT_EQ(wrong.str(), "") << fit.name;
  }
  const std::vector<uint8_t> kept = colourPicture(grey, Colormap::kGrey);
  for (int level = 0; level <= 255; ++level)
    EXPECT_EQ(text(pixel(kept, static_cast<size_t>(level))),
              text({level, level, level}));
}

// The fits are the maps people know: matplotlib's viridis and magma at the
// first surface level, the middle and the end, within the fits' error.
// (Turbo's approximation strays from Google's own table by up to 32
// levels at its dark end, so it is held to its fit alone.)
TEST(ColourMaps, ViridisAndMagmaAreMatplotlibsMaps) {
  const struct {
    Colormap map;
    int grey;
    std::array<int, 3> published;
  } anchors[] = {
      {Colormap::kViridis, 1, {0x44, 0x02, 0x56}},
      {Colormap::kViridis, 128, {0x21, 0x91, 0x8c}},
      {Colormap::kViridis, 255, {0xfd, 0xe7, 0x25}},
      {Colormap::kMagma, 1, {0x01, 0x00, 0x05}},
      {Colormap::kMagma, 128, {0xb7, 0x37, 0x79}},
      {Colormap::kMagma, 255, {0xfc, 0xfd, 0xbf}},
  };
  for (const auto &anchor : anchors) {
    const auto got =
        pixel(colourPicture({static_cast<uint8_t>(anchor.grey)}, anchor.map), 0);
    for (size_t channel = 0; channel < 3; ++channel)
      EXPECT_LE(std::abs(got[channel] - anchor.published[channel]), 5)
          << "grey " << anchor.grey << ": " << text(got) << " not near "
          << text(anchor.published);
  }
}

TEST(ColourMaps, QuatdepthRenderColoursEachPixelOfItsGreyPicture) {
  TemporaryDirectory dir;
  const std::vector<std::string> view = {"--size", "40x30", "--angles", "0.3,0.5,0.7"};
  auto picture = [&](const std::string &map) {
    std::vector<std::string> args = view;
    args.insert(args.end(), {"--colormap", map, "-o", dir.file(map + ".png")});
    const ProgramResult run = runProgram(kRender, args);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    return readPng(dir.file(map + ".png"));
  };
  const Png grey = picture("grey");
  ASSERT_EQ(grey.channels, 1);
  ASSERT_EQ(grey.rows.size(), 30u);
  std::set<uint8_t> levels;
  for (const auto &row : grey.rows) levels.insert(row.begin(), row.end());
  ASSERT_TRUE(levels.count(0)) << "some background";
  ASSERT_GT(levels.size(), 20u) << "many levels of surface";
  for (const Fit &fit : kFits) {
    const Png colour = picture(fit.name);
    ASSERT_EQ(colour.channels, 3) << fit.name;
    ASSERT_EQ(colour.rows.size(), 30u) << fit.name;
    int wrong = 0;
    for (size_t y = 0; y < 30; ++y) {
      for (size_t x = 0; x < 40; ++x) {
        const int level = grey.rows[y][x];
        const auto expected = level == 0 ? std::array<int, 3>{} : fitted(fit, level);
        wrong += pixel(colour.rows[y], x) != expected;
      }
    }
    EXPECT_EQ(wrong, 0) << fit.name << ": pixels not coloured as their grey";
  }
}

}  // namespace
}  // namespace quatdepth::testing
