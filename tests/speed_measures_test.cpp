// The programs behind bench/compare-scalar's efficiency figures: the needed
// lane passes of a render and the bare pass's rate on each vector width.
// No speed is asserted; only what they print and refuse.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "julia/needed_passes.h"
#include "julia/search_path.h"
#include "run_program.h"
#include "search_path_printing.h"
#include "settings/positional_settings.h"
#include "settings/render_settings.h"

namespace quatdepth::testing {
namespace {

const std::string kNeededPasses = QUATDEPTH_NEEDED_PASSES_PROGRAM;
const std::string kPassCeiling = QUATDEPTH_PASS_CEILING_PROGRAM;
const std::string kCompareScalar = QUATDEPTH_COMPARE_SCALAR_SCRIPT;

// A 3 x 2 view at x from 9 to 11, where every point escapes on its first
// pass: each pixel costs its coarseSteps + 1 coarse probes, one pass each,
// and every probe starts beyond the escape bound.
std::vector<std::string> farView(const std::string &firstRow, const std::string &rowStep) {
  return {"9", "-1", "-1", "11", "1", "1", "-0.1", "0.2", "0.3", "-0.1", "0", "0", "0", "0",
          "3", "2", "5", "10", "20", "16", firstRow, rowStep};
}

TEST(NeededPassesProgram, CountsEveryCoarseProbeOfAViewThatMissesTheSet) {
  ProgramResult run = runProgram(kNeededPasses, farView("0", "1"));
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.out, "36 0\n");  // 3 x 2 pixels x 6 probes, none short of the bound
  // Only the rows this run would render.
  run = runProgram(kNeededPasses, farView("1", "2"));
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.out, "18 0\n");
}

TEST(NeededPassesProgram, AddsTheRowsOfARotatedView) {
  const std::vector<std::string> arguments = {
      "-1.2", "-1.2", "-1.2", "1.2", "1.2", "1.2", "-0.1", "0.2", "0.3", "-0.1", "0",
      "0.3",  "0.5",  "0.7",  "9",   "6",   "40",  "10",   "30",  "16",  "1",    "2"};
  ProgramResult run = runProgram(kNeededPasses, arguments);
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  std::vector<const char *> argv = {"quatdepth"};
  for (const std::string &a : arguments) argv.push_back(a.c_str());
  RenderSettings s;
  initSettings(&s, argv.data(), static_cast<int>(argv.size()));
  int64_t passes = 0, toRun = 0;
  for (int32_t row = 1; row < s.height; row += 2)
    ASSERT_TRUE(addNeededRowPasses(&s, row, &passes, &toRun));
  EXPECT_GT(passes, 3 * 9 * 5);  // more than one pass a coarse probe: something is inside
  // The box's corners lie beyond the escape bound, its middle does not.
  EXPECT_GT(toRun, 0);
  EXPECT_LT(toRun, passes);
  EXPECT_EQ(run.out, std::to_string(passes) + " " + std::to_string(toRun) + "\n");
}

TEST(NeededPassesProgram, RefusesWhatQuatdepthRefuses) {
  std::vector<std::string> arguments = farView("0", "1");
  arguments[17] = "0";  // fineSteps
  ProgramResult run = runProgram(kNeededPasses, arguments);
  EXPECT_EQ(run.exitStatus, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("fineSteps"), std::string::npos) << run.err;
}

struct Width {
  const char *name;
  SearchPath path;
};
const Width kWidths[] = {{"zmm", SearchPath::kAvx512},
                         {"ymm", SearchPath::kAvx2},
                         {"xmm", SearchPath::kSse2},
                         {"neon", SearchPath::kNeon}};
void PrintTo(const Width &width, std::ostream *out) { *out << width.name; }

// Times short enough for a test: the figures are not what is checked.
const std::vector<std::string> kShort = {"--seconds", "0.002"};

TEST(PassCeilingProgram, MeasuresEveryWidthTheSearchCanRunAndSkipsTheRest) {
  ProgramResult run = runProgram(kPassCeiling, kShort);
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = run.out.find('\n', at)) != std::string::npos; at = end + 1)
    lines.push_back(run.out.substr(at, end - at));
  ASSERT_EQ(lines.size(), std::size(kWidths)) << run.out;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::vector<std::string> w = words(lines[i]);
    ASSERT_GE(w.size(), 2u) << lines[i];
    EXPECT_EQ(w[0], kWidths[i].name) << lines[i];
    if (!isSearchPathSupported(kWidths[i].path)) {
      EXPECT_EQ(w[1], "skipped:") << lines[i];
      continue;
    }
    ASSERT_EQ(w.size(), 6u) << lines[i];
    EXPECT_GT(std::stod(w[1]), 0) << lines[i];
    EXPECT_EQ(w[2] + " " + w[3], "M lane-passes/s") << lines[i];
    const int chains = std::stoi(w[4].substr(1));
    EXPECT_TRUE(chains >= 1 && chains <= 6) << lines[i];
  }
}

class PassCeilingPath : public ::testing::TestWithParam<Width> {};

TEST_P(PassCeilingPath, PrintsTheRateOfItsVectorOrRefusesIt) {
  const Width width = GetParam();
  std::vector<std::string> arguments = {"--path", searchPathName(width.path)};
  arguments.insert(arguments.end(), kShort.begin(), kShort.end());
  ProgramResult run = runProgram(kPassCeiling, arguments);
  if (!isSearchPathSupported(width.path)) {
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_EQ(run.out, "");
    GTEST_SKIP() << "this CPU cannot run " << searchPathName(width.path)
                 << " (refused, as it should be)";
  }
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  size_t digits = run.out.find_first_not_of("0123456789");
  ASSERT_EQ(run.out.substr(digits), "\n") << run.out;
  EXPECT_GT(std::stod(run.out), 0);
}

INSTANTIATE_TEST_SUITE_P(Widths, PassCeilingPath, ::testing::ValuesIn(kWidths),
                         [](const ::testing::TestParamInfo<Width> &test) { return std::string(test.param.name); });

TEST(PassCeilingProgram, RefusesPathsWithoutAVectorOfTheirOwn) {
  for (const char *path : {"scalar", "portable4", "portable8", "zmm", ""}) {
    ProgramResult run = runProgram(kPassCeiling, {"--path", path, "--seconds", "0.002"});
    EXPECT_EQ(run.exitStatus, 2) << path;
    EXPECT_EQ(run.out, "") << path;
  }
  for (const char *seconds : {"0", "-1", "abc", "61"}) {
    ProgramResult run = runProgram(kPassCeiling, {"--seconds", seconds});
    EXPECT_EQ(run.exitStatus, 2) << seconds;
    EXPECT_NE(run.err.find("--seconds"), std::string::npos) << run.err;
  }
}

// Its help is the whole comment at its top, synopsis included, and what it
// cannot take is refused before anything is built or timed.
TEST(CompareScalarScript, HelpsAndRefusesBeforeBuildingAnything) {
  ProgramResult run = runProgram(kCompareScalar, {"-h"});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_NE(run.out.find("bench/compare-scalar [-r RUNS] [-p PATH]..."), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("refused by quatdepth."), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("set -euo"), std::string::npos) << "help ran into the script";
  for (const std::vector<std::string> &arguments :
       {std::vector<std::string>{"-r", "0"}, {"-r", "x"}, {"-r", "10000"}, {"extra"}, {"-q"}}) {
    run = runProgram(kCompareScalar, arguments);
    EXPECT_EQ(run.exitStatus, 2) << arguments[0];
    EXPECT_TRUE(run.out.empty()) << arguments[0] << ": " << run.out;
    EXPECT_FALSE(run.err.empty()) << arguments[0];
  }
}

}  // namespace
}  // namespace quatdepth::testing
