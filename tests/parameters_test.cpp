// The parameter table: every parameter reads back what it writes, sets the
// values its option names, and is refused with its option's name, and a
// refusal from a file names the file and the line.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "request/parameter_text.h"
#include "request/parameters.h"
#include "request/render_request.h"
#include "run_program.h"

namespace quatdepth::testing {
namespace {

const std::string kRender = QUATDEPTH_RENDER_PROGRAM;

// A plain decimal, from a few digits to many, either sign.
std::string randomDecimal(std::mt19937 &random) {
  std::uniform_int_distribution<int> digits(0, 999999), places(0, 6), sign(0, 1);
  const std::string number = std::to_string(digits(random));
  const auto point = static_cast<size_t>(places(random));
  std::string text = sign(random) ? "-" : "";
  if (point == 0 || point >= number.size()) return text.append(number);
  const size_t whole = number.size() - point;
  return text.append(number, 0, whole).append(".").append(number, whole, point);
}

// A parameter's text, as a user might give it.
std::string randomText(const Parameter &parameter, std::mt19937 &random) {
  std::uniform_int_distribution<int> whole(1, 5000);
  switch (parameter.kind) {
    case ParameterKind::kReals: {
      std::string text;
      for (int i = 0; i < parameter.valueCount; ++i) {
        if (i > 0) text += ',';
        text += randomDecimal(random);
      }
      return text;
    }
    case ParameterKind::kSize:
      return std::to_string(whole(random)) + "x" + std::to_string(whole(random));
    case ParameterKind::kWhole:
      return std::to_string(whole(random));
    case ParameterKind::kChoice:
      return parameter.choices[std::uniform_int_distribution<size_t>(
          0, parameter.choices.size() - 1)(random)];
    case ParameterKind::kCount:
      return std::to_string(std::uniform_int_distribution<int>(1, parameter.countMost)(random));
    case ParameterKind::kSwitch:
      return random() % 2 ? "true" : "false";
  }
  return "";
}

TEST(Parameters, EveryParameterReadsBackWhatItWrites) {
  std::mt19937 random(6502);
  for (int trial = 0; trial < 200; ++trial) {
    Frame frame = defaultFrame();
    std::vector<std::string> given;
    for (const Parameter &parameter : kParameters) {
      given.push_back(randomText(parameter, random));
      std::string error;
      ASSERT_TRUE(readParameter(parameter, given.back(), &frame, &error)) << error;
    }
    // As a picture carries them, read back into a fresh frame.
    std::vector<ParameterLine> lines;
    std::string error;
    ASSERT_TRUE(parameterLines(parameterText(frame), "picture", &lines, &error)) << error;
    ASSERT_EQ(lines.size(), std::size(kParameters));
    Frame again = defaultFrame();
    for (size_t i = 0; i < lines.size(); ++i) {
      const Parameter &parameter = kParameters[i];
      EXPECT_EQ(lines[i].name, parameter.key);
      EXPECT_EQ(lines[i].value, given[i]) << parameter.key;
      ASSERT_TRUE(readParameter(*parameterOf(lines[i].name), lines[i].value, &again, &error))
          << error;
    }
    for (const Parameter &parameter : kParameters)
      EXPECT_EQ(parameterValue(parameter, again), parameterValue(parameter, frame)) << parameter.key;
    EXPECT_EQ(again.texts, frame.texts);
  }
}

TEST(Parameters, EachOptionSetsTheValuesItNames) {
  Frame frame = defaultFrame();
  std::string error;
  const std::pair<const char *, const char *> options[] = {
      {"box", "-1.5,-1.25,-1,1,1.25,1.5"},
      {"c", "0.1,0.2,0.3,0.4"},
      {"w", "0.5"},
      {"angles", "0.25,0.75,-0.5"},
      {"size", "640x360"},
      {"coarse", "70"},
      {"fine", "9"},
      {"iterations", "12"},
      {"bailout", "20"},
      {"search", "nearest"},
      {"look", "relief"},
      {"colormap", "turbo"},
      {"supersample", "3"},
      {"occlusion", "true"}};
  for (const auto &[key, text] : options)
    ASSERT_TRUE(readParameter(*parameterOf(key), text, &frame, &error)) << error;
  const RenderSettings &s = frame.settings;
  EXPECT_EQ(s.xMin, -1.5);
  EXPECT_EQ(s.yMin, -1.25);
  EXPECT_EQ(s.zMin, -1.0);
  EXPECT_EQ(s.xMax, 1.0);
  EXPECT_EQ(s.yMax, 1.25);
  EXPECT_EQ(s.zMax, 1.5);
  EXPECT_EQ(s.juliaC[0], parseReal("0.1"));
  EXPECT_EQ(s.juliaC[3], parseReal("0.4"));
  EXPECT_EQ(s.wSlice, 0.5);
  EXPECT_EQ(frame.angles.a, 0.25);
  EXPECT_EQ(frame.angles.b, 0.75);
  EXPECT_EQ(frame.angles.c, -0.5);
  EXPECT_EQ(s.width, 640);
  EXPECT_EQ(s.height, 360);
  EXPECT_EQ(s.coarseSteps, 70);
  EXPECT_EQ(s.fineSteps, 9);
  EXPECT_EQ(s.maxIterations, 12);
  EXPECT_EQ(s.bailout, 20);
  EXPECT_EQ(frame.search, DepthSearch::kNearest);
  EXPECT_EQ(frame.look, Look::kRelief);
  EXPECT_EQ(frame.colormap, Colormap::kTurbo);
  EXPECT_EQ(frame.supersample, 3);
  EXPECT_TRUE(frame.occlusion);
  // The row selection is quatdepth's own, no option's.
  EXPECT_EQ(s.firstRow, 0);
  EXPECT_EQ(s.rowStep, 1);
}

TEST(Parameters, RefusalsNameTheOptionAndWhatItTakes) {
  const struct {
    const char *key, *text, *message;
  } cases[] = {
      {"c", "1,2,3", "--c '1,2,3': give 4 numbers separated by commas"},
      {"w", "1,2", "--w '1,2': give 1 number, as ordinary decimals"},
      {"box", "1e400,0,0,1,1,1", "a number beyond the range of a double"},
      {"size", "640", "--size '640': give WIDTHxHEIGHT"},
      {"coarse", "ten", "--coarse 'ten': give a whole number"},
      {"search", "fast", "--search 'fast': use steps or nearest"},
      {"look", "shiny", "--look 'shiny': use lit, relief or depth"},
      {"colormap", "", "--colormap '': use grey, viridis, magma or turbo"},
      {"supersample", "99999999999", "--supersample 99999999999: give 1 to 16 samples a side"},
      {"occlusion", "yes", "--occlusion 'yes': use true or false"},
  };
  for (const auto &c : cases) {
    Frame frame = defaultFrame();
    std::string error;
    EXPECT_FALSE(readParameter(*parameterOf(c.key), c.text, &frame, &error)) << c.key;
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
  }
  EXPECT_EQ(parameterOf("zoom"), nullptr);
  std::vector<ParameterLine> lines;
  std::string error;
  EXPECT_FALSE(parameterLines("look = lit\nzoom = 2\n", "view.txt", &lines, &error));
  EXPECT_EQ(error,
            "view.txt, line 2: 'zoom = 2' is not 'name = value' with one of box, c, w, angles, "
            "size, coarse, fine, iterations, bailout, search, look, colormap, supersample, "
            "occlusion");
}

TEST(Parameters, TheHelpGivesEveryOptionWithItsDefault) {
  const ProgramResult help = runProgram(kRender, {"--help"});
  ASSERT_EQ(help.exitStatus, 0);
  const Frame defaults = defaultFrame();
  for (const Parameter &parameter : kParameters) {
    EXPECT_NE(help.out.find(std::string("--") + parameter.key + " "), std::string::npos)
        << parameter.key;
    if (std::string(parameter.help).find("{}") != std::string::npos) {
      EXPECT_NE(help.out.find("(default " + parameterValue(parameter, defaults)),
                std::string::npos)
          << parameter.key;
    }
  }
  EXPECT_NE(help.out.find("(default -1.2,-1.2,-1.2,1.2,1.2,1.2)"), std::string::npos);
  EXPECT_NE(help.out.find("(default 300x300)"), std::string::npos);
}

TEST(Parameters, ARefusalFromAFileNamesItsFileAndLine) {
  TemporaryDirectory folder;
  writeFile(folder.file("view.txt"), "# a view\nsize = 40x30\n\nc = 1,2\n");
  writeFile(folder.file("steps.txt"), "size = 40x30\n# too few\ncoarse = 0\n");
  writeFile(folder.file("fine.txt"), "size = 16x12\nfine = 200000\n");
  writeFile(folder.file("keys.txt"),
            "[frame 0]\nsize = 8x8\n[frame 2]\nlook = depth\nsearch = nearest\n[frame 3]\n");
  writeFile(folder.file("nearest.txt"), "size = 8x8\nsearch = nearest\n");
  const struct {
    std::vector<std::string> options;
    std::string message;
  } cases[] = {
      {{"--params", folder.file("view.txt"), "-o", folder.file("v.png")},
       folder.file("view.txt") + ", line 4: --c '1,2': give 4 numbers"},
      {{"--params", folder.file("steps.txt"), "-o", folder.file("v.png")},
       folder.file("steps.txt") + ", line 3: --coarse: coarseSteps is 0"},
      // Of two options a limit names, the one the file set.
      {{"--params", folder.file("fine.txt"), "-o", folder.file("v.png")},
       folder.file("fine.txt") + ", line 2: --coarse, --fine: coarseSteps x fineSteps is"},
      {{"--params", folder.file("fine.txt"), "--coarse", "2000000000", "--fine", "2", "-o", folder.file("v.png")},
       "quatdepth-render: --coarse, --fine: coarseSteps x fineSteps + fineSteps is"},
      // The line that asked for the search, in the key that asked.
      {{"--keyframes", folder.file("keys.txt"), "--print-args"},
       folder.file("keys.txt") + ", line 5, [frame 2]: --search nearest: quatdepth searches by "
                                 "steps only"},
      {{"--params", folder.file("nearest.txt"), "--print-args"},
       folder.file("nearest.txt") + ", line 2: --search nearest"},
      // The command line's own options name no file, even after one.
      {{"--params", folder.file("nearest.txt"), "--c", "1", "-o", folder.file("v.png")},
       "quatdepth-render: --c '1': give 4 numbers"},
  };
  for (const auto &c : cases) {
    const ProgramResult run = runProgram(kRender, c.options);
    EXPECT_EQ(run.exitStatus, 2) << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
  }
  // A later option overrides the file's line, and nothing is refused.
  const ProgramResult overridden = runProgram(
      kRender, {"--params", folder.file("view.txt"), "--c", "0,0,0,0", "--print-args"});
  EXPECT_EQ(overridden.exitStatus, 0) << overridden.err;
}

}  // namespace
}  // namespace quatdepth::testing
