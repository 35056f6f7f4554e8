// End-to-end runs of quatdepth-image and quatdepth-parallel.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <set>
#include <string>
#include <vector>

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
  write("in.rows", render(view(3, 7)));
  const std::string command = kImage + " --width 3 --height 7 -o " + path("out.png") + " " +
                              path("in.rows");
  // script(1) gives the program a terminal for its standard error.
  ProgramResult onTerminal = runProgram("/usr/bin/script", {"-q", "-e", "-c", command, "/dev/null"});
  EXPECT_EQ(onTerminal.exitStatus, 0);
  EXPECT_NE(onTerminal.out.find("7 of 7 rows"), std::string::npos) << onTerminal.out;
  ProgramResult quiet = runProgram(kImage, {"--width", "3", "--height", "7", "-o",
                                            path("out.png"), path("in.rows")});
  EXPECT_EQ(quiet.exitStatus, 0);
  EXPECT_EQ(quiet.err, "");
}

struct Png {
  png_uint_32 width = 0, height = 0;
  int bitDepth = 0;
  std::vector<std::vector<uint8_t>> rows;
};

// Decodes a whole grey PNG with libpng; an empty result on any failure.
Png readPngFrom(FILE *in) {
  Png result;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return Png{};
  }
  png_init_io(png, in);
  png_read_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
  result.width = png_get_image_width(png, info);
  result.height = png_get_image_height(png, info);
  result.bitDepth = png_get_bit_depth(png, info);
  png_bytepp rows = png_get_rows(png, info);
  for (png_uint_32 y = 0; y < result.height; ++y)
    result.rows.emplace_back(rows[y], rows[y] + png_get_rowbytes(png, info));
  png_destroy_read_struct(&png, &info, nullptr);
  return result;
}

Png readPng(const std::string &file) {
  FILE *in = std::fopen(file.c_str(), "rb");
  if (!in) return Png{};
  Png result = readPngFrom(in);
  std::fclose(in);
  return result;
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
