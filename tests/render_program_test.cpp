// quatdepth-render through the built program: its depths are quatdepth's,
// whatever the options, threads and parameter files, and every malformed
// option is refused before anything is written.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <sstream>
#include <string>
#include <vector>

#if defined(QUATDEPTH_WITH_OPENEXR)
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>
#endif

#include <zlib.h>

#include <cmath>
#include <limits>

#include "image/colormap.h"
#include "image/depth_picture.h"
#include "julia/depth_search.h"
#include "record_decoding.h"
#include "render/depth_exr.h"
#include "request/decimals.h"
#include "request/parameter_files.h"
#include "request/parameters.h"
#include "request/render_request.h"
#include "render/normal_map.h"
#include "render/threaded_render.h"
#include "run_program.h"
#include "settings/render_settings.h"
#include "settings/settings_limits.h"
#include "test_settings.h"

namespace quatdepth::testing {
namespace {

const std::string kRender = QUATDEPTH_RENDER_PROGRAM;
const std::string kRenderer = QUATDEPTH_PROGRAM;


// A small rotated view with every parameter away from its default.
const std::vector<std::string> kNamedView = {
    "--box",        "-1.1,-1,-1.2,1.2,1.05,1.15",
    "--c",          "-0.2,0.25,0.3,-0.05",
    "--w",          "0.05",
    "--angles",     "0.3,-0.5,0.7",
    "--size",       "37x23",
    "--coarse",     "60",
    "--fine",       "7",
    "--iterations", "25",
    "--bailout",    "12"};

class RenderProgram : public ::testing::Test {
 protected:
  ProgramResult render(std::vector<std::string> arguments) {
    return runProgram(kRender, arguments);
  }
  // quatdepth-render's rows for `options`, checked to succeed silently.
  std::string rowsOf(std::vector<std::string> options) {
    options.insert(options.end(), {"--format", "rows", "-o", "-"});
    const ProgramResult run = render(options);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.err, "") << "no progress bar off a terminal";
    return run.out;
  }
  TemporaryDirectory dir_;
};

TEST_F(RenderProgram, DefaultsAreTheRenderersDefaults) {
  const ProgramResult plain = runProgram(kRenderer, {});
  ASSERT_EQ(plain.exitStatus, 0);
  EXPECT_TRUE(rowsOf({}) == plain.out);
}

TEST_F(RenderProgram, NamedOptionsRenderWhatTheirPrintedArgumentsRender) {
  std::vector<std::string> printOptions = kNamedView;
  printOptions.push_back("--print-args");
  const ProgramResult printed = render(printOptions);
  ASSERT_EQ(printed.exitStatus, 0) << printed.err;
  EXPECT_EQ(printed.out,
            "-1.1 -1 -1.2 1.2 1.05 1.15 -0.2 0.25 0.3 -0.05 0.05 0.3 -0.5 0.7 "
            "37 23 60 7 25 12\n");
  const ProgramResult positional = runProgram(kRenderer, words(printed.out));
  ASSERT_EQ(positional.exitStatus, 0);
  EXPECT_TRUE(rowsOf(kNamedView) == positional.out);
}

// Decimals quatdepth cannot be given back from their double alone travel
// as typed: into --print-args, and into a picture's parameters.
TEST_F(RenderProgram, DecimalsTravelAsTyped) {
  const std::vector<std::string> view = {
      "--size",   "23x17",
      "--angles", "123456789012345.6789,0.5,0",
      "--w",      "-0.30724376544330992",
      "--c",      "-1.5e-1,0.2,0.3,-0.1"};
  std::vector<std::string> printOptions = view;
  printOptions.push_back("--print-args");
  const ProgramResult printed = render(printOptions);
  ASSERT_EQ(printed.exitStatus, 0) << printed.err;
  EXPECT_EQ(printed.err, "");
  EXPECT_EQ(
      printed.out,
      "-1.2 -1.2 -1.2 1.2 1.2 1.2 -0.15 0.2 0.3 -0.1 -0.30724376544330992 "
      "123456789012345.6789 0.5 0 23 17 100 10 10 16\n");
  const std::string rows = rowsOf(view);
  EXPECT_TRUE(runProgram(kRenderer, words(printed.out)).out == rows);
  std::vector<std::string> pngOptions = view;
  pngOptions.insert(pngOptions.end(), {"-o", dir_.file("typed.png")});
  ASSERT_EQ(render(pngOptions).exitStatus, 0);
  EXPECT_TRUE(rowsOf({"--params", dir_.file("typed.png")}) == rows);
}

TEST_F(RenderProgram, AnyThreadCountWritesTheSameBytes) {
  const std::string one = rowsOf([] {
    auto options = kNamedView;
    options.insert(options.end(), {"--threads", "1"});
    return options;
  }());
  std::vector<std::string> printOptions = kNamedView;
  printOptions.push_back("--print-args");
  const ProgramResult positional =
      runProgram(kRenderer, words(render(printOptions).out));
  ASSERT_TRUE(one == positional.out);  // every row, in order
  for (const char *threads : {"2", "3", "7", "0"}) {
    std::vector<std::string> options = kNamedView;
    options.insert(options.end(), {"--threads", threads});
    EXPECT_TRUE(rowsOf(options) == one) << threads << " threads";
  }
}

TEST_F(RenderProgram, AParameterFileOrPictureRendersTheSameAndLaterOptionsWin) {
  std::vector<std::string> options = kNamedView;
  options.insert(options.end(), {"-o", dir_.file("view.png")});
  const ProgramResult png = render(options);
  ASSERT_EQ(png.exitStatus, 0) << png.err;
  const std::string expected = rowsOf(kNamedView);
  EXPECT_TRUE(rowsOf({"--params", dir_.file("view.png")}) == expected);

  // A hand-written file, comments and spacing as people write them.
  writeFile(
      dir_.file("view.txt"),
      "# a rotated view\nbox = -1.1,-1,-1.2,1.2,1.05,1.15\n  "
      "c=-0.2,0.25,0.3,-0.05\n\n"
      "w = 0.05\nangles = 0.3,-0.5,0.7\nsize = 37x23\ncoarse = 60\nfine = 7\n"
      "iterations = 25\nbailout = 12\n");
  EXPECT_TRUE(rowsOf({"--params", dir_.file("view.txt")}) == expected);
  // As some editors save it: a byte-order mark and CRLF line ends.
  std::string marked = "\xEF\xBB\xBF";
  for (char c : readFile(dir_.file("view.txt"))) marked += c == '\n' ? "\r\n" : std::string(1, c);
  writeFile(dir_.file("marked.txt"), marked);
  EXPECT_TRUE(rowsOf({"--params", dir_.file("marked.txt")}) == expected);

  // Options before --params are overridden by it; options after it win.
  const std::string smaller = rowsOf(
      {"--size", "5x5", "--params", dir_.file("view.png"), "--size", "9x4"});
  std::vector<std::string> direct = kNamedView;
  direct.insert(direct.end(), {"--size", "9x4"});
  EXPECT_TRUE(smaller == rowsOf(direct));
  EXPECT_TRUE(rowsOf({"--size", "5x5", "--params", dir_.file("view.txt")}) ==
              expected);
}

// A picture's parameters render that picture again, byte for byte, with
// its look, colours and samples.
TEST_F(RenderProgram, APicturesParametersRenderItAgain) {
  for (const char *look : {"lit", "depth"}) {
    for (const char *map : {"grey", "viridis", "magma", "turbo"}) {
      SCOPED_TRACE(std::string(look) + ", " + map);
      const std::string first = dir_.file("first.png"), again = dir_.file("again.png");
      const ProgramResult run =
          render({"--size", "24x16", "--angles", "0.3,0.5,0", "--look", look,
                  "--colormap", map, "--supersample", "2", "-o", first});
      ASSERT_EQ(run.exitStatus, 0) << run.err;
      const ProgramResult rerun = render({"--params", first, "-o", again});
      ASSERT_EQ(rerun.exitStatus, 0) << rerun.err;
      EXPECT_TRUE(readFile(first) == readFile(again));
      // The parameters of the second picture are the first's.
      const ProgramResult third = render({"--params", again, "-o", first});
      ASSERT_EQ(third.exitStatus, 0) << third.err;
      EXPECT_TRUE(readFile(first) == readFile(again));
    }
  }
}

// A picture's parameters travel with a check: a PNG whose parameter
// chunk fails its CRC, or an EXR whose parameters no longer match the
// CRC-32 beside them, is refused as a parameter source that cannot be
// read, though the damaged text (a digit changed) would read as well as
// the intact one.
TEST_F(RenderProgram, APicturesDamagedParametersAreRefused) {
  std::vector<std::string> formats = {"png"};
#if defined(QUATDEPTH_WITH_OPENEXR)
  formats.push_back("exr");
#endif
  writeFile(dir_.file("kept.png"), "an older picture");
  for (const std::string &format : formats) {
    const std::string picture = dir_.file("view." + format);
    ASSERT_EQ(render({"--size", "12x8", "--angles", "0.3,0.5,0", "-o", picture}).exitStatus, 0);
    const std::string intact = readFile(picture);
    ASSERT_EQ(render({"--params", picture, "--print-args"}).exitStatus, 0);
    const size_t digit = intact.find("box = -1.2") + 9;  // the 2
    const size_t keyword = intact.find(std::string("quatdepth-render\0", 17));
    ASSERT_NE(intact.find("box = -1.2"), std::string::npos);
    ASSERT_NE(keyword, std::string::npos);
    std::vector<std::pair<size_t, std::string>> damages = {
        {digit, format == "png" ? "the PNG's quatdepth-render parameter chunk is damaged"
                                : "quatdepth-render parameters are damaged"}};
    if (format == "png") {
      // The chunk's length is the 4 bytes before its type; its CRC follows
      // its data.
      const size_t start = keyword - 8;
      const size_t length = (size_t{static_cast<uint8_t>(intact[start + 2])} << 8) +
                            static_cast<uint8_t>(intact[start + 3]);
      damages.push_back({start + 8 + length + 3, "parameter chunk is damaged"});
      // A damaged keyword may have been ours.
      damages.push_back({keyword + 3, "tEXt chunk is damaged (its CRC does not match), perhaps"});
    } else {
      // The check's value: after its name, its type's and its size.
      damages.push_back({intact.find("quatdepth-render-crc32") + 23 + 7 + 4 + 1,
                         "parameters are damaged"});
    }
    for (const auto &[at, message] : damages) {
      SCOPED_TRACE(format + ", byte " + std::to_string(at));
      std::string damaged = intact;
      damaged[at] = static_cast<char>(damaged[at] ^ 1);
      writeFile(dir_.file("damaged." + format), damaged);
      const ProgramResult run =
          render({"--params", dir_.file("damaged." + format), "-o", dir_.file("kept.png")});
      EXPECT_EQ(run.exitStatus, 3) << run.err;
      EXPECT_NE(run.err.find("damaged." + format + ": "), std::string::npos) << run.err;
      EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
      EXPECT_EQ(readFile(dir_.file("kept.png")), "an older picture");
    }
  }
}

// A parameter file's occlusion is what a picture's parameters write, true
// or false, and any other value is refused at its line.
TEST_F(RenderProgram, AParameterFilesOcclusionIsTrueOrFalse) {
  const std::vector<std::string> view = {"--size", "40x40", "--angles",
                                         "0.4,0.9,0.2"};
  const auto picture = [&](std::vector<std::string> options) {
    options.insert(options.begin(), view.begin(), view.end());
    options.insert(options.end(), {"-o", dir_.file("view.png")});
    const ProgramResult run = render(options);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    return readFile(dir_.file("view.png"));
  };
  const std::string shaded = picture({"--occlusion"}), plain = picture({});
  ASSERT_NE(shaded, plain) << "a view occlusion changes";
  writeFile(dir_.file("on.txt"), "occlusion = true\n");
  writeFile(dir_.file("off.txt"), "occlusion = false\n");
  EXPECT_TRUE(picture({"--params", dir_.file("on.txt")}) == shaded);
  EXPECT_TRUE(picture({"--params", dir_.file("off.txt")}) == plain);
  EXPECT_TRUE(picture({"--occlusion", "--params", dir_.file("off.txt")}) ==
              plain);

  writeFile(dir_.file("kept.png"), "an older picture");
  for (const char *value : {"", "2", "-1", "1", "0", "no", "off", "yes", "on",
                            "True", "true false"}) {
    SCOPED_TRACE(value);
    writeFile(dir_.file("bad.txt"), "size = 8x8\n# the switch\nocclusion = " +
                                        std::string(value) + "\n");
    const ProgramResult run =
        render({"--params", dir_.file("bad.txt"), "-o", dir_.file("kept.png")});
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_NE(run.err.find("bad.txt, line 3: occlusion '" + std::string(value) +
                           "': use true or false"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(readFile(dir_.file("kept.png")), "an older picture");
  }
}

// A name with a frame number is numbered for a single frame too, and a
// name whose '%' is no frame number is taken as it is.
TEST_F(RenderProgram, FrameNamesAreNumberedAndCheckedBeforeTheFirstFrame) {
  for (const std::vector<std::string> &frames :
       {std::vector<std::string>{}, std::vector<std::string>{"--frames", "1"}}) {
    std::vector<std::string> options = {"--size", "4x3", "-o", dir_.file("z%04d.rows")};
    options.insert(options.end(), frames.begin(), frames.end());
    const ProgramResult run = render(options);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(runProgram("/bin/ls", {dir_.path()}).out, "z0000.rows\n");
    std::remove(dir_.file("z0000.rows").c_str());
  }
  const ProgramResult literal = render({"--size", "4x3", "-o", dir_.file("100%.png")});
  EXPECT_EQ(literal.exitStatus, 0) << literal.err;
  EXPECT_EQ(runProgram("/bin/ls", {dir_.path()}).out, "100%.png\n");
  // A later frame's name taken by a folder stops the run before any frame.
  ASSERT_EQ(mkdir(dir_.file("f2.png").c_str(), 0755), 0);
  const ProgramResult taken = render({"--size", "4x3", "--frames", "3", "--animate",
                                      "angleA=0:1", "-o", dir_.file("f%d.png")});
  EXPECT_EQ(taken.exitStatus, 4) << taken.err;
  EXPECT_NE(taken.err.find("f2.png: Is a directory; no frame was rendered"), std::string::npos)
      << taken.err;
  EXPECT_EQ(runProgram("/bin/ls", {dir_.path()}).out, "100%.png\nf2.png\n");
}

// A view where the two depth searches differ: at an iteration cap of 60
// parts of the set are thinner than its 20 coarse steps.
const std::vector<std::string> kThinView = {"--size",   "24x16", "--angles",     "0.3,0.5,0.7",
                                            "--coarse", "20",    "--fine",       "7",
                                            "--iterations", "60"};

std::vector<std::string> withOptions(std::vector<std::string> options,
                                     const std::vector<std::string> &more) {
  options.insert(options.end(), more.begin(), more.end());
  return options;
}

// --search nearest writes quatdepth's records for every level a coarse
// step of its own; --print-args refuses it, giving the options of that
// run instead, which render the same depths.
TEST_F(RenderProgram, TheNearestSearchIsQuatdepthsAtOneFineStep) {
  const std::string nearest = rowsOf(withOptions(kThinView, {"--search", "nearest"}));
  const std::string steps = rowsOf(withOptions(kThinView, {"--search", "steps"}));
  ASSERT_FALSE(nearest.empty());
  EXPECT_FALSE(nearest == steps) << "the view has parts only the nearest search finds";
  EXPECT_TRUE(rowsOf(kThinView) ==
              (kDefaultDepthSearch == DepthSearch::kSteps ? steps : nearest))
      << "without --search, the default";
  const ProgramResult printed =
      render(withOptions(kThinView, {"--coarse", "140", "--fine", "1", "--print-args"}));
  ASSERT_EQ(printed.exitStatus, 0) << printed.err;
  const ProgramResult oneFine = runProgram(kRenderer, words(printed.out));
  ASSERT_EQ(oneFine.exitStatus, 0);
  EXPECT_TRUE(oneFine.out == nearest);
  // One thread writes what every core writes.
  EXPECT_TRUE(rowsOf(withOptions(kThinView, {"--search", "nearest", "--threads", "1"})) ==
              nearest);

  const ProgramResult refused =
      render(withOptions(kThinView, {"--search", "nearest", "--print-args"}));
  EXPECT_EQ(refused.exitStatus, 2);
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(refused.err,
            "quatdepth-render: --search nearest: quatdepth searches by steps only, so "
            "--print-args has no arguments for it; the same depths are --search steps "
            "--coarse 140 --fine 1\n");
  const ProgramResult stepsPrinted =
      render(withOptions(kThinView, {"--search", "steps", "--print-args"}));
  ASSERT_EQ(stepsPrinted.exitStatus, 0) << stepsPrinted.err;
  EXPECT_TRUE(runProgram(kRenderer, words(stepsPrinted.out)).out == steps);
}

// The PNG's parameter text with the line `line` taken out, its chunk's
// length and CRC made good: a picture as an older program wrote it.
std::string withoutParameterLine(const std::string &png, const std::string &line) {
  const size_t keyword = png.find(std::string("quatdepth-render\0", 17));
  if (keyword == std::string::npos || keyword < 8) return "";
  const size_t start = keyword - 8;
  const auto byte = [&](size_t at) { return uint32_t{static_cast<uint8_t>(png[at])}; };
  const uint32_t length =
      (byte(start) << 24) | (byte(start + 1) << 16) | (byte(start + 2) << 8) | byte(start + 3);
  std::string data = png.substr(start + 8, length);
  const size_t at = data.find(line);
  if (at == std::string::npos) return "";
  data.erase(at, line.size());
  std::string chunk = "tEXt" + data;
  const uLong crc = crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef *>(chunk.data()),
                          static_cast<uInt>(chunk.size()));
  const auto bigEndian = [](uint32_t value) {
    return std::string{static_cast<char>(value >> 24), static_cast<char>(value >> 16),
                       static_cast<char>(value >> 8), static_cast<char>(value)};
  };
  return png.substr(0, start) + bigEndian(static_cast<uint32_t>(data.size())) + chunk +
         bigEndian(static_cast<uint32_t>(crc)) + png.substr(start + 12 + length);
}

// A picture carries its search, so its parameters render it again; one
// written before the search was an option was rendered by steps, and its
// parameters say so over an earlier --search.
TEST_F(RenderProgram, APicturesSearchTravelsWithItsParameters) {
  const auto picture = [&](std::vector<std::string> options, const std::string &name) {
    options.insert(options.end(), {"-o", dir_.file(name)});
    const ProgramResult run = render(options);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    return readFile(dir_.file(name));
  };
  const std::string nearest = picture(withOptions(kThinView, {"--search", "nearest"}), "near.png");
  const std::string steps = picture(withOptions(kThinView, {"--search", "steps"}), "steps.png");
  ASSERT_NE(nearest, steps);
  std::string text, error;
  ASSERT_TRUE(readParameterFile(dir_.file("near.png"), &text, &error)) << error;
  EXPECT_NE(text.find("\nsearch = nearest\n"), std::string::npos) << text;
  EXPECT_TRUE(picture({"--params", dir_.file("near.png")}, "again.png") == nearest);
  EXPECT_TRUE(picture({"--search", "steps", "--params", dir_.file("near.png")}, "over.png") ==
              nearest)
      << "the picture's search overrides an earlier option";
  EXPECT_TRUE(picture({"--params", dir_.file("near.png"), "--search", "steps"}, "later.png") ==
              steps)
      << "a later option overrides the picture's";

  const std::string older = withoutParameterLine(steps, "search = steps\n");
  ASSERT_FALSE(older.empty());
  writeFile(dir_.file("older.png"), older);
  ASSERT_TRUE(readParameterFile(dir_.file("older.png"), &text, &error)) << error;
  EXPECT_NE(text.find("search = steps\n"), std::string::npos) << text;
  EXPECT_TRUE(rowsOf({"--search", "nearest", "--params", dir_.file("older.png")}) ==
              rowsOf(withOptions(kThinView, {"--search", "steps"})));
  EXPECT_TRUE(picture({"--params", dir_.file("older.png")}, "newer.png") == steps);
}

// A hit is never the background's infinity, however deep the box: depths
// beyond a float's range are its largest.
TEST(SceneDepth, AHitIsFiniteInAnyBox) {
  RenderSettings s = defaultSettings();
  s.zMin = -1e300, s.zMax = 1e300;
  const int32_t levels = s.coarseSteps * s.fineSteps;
  EXPECT_EQ(sceneDepth(s, 0), 0.0f);
  EXPECT_EQ(sceneDepth(s, levels / 4), std::numeric_limits<float>::max());
  EXPECT_EQ(sceneDepth(s, levels - 1), std::numeric_limits<float>::max());
  EXPECT_TRUE(std::isinf(sceneDepth(s, -1)));
  s.zMin = 1.5, s.zMax = -2;  // a box given far to near
  EXPECT_FLOAT_EQ(sceneDepth(s, levels / 2), 1.75f);
}

TEST_F(RenderProgram, AnExrHoldsSceneDepthsAndInfinityForBackground) {
#if !defined(QUATDEPTH_WITH_OPENEXR)
  GTEST_SKIP() << "this build has no OpenEXR (the aarch64 cross build cannot "
                  "install it)";
#else
  // A deep box, so scene depths are not just level numbers.
  const std::vector<std::string> view = {"--box",    "-1.2,-1.2,-2,1.2,1.2,1.5",
                                         "--size",   "21x13",
                                         "--angles", "0.3,0.5,0.7",
                                         "--coarse", "40"};
  std::vector<std::string> options = view;
  options.insert(options.end(), {"-o", dir_.file("depth.exr")});
  const ProgramResult run = render(options);
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  const std::vector<std::vector<int32_t> > levels =
      decodeRecords(rowsOf(view), 21);
  ASSERT_EQ(levels.size(), 13u);

  Imf::InputFile file(dir_.file("depth.exr").c_str());
  ASSERT_NE(file.header().channels().findChannel("Z"), nullptr);
  EXPECT_EQ(file.header().channels().findChannel("Z")->type, Imf::FLOAT);
  std::vector<float> z(21 * 13);
  Imf::FrameBuffer frame;
  frame.insert("Z", Imf::Slice(Imf::FLOAT, reinterpret_cast<char *>(z.data()),
                               sizeof(float), 21 * sizeof(float)));
  file.setFrameBuffer(frame);
  file.readPixels(0, 12);
  int background = 0, surface = 0;
  for (size_t y = 0; y < 13; ++y) {
    for (size_t x = 0; x < 21; ++x) {
      const int32_t level = levels[y][x + 1];
      const float depth = z[y * 21 + x];
      if (level < 0) {
        ++background;
        EXPECT_TRUE(std::isinf(depth) && depth > 0) << x << "," << y;
      } else {
        ++surface;
        // 400 levels over 3.5 scene units.
        EXPECT_FLOAT_EQ(depth, static_cast<float>(level * 3.5 / 400))
            << x << "," << y;
      }
    }
  }
  EXPECT_GT(background, 0);
  EXPECT_GT(surface, 0);
  // Its parameters come back with --params, from the file or a pipe.
  EXPECT_TRUE(rowsOf({"--params", dir_.file("depth.exr")}) == rowsOf(view));
  const ProgramResult piped = runProgram(
      "/bin/sh",
      {"-c", "cat " + dir_.file("depth.exr") + " | " +
                 shellCommand(kRender, {"--params", "/dev/stdin", "--format",
                                        "rows", "-o", "-"})});
  EXPECT_EQ(piped.exitStatus, 0) << piped.err;
  EXPECT_TRUE(piped.out == rowsOf(view));
#endif
}

// The 8-bit picture of N x N samples a pixel is the average of each block
// of the N-times-larger render whose samples centre on the pixels' own;
// depth formats keep one exact sample.
TEST_F(RenderProgram, SupersamplingAveragesSamplesCentredOnEachPixel) {
  const ProgramResult run =
      render({"--angles", "0.3,0.5,0.7", "--coarse", "50", "--size", "26x14",
              "--supersample", "3", "--format", "pgm", "-o", "-"});
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  const std::string header = "P5\n26 14\n255\n";
  ASSERT_EQ(run.out.substr(0, header.size()), header);
  const std::string small = run.out.substr(header.size());
  ASSERT_EQ(small.size(), 26u * 14u);

  RenderSettings s = defaultSettings();
  s.width = 26, s.height = 14, s.coarseSteps = 50;
  setAngles(&s, 0.3, 0.5, 0.7);
  const RenderSettings sampled = supersampledSettings(s, 3);
  EXPECT_EQ(sampled.centreX, s.centreX);  // the same pivot
  // The middle sample of a 3 x 3 block is the pixel's own sample.
  for (int32_t x : {0, 7, 25})
    EXPECT_NEAR(
        gridCoordinate(sampled.xMin, sampled.xMax, 3 * x + 1, sampled.width),
        gridCoordinate(s.xMin, s.xMax, x, s.width), 1e-12);
  for (int32_t y : {0, 6, 13})
    EXPECT_NEAR(
        gridCoordinate(sampled.yMin, sampled.yMax, 3 * y + 1, sampled.height),
        gridCoordinate(s.yMin, s.yMax, y, s.height), 1e-12);
  DepthImage rows;
  std::string error;
  ASSERT_TRUE(renderAllRows(
      sampled, SearchPath::kScalar, 2, &rows, [](int32_t) {}, &error));
  const std::vector<SurfaceNormal> normals = normalMap(sampled, rows, 2);
  const std::vector<uint8_t> large = renderPicture(rows, Look::kLit, &normals);
  int edges = 0;
  for (size_t y = 0; y < 14; ++y) {
    for (size_t x = 0; x < 26; ++x) {
      unsigned sum = 0;
      for (size_t dy = 0; dy < 3; ++dy)
        for (size_t dx = 0; dx < 3; ++dx)
          sum += large[(3 * y + dy) * 78 + 3 * x + dx];
      EXPECT_EQ(static_cast<uint8_t>(small[y * 26 + x]), (sum + 4) / 9)
          << x << "," << y;
      edges += sum % 9 != 0;
    }
  }
  EXPECT_GT(edges, 10) << "samples that differ within a pixel";
  EXPECT_TRUE(rowsOf({"--size", "26x14", "--supersample", "3"}) ==
              rowsOf({"--size", "26x14"}));
}

TEST_F(RenderProgram, AColourMapGivesAnRgbPngWithABlackBackground) {
  const ProgramResult run = render(
      {"--size", "30x20", "--colormap", "turbo", "--format", "png", "-o", "-"});
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  ASSERT_GT(run.out.size(), 26u);
  EXPECT_EQ(run.out[25], 2) << "PNG colour type RGB";
  const std::vector<uint8_t> grey = {0, 16, 255};
  for (Colormap map :
       {Colormap::kViridis, Colormap::kMagma, Colormap::kTurbo}) {
    const std::vector<uint8_t> rgb = colourPicture(grey, map);
    ASSERT_EQ(rgb.size(), 9u);
    EXPECT_EQ(rgb[0] + rgb[1] + rgb[2], 0) << "background stays black";
    EXPECT_NE(rgb[3] + rgb[4] + rgb[5], rgb[6] + rgb[7] + rgb[8])
        << "near and far differ";
  }
}

TEST_F(RenderProgram, AnAnimationStartsAndEndsAtTheEndsOfItsSweeps) {
  const ProgramResult run =
      render({"--size", "19x11", "--frames", "4", "--animate", "angleB=0.1:2.9",
              "--animate", "c1=0.15:0.35", "--format", "rows", "-o",
              dir_.file("frame%03d.rows")});
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(runProgram("/bin/ls", {dir_.path()}).out,
            "frame000.rows\nframe001.rows\nframe002.rows\nframe003.rows\n");
  EXPECT_TRUE(readFile(dir_.file("frame000.rows")) ==
              rowsOf({"--size", "19x11", "--angles", "0,0.1,0", "--c",
                      "-0.1,0.15,0.3,-0.1"}));
  EXPECT_TRUE(readFile(dir_.file("frame003.rows")) ==
              rowsOf({"--size", "19x11", "--angles", "0,2.9,0", "--c",
                      "-0.1,0.35,0.3,-0.1"}));
  EXPECT_FALSE(readFile(dir_.file("frame001.rows")) ==
               readFile(dir_.file("frame002.rows")));
  // Every frame steps by (TO - FROM) / (frames - 1), from FROM to TO.
  const ProgramResult steps = render({"--frames", "5", "--animate",
                                      "angleB=0:1", "--animate", "wSlice=-0.5:0.5",
                                      "--print-args"});
  ASSERT_EQ(steps.exitStatus, 0) << steps.err;
  std::istringstream lines(steps.out);
  const char *expected[][2] = {{"0", "-0.5"}, {"0.25", "-0.25"}, {"0.5", "0"},
                               {"0.75", "0.25"}, {"1", "0.5"}};
  for (const auto &frame : expected) {
    std::string line;
    ASSERT_TRUE(std::getline(lines, line)) << steps.out;
    const std::vector<std::string> arguments = words(line);
    ASSERT_EQ(arguments.size(), 20u) << line;
    EXPECT_EQ(arguments[12], frame[0]) << line;
    EXPECT_EQ(arguments[10], frame[1]) << line;
  }
  std::string extra;
  EXPECT_FALSE(std::getline(lines, extra)) << "five frames, no more";
  // A value swept from itself to itself stays itself in every frame.
  const ProgramResult still =
      render({"--frames", "50", "--animate", "angleA=2.3:2.3", "--print-args"});
  std::istringstream stillLines(still.out);
  int stillFrames = 0;
  for (std::string line; std::getline(stillLines, line); ++stillFrames)
    EXPECT_EQ(words(line).at(11), "2.3") << line;
  EXPECT_EQ(stillFrames, 50);
  // One frame is the first: FROM.
  EXPECT_EQ(render({"--animate", "angleB=0.25:2.9", "--print-args"}).out,
            "-1.2 -1.2 -1.2 1.2 1.2 1.2 -0.1 0.2 0.3 -0.1 0 0 0.25 0 300 300 "
            "100 10 10 16\n");
  // Steps between values too large to subtract.
  EXPECT_EQ(render({"--frames", "3", "--animate", "xMin=-1e308:1e308",
                    "--print-args"})
                .exitStatus,
            0);
}

// Each limit itself is accepted, and more threads than rows (or no rows
// at all) still render every row once.
TEST_F(RenderProgram, TheLimitsThemselvesAreAccepted) {
  const std::string one = rowsOf({"--size", "3x2", "--threads", "1"});
  ASSERT_FALSE(one.empty());
  EXPECT_TRUE(rowsOf({"--size", "3x2", "--threads", "1024"}) == one);
  EXPECT_TRUE(rowsOf({"--size", "3x2", "--threads", "0"}) == one);
  EXPECT_EQ(rowsOf({"--size", "3x0", "--threads", "4"}), "");
  EXPECT_EQ(rowsOf({"--size", "0x3", "--threads", "4"}).size(), 3u * 4u)
      << "three records of a row index alone";
  const ProgramResult sampled = render(
      {"--size", "2x1", "--supersample", "16", "--format", "pgm", "-o", "-"});
  EXPECT_EQ(sampled.exitStatus, 0) << sampled.err;
  EXPECT_EQ(sampled.out.rfind("P5\n2 1\n255\n", 0), 0u);
}

// A refusal of the limits names the option that sets the parameter.
TEST(RenderLimits, RefusalsNameTheOptionOfEachParameter) {
  const char *options[] = {"--box", "--box", "--box", "--box", "--box",
                           "--box", "--c",   "--c",   "--c",   "--c",
                           "--w",   "--angles", "--angles", "--angles"};
  for (int parameter = 0; parameter < 14; ++parameter) {
    RenderSettings s = defaultSettings();
    ViewAngles angles;
    double *reals[] = {&s.xMin, &s.yMin, &s.zMin, &s.xMax, &s.yMax,
                       &s.zMax, &s.juliaC[0], &s.juliaC[1], &s.juliaC[2],
                       &s.juliaC[3], &s.wSlice, &angles.a, &angles.b, &angles.c};
    *reals[parameter] = INFINITY;
    const std::optional<LimitViolation> refusal = firstViolatedLimit(&s, &angles);
    ASSERT_TRUE(refusal) << parameter;
    EXPECT_EQ(optionForParameter(refusal->parameter), options[parameter])
        << refusal->parameter;
  }
  // The whole numbers, each limit they meet.
  const struct {
    void (*set)(RenderSettings *);
    const char *option;
  } wholes[] = {
      {[](RenderSettings *s) { s->width = -1; }, "--size"},
      {[](RenderSettings *s) { s->height = (1 << 24) + 1; }, "--size"},
      {[](RenderSettings *s) { s->coarseSteps = 0; }, "--coarse"},
      {[](RenderSettings *s) { s->fineSteps = 0; }, "--fine"},
      {[](RenderSettings *s) { s->coarseSteps = 2000000000, s->fineSteps = 2; }, "--coarse, --fine"},
      {[](RenderSettings *s) { s->coarseSteps = 5000, s->fineSteps = 5000; }, "--coarse, --fine"},
      {[](RenderSettings *s) { s->rowStep = 0; }, "rowStep"},
  };
  for (const auto &whole : wholes) {
    RenderSettings s = defaultSettings();
    ViewAngles angles;
    whole.set(&s);
    const std::optional<LimitViolation> refusal = firstViolatedLimit(&s, &angles);
    ASSERT_TRUE(refusal);
    EXPECT_EQ(optionForParameter(refusal->parameter), whole.option) << refusal->parameter;
  }
}

// On a terminal (util-linux's script gives one) a bar ends at every row.
TEST_F(RenderProgram, ATerminalSeesTheProgressBar) {
  const std::string script = findProgram("script");
  if (script.empty())
    GTEST_SKIP() << "needs script (util-linux) for a terminal";
  const ProgramResult run = runProgram(
      script,
      {"-qec",
       shellCommand(kRender, {"--size", "40x30", "-o", dir_.file("bar.png")}),
       "/dev/null"});
  ASSERT_EQ(run.exitStatus, 0) << run.out;
  EXPECT_NE(run.out.find("] 30/30 rows, "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find(" rows/s"), std::string::npos) << run.out;
  // Frames are counted from 1 to the last.
  const ProgramResult frames = runProgram(
      script, {"-qec",
               shellCommand(kRender, {"--size", "8x6", "--frames", "2", "--animate",
                                      "angleA=0:1", "-o", dir_.file("f%d.png")}),
               "/dev/null"});
  ASSERT_EQ(frames.exitStatus, 0) << frames.out;
  EXPECT_NE(frames.out.find("quatdepth-render frame 1/2 ["), std::string::npos) << frames.out;
  EXPECT_NE(frames.out.find("quatdepth-render frame 2/2 ["), std::string::npos) << frames.out;
  EXPECT_EQ(frames.out.find("frame 0/"), std::string::npos) << frames.out;
  EXPECT_EQ(frames.out.find("frame 3/"), std::string::npos) << frames.out;
}

TEST_F(RenderProgram, MalformedOptionsAreRefusedBeforeAnythingIsWritten) {
  const struct {
    std::vector<std::string> options;
    int status;
    std::string message;
  } cases[] = {
      {{"--box", "1,2,3,4,5"}, 2, "--box '1,2,3,4,5': give 6 numbers"},
      {{"--box", "1,2,3,4,5,6,7"}, 2, "--box"},
      {{"--c", "0.1,0.2,0.3,x"}, 2, "--c '0.1,0.2,0.3,x'"},
      {{"--w", "nan"}, 2, "--w 'nan'"},
      {{"--w", " 1"}, 2, "--w ' 1'"},
      {{"--angles", "0,0,1e17"}, 2, "--angles: angle C is 1"},
      {{"--size", "640"}, 2, "--size '640': give WIDTHxHEIGHT"},
      {{"--size", "-5x5"}, 2, "--size: width is -5"},
      {{"--size", "20000x20000"}, 2, "--size 20000x20000: at most 2^28 pixels"},
      {{"--coarse", "0"}, 2, "--coarse: coarseSteps is 0"},
      {{"--coarse", "100000", "--fine", "1000"},
       2,
       "--coarse, --fine: coarseSteps x fineSteps"},
      {{"--fine", "ten"}, 2, "--fine 'ten'"},
      {{"--iterations", "1.5"}, 2, "--iterations '1.5'"},
      {{"--bailout", "99999999999"}, 2, "--bailout '99999999999'"},
      {{"--format", "bmp"}, 2, "--format 'bmp'"},
      {{"--look", "shiny"}, 2, "--look 'shiny'"},
      {{"--search", "bogus"}, 2, "--search 'bogus': use steps or nearest"},
      {{"--search", "Nearest"}, 2, "--search 'Nearest': use steps or nearest"},
      {{"--search", ""}, 2, "--search '': use steps or nearest"},
      {{"--params", dir_.file("nulsearch.txt")}, 2, "--search 'nearest\\x00': use steps"},
      {{"--search", "nearest", "--print-args"}, 2, "--search nearest: quatdepth searches by steps"},
      {{"--threads", "-1"}, 2, "--threads -1"},
      {{"--colormap", "rainbow"}, 2, "--colormap 'rainbow'"},
      {{"--colormap", "viridis", "--format", "pgm"},
       2,
       "--colormap viridis: a PGM is grey"},
      {{"--supersample", "0"}, 2, "--supersample 0"},
      {{"--supersample", ""}, 2, "--supersample '': give a whole number"},
      {{"--threads", "0x10"}, 2, "--threads '0x10'"},
      {{"--w", "1e999"}, 2, "--w '1e999': a number beyond the range"},
      {{"--params", dir_.path()}, 3, "Is a directory"},
      {{"--params", "/dev/zero"}, 3, "/dev/zero: more than 16 MiB"},
      {{"--frames", "2", "--animate", "c0=0:1", "-o",
        dir_.file("none%d/x.png")},
       4,
       "No such file or directory; no frame was rendered"},
      {{"--frames", "3", "--animate", "angleA=0:1"},
       2,
       "several frames need one frame number"},
      {{"--frames", "0"}, 2, "--frames 0"},
      {{"--animate", "zoom=1:2"}, 2, "--animate 'zoom=1:2'"},
      {{"--animate", "c0=1:x"}, 2, "--animate 'c0=1:x': FROM and TO"},
      {{"--frames", "5", "--animate", "angleC=0:1e17", "-o",
        dir_.file("f%d.png")},
       2,
       "--animate: frame 1: angle C is"},
      {{"--size", "8000x8000", "--supersample", "4"},
       2,
       "--supersample 4: 32000 x 32000"},
      {{"--params"}, 2, "--params needs a file"},
      {{"--params", dir_.file("nowhere.txt")},
       3,
       "nowhere.txt: No such file or directory"},
      {{"--params", dir_.file("bad.txt")}, 2, "bad.txt, line 2: 'zoom = 3'"},
      {{"--params", dir_.file("twice.txt")}, 2, "twice.txt, lines 1 and 3: 'c' is given twice"},
      // Bytes a terminal would act on are shown escaped, and only a few.
      {{"--params", dir_.file("binary.txt")},
       2,
       "binary.txt, line 1: '\\x7FELF\\x1B[2J\\x00\\x9B" + std::string(58, 'A') + "...' is not"},
      {{"--threads", "99999999999"}, 2, "--threads 99999999999: give 1 to 1024, or 0"},
      // A value a file holds is quoted escaped too: a picture could carry
      // a terminal's control sequences, or a NUL that would end the message.
      {{"--params", dir_.file("escapes.txt")}, 2, "--look '\\x1B[2J\\x1B]0;x\\x07'"},
      {{"--params", dir_.file("nul.txt")}, 2, "--size '64x36\\x00': give WIDTHxHEIGHT"},
      {{"--supersample", "99999999999"}, 2, "--supersample 99999999999: give 1 to 16"},
      // Not a whole number: the option's own range, not an int's.
      {{"--supersample", "1.5"}, 2, "--supersample '1.5': give a whole number, 1 to 16"},
      {{"--threads", "two"}, 2, "--threads 'two': give a whole number, 1 to 1024, or 0"},
      {{"--frames", "1e3"}, 2, "--frames '1e3': give a whole number, 1 to 1000000"},
      // Two numbers where one is meant.
      {{"--w", "0.1,0.2"}, 2, "--w '0.1,0.2': give 1 number"},
      {{"--angles", "1,2,3,4"}, 2, "--angles '1,2,3,4': give 3 numbers"},
      {{"--animate", "angleB=0,1:2"}, 2, "--animate 'angleB=0,1:2'"},
      // One name swept twice: only one sweep could show.
      {{"--frames", "3", "--animate", "angleB=0:1", "--animate", "c0=0:1", "--animate",
        "angleB=0:2"},
       2,
       "--animate angleB is given twice, 'angleB=0:1' and 'angleB=0:2'"},
      {{"--animate", "angleB=0:1:2"}, 2, "--animate 'angleB=0:1:2'"},
      // One past each limit; TheLimitsThemselvesAreAccepted takes the limits.
      {{"--supersample", "17"}, 2, "--supersample 17: give 1 to 16"},
      {{"--threads", "1025"}, 2, "--threads 1025: give 1 to 1024"},
      {{"--frames", "1000001"}, 2, "--frames 1000001: give 1 to 1000000"},
      {{"--size", "0x10"}, 2, "--size 0x10: a picture needs at least one pixel"},
      {{"--size", "10x0"}, 2, "--size 10x0: a picture needs at least one pixel"},
      {{"--size", "1x16777217", "--format", "rows"}, 2, "--size: height is 16777217"},
      {{"--size", "16384x16385", "--format", "rows"}, 2, "--size 16384x16385: at most 2^28"},
      {{"--size", "1x8388609", "--supersample", "2"}, 2, "--supersample 2: 2 x 16777218"},
      {{"--size", "8388609x16", "--supersample", "2"}, 2, "--supersample 2: 16777218 x 32"},
  };
  writeFile(dir_.file("bad.txt"), "coarse = 50\nzoom = 3\n");
  writeFile(dir_.file("escapes.txt"), "look = \x1B[2J\x1B]0;x\x07\n");
  writeFile(dir_.file("nul.txt"), std::string("size = 64x36\0\n", 14));
  writeFile(dir_.file("nulsearch.txt"), std::string("search = nearest\0\n", 18));
  writeFile(dir_.file("twice.txt"), "c = 0,0,0,0\nsize = 3x3\n c= 1,2,3,4\n");
  writeFile(dir_.file("binary.txt"),
            std::string("\x7F" "ELF\x1B[2J\0\x9B", 10) + std::string(500, 'A') + "\n");
  writeFile(dir_.file("kept.png"), "an older picture");
  for (const auto &c : cases) {
    std::vector<std::string> options = {"-o", dir_.file("kept.png")};
    options.insert(options.end(), c.options.begin(), c.options.end());
    const ProgramResult run = render(options);
    SCOPED_TRACE(c.options[0]);
    EXPECT_EQ(run.exitStatus, c.status) << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.find_first_of(std::string("\x1B\x07\0", 3)), std::string::npos);
    EXPECT_EQ(readFile(dir_.file("kept.png")), "an older picture");
  }
  const ProgramResult noOutput = render({"--size", "10x10"});
  EXPECT_EQ(noOutput.exitStatus, 2);
  EXPECT_NE(noOutput.err.find("give -o FILE"), std::string::npos)
      << noOutput.err;
  EXPECT_EQ(runProgram("/bin/ls", {"-A", dir_.path()}).out,
            "bad.txt\nbinary.txt\nescapes.txt\nkept.png\nnul.txt\nnulsearch.txt\ntwice.txt\n");
}

// Numbers are the renderer's own reading of the same decimal, exponents
// written out.
TEST(RenderNumbers, AreTheRenderersReadingOfTheSameDecimal) {
  const struct {
    std::string given, plain;
  } cases[] = {{"-0.291", "-0.291"},
               {"1.15", "1.15"},
               {"+2.", "2"},
               {".5", "0.5"},
               {"-1.5e-3", "-0.0015"},
               {"12.5E2", "1250"},
               {"7e+0", "7"},
               {"3.25e1", "32.5"},
               {"1e-300", "0." + std::string(299, '0') + "1"}};
  for (const auto &c : cases) {
    EXPECT_EQ(plainDecimal(c.given), c.plain) << c.given;
    double value = 0;
    ASSERT_TRUE(parseDecimal(c.given, &value)) << c.given;
    EXPECT_EQ(value, parseReal(c.plain.c_str())) << c.given;
  }
  for (const char *bad :
       {"", "-", ".", "e5", "1e", "1e1000", "0x10", "1,5", " 1", "1 ", "inf",
        "nan", "--1", "1.2.3", "1e5.5", "1e400"}) {
    double value = 0;
    EXPECT_FALSE(parseDecimal(bad, &value)) << bad;
  }
  // Values with no text of their own get the shortest that reads back.
  std::string text;
  EXPECT_TRUE(positionalReal(0.5, &text));
  EXPECT_EQ(text, "0.5");
  EXPECT_TRUE(positionalReal(-1.2, &text));
  EXPECT_EQ(text, "-1.2");
  EXPECT_FALSE(positionalReal(-0.0, &text));  // the renderer reads "-0" as +0
}

}  // namespace
}  // namespace quatdepth::testing
