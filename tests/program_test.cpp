// End-to-end runs of the built quatdepth program.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "julia/row_depths.h"
#include "julia/search_path.h"
#include "search_path_printing.h"
#include "output/depth_row.h"
#include "record_decoding.h"
#include "run_program.h"
#include "test_settings.h"

namespace quatdepth::testing {
namespace {

const std::string kProgram = QUATDEPTH_PROGRAM;

std::vector<std::string> smallRun(const std::string &a, const std::string &b,
                                  const std::string &c) {
  return {"-1.2", "-1.2", "-1.2", "1.2", "1.2", "1.2", "-0.1", "0.2",
          "0.3",  "-0.1", "0",    a,     b,     c,     "8",   "4",
          "100",  "10",   "10",   "16",  "0",   "1"};
}

using Records = std::vector<std::vector<int32_t>>;

TEST(Program, SmallUnrotatedRunIsByteExact) {
  ProgramResult run = runProgram(kProgram, smallRun("0", "0", "0"));
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  ASSERT_EQ(run.out.size(), 144u);
  EXPECT_EQ(decodeRecords(run.out, 8),
            (Records{{0, -1, -1, -1, -1, -1, -1, -1, -1},
                     {1, -1, -1, 489, 296, 151, 237, 267, 379},
                     {2, -1, 532, 264, 146, 70, 129, 155, 225},
                     {3, -1, 518, 338, 214, 151, 208, 343, -1}}));
  EXPECT_EQ(hexBytes(run.out.substr(36, 36)),
            "01 01 01 03 FF FF FF FF FF FF FF FF 01 01 0F 53 01 01 09 51 "
            "01 01 05 2F 01 01 07 5B 01 01 09 17 01 01 0B 77");
}

TEST(Program, SmallRotatedRunIsByteExact) {
  ProgramResult run = runProgram(kProgram, smallRun("0.3", "0.5", "0.7"));
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  ASSERT_EQ(run.out.size(), 144u);
  EXPECT_EQ(decodeRecords(run.out, 8),
            (Records{{0, -1, -1, -1, -1, -1, -1, -1, -1},
                     {1, -1, -1, 350, 227, 180, 228, 291, 394},
                     {2, -1, 394, 272, 181, 181, 130, 157, 334},
                     {3, -1, 389, 319, 255, 196, 243, 291, -1}}));
  EXPECT_EQ(hexBytes(run.out.substr(36, 36)),
            "01 01 01 03 FF FF FF FF FF FF FF FF 01 01 0B 3D 01 01 07 47 "
            "01 01 05 69 01 01 07 49 01 01 09 47 01 01 0D 15");
}

// The scalar reference rendering of every row, encoded as the program
// should write it.
std::string referenceStream(const RenderSettings &s) {
  std::string stream;
  std::vector<int32_t> values(static_cast<size_t>(s.width) + 1);
  std::vector<uint8_t> bytes(depthRowBytes(values.size() - 1) + 1);
  for (int64_t row = s.firstRow; row < s.height; row += s.rowStep) {
    values[0] = static_cast<int32_t>(row);
    findRowDepthsScalar(&s, values[0], values.data() + 1);
    encodeRow(values.data(), bytes.data(), values.size());
    stream.append(reinterpret_cast<const char *>(bytes.data()),
                  bytes.size() - 1);
  }
  return stream;
}

TEST(Program, NoArgumentsRendersTheDefaultImage) {
  ProgramResult run = runProgram(kProgram, {});
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  ASSERT_EQ(run.out.size(), 361200u);
  Records records = decodeRecords(run.out, 300);
  for (int32_t row = 0; row < 300; ++row)
    ASSERT_EQ(records[static_cast<size_t>(row)][0], row);
  EXPECT_TRUE(run.out == referenceStream(defaultSettings()));
  EXPECT_EQ(run.err, "");
}

TEST(Program, RowSelectionAndArgumentCounts) {
  std::vector<std::string> args = smallRun("0", "0", "0");
  args[20] = "1";  // firstRow
  args[21] = "2";  // rowStep
  ProgramResult everyOther = runProgram(kProgram, args);
  ASSERT_EQ(everyOther.exitStatus, 0);
  Records records = decodeRecords(everyOther.out, 8);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0][0], 1);
  EXPECT_EQ(records[1][0], 3);
  EXPECT_EQ(records[1][2], 518);

  // 20 arguments: firstRow 0 and rowStep 1; extra arguments are ignored.
  std::vector<std::string> twenty(args.begin(), args.begin() + 20);
  ProgramResult full = runProgram(kProgram, smallRun("0", "0", "0"));
  EXPECT_EQ(runProgram(kProgram, twenty).out, full.out);
  twenty.push_back("0");
  EXPECT_EQ(runProgram(kProgram, twenty).out, full.out);
  std::vector<std::string> more = smallRun("0", "0", "0");
  more.insert(more.end(), {"7", "x", ""});
  EXPECT_EQ(runProgram(kProgram, more).out, full.out);

  // A step larger than the image renders the first row only.
  args[20] = "0";
  args[21] = "2147483647";
  EXPECT_EQ(runProgram(kProgram, args).out, full.out.substr(0, 36));
}

TEST(Program, EmptySelectionsAndZeroWidth) {
  std::vector<std::string> args = smallRun("0", "0", "0");
  args[20] = "4";  // firstRow == height
  ProgramResult none = runProgram(kProgram, args);
  EXPECT_EQ(none.exitStatus, 0);
  EXPECT_EQ(none.out, "");

  args[20] = "0";
  args[14] = "0";  // width
  ProgramResult narrow = runProgram(kProgram, args);
  EXPECT_EQ(narrow.exitStatus, 0);
  EXPECT_EQ(hexBytes(narrow.out),
            "01 01 01 01 01 01 01 03 01 01 01 05 01 01 01 07");
}

TEST(Program, RefusedParametersExitTwoWithOneLineOnStandardOutput) {
  struct Case {
    size_t index;
    std::string text, expected;
  } cases[] = {{16, "0", "coarseSteps is 0"},
               {21, "-1", "rowStep is -1"},
               {11, "1e99999999999999999", "angle A"}};
  for (const Case &c : cases) {
    std::vector<std::string> args = smallRun("0", "0", "0");
    args[c.index] = c.text;
    ProgramResult run = runProgram(kProgram, args);
    EXPECT_EQ(run.exitStatus, 2) << c.expected;
    EXPECT_EQ(run.out.rfind("quatdepth: " + c.expected, 0), 0u) << run.out;
    EXPECT_EQ(run.out.find('\n'), run.out.size() - 1) << run.out;
  }
}

TEST(Program, FailedWriteExitsFourWithAMessage) {
  // A large output and one that fits any stream buffer: both must notice.
  const std::vector<std::string> outputs[] = {{}, smallRun("0", "0", "0")};
  for (const auto &args : outputs) {
    RunOptions toFullDevice;
    toFullDevice.stdoutPath = "/dev/full";
    ProgramResult run = runProgram(kProgram, args, toFullDevice);
    EXPECT_EQ(run.exitStatus, 4) << args.size() << " arguments";
    EXPECT_NE(run.err.find("cannot write to standard output"), std::string::npos)
        << run.err;
  }
}

// The speed ratios are only honest while the baseline computes the same
// depths: defaults, a rotated view, fineSteps 1, a late-escaping constant.
TEST(PlainScalarBaseline, WritesTheRenderersBytes) {
  std::vector<std::string> rotated = smallRun("0.3", "-1.1", "2.5");
  rotated[14] = "37", rotated[15] = "23";
  std::vector<std::string> fineOne = smallRun("0.3", "0.5", "0.7");
  fineOne[16] = "300", fineOne[17] = "1";
  std::vector<std::string> lateEscape = smallRun("0.3", "0.5", "0.7");
  lateEscape[6] = "-0.291", lateEscape[7] = "-0.399", lateEscape[8] = "0.339";
  lateEscape[9] = "0.437", lateEscape[18] = "60";
  for (const auto &args : {std::vector<std::string>{}, rotated, fineOne, lateEscape}) {
    const ProgramResult renderer = runProgram(kProgram, args);
    const ProgramResult baseline = runProgram(QUATDEPTH_PLAIN_SCALAR, args);
    ASSERT_EQ(renderer.exitStatus, 0);
    EXPECT_EQ(baseline.exitStatus, 0);
    EXPECT_TRUE(baseline.out == renderer.out) << "with " << args.size() << " arguments";
  }
}

TEST(Program, AKilledRunLeavesOnlyWholeRecords) {
  // Records of 4004 bytes, which a 4 KiB stream buffer would cut, and more
  // rows than any of these delays can render. Into a pipe, which takes a
  // write of up to 4 KiB whole or not at all: a file may keep part of a
  // write the kill interrupts, which the merge drops as a last record cut
  // short.
  std::vector<std::string> args = smallRun("0.3", "0.5", "0.7");
  args[14] = "1000";     // width
  args[15] = "1000000";  // height
#if defined(QUATDEPTH_TESTS_UNDER_EMULATOR)
  const unsigned slower = 20;  // qemu takes that long to start writing
#else
  const unsigned slower = 1;
#endif
  // A loaded machine (or a sanitizer's start) may write nothing by the
  // first kills; the last one must have something to check.
  size_t lastWritten = 0;
  for (unsigned delayMs : {60u, 150u, 270u, 800u}) {
    delayMs *= slower;
    RunOptions killed;
    killed.stdoutPipe = true;
    killed.killAfterMs = delayMs;
    ProgramResult run = runProgram(kProgram, args, killed);
    ASSERT_EQ(run.signal, SIGKILL) << "the run ended before the kill";
    EXPECT_EQ(run.out.size() % 4004, 0u) << "killed after " << delayMs << " ms";
    lastWritten = run.out.size();
  }
  EXPECT_GT(lastWritten, 0u) << "nothing written before the last kill";
}

TEST(Program, DepthLevelsUpToTwoToTheTwentyFourthMinusOne) {
  std::vector<std::string> args = smallRun("0", "0", "0");
  args[16] = "4097";  // 4097 x 4095 = 2^24 - 1 levels
  args[17] = "4095";
  ProgramResult deepest = runProgram(kProgram, args);
  EXPECT_EQ(deepest.exitStatus, 0) << deepest.out.substr(0, 100);
  EXPECT_EQ(deepest.out.size(), 144u);

  args[16] = "4096";  // 2^24 levels: the deepest would read back as 0
  args[17] = "4096";
  ProgramResult tooDeep = runProgram(kProgram, args);
  EXPECT_EQ(tooDeep.exitStatus, 2);
  EXPECT_EQ(tooDeep.out.rfind("quatdepth: coarseSteps x fineSteps is 16777216", 0), 0u)
      << tooDeep.out;
}

// Runs of the program on one vector path, each compared with the scalar
// path's bytes. A path this CPU cannot run is checked to be refused, then
// reported as skipped.
class ProgramOnPath : public ::testing::TestWithParam<SearchPath> {
 protected:
  void SetUp() override {
    if (isSearchPathSupported(GetParam())) return;
    ProgramResult refused = runProgram(kProgram, smallRun("0", "0", "0"), on(GetParam()));
    EXPECT_EQ(refused.exitStatus, 2);
    GTEST_SKIP() << "this CPU cannot run " << searchPathName(GetParam())
                 << "; checked only that it is refused";
  }

  static RunOptions on(SearchPath path) {
    RunOptions options;
    options.environment = {{"QUATDEPTH_SEARCH_PATH", searchPathName(path)}};
    return options;
  }

  // Runs `args` on the scalar path and, with `options`, on this test's
  // path; expects both to succeed with the same bytes.
  void expectSameBytesAsScalar(const std::vector<std::string> &args,
                               RunOptions options = {}) {
    ProgramResult reference = runProgram(kProgram, args, on(SearchPath::kScalar));
    ASSERT_EQ(reference.exitStatus, 0) << reference.out.substr(0, 100);
    ASSERT_FALSE(reference.out.empty());
    options.environment = on(GetParam()).environment;
    ProgramResult run = runProgram(kProgram, args, options);
    EXPECT_EQ(run.exitStatus, 0) << run.out.substr(0, 100);
    EXPECT_TRUE(run.out == reference.out);
  }
};

TEST_P(ProgramOnPath, WritesTheSameBytesAsScalar) {
  std::vector<std::string> args = smallRun("0.3", "-1.1", "2.5");
  args[14] = "37";  // width
  args[15] = "23";  // height
  expectSameBytesAsScalar(args);
  args[18] = "300";  // a cap where pixels go in flight together
  expectSameBytesAsScalar(args);
}

TEST_P(ProgramOnPath, MoreLevelsThanTheTablesHold) {
  std::vector<std::string> args = smallRun("0.3", "0.5", "0.7");
  args[14] = "5";     // width
  args[15] = "3";     // height
  args[16] = "4097";  // 2^24 - 1 levels, far over the tables' 2^20
  args[17] = "4095";
  expectSameBytesAsScalar(args);
}

TEST_P(ProgramOnPath, RunsWithoutTablesThatDoNotFit) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "address space caps do not mix with the address sanitizer";
#endif
  // 2^20 levels, one per coarse step: the largest tables, 64 MiB, which
  // the cap leaves no room for; the row buffers are a few bytes.
  std::vector<std::string> args = smallRun("0.3", "0.5", "0.7");
  args[14] = "3";        // width
  args[15] = "2";        // height
  args[16] = "1048576";  // coarseSteps
  args[17] = "1";        // fineSteps
  args[18] = "2";        // maxIterations
  RunOptions capped;
  capped.addressSpaceMiB = 32;
  expectSameBytesAsScalar(args, capped);
}

INSTANTIATE_TEST_SUITE_P(VectorPaths, ProgramOnPath,
                         ::testing::ValuesIn(kVectorSearchPaths),
                         [](const auto &path) { return searchPathName(path.param); });

TEST(Program, AnUnknownSearchPathIsRefused) {
  RunOptions unknown;
  unknown.environment = {{"QUATDEPTH_SEARCH_PATH", "avx1024"}};
  ProgramResult refused = runProgram(kProgram, smallRun("0", "0", "0"), unknown);
  EXPECT_EQ(refused.exitStatus, 2);
  EXPECT_NE(refused.out.find("QUATDEPTH_SEARCH_PATH"), std::string::npos);
}

TEST(Program, AllocationFailureKeepsItsMessageAndStatus) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "address space caps do not mix with the address sanitizer";
#endif
#if defined(QUATDEPTH_TESTS_UNDER_EMULATOR)
  GTEST_SKIP() << "qemu-user takes a guest's address-space cap and enforces none";
#endif
  std::vector<std::string> args = smallRun("0", "0", "0");
  args[14] = "2147483647";  // 8 GiB of depths and as much of bytes
  RunOptions capped;
  capped.addressSpaceMiB = 512;
  ProgramResult run = runProgram(kProgram, args, capped);
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.out, "\nCan't allocate memory \n");
}

}  // namespace
}  // namespace quatdepth::testing
