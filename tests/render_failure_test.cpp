// When the disk fails: quatdepth-render (and quatdepth-image, which shares
// its output code) reports every failed write, sync, rename or flush with
// exit status 4 and the file's name, and the file it would have replaced
// is left as it was, with no temporary file beside it. When memory fails:
// a frame too large is refused before it renders, with status 1.
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "run_program.h"

namespace quatdepth::testing {
namespace {

const std::string kRender = QUATDEPTH_RENDER_PROGRAM;
const std::string kImage = QUATDEPTH_IMAGE_PROGRAM;
const std::string kRenderer = QUATDEPTH_PROGRAM;

std::string listing(const std::string &folder) {
  return runProgram("/bin/ls", {"-A", folder}).out;
}

// Runs `program` with the calls in `calls` failing (see failing_calls.c).
ProgramResult runFailing(const std::string &program, const std::vector<std::string> &arguments,
                         const std::string &calls) {
  RunOptions options;
  const char *asan = std::getenv("ASAN_OPTIONS");
  options.environment = {
      {"LD_PRELOAD", QUATDEPTH_FAILING_CALLS_LIBRARY},
      {"QUATDEPTH_FAILING_CALLS", calls},
      // The sanitizer runtime would refuse a library loaded before it.
      {"ASAN_OPTIONS", std::string(asan ? asan : "") + ":verify_asan_link_order=0"}};
  return runProgram(program, arguments, options);
}

class DiskFailure : public ::testing::Test {
 protected:
  TemporaryDirectory directory_;
  const std::string dir_ = directory_.path();
};

TEST_F(DiskFailure, AFailedSyncOrRenameIsReportedAndTheOldFileStays) {
#if defined(QUATDEPTH_TESTS_UNDER_EMULATOR)
  GTEST_SKIP() << "qemu-user's own loader would take the preloaded library too";
#endif
  const std::string kept = dir_ + "/kept.png";
  // Without a failing call the library changes nothing: the run succeeds.
  ASSERT_EQ(runFailing(kRender, {"--size", "20x10", "-o", kept}, "").exitStatus, 0);
  const std::string picture = readFile(kept);
  ASSERT_EQ(picture.rfind("\x89PNG", 0), 0u);
  writeFile(kept, "an older picture");

  for (const std::string calls : {"fsync", "rename", "fchmod"}) {
    SCOPED_TRACE(calls);
    for (const char *format : {"png", "pgm", "rows"}) {
      const ProgramResult run =
          runFailing(kRender, {"--size", "20x10", "--format", format, "-o", kept}, calls);
      EXPECT_EQ(run.exitStatus, 4) << format << ": " << run.err;
      EXPECT_NE(run.err.find("kept.png: Input/output error"), std::string::npos) << run.err;
      EXPECT_EQ(readFile(kept), "an older picture") << format;
      EXPECT_EQ(listing(dir_), "kept.png\n") << "no temporary file is left";
    }
    // A new file is not created at all.
    const ProgramResult fresh = runFailing(kRender, {"--size", "20x10", "-o", dir_ + "/new.png"}, calls);
    EXPECT_EQ(fresh.exitStatus, 4) << fresh.err;
    EXPECT_EQ(listing(dir_), "kept.png\n");
  }

  // Every frame of an animation is committed: the failing one stops the run.
  const ProgramResult frames = runFailing(
      kRender, {"--size", "8x6", "--frames", "2", "--animate", "angleA=0:1", "-o", dir_ + "/f%d.png"},
      "rename");
  EXPECT_EQ(frames.exitStatus, 4) << frames.err;
  EXPECT_EQ(listing(dir_), "kept.png\n");

  // quatdepth-image writes through the same code.
  writeFile(dir_ + "/in.rows", runProgram(kRenderer, {"-1.2", "-1.2", "-1.2", "1.2", "1.2", "1.2",
                                                      "-0.1", "0.2", "0.3", "-0.1", "0", "0", "0",
                                                      "0", "5", "4", "20", "10", "10", "16"})
                                   .out);
  for (const std::string calls : {"fsync", "rename"}) {
    const ProgramResult run = runFailing(
        kImage, {"--width", "5", "--height", "4", "-o", kept, dir_ + "/in.rows"}, calls);
    EXPECT_EQ(run.exitStatus, 4) << calls << ": " << run.err;
    EXPECT_EQ(readFile(kept), "an older picture") << calls;
  }
}

TEST_F(DiskFailure, AFullDiskOrFileSizeLimitIsReported) {
  const std::string kept = dir_ + "/kept.png";
  writeFile(kept, "an older picture");
  // Past the file size limit, for a picture and for each depth format.
  std::vector<std::string> formats = {"png", "png16", "pgm", "rows"};
#if defined(QUATDEPTH_WITH_OPENEXR)
  formats.push_back("exr");
#endif
  for (const std::string &format : formats) {
    const ProgramResult run = runProgram(
        "/bin/sh", {"-c", "ulimit -f 4; exec " +
                              shellCommand(kRender, {"--size", "300x200", "--coarse", "20",
                                                     "--format", format, "-o", kept})});
    EXPECT_EQ(run.exitStatus, 4) << format << ": " << run.err;
    EXPECT_NE(run.err.find("kept.png: File too large"), std::string::npos) << run.err;
    EXPECT_EQ(readFile(kept), "an older picture") << format;
    EXPECT_EQ(listing(dir_), "kept.png\n") << format;
  }
  // Standard output on a full disk: small outputs fail only when flushed.
  RunOptions full;
  full.stdoutPath = "/dev/full";
  for (const std::string &format : formats) {
    const ProgramResult run =
        runProgram(kRender, {"--size", "3x2", "--format", format, "-o", "-"}, full);
    EXPECT_EQ(run.exitStatus, 4) << format << ": " << run.err;
    EXPECT_NE(run.err.find("No space left on device"), std::string::npos) << run.err;
  }
  // Whatever goes to standard output, help included.
  for (const auto &[program, option] : {std::pair{kRender, "--print-args"},
                                        std::pair{kRender, "--help"},
                                        std::pair{kImage, "--help"}}) {
    const ProgramResult run = runProgram(program, {option}, full);
    EXPECT_EQ(run.exitStatus, 4) << program << " " << option << ": " << run.err;
    EXPECT_NE(run.err.find("standard output: No space left"), std::string::npos) << run.err;
    // Help onto a closed standard output is no success either.
    const ProgramResult closed =
        runProgram("/bin/sh", {"-c", shellCommand(program, {"--help"}) + " >&-"});
    EXPECT_EQ(closed.exitStatus, 4) << program << ": " << closed.err;
    EXPECT_NE(closed.err.find("standard output: Bad file descriptor"), std::string::npos)
        << closed.err;
  }
}

// Each view's samples fit under the cap, so a render that went ahead
// would fill them, and be refused only when its picture was made; its
// peak resident memory would show it. Refused before the render, the run
// says what the frame needs: at least the buffers named for each, a
// sample's depth among them.
TEST(RenderMemory, AFrameTooLargeIsRefusedBeforeItRenders) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "address space caps do not mix with the address sanitizer";
#endif
#if defined(QUATDEPTH_TESTS_UNDER_EMULATOR)
  GTEST_SKIP() << "qemu-user takes a guest's address-space cap and enforces none";
#endif
  TemporaryDirectory dir;
  const std::string kept = dir.file("kept.png");
  writeFile(kept, "an older picture");
  RunOptions capped;
  capped.addressSpaceMiB = 240;
  // Two depth levels a pixel: a render that went ahead would not be long.
  const std::vector<std::string> view = {"--size", "6144x6144", "--coarse", "1", "--fine", "1",
                                         "-o", kept};
  constexpr double kSamples = 6144.0 * 6144.0;
  const struct {
    std::vector<std::string> options;
    double leastBytesPerSample;
  } cases[] = {
      {{}, 4 + 24 + 1},  // depth, normal, shade
      {{"--look", "depth", "--colormap", "turbo"}, 4 + 1 + 3},  // depth, shade, colour
      {{"--occlusion", "--look", "relief"}, 4 + 24 + 8 + 4 + 1},
#if defined(QUATDEPTH_WITH_OPENEXR)
      {{"--format", "exr"}, 4 + 24 + 16 + 16},  // depth, normal, channels, file
#endif
  };
  for (const auto &c : cases) {
    std::vector<std::string> options = view;
    options.insert(options.end(), c.options.begin(), c.options.end());
    SCOPED_TRACE(shellCommand("quatdepth-render", options));
    const ProgramResult run = runProgram(kRender, options, capped);
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.exitStatus, 1) << run.err;
    std::smatch needs;
    ASSERT_TRUE(std::regex_search(
        run.err, needs,
        std::regex("not enough memory for a picture of 6144 x 6144 pixels: it needs ([0-9]+) "
                   "MiB; nothing was written")))
        << run.err;
    const double least = c.leastBytesPerSample * kSamples / (1 << 20);
    EXPECT_GE(std::stod(needs[1]), least);
    EXPECT_LE(std::stod(needs[1]), 1.5 * least + 16);
    // Its 144 MiB of depths were never filled.
    EXPECT_LT(run.maxResidentKiB, 72 * 1024);
    EXPECT_EQ(readFile(kept), "an older picture");
    EXPECT_EQ(listing(dir.path()), "kept.png\n");
  }
  // The cap itself leaves room for a small picture.
  const ProgramResult small = runProgram(kRender, {"--size", "64x64", "-o", kept}, capped);
  EXPECT_EQ(small.exitStatus, 0) << small.err;
}

}  // namespace
}  // namespace quatdepth::testing
