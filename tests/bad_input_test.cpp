// Bad input through the real programs: every case ends with its documented
// status and a message that names the problem, never a crash, and leaves an
// existing output file as it was.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "run_program.h"

namespace quatdepth::testing {
namespace {

const std::string kRenderer = QUATDEPTH_PROGRAM;
const std::string kImage = QUATDEPTH_IMAGE_PROGRAM;

// A small view: 3 x 4 pixels, 40 levels.
std::vector<std::string> smallView() {
  return {"-1.2", "-1.2", "-1.2", "1.2", "1.2", "1.2", "-0.1", "0.2", "0.3", "-0.1", "0",
          "0.3",  "0.5",  "0.7",  "3",   "4",   "8",   "5",    "10",  "16",  "0",    "1"};
}

void expectNoCrash(const ProgramResult &run, const std::string &what) {
  EXPECT_EQ(run.signal, 0) << what;
  EXPECT_EQ(run.err.find("runtime error"), std::string::npos) << what << ": " << run.err;
  EXPECT_EQ(run.err.find("Sanitizer"), std::string::npos) << what << ": " << run.err;
}

TEST(RendererBadInput, EveryRefusedParameterExitsTwoWithOnlyItsMessage) {
  const std::string infinite(400, '9');
  const struct {
    size_t position;
    std::string text, expected;
  } cases[] = {
      {1, infinite, "xMin is inf"},          {2, "-" + infinite, "yMin is -inf"},
      {3, infinite, "zMin is inf"},          {4, infinite, "xMax is inf"},
      {5, infinite, "yMax is inf"},          {6, infinite, "zMax is inf"},
      {7, infinite, "juliaC component 1"},   {8, infinite, "juliaC component 2"},
      {9, infinite, "juliaC component 3"},   {10, infinite, "juliaC component 4"},
      {11, infinite, "wSlice is inf"},       {12, infinite, "angle A is inf"},
      {13, "9007199254740992", "angle B is 9007199254740992"},
      {14, "-9007199254740992", "angle C is -9007199254740992"},
      {15, "-1", "width is -1"},             {16, "16777217", "height is 16777217"},
      {17, "0", "coarseSteps is 0"},         {17, "-5", "coarseSteps is -5"},
      {18, "0", "fineSteps is 0"},           {17, "3355444", "coarseSteps x fineSteps is 16777220"},
      {17, "429496730", "coarseSteps x fineSteps + fineSteps is 2147483655"},
      {21, "-1", "firstRow is -1"},          {22, "0", "rowStep is 0"},
      {22, "-2147483648", "rowStep is -2147483648"},
  };
  for (const auto &c : cases) {
    std::vector<std::string> args = smallView();
    args[c.position - 1] = c.text;
    ProgramResult run = runProgram(kRenderer, args);
    expectNoCrash(run, c.expected);
    EXPECT_EQ(run.exitStatus, 2) << c.expected;
    EXPECT_EQ(run.out.rfind("quatdepth: " + c.expected, 0), 0u) << run.out;
    EXPECT_EQ(run.out.find('\n'), run.out.size() - 1) << "one line: " << run.out;
    EXPECT_EQ(run.err, "");
  }
}

TEST(RendererBadInput, AnyArgumentCountFromZeroToTwentyFive) {
  const std::vector<std::string> view = smallView();
  for (size_t count = 0; count <= 25; ++count) {
    std::vector<std::string> args(view.begin(), view.begin() + std::min<std::ptrdiff_t>(static_cast<std::ptrdiff_t>(count), 22));
    while (args.size() < count) args.push_back("extra");
    ProgramResult run = runProgram(kRenderer, args);
    expectNoCrash(run, std::to_string(count));
    EXPECT_EQ(run.exitStatus, 0) << count << " arguments";
    // Fewer than 20: the 300 x 300 default; otherwise the 3 x 4 view.
    EXPECT_EQ(run.out.size(), count < 20 ? 361200u : 4u * 4 * 4) << count << " arguments";
  }
}

TEST(RendererBadInput, EmptyHugeAndHighByteArguments) {
  const struct {
    size_t position;
    std::string text;
    int status;
    size_t bytes;  // of output, when it succeeds
  } cases[] = {
      {1, "", 0, 64},                             // xMin 0
      {12, "", 0, 64},                            // angle 0
      {17, "", 2, 0},                             // coarseSteps 0
      {1, std::string(100000, '0'), 0, 64},       // a long zero
      {12, std::string(100000, '1'), 2, 0},       // an infinite angle
      {21, std::string(100000, '0'), 0, 64},      // firstRow 0
      {23, std::string(100000, 'x'), 0, 64},      // ignored
      {15, "\xff\xfe", 2, 0},                     // width -540
      {1, "\xc3\xa9", 0, 64},                     // xMin -1225
      {11, "\x80.\x81", 0, 64},                   // wSlice, finite
  };
  for (const auto &c : cases) {
    std::vector<std::string> args = smallView();
    if (c.position > args.size()) args.resize(c.position);
    args[c.position - 1] = c.text;
    ProgramResult run = runProgram(kRenderer, args);
    const std::string what = "position " + std::to_string(c.position) + ", " +
                             std::to_string(c.text.size()) + " bytes";
    expectNoCrash(run, what);
    EXPECT_EQ(run.exitStatus, c.status) << what << ": " << run.out.substr(0, 200);
    if (c.status == 0) {
      EXPECT_EQ(run.out.size(), c.bytes) << what;
    }
  }
  std::vector<std::string> allEmpty(22, "");
  ProgramResult run = runProgram(kRenderer, allEmpty);
  EXPECT_EQ(run.exitStatus, 2);
  EXPECT_EQ(run.out.rfind("quatdepth: coarseSteps is 0", 0), 0u);
}

TEST(RendererBadInput, MemoryDoesNotGrowWithTheNumberOfRows) {
  auto peak = [](const std::string &height) {
    std::vector<std::string> args = smallView();
    args[14] = "50";   // width
    args[15] = height;
    args[16] = "1";    // one coarse step
    args[17] = "1";    // of one level
    RunOptions discard;
    discard.stdoutPath = "/dev/null";
    ProgramResult run = runProgram(kRenderer, args, discard);
    EXPECT_EQ(run.exitStatus, 0);
    return run.maxResidentKiB;
  };
  const long shortImage = peak("1000");
  const long tallImage = peak("400000");  // 82 MB of records
  EXPECT_LT(tallImage, shortImage + 2048) << "KiB: " << shortImage << " -> " << tallImage;
}

class ImageBadInput : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<std::string> view = smallView();
    view[14] = "2";  // records of 12 bytes, 4 rows: 48 bytes
    stream_ = runProgram(kRenderer, view).out;
    ASSERT_EQ(stream_.size(), 48u);
  }
  // Runs quatdepth-image on `input` over an existing output file; checks
  // status, message and that the output file is untouched.
  void expectRefused(const std::string &input, int status, const std::string &expected,
                     std::vector<std::string> options = {"--strict"}) {
    writeFile(dir_ + "/in.rows", input);
    writeFile(dir_ + "/out.png", "existing");
    std::vector<std::string> args = {"--width", "2", "--height", "4", "-o", dir_ + "/out.png"};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(dir_ + "/in.rows");
    ProgramResult run = runProgram(kImage, args);
    expectNoCrash(run, expected);
    EXPECT_EQ(run.exitStatus, status) << expected;
    EXPECT_NE(run.err.find(expected), std::string::npos) << "wanted '" << expected << "' in: " << run.err;
    EXPECT_EQ(readFile(dir_ + "/out.png"), "existing") << expected;
  }

  TemporaryDirectory directory_;
  const std::string dir_ = directory_.path();
  std::string stream_;
};

TEST_F(ImageBadInput, EmptyInputIsRefusedStrictOrNot) {
  expectRefused("", 1, "no row arrived");
  expectRefused("", 1, "no row arrived", {});
}

TEST_F(ImageBadInput, ARecordCutAtEveryByte) {
  for (size_t cut = 1; cut < stream_.size(); ++cut) {
    const std::string expected =
        cut % 12 == 0 ? std::to_string(4 - cut / 12) + " of 4 rows never arrived"
                      : "byte " + std::to_string(cut / 12 * 12) + ": the stream ends " +
                            std::to_string(cut % 12) + " bytes into a record of 12";
    expectRefused(stream_.substr(0, cut), 1, expected);
  }
}

TEST_F(ImageBadInput, EveryInvalidBytePattern) {
  const struct {
    size_t at;
    std::string bytes;
    std::string expected;
  } cases[] = {
      {13, std::string(1, '\0'), "byte 13: the byte 0x00"},
      {14, "\n", "byte 14: the byte 0x0A"},
      {15, "\x02", "byte 15: the byte 0x02"},      {16, "\x7e", "byte 16: the byte 0x7E"},
      {17, "\x80", "byte 17: the byte 0x80"},      {18, "\x81", "byte 18: the byte 0x81"},
      {19, "\xfd", "byte 19: the byte 0xFD"},      {20, "\xff\x01\xff\xff", "byte 21: the byte 0x01"},
      {20, "\x01\xff\xff\xff", "byte 21: the byte 0xFF"},
  };
  for (const auto &c : cases) {
    std::string stream = stream_;
    stream.replace(c.at, c.bytes.size(), c.bytes);
    expectRefused(stream, 1, c.expected);
  }
}

TEST_F(ImageBadInput, RowsOutOfRangeAndConflictingDuplicates) {
  // Row indices 4 (the height), 2^24 - 1 and -1, in place of row 1's.
  const struct {
    std::string index, expected;
  } cases[] = {{"\x01\x01\x01\x09", "byte 12: row index 4 is not a row"},
               {"\x7f\x7f\x7f\x7f", "byte 12: row index 16777215 is not a row"},
               {"\xff\xff\xff\xff", "byte 12: row index -1 is not a row"}};
  for (const auto &c : cases) {
    std::string stream = stream_;
    stream.replace(12, 4, c.index);
    expectRefused(stream, 1, c.expected);
  }
  // Row 0's depths under row 1's index, after row 1 itself.
  std::string conflicting = stream_ + stream_.substr(12, 4) + stream_.substr(4, 8);
  expectRefused(conflicting, 1, "byte 48: row 1 arrived before with different depths");
  // The same row twice with the same depths is fine.
  writeFile(dir_ + "/in.rows", stream_ + stream_.substr(12, 12));
  ProgramResult same = runProgram(kImage, {"--width", "2", "--height", "4", "--strict", "-o",
                                           dir_ + "/out.png", dir_ + "/in.rows"});
  EXPECT_EQ(same.exitStatus, 0) << same.err;
}

TEST_F(ImageBadInput, MissingInputAndUnwritableOutput) {
  expectRefused(stream_, 3, "nowhere.rows: No such file or directory",
                {dir_ + "/nowhere.rows"});
  writeFile(dir_ + "/in.rows", stream_);
  // A missing folder, and a path that is a folder.
  ASSERT_EQ(mkdir((dir_ + "/taken.png").c_str(), 0755), 0);
  for (const std::string &output : {dir_ + "/missing/dir/out.png", dir_ + "/taken.png"}) {
    ProgramResult run = runProgram(kImage, {"--width", "2", "--height", "4", "-o", output,
                                            dir_ + "/in.rows"});
    expectNoCrash(run, output);
    EXPECT_EQ(run.exitStatus, 4) << output;
    EXPECT_NE(run.err.find(output), std::string::npos) << run.err;
  }
  // A device is written in place, never replaced.
  ProgramResult toFull = runProgram(kImage, {"--width", "2", "--height", "4", "--format", "png",
                                             "-o", "/dev/full", dir_ + "/in.rows"});
  EXPECT_EQ(toFull.exitStatus, 4) << toFull.err;
  EXPECT_NE(toFull.err.find("/dev/full: No space left on device"), std::string::npos) << toFull.err;
  struct stat device;
  ASSERT_EQ(stat("/dev/full", &device), 0);
  EXPECT_TRUE(S_ISCHR(device.st_mode));
  ProgramResult toNull = runProgram(kImage, {"--width", "2", "--height", "4", "--format", "rows",
                                             "-o", "/dev/null", dir_ + "/in.rows"});
  EXPECT_EQ(toNull.exitStatus, 0) << toNull.err;
}

}  // namespace
}  // namespace quatdepth::testing
