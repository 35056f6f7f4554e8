// End-to-end runs of quatdepth-image and quatdepth-parallel.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "png_reading.h"
#include "record_decoding.h"
#include "run_program.h"

namespace quatdepth::testing {
namespace {

const std::string kRenderer = QUATDEPTH_PROGRAM;
const std::string kImage = QUATDEPTH_IMAGE_PROGRAM;
const std::string kParallel = QUATDEPTH_PARALLEL_SCRIPT;

class ImageProgram : public ::testing::Test {
 protected:
  std::string path(const std::string &name) const { return dir_.file(name); }
  void write(const std::string &name, const std::string &bytes) const {
    writeFile(path(name), bytes);
  }

  // A small rotated view; width and height as given, rows k, k+step, ...
  static std::vector<std::string> view(int width, int height, int first = 0, int step = 1) {
    return {"-1.2", "-1.2", "-1.2", "1.2", "1.2", "1.2", "-0.1", "0.2",
            "0.3", "-0.1", "0", "0.3", "0.5", "0.7", std::to_string(width),
            std::to_string(height), "60", "10", "10", "16", std::to_string(first),
            std::to_string(step)};
  }

  static std::string render(const std::vector<std::string> &args) {
    ProgramResult run = runProgram(kRenderer, args);
    EXPECT_EQ(run.exitStatus, 0);
    return run.out;
  }

  TemporaryDirectory dir_;
};

TEST_F(ImageProgram, InterleavedRunsMergeLosslesslyInAnyOrder) {
  std::mt19937 rng(6502);
  for (int width : {0, 1, 13}) {
    const int height = 11;
    const std::string whole = render(view(width, height));
    for (int runs : {1, 2, 3, 7}) {
      std::vector<std::string> files;
      std::string concatenated;
      for (int k = 0; k < runs; ++k) {
        std::string part = render(view(width, height, k, runs));
        files.push_back(path("part" + std::to_string(k) + ".rows"));
        write("part" + std::to_string(k) + ".rows", part);
        concatenated = part + concatenated;  // last run first
      }
      std::shuffle(files.begin(), files.end(), rng);
      std::vector<std::string> args = {"--width", std::to_string(width), "--height",
                                       std::to_string(height), "--format", "rows", "-o", "-"};
      std::vector<std::string> several = args;
      several.insert(several.end(), files.begin(), files.end());
      ProgramResult fromFiles = runProgram(kImage, several);
      EXPECT_EQ(fromFiles.exitStatus, 0) << fromFiles.err;
      EXPECT_TRUE(fromFiles.out == whole) << "width " << width << ", " << runs << " files";

      write("all.rows", concatenated);
      RunOptions fromStdin;
      fromStdin.stdinPath = path("all.rows");
      ProgramResult fromOne = runProgram(kImage, args, fromStdin);
      EXPECT_EQ(fromOne.exitStatus, 0) << fromOne.err;
      EXPECT_TRUE(fromOne.out == whole) << "width " << width << ", " << runs << " runs in one stream";
    }
  }
}

TEST_F(ImageProgram, ParallelRunsMergeIntoTheSingleRun) {
  const std::string whole = render(view(17, 19));
  std::vector<std::string> args = view(17, 19);
  args.resize(20);
  args.insert(args.begin(), {"-j", "3"});
  ProgramResult parallelRun = runProgram(kParallel, args);
  ASSERT_EQ(parallelRun.exitStatus, 0) << parallelRun.err;
  EXPECT_EQ(parallelRun.out.size(), whole.size());
  write("parallel.rows", parallelRun.out);
  ProgramResult merged = runProgram(
      kImage, {"--width", "17", "--height", "19", "-o", "-", "--format", "rows",
               path("parallel.rows")});
  EXPECT_EQ(merged.exitStatus, 0) << merged.err;
  EXPECT_TRUE(merged.out == whole);

  EXPECT_EQ(runProgram(kParallel, {"-j", "0"}).exitStatus, 2);
  EXPECT_EQ(runProgram(kParallel, {"1", "2", "3"}).exitStatus, 2);
}

TEST_F(ImageProgram, BadInputIsReportedAndLeavesTheOutputUntouched) {
  const std::string good = render(view(5, 4));  // records of 24 bytes
  std::string evenByte = good;
  evenByte[30] = 0x02;
  // Row 2's depths under row 0's index.
  std::string conflicting = std::string(4, '\x01') + good.substr(48 + 4, 20);
  const struct {
    std::string stream;
    std::vector<std::string> options;
    int status;
    std::string expected;
  } cases[] = {
      {good.substr(0, 50), {"--strict"}, 1, "in.rows: byte 48: the stream ends 2 bytes into a record of 24"},
      {evenByte, {}, 1, "in.rows: byte 30: the byte 0x02 is in no valid record"},
      {good, {"--height", "3"}, 1, "in.rows: byte 72: row index 3 is not a row"},
      {good + conflicting, {}, 1, "in.rows: byte 96: row 0 arrived before with different depths"},
      {good.substr(24), {"--strict"}, 1, "1 of 4 rows never arrived"},
      {good, {"--format", "gif"}, 2, "unknown --format 'gif'"},
      {good, {"--look", "shiny"}, 2, "unknown --look 'shiny'"},
  };
  for (const auto &c : cases) {
    write("in.rows", c.stream);
    write("out.png", "existing picture");
    std::vector<std::string> args = {"--width", "5", "--height", "4", "-o", path("out.png")};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(path("in.rows"));
    ProgramResult run = runProgram(kImage, args);
    EXPECT_EQ(run.exitStatus, c.status) << c.expected;
    EXPECT_NE(run.err.find(c.expected), std::string::npos) << run.err;
    EXPECT_EQ(readFile(path("out.png")), "existing picture") << c.expected;
  }
  write("in.rows", good);
  ProgramResult missing = runProgram(kImage, {"--width", "5", "--height", "4", "-o",
                                              path("out.png"), path("nowhere.rows")});
  EXPECT_EQ(missing.exitStatus, 3);
  EXPECT_NE(missing.err.find("nowhere.rows"), std::string::npos);
  ProgramResult unwritable = runProgram(kImage, {"--width", "5", "--height", "4", "-o",
                                                 path("no/such/dir/out.png"), path("in.rows")});
  EXPECT_EQ(unwritable.exitStatus, 4);
  EXPECT_NE(unwritable.err.find("no/such/dir/out.png"), std::string::npos);
  // No temporary files are left behind.
  ProgramResult listing = runProgram("/bin/ls", {"-A", dir_.path()});
  EXPECT_EQ(listing.out, "in.rows\nout.png\n");
}

TEST_F(ImageProgram, MissingRowsAreCountedAndDrawnAsBackground) {
  write("in.rows", render(view(5, 4, 1, 2)));
  ProgramResult run = runProgram(kImage, {"--width", "5", "--height", "4", "-o",
                                          path("out.pgm"), path("in.rows")});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_NE(run.err.find("2 of 4 rows never arrived; drawn as background"), std::string::npos);
  std::string pgm = readFile(path("out.pgm"));
  ASSERT_EQ(pgm.size(), std::string("P5\n5 4\n255\n").size() + 20);
  EXPECT_EQ(pgm.substr(11, 5), std::string(5, '\0'));  // row 0 never came
}

TEST_F(ImageProgram, ShowsProgressOnlyOnATerminal) {
  const std::string stream = render(view(3, 7));  // records of 16 bytes
  write("in.rows", stream);
  // Progress follows the records as they arrive: one, a pause, the rest.
  const std::string command = "(head -c 16 " + path("in.rows") + "; sleep 0.5; tail -c +17 " +
                              path("in.rows") + ") | " + kImage +
                              " --width 3 --height 7 -o " + path("out.png");
  // script(1) gives the program a terminal for its standard error.
  ProgramResult onTerminal = runProgram("/usr/bin/script", {"-q", "-e", "-c", command, "/dev/null"});
  EXPECT_EQ(onTerminal.exitStatus, 0);
  EXPECT_NE(onTerminal.out.find("1 of 7 rows"), std::string::npos) << onTerminal.out;
  EXPECT_NE(onTerminal.out.find("7 of 7 rows"), std::string::npos) << onTerminal.out;
  ProgramResult quiet = runProgram(kImage, {"--width", "3", "--height", "7", "-o",
                                            path("out.png"), path("in.rows")});
  EXPECT_EQ(quiet.exitStatus, 0);
  EXPECT_EQ(quiet.err, "");

  // A message after progress starts a line of its own, and a stream that
  // does not fit names both sizes as suspects.
  write("bad.rows", stream + std::string(16, '\x02'));
  const std::string failing = "(head -c 16 " + path("bad.rows") + "; sleep 0.3; tail -c +17 " +
                              path("bad.rows") + ") | " + kImage +
                              " --width 3 --height 7 -o " + path("out.png");
  ProgramResult failed = runProgram("/usr/bin/script", {"-q", "-e", "-c", failing, "/dev/null"});
  EXPECT_EQ(failed.exitStatus, 1);
  EXPECT_NE(failed.out.find("rows\r\nquatdepth-image: standard input: byte 112"),
            std::string::npos)
      << failed.out;
  EXPECT_NE(failed.out.find("(are --width and --height right?)"), std::string::npos);
}

TEST_F(ImageProgram, AFailedRenderNeverReplacesAGoodPicture) {
  // A renderer that is not there, and one whose second job fails.
  write("fails-on-row-1", "#!/bin/sh\n[ \"${21}\" = 1 ] && exit 1\nexec " + kRenderer + " \"$@\"\n");
  ASSERT_EQ(chmod(path("fails-on-row-1").c_str(), 0755), 0);
  const std::string viewArgs = "-1.2 -1.2 -1.2 1.2 1.2 1.2 -0.1 0.2 0.3 -0.1 0 0 0 0 5 4 20 10 10 16";
  const struct {
    std::string program, strict;
  } cases[] = {{"/nonexistent", ""}, {"/nonexistent", "--strict"},
               {path("fails-on-row-1"), "--strict"}};
  for (const auto &c : cases) {
    write("julia.png", "good picture");
    const std::string pipeline = "QUATDEPTH=" + c.program + " " + kParallel + " -j 2 " + viewArgs +
                                 " | " + kImage + " --width 5 --height 4 " + c.strict + " -o " +
                                 path("julia.png");
    ProgramResult run = runProgram("/bin/sh", {"-c", pipeline});
    EXPECT_EQ(run.exitStatus, 1) << pipeline << ": " << run.err;
    EXPECT_EQ(readFile(path("julia.png")), "good picture") << pipeline;
  }
}

TEST_F(ImageProgram, QuatdepthsOwnMessagesAreReportedAsSuch) {
  // Its refusal, at widths whose records are shorter and longer than the line.
  for (int width : {0, 2, 300}) {
    std::vector<std::string> args = view(width, 4);
    args[16] = "0";  // coarseSteps
    const std::string pipeline = shellCommand(kRenderer, args) + " | " + kImage + " --width " +
                                 std::to_string(width) + " --height 4 --format rows -o " +
                                 path("out.rows");
    ProgramResult run = runProgram("/bin/sh", {"-c", pipeline});
    EXPECT_EQ(run.exitStatus, 1) << width;
    EXPECT_NE(run.err.find("standard input: byte 0: quatdepth's message, not rows: quatdepth: "
                           "coarseSteps is 0, but it must be at least 1\n"),
              std::string::npos)
        << run.err;
  }
  // Its allocation failure, after another run's rows.
  write("in.rows", render(view(2, 4)) + "\nCan't allocate memory \n");
  ProgramResult run = runProgram(kImage, {"--width", "2", "--height", "4", "-o", path("out.png"),
                                          path("in.rows")});
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_NE(run.err.find("in.rows: byte 48: quatdepth's message, not rows: Can't allocate memory\n"),
            std::string::npos)
      << run.err;
}

TEST_F(ImageProgram, AKilledRunsLastRecordIsDroppedWithAWarning) {
  const std::string stream = render(view(5, 4));  // records of 24 bytes
  write("killed.rows", stream.substr(0, 24 * 3 + 10));
  write("out.png", "old picture");
  ProgramResult run = runProgram(kImage, {"--width", "5", "--height", "4", "-o", path("out.png"),
                                          path("killed.rows")});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_NE(run.err.find("warning: " + path("killed.rows") +
                         ": byte 72: the stream ends 10 bytes into a record of 24"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("1 of 4 rows never arrived"), std::string::npos) << run.err;
  EXPECT_NE(readFile(path("out.png")), "old picture");
  // --strict refuses the image while that row is missing, and takes it once
  // another run (a repair) holds it.
  ProgramResult alone = runProgram(kImage, {"--width", "5", "--height", "4", "--strict", "-o", "-",
                                            "--format", "rows", path("killed.rows")});
  EXPECT_EQ(alone.exitStatus, 1);
  EXPECT_NE(alone.err.find("1 of 4 rows never arrived"), std::string::npos) << alone.err;
  write("rest.rows", stream.substr(24 * 3));
  ProgramResult repaired = runProgram(kImage, {"--width", "5", "--height", "4", "--strict", "-o",
                                               "-", "--format", "rows", path("killed.rows"),
                                               path("rest.rows")});
  EXPECT_EQ(repaired.exitStatus, 0) << repaired.err;
  EXPECT_TRUE(repaired.out == stream);
  // A cut record whose bytes are already wrong is no killed run.
  std::string wrong = stream.substr(0, 24 * 3 + 10);
  wrong[24 * 3 + 6] = 0x02;
  write("wrong.rows", wrong);
  ProgramResult invalid = runProgram(kImage, {"--width", "5", "--height", "4", "-o", path("out.png"),
                                              path("wrong.rows")});
  EXPECT_EQ(invalid.exitStatus, 1);
  EXPECT_NE(invalid.err.find("byte 78: the byte 0x02"), std::string::npos) << invalid.err;
}

TEST_F(ImageProgram, ListsTheRowsNoInputHolds) {
  // Rows 1, 4, 7 from one run; row 2's record cut short by a killed run.
  write("a.rows", render(view(5, 9, 1, 3)));
  write("b.rows", render(view(5, 9, 2, 6)).substr(0, 10));
  const std::vector<std::string> list = {"--list-missing", "--width", "5", "--height", "9"};
  auto listed = [&](std::vector<std::string> inputs) {
    std::vector<std::string> args = list;
    args.insert(args.end(), inputs.begin(), inputs.end());
    return runProgram(kImage, args);
  };
  ProgramResult some = listed({path("a.rows"), path("b.rows")});
  EXPECT_EQ(some.exitStatus, 0) << some.err;
  EXPECT_EQ(some.out, "0\n2\n3\n5\n6\n8\n");
  ProgramResult none = listed({"/dev/null"});
  EXPECT_EQ(none.exitStatus, 0);
  EXPECT_EQ(none.out, "0\n1\n2\n3\n4\n5\n6\n7\n8\n");
  write("bad.rows", std::string(24, '\x02'));
  EXPECT_EQ(listed({path("a.rows"), path("bad.rows")}).exitStatus, 1);
  EXPECT_EQ(listed({"-o", path("x.png"), path("a.rows")}).exitStatus, 2);
}

TEST_F(ImageProgram, DefaultsAndHeadersMatchTheRenderersImage) {
  // No --width, --height or --look: the renderer's default 300 x 300, lit.
  write("default.rows", runProgram(kRenderer, {}).out);
  ASSERT_EQ(runProgram(kImage, {"-o", path("plain.png"), path("default.rows")}).exitStatus, 0);
  ASSERT_EQ(runProgram(kImage, {"--width", "300", "--height", "300", "--look", "lit", "-o",
                                path("lit.png"), path("default.rows")})
                .exitStatus,
            0);
  ASSERT_EQ(runProgram(kImage, {"--look", "depth", "-o", path("depth.png"), path("default.rows")})
                .exitStatus,
            0);
  EXPECT_TRUE(readFile(path("plain.png")) == readFile(path("lit.png")));
  EXPECT_FALSE(readFile(path("plain.png")) == readFile(path("depth.png")));

  // A PGM names width, then height; --format rows holds only rows that came.
  write("in.rows", render(view(5, 4, 1, 2)));
  ProgramResult pgm = runProgram(kImage, {"--width", "5", "--height", "4", "-o", "-", "--format",
                                          "pgm", path("in.rows")});
  EXPECT_EQ(pgm.out.substr(0, 11), "P5\n5 4\n255\n");
  ProgramResult rows = runProgram(kImage, {"--width", "5", "--height", "4", "-o", "-", "--format",
                                           "rows", path("in.rows")});
  EXPECT_TRUE(rows.out == render(view(5, 4, 1, 2)));
}

TEST_F(ImageProgram, SixteenBitDepthsUpToTheirLimit) {
  for (int32_t deepest : {65534, 65535}) {
    write("deep.rows", encodeRecords(2, {0}, [&](int x, int) { return x == 0 ? deepest : -1; }));
    ProgramResult run = runProgram(kImage, {"--width", "2", "--height", "1", "--format", "png16",
                                            "-o", path("deep.png"), path("deep.rows")});
    if (deepest == 65534) {
      ASSERT_EQ(run.exitStatus, 0) << run.err;
      Png png = readPng(path("deep.png"));
      ASSERT_EQ(png.rows.size(), 1u);
      EXPECT_EQ(png.rows[0], (std::vector<uint8_t>{0xFF, 0xFF, 0, 0}));
    } else {
      EXPECT_EQ(run.exitStatus, 4);
      EXPECT_NE(run.err.find("depth 65535 does not fit a 16-bit PNG (at most 65534)"),
                std::string::npos)
          << run.err;
    }
  }
}

TEST_F(ImageProgram, ManyPartFilesWithFewDescriptors) {
  std::vector<std::string> args = {"--width", "3", "--height", "60", "--strict", "-o", "-",
                                   "--format", "rows"};
  for (int row = 0; row < 60; ++row) {
    const std::string name = "part" + std::to_string(row) + ".rows";
    write(name, encodeRecords(3, {row}, [](int x, int y) { return x + y; }));
    args.push_back(path(name));
  }
  RunOptions few;
  few.openFilesLimit = 16;
  ProgramResult run = runProgram(kImage, args, few);
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  std::vector<int> all(60);
  for (int row = 0; row < 60; ++row) all[static_cast<size_t>(row)] = row;
  EXPECT_TRUE(run.out == encodeRecords(3, all, [](int x, int y) { return x + y; }));
}

TEST_F(ImageProgram, TooLargeForMemoryIsAnErrorNotACrash) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "address space caps do not mix with the address sanitizer";
#endif
#if defined(QUATDEPTH_TESTS_UNDER_EMULATOR)
  GTEST_SKIP() << "qemu-user takes a guest's address-space cap and enforces none";
#endif
  RunOptions capped;
  capped.addressSpaceMiB = 800;
  write("out.png", "old picture");
  ProgramResult run = runProgram(kImage, {"--width", "16384", "--height", "16384", "-o",
                                          path("out.png")},
                                 capped);
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_NE(run.err.find("not enough memory for an image of 16384 x 16384 pixels"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(readFile(path("out.png")), "old picture");
  EXPECT_EQ(runProgram("/bin/ls", {"-A", dir_.path()}).out, "out.png\n");
}

TEST_F(ImageProgram, PngsDecodeWithBackgroundAndShadedSurface) {
  const int width = 40, height = 30;
  const std::string stream = render(view(width, height));
  write("in.rows", stream);
  const auto records = decodeRecords(stream, width);
  for (const std::string look : {"lit", "depth"}) {
    ProgramResult run = runProgram(kImage, {"--width", "40", "--height", "30", "--look", look,
                                            "-o", path("out.png"), path("in.rows")});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    Png png = readPng(path("out.png"));
    ASSERT_EQ(png.width, 40u);
    ASSERT_EQ(png.height, 30u);
    EXPECT_EQ(png.bitDepth, 8);
    std::set<uint8_t> shades;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        uint8_t value = png.rows[static_cast<size_t>(y)][static_cast<size_t>(x)];
        if (records[static_cast<size_t>(y)][static_cast<size_t>(x) + 1] < 0) {
          EXPECT_EQ(value, 0) << look << " background at " << x << "," << y;
        } else {
          EXPECT_GT(value, 0) << look << " surface at " << x << "," << y;
          shades.insert(value);
        }
      }
    EXPECT_GT(shades.size(), 20u) << look;
  }

  ProgramResult sixteen = runProgram(kImage, {"--width", "40", "--height", "30", "--format",
                                              "png16", "-o", path("depth.png"), path("in.rows")});
  ASSERT_EQ(sixteen.exitStatus, 0) << sixteen.err;
  Png depth = readPng(path("depth.png"));
  ASSERT_EQ(depth.bitDepth, 16);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const auto &row = depth.rows[static_cast<size_t>(y)];
      int value = row[2 * static_cast<size_t>(x)] * 256 + row[2 * static_cast<size_t>(x) + 1];
      ASSERT_EQ(value - 1, records[static_cast<size_t>(y)][static_cast<size_t>(x) + 1]);
    }
}

}  // namespace
}  // namespace quatdepth::testing
