// When the disk fails: quatdepth-render (and quatdepth-image, which shares
// its output code) reports every failed write, sync, rename or flush with
// exit status 4 and the file's name, and the file it would have replaced
// is left as it was, with no temporary file beside it.
#include <gtest/gtest.h>

#include <cstdlib>
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

}  // namespace
}  // namespace quatdepth::testing
