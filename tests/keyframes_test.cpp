// quatdepth-render --keyframes through the built program: every key frame
// renders exactly its key, real values between keys follow a centripetal
// Catmull-Rom curve, everything else holds, and a malformed file is refused
// before anything is written.
#include "request/keyframes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "request/parameter_files.h"
#include "run_program.h"

namespace quatdepth::testing {
namespace {

const std::string kRender = QUATDEPTH_RENDER_PROGRAM;
const std::string kRenderer = QUATDEPTH_PROGRAM;


class Keyframes : public ::testing::Test {
 protected:
  // quatdepth's positional arguments for every frame, one line each.
  std::vector<std::string> printedLines(std::vector<std::string> options) {
    options.push_back("--print-args");
    const ProgramResult run = runProgram(kRender, options);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    std::istringstream in(run.out);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  std::string keys(const std::string &name, const std::string &text) {
    writeFile(dir_.file(name), text);
    return dir_.file(name);
  }
  TemporaryDirectory dir_;
};

// A frame's 20 positional arguments as numbers.
std::vector<double> numbersOf(const std::string &line) {
  std::vector<double> numbers;
  for (const std::string &word : words(line))
    numbers.push_back(std::strtod(word.c_str(), nullptr));
  return numbers;
}

TEST_F(Keyframes, EachKeyFrameRendersExactlyItsKey) {
  const std::vector<std::string> base = {
      "--size", "19x11", "--c", "-0.2,0.25,0.3,-0.05", "--coarse", "40"};
  const std::string file =
      keys("keys.txt",
           "# a turn, then a new constant\n"
           "[frame 0]\nangles = 0.3,-0.5,0.7\nw = -1.5e-1\n\n"
           "[frame 3]\nangles = 0.3,0.5,0.7\nbox = -1.1,-1,-1.2,1.2,1.05,1.15\n"
           "[frame 5]\nw = -0.30724376544330992\nc = -0.2,0.25,0.3,0.05\n");
  // Each key as a parameter file: its own settings over the keys before.
  const std::string asParameters[] = {
      "angles = 0.3,-0.5,0.7\nw = -1.5e-1\n",
      "angles = 0.3,0.5,0.7\nw = -1.5e-1\nbox = -1.1,-1,-1.2,1.2,1.05,1.15\n",
      "angles = 0.3,0.5,0.7\nw = -0.30724376544330992\n"
      "box = -1.1,-1,-1.2,1.2,1.05,1.15\nc = -0.2,0.25,0.3,0.05\n"};
  const size_t keyFrames[] = {0, 3, 5};

  std::vector<std::string> options = base;
  options.insert(options.end(), {"--keyframes", file});
  const std::vector<std::string> lines = printedLines(options);
  ASSERT_EQ(lines.size(), 6u) << "frames up to the last key's";
  for (int key = 0; key < 3; ++key) {
    SCOPED_TRACE("key " + std::to_string(key));
    std::vector<std::string> single = base;
    single.insert(single.end(),
                  {"--params", keys("key.txt", asParameters[key])});
    EXPECT_EQ(printedLines(single),
              std::vector<std::string>{lines[keyFrames[key]]});
  }
  EXPECT_EQ(words(lines[0])[10], "-0.15");
  EXPECT_EQ(words(lines[5])[10], "-0.30724376544330992") << "as typed";

  // As some editors save it: a byte-order mark and CRLF line ends.
  std::string marked = "\xEF\xBB\xBF";
  for (char c : readFile(file))
    marked += c == '\n' ? "\r\n" : std::string(1, c);
  EXPECT_EQ(printedLines({base[0], base[1], base[2], base[3], base[4], base[5],
                          "--keyframes", keys("marked.txt", marked)}),
            lines);

  // Every frame's rows, keys and frames between, are quatdepth's for the
  // line it prints.
  options.insert(options.end(),
                 {"--format", "rows", "-o", dir_.file("%d.rows")});
  const ProgramResult run = runProgram(kRender, options);
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  for (size_t frame = 0; frame < lines.size(); ++frame) {
    const ProgramResult positional = runProgram(kRenderer, words(lines[frame]));
    ASSERT_EQ(positional.exitStatus, 0);
    const std::string name = std::to_string(frame) + ".rows";
    EXPECT_TRUE(readFile(dir_.file(name)) == positional.out) << name;
  }
}

// Two keys: every real value moves in a straight line from one to the
// other; whole numbers and the picture hold the earlier key's until the
// later key, and frames outside the keys hold the nearest.
TEST_F(Keyframes, BetweenTwoKeysRealsMoveAndTheRestHolds) {
  const std::string file = keys(
      "keys.txt",
      "[frame 2]\nbox = -1.2,-1.1,-1.3,1.1,1.2,1.0\nc = -0.1,0.2,0.3,-0.1\n"
      "w = 0\nangles = 0,0.1,-0.2\nsize = 12x8\ncoarse = 30\nfine = 4\n"
      "iterations = 9\nbailout = 8\nlook = depth\ncolormap = magma\n"
      "supersample = 2\n"
      "[frame 7]\nbox = -1.0,-1.3,-1.1,1.3,1.0,1.2\nc = 0.1,0.0,0.35,0.2\n"
      "w = 0.2\nangles = 0.4,-0.3,0.6\nsize = 10x6\ncoarse = 50\nfine = 6\n"
      "iterations = 14\nbailout = 20\nlook = lit\ncolormap = turbo\n"
      "supersample = 1\n");
  const std::vector<std::string> lines =
      printedLines({"--keyframes", file, "--frames", "10"});
  ASSERT_EQ(lines.size(), 10u);
  const std::vector<double> first = numbersOf(lines[2]),
                            last = numbersOf(lines[7]);
  EXPECT_EQ(lines[0], lines[2]);
  EXPECT_EQ(lines[1], lines[2]);
  EXPECT_EQ(lines[8], lines[7]);
  EXPECT_EQ(lines[9], lines[7]);
  for (int frame = 3; frame < 7; ++frame) {
    SCOPED_TRACE("frame " + std::to_string(frame));
    const std::vector<double> now =
        numbersOf(lines[static_cast<size_t>(frame)]);
    ASSERT_EQ(now.size(), 20u);
    const double u = (frame - 2) / 5.0;
    for (size_t i = 0; i < 14; ++i) {
      EXPECT_GT(now[i], std::min(first[i], last[i])) << "value " << i;
      EXPECT_LT(now[i], std::max(first[i], last[i])) << "value " << i;
      EXPECT_NEAR(now[i], first[i] + (last[i] - first[i]) * u, 1e-12)
          << "value " << i;
    }
    for (size_t i = 14; i < 20; ++i)
      EXPECT_EQ(now[i], first[i]) << "value " << i;
  }

  // The picture of the frame before the later key is the earlier key's.
  ASSERT_EQ(
      runProgram(kRender, {"--keyframes", file, "-o", dir_.file("f%d.png")})
          .exitStatus,
      0);
  std::string carried, error;
  ASSERT_TRUE(readParameterFile(dir_.file("f6.png"), &carried, &error))
      << error;
  for (const char *held : {"size = 12x8\n", "look = depth\n",
                           "colormap = magma\n", "supersample = 2\n"})
    EXPECT_NE(carried.find(held), std::string::npos) << held << carried;
  ASSERT_TRUE(readParameterFile(dir_.file("f7.png"), &carried, &error))
      << error;
  for (const char *key : {"size = 10x6\n", "look = lit\n", "colormap = turbo\n",
                          "supersample = 1\n"})
    EXPECT_NE(carried.find(key), std::string::npos) << key << carried;
}

// Occlusion holds from the key that sets it, as the look does; the
// command line's --occlusion is where it starts. Each frame is the
// picture a single run with its settings writes, byte for byte.
TEST_F(Keyframes, OcclusionHoldsFromTheKeyThatSetsIt) {
  const std::vector<std::string> base = {"--size", "40x40", "--angles",
                                         "0.4,0.9,0.2"};
  const auto picture = [&](std::vector<std::string> options,
                           const std::string &name) {
    options.insert(options.begin(), base.begin(), base.end());
    options.insert(options.end(), {"-o", dir_.file(name)});
    const ProgramResult run = runProgram(kRender, options);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    return readFile(dir_.file(name));
  };
  const std::string shaded = picture({"--w", "0.1", "--occlusion"}, "on.png");
  const std::string plain = picture({"--w", "0.1"}, "off.png");
  ASSERT_NE(shaded, plain) << "a view occlusion changes";

  // The occlusion line before others of its key, as a picture writes it.
  picture({"--keyframes",
           keys("keys.txt",
                "[frame 0]\nocclusion = true\nw = 0.1\n"
                "[frame 2]\nocclusion = false\n[frame 3]\nsupersample = 1\n")},
          "f%d.png");
  EXPECT_TRUE(readFile(dir_.file("f0.png")) == shaded);
  EXPECT_TRUE(readFile(dir_.file("f1.png")) == shaded);
  EXPECT_TRUE(readFile(dir_.file("f2.png")) == plain);
  EXPECT_TRUE(readFile(dir_.file("f3.png")) == plain);

  // --occlusion on the command line until a key turns it off.
  picture(
      {"--occlusion", "--keyframes",
       keys("late.txt", "[frame 0]\nw = 0.1\n[frame 2]\nocclusion = false\n")},
      "g%d.png");
  EXPECT_TRUE(readFile(dir_.file("g1.png")) == shaded);
  EXPECT_TRUE(readFile(dir_.file("g2.png")) == plain);
  std::string carried, error;
  ASSERT_TRUE(readParameterFile(dir_.file("g1.png"), &carried, &error))
      << error;
  EXPECT_NE(carried.find("occlusion = true\n"), std::string::npos) << carried;
  ASSERT_TRUE(readParameterFile(dir_.file("g2.png"), &carried, &error))
      << error;
  EXPECT_NE(carried.find("occlusion = false\n"), std::string::npos) << carried;

  // Nor does it change quatdepth's arguments, wherever it stands.
  EXPECT_EQ(
      printedLines({"--keyframes", keys("view.txt",
                                        "[frame 0]\nocclusion = true\nw = 0.5\n"
                                        "angles = 0.1,0.2,0.3\n")}),
      printedLines({"--w", "0.5", "--angles", "0.1,0.2,0.3"}));
}

// The depth search is not swept: it holds from the key that sets it, as
// the look does, starting from the command line's; --print-args refuses
// keys that search otherwise, as quatdepth searches by steps only.
TEST_F(Keyframes, TheSearchHoldsFromTheKeyThatSetsIt) {
  const std::vector<std::string> view = {"--size", "24x16", "--angles", "0.3,0.5,0.7",
                                         "--coarse", "20", "--fine", "7", "--iterations", "60"};
  // The rows of `options` over the view, to standard output unless they
  // name an output.
  const auto rows = [&](std::vector<std::string> options) {
    options.insert(options.begin(), {"--format", "rows", "-o", "-"});
    options.insert(options.begin(), view.begin(), view.end());
    const ProgramResult run = runProgram(kRender, options);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    return run.out;
  };
  const std::string steps = rows({"--search", "steps"}), nearest = rows({"--search", "nearest"});
  ASSERT_NE(steps, nearest) << "a view the search changes";
  const std::string file = keys("keys.txt", "[frame 0]\n[frame 1]\nsearch = nearest\n[frame 3]\n");
  const auto frame = [&](const std::string &name, int number) {
    return readFile(dir_.file(name + std::to_string(number) + ".rows"));
  };
  rows({"--search", "steps", "--keyframes", file, "-o", dir_.file("f%d.rows")});
  EXPECT_TRUE(frame("f", 0) == steps);
  EXPECT_TRUE(frame("f", 1) == nearest);
  EXPECT_TRUE(frame("f", 2) == nearest);
  EXPECT_TRUE(frame("f", 3) == nearest);
  rows({"--search", "nearest", "--keyframes",
        keys("back.txt", "[frame 0]\n[frame 1]\nsearch = steps\n"), "-o", dir_.file("g%d.rows")});
  EXPECT_TRUE(frame("g", 0) == nearest);
  EXPECT_TRUE(frame("g", 1) == steps);

  std::vector<std::string> print = view;
  print.insert(print.end(), {"--keyframes", file, "--print-args"});
  const ProgramResult refused = runProgram(kRender, print);
  EXPECT_EQ(refused.exitStatus, 2);
  EXPECT_EQ(refused.out, "");
  EXPECT_NE(refused.err.find("--search nearest: quatdepth searches by steps only"),
            std::string::npos)
      << refused.err;
  const ProgramResult bad = runProgram(
      kRender, {"--keyframes", keys("bad.txt", "[frame 0]\n[frame 2]\nsearch = near\n"), "-o",
                dir_.file("h%d.rows")});
  EXPECT_EQ(bad.exitStatus, 2);
  EXPECT_NE(bad.err.find("bad.txt, line 3, [frame 2]: --search 'near': use steps or nearest"),
            std::string::npos)
      << bad.err;
  EXPECT_EQ(readFile(dir_.file("h0.rows")), "") << "nothing rendered";
}

// The point at `frame` of the centripetal Catmull-Rom curve through
// `values` at `frames`, worked from the textbook form: knots from 0 on,
// spaced by the square root of the distance, the ends reflected.
double centripetalPoint(std::vector<double> values, std::vector<int> frames,
                        int frame) {
  size_t segment = 0;
  while (frames[segment + 1] < frame) ++segment;
  values.insert(values.begin(), 2 * values[0] - values[1]);
  values.push_back(2 * values[values.size() - 1] - values[values.size() - 2]);
  const double *p = &values[segment];  // p[1] and p[2] are the keys
  double t[4] = {0, 0, 0, 0};
  for (int i = 1; i < 4; ++i)
    t[i] = t[i - 1] + std::sqrt(std::fabs(p[i] - p[i - 1]));
  const double tt = t[1] + (t[2] - t[1]) * (frame - frames[segment]) /
                               (frames[segment + 1] - frames[segment]);
  auto line = [tt](double a, double ta, double b, double tb) {
    return ta == tb ? a : (a * (tb - tt) + b * (tt - ta)) / (tb - ta);
  };
  const double a1 = line(p[0], t[0], p[1], t[1]);
  const double a2 = line(p[1], t[1], p[2], t[2]);
  const double a3 = line(p[2], t[2], p[3], t[3]);
  return line(line(a1, t[0], a2, t[2]), t[1], line(a2, t[1], a3, t[3]), t[2]);
}

TEST_F(Keyframes, ThreeKeysFollowACentripetalCatmullRomCurve) {
  const std::string file = keys("keys.txt",
                                "[frame 0]\nangles = 123456789012345.6789,0,0\n"
                                "w = 0.5\n"
                                "[frame 4]\nangles = 123456789012345.6789,1,0\n"
                                "[frame 12]\nangles = 0,0.2,0\nw = 0.9\n");
  const std::vector<std::string> lines = printedLines({"--keyframes", file});
  ASSERT_EQ(lines.size(), 13u);
  for (int frame = 0; frame <= 12; ++frame) {
    const std::vector<std::string> now =
        words(lines[static_cast<size_t>(frame)]);
    ASSERT_EQ(now.size(), 20u);
    EXPECT_NEAR(std::strtod(now[12].c_str(), nullptr),
                centripetalPoint({0, 1, 0.2}, {0, 4, 12}, frame), 1e-12)
        << "angle B, frame " << frame;
    // Two keys with one value: it holds between them, as written.
    if (frame <= 4) {
      EXPECT_EQ(now[10], "0.5") << "frame " << frame;
      EXPECT_EQ(now[11], "123456789012345.6789") << "frame " << frame;
    } else {
      EXPECT_NEAR(std::strtod(now[10].c_str(), nullptr),
                  centripetalPoint({0.5, 0.5, 0.9}, {0, 4, 12}, frame), 1e-12)
          << "w, frame " << frame;
    }
  }
  // A curve, not straight lines from key to key.
  EXPECT_GT(std::strtod(words(lines[2])[12].c_str(), nullptr), 0.55);
  EXPECT_GT(std::strtod(words(lines[8])[12].c_str(), nullptr), 0.65);
}

// Values close to the largest double curve without overflowing on the
// way: the ends reflected through them are beyond it.
TEST(KeyframeCurve, ValuesNearTheLargestDoubleStayFinite) {
  EXPECT_EQ(keyframeCurve({-1e308, 1e308}, 0, 0.5), 0.0);
  const double quarter = keyframeCurve({-1e308, 1e308}, 0, 0.25);
  EXPECT_NEAR(quarter / 1e308, -0.5, 1e-15);
  EXPECT_TRUE(std::isfinite(keyframeCurve({1e308, 1.7e308, -1.7e308}, 1, 0.5)));
}

TEST_F(Keyframes, TheLastKeySetsTheFrameCountUnlessFramesIsGiven) {
  const std::string file = keys("keys.txt", "[frame 3]\n[frame 9]\nw = 1\n");
  EXPECT_EQ(printedLines({"--keyframes", file}).size(), 10u);
  EXPECT_EQ(printedLines({"--frames", "4", "--keyframes", file}).size(), 4u);
  EXPECT_EQ(printedLines({"--keyframes", file, "--frames", "12"}).size(), 12u);
  EXPECT_EQ(
      printedLines({"--keyframes", keys("one.txt", "[frame 0]\n")}).size(), 1u);
}

// A key may sit on any frame there can be, up to 999999: six digits,
// each one counted; seven are refused.
TEST_F(Keyframes, KeysRunToTheLastFrame) {
  for (const int last : {100000, 999999}) {
    SCOPED_TRACE(last);
    const std::string text =
        "[frame 0]\nw = 0\n[frame " + std::to_string(last) + "]\nw = 1\n";
    std::vector<KeySection> sections;
    std::string error;
    ASSERT_TRUE(keyframeSections(text, "far.txt", &sections, &error)) << error;
    ASSERT_EQ(sections.size(), 2u);
    EXPECT_EQ(sections[1].frame, last);
    // The first frames on the way there: w moves a step of 1 / last.
    const std::vector<std::string> lines =
        printedLines({"--keyframes", keys("far.txt", text), "--frames", "2"});
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(words(lines[0])[10], "0");
    EXPECT_NEAR(std::strtod(words(lines[1])[10].c_str(), nullptr), 1.0 / last, 1e-15);
  }
  const ProgramResult beyond = runProgram(
      kRender, {"--keyframes", keys("beyond.txt", "[frame 0]\n[frame 1000000]\n"), "--frames",
                "2", "--print-args"});
  EXPECT_EQ(beyond.exitStatus, 2);
  EXPECT_NE(beyond.err.find("beyond.txt, line 2: '[frame 1000000]' is not [frame N], N a whole "
                            "number from 0 to 999999"),
            std::string::npos)
      << beyond.err;
  EXPECT_EQ(beyond.out, "");
}

TEST_F(Keyframes, MalformedFilesAreRefusedBeforeAnythingIsWritten) {
  // Each refused with 2, its message naming the file and line.
  const struct {
    std::string text;
    std::vector<std::string> options;
    std::string message;
  } cases[] = {
      {"[frame 3]\n[frame 2]\n", {}, "keys.txt, line 2: [frame 2] after [frame 3]"},
      {"[frame 3]\nw = 1\n[frame 3]\n", {}, "line 3: [frame 3] after [frame 3]"},
      {"[frame x]\n", {}, "keys.txt, line 1: '[frame x]' is not [frame N]"},
      {"# a view\n\nsize = 9x9\n[frame 0]\n", {},
       "keys.txt, line 3: 'size = 9x9' comes before the first [frame N]"},
      {"[frame 0]\n\nzoom = 2\n", {}, "keys.txt, line 3: 'zoom = 2' is not 'name = value'"},
      {"[frame 0]\nw = 1\n[frame 2]\nw = 2\n# again\nw = 3\n", {},
       "keys.txt, lines 4 and 6: 'w' is given twice"},
      {"[frame 0]\n[frame 2]\nbox = 1,2\n", {"--frames", "1"},
       "keys.txt, line 3, [frame 2]: --box '1,2': give 6 numbers"},
      // A bad value at its own line, not its key's heading.
      {"[frame 0]\nw = 0\n\n# c\n[frame 4]\nc = 1,2,3\nw = 0.5\n", {"--frames", "1"},
       "keys.txt, line 6, [frame 4]: --c '1,2,3'"},
      {"[frame 0]\n[frame 2]\nw = 0.5\n# a size\nsize = 0x3\n",
       {"-o", dir_.file("f%d.png")}, "keys.txt, line 5, [frame 2]: --size 0x3"},
      // Refused with an earlier key's value: at the line that goes too far.
      {"[frame 0]\nsupersample = 2\n[frame 1]\nw = 0\nsize = 1x8388609\n",
       {"-o", dir_.file("f%d.png")}, "keys.txt, line 5, [frame 1]: --supersample 2"},
      {"[frame 0]\nw = 1\n[frame 2]\nocclusion = banana\n", {},
       "keys.txt, line 4: occlusion 'banana': use true or false"},
      {"[frame 0]\nocclusion =\n", {"--print-args"},
       "keys.txt, line 2: occlusion '': use true or false"},
      {"# nothing yet\n", {}, "keys.txt: no [frame N] section"},
      {"[frame 0]\n", {"--animate", "c0=0:1"}, "--keyframes and --animate"},
      {"[frame 0]\n", {"--keyframes=" + dir_.file("keys.txt")}, "--keyframes is given twice"},
      {"[frame 0]\n[frame 4]\n", {}, "several frames need one frame number"},
  };
  writeFile(dir_.file("kept.png"), "an older picture");
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<std::string> options = {
        "-o", dir_.file("kept.png"), "--keyframes", keys("keys.txt", c.text)};
    options.insert(options.end(), c.options.begin(), c.options.end());
    const ProgramResult run = runProgram(kRender, options);
    EXPECT_EQ(run.exitStatus, 2) << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(readFile(dir_.file("kept.png")), "an older picture");
  }
  const ProgramResult missing = runProgram(
      kRender,
      {"-o", dir_.file("kept.png"), "--keyframes", dir_.file("nowhere.txt")});
  EXPECT_EQ(missing.exitStatus, 3);
  EXPECT_NE(missing.err.find("nowhere.txt: No such file or directory"),
            std::string::npos)
      << missing.err;
  EXPECT_EQ(runProgram("/bin/ls", {"-A", dir_.path()}).out,
            "kept.png\nkeys.txt\n");
}

}  // namespace
}  // namespace quatdepth::testing
