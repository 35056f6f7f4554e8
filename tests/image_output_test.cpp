// Where quatdepth-image writes: through links, in place for special files,
// replacing regular files only when complete and as they were, and checking
// all of it before any input is read. For it and quatdepth-render alike: a
// new file's mode, and the format an output's name gives.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "image/image_output.h"
#include "record_decoding.h"
#include "run_program.h"

namespace quatdepth::testing {
namespace {

const std::string kRenderer = QUATDEPTH_PROGRAM;
const std::string kImage = QUATDEPTH_IMAGE_PROGRAM;
const std::string kRender = QUATDEPTH_RENDER_PROGRAM;
constexpr int kNobody = 65534;

std::string listing(const std::string &folder) {
  return runProgram("/bin/ls", {"-A", folder}).out;
}

bool isLink(const std::string &path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

class ImageOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    writeFile(in_, runProgram(kRenderer, {"-1.2", "-1.2", "-1.2", "1.2", "1.2", "1.2", "-0.1",
                                          "0.2", "0.3", "-0.1", "0", "0.3", "0.5", "0.7", "5",
                                          "4", "20", "10", "10", "16"})
                       .out);
    ASSERT_EQ(image({"-o", dir_ + "/reference.png", in_}).exitStatus, 0);
    reference_ = readFile(dir_ + "/reference.png");
    ASSERT_EQ(reference_.rfind("\x89PNG", 0), 0u);
    std::remove((dir_ + "/reference.png").c_str());
  }

  ProgramResult image(std::vector<std::string> args, const RunOptions &options = {}) const {
    args.insert(args.begin(), {"--width", "5", "--height", "4", "--format", "png"});
    return runProgram(options.userId >= 0 ? copyForOtherUsers() : kImage, args, options);
  }

  // Another user may not reach the build folder (a clone in a private
  // folder), but reaches the test folder: they run a copy from there.
  std::string copyForOtherUsers() const {
    const std::string copy = dir_ + "/quatdepth-image";
    std::filesystem::copy_file(kImage, copy, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(copy, std::filesystem::perms(0755));
    return copy;
  }

  TemporaryDirectory directory_;
  const std::string dir_ = directory_.path();
  const std::string in_ = dir_ + "/in.rows";
  std::string reference_;
};

TEST_F(ImageOutputTest, LinksLeadToTheirTargets) {
  // link.png -> sub/middle.png -> ../target.png, relative at each step.
  ASSERT_EQ(mkdir((dir_ + "/sub").c_str(), 0755), 0);
  ASSERT_EQ(symlink("../target.png", (dir_ + "/sub/middle.png").c_str()), 0);
  ASSERT_EQ(symlink("sub/middle.png", (dir_ + "/link.png").c_str()), 0);
  writeFile(dir_ + "/target.png", "old picture");
  ProgramResult run = image({"-o", dir_ + "/link.png", in_});
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_TRUE(isLink(dir_ + "/link.png"));
  EXPECT_TRUE(isLink(dir_ + "/sub/middle.png"));
  EXPECT_EQ(readFile(dir_ + "/target.png"), reference_);

  // A dangling link makes its target, as a shell's redirection would.
  ASSERT_EQ(symlink("made.png", (dir_ + "/dangling.png").c_str()), 0);
  ASSERT_EQ(image({"-o", dir_ + "/dangling.png", in_}).exitStatus, 0);
  EXPECT_TRUE(isLink(dir_ + "/dangling.png"));
  EXPECT_EQ(readFile(dir_ + "/made.png"), reference_);

  ASSERT_EQ(symlink("loop2.png", (dir_ + "/loop1.png").c_str()), 0);
  ASSERT_EQ(symlink("loop1.png", (dir_ + "/loop2.png").c_str()), 0);
  ProgramResult loop = image({"-o", dir_ + "/loop1.png", in_});
  EXPECT_EQ(loop.exitStatus, 4);
  EXPECT_NE(loop.err.find("Too many levels of symbolic links"), std::string::npos) << loop.err;
}

TEST_F(ImageOutputTest, OpenFilesAndFifosAreWrittenInPlace) {
  // "stdout" is made like /dev/stdout, which a faulty build must not be
  // able to replace on the machine running the tests.
  const std::string stdoutLink = dir_ + "/stdout";
  ASSERT_EQ(symlink("/proc/self/fd/1", stdoutLink.c_str()), 0);
  for (const std::string &name : {stdoutLink, std::string("/dev/fd/1"), std::string("/proc/self/fd/1")}) {
    RunOptions redirected;
    redirected.stdoutPath = dir_ + "/redirected.png";
    writeFile(redirected.stdoutPath, "");
    struct stat before, after;
    ASSERT_EQ(stat(redirected.stdoutPath.c_str(), &before), 0);
    ProgramResult run = image({"-o", name, in_}, redirected);
    EXPECT_EQ(run.exitStatus, 0) << name << ": " << run.err;
    EXPECT_EQ(readFile(redirected.stdoutPath), reference_) << name;
    // The very file standard output was opened on, not a new one in its place.
    ASSERT_EQ(stat(redirected.stdoutPath.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << name;
  }
  EXPECT_TRUE(isLink(stdoutLink));
  // Our own descriptor is written as it stands: appended to, when opened so.
  writeFile(dir_ + "/log", "header\n");
  ProgramResult appended = runProgram(
      "/bin/sh", {"-c", shellCommand(kImage, {"--width", "5", "--height", "4", "--format", "rows",
                                              "-o", "/proc/self/fd/1", in_}) +
                            " >> " + dir_ + "/log"});
  EXPECT_EQ(appended.exitStatus, 0) << appended.err;
  EXPECT_TRUE(readFile(dir_ + "/log") == "header\n" + readFile(in_));
  std::remove((dir_ + "/log").c_str());
  EXPECT_EQ(listing(dir_), "in.rows\nredirected.png\nstdout\n");

  const std::string fifo = dir_ + "/picture.fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  ProgramResult run = image({"-o", fifo, in_});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  std::string received(reference_.size() + 16, '\0');
  const ssize_t got = read(reader, received.data(), received.size());
  close(reader);
  received.resize(got > 0 ? static_cast<size_t>(got) : 0);
  EXPECT_EQ(received, reference_);
  struct stat status;
  ASSERT_EQ(lstat(fifo.c_str(), &status), 0);
  EXPECT_TRUE(S_ISFIFO(status.st_mode));
}

TEST_F(ImageOutputTest, AReplacedFileKeepsItsModeAndOwner) {
  const std::string out = dir_ + "/out.png";
  writeFile(out, "old picture");
  ASSERT_EQ(chmod(out.c_str(), 0600), 0);
  ASSERT_EQ(image({"-o", out, in_}).exitStatus, 0);
  struct stat status;
  ASSERT_EQ(stat(out.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0600u);
  EXPECT_EQ(readFile(out), reference_);
  if (geteuid() != 0) GTEST_SKIP() << "keeping another user's ownership needs root";
  ASSERT_EQ(chown(out.c_str(), kNobody, kNobody), 0);
  ASSERT_EQ(chmod(out.c_str(), 0640), 0);
  ASSERT_EQ(image({"-o", out, in_}).exitStatus, 0);
  ASSERT_EQ(stat(out.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  EXPECT_EQ(status.st_uid, static_cast<uid_t>(kNobody));
  EXPECT_EQ(status.st_gid, static_cast<gid_t>(kNobody));
}

TEST_F(ImageOutputTest, FilesAndFoldersTheUserCannotWriteAreRefused) {
  // Root may overwrite anything; run as an ordinary user where we are root.
  RunOptions user;
  if (geteuid() == 0) {
    user.userId = kNobody;
    ASSERT_EQ(chmod(dir_.c_str(), 0755), 0);
  }
  const std::string mine = dir_ + "/mine";
  ASSERT_EQ(mkdir(mine.c_str(), 0755), 0);
  writeFile(mine + "/read-only.png", "kept");
  writeFile(mine + "/rows", readFile(in_));
  if (geteuid() == 0) {
    for (const std::string &path : {mine, mine + "/read-only.png", mine + "/rows"})
      ASSERT_EQ(chown(path.c_str(), kNobody, kNobody), 0);
  }
  ASSERT_EQ(chmod((mine + "/read-only.png").c_str(), 0444), 0);
  ProgramResult readOnly = image({"-o", mine + "/read-only.png", mine + "/rows"}, user);
  EXPECT_EQ(readOnly.exitStatus, 4);
  EXPECT_NE(readOnly.err.find("read-only.png: Permission denied"), std::string::npos)
      << readOnly.err;
  EXPECT_EQ(readFile(mine + "/read-only.png"), "kept");

  if (geteuid() != 0) GTEST_SKIP() << "a folder the user cannot write needs another user";
  const std::string closed = dir_ + "/closed";
  ASSERT_EQ(mkdir(closed.c_str(), 0755), 0);
  ProgramResult folder = image({"-o", closed + "/new.png", mine + "/rows"}, user);
  EXPECT_EQ(folder.exitStatus, 4);
  EXPECT_NE(folder.err.find("cannot write a file in the folder " + closed + ": Permission denied"),
            std::string::npos)
      << folder.err;
  EXPECT_EQ(listing(closed), "");
}

TEST_F(ImageOutputTest, StickyFoldersAreRespected) {
  if (geteuid() != 0) GTEST_SKIP() << "needs a second user";
  ASSERT_EQ(chmod(dir_.c_str(), 0755), 0);
  const std::string shared = dir_ + "/shared";
  ASSERT_EQ(mkdir(shared.c_str(), 01777), 0);
  ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
  // Another user's file there may be written, but not replaced: refused
  // before any input is read (the input does not exist).
  writeFile(shared + "/theirs.png", "theirs");
  ASSERT_EQ(chmod((shared + "/theirs.png").c_str(), 0666), 0);
  RunOptions nobody;
  nobody.userId = kNobody;
  ProgramResult replace = image({"-o", shared + "/theirs.png", dir_ + "/nowhere.rows"}, nobody);
  EXPECT_EQ(replace.exitStatus, 4);
  EXPECT_NE(replace.err.find("cannot be replaced: Operation not permitted"), std::string::npos)
      << replace.err;
  EXPECT_EQ(readFile(shared + "/theirs.png"), "theirs");
  // Another user's link there is not followed, even by root.
  writeFile(dir_ + "/private", "private");
  ASSERT_EQ(symlink((dir_ + "/private").c_str(), (shared + "/planted.png").c_str()), 0);
  ASSERT_EQ(lchown((shared + "/planted.png").c_str(), kNobody, kNobody), 0);
  ProgramResult follow = image({"-o", shared + "/planted.png", in_});
  EXPECT_EQ(follow.exitStatus, 4);
  EXPECT_NE(follow.err.find("link in a shared folder is not followed"), std::string::npos)
      << follow.err;
  EXPECT_EQ(readFile(dir_ + "/private"), "private");
}

TEST_F(ImageOutputTest, ClosedStreamsAndMissingInputsAreFoundFirst) {
#if defined(QUATDEPTH_TESTS_UNDER_EMULATOR)
  GTEST_SKIP() << "qemu-user opens the program on the lowest free descriptor: a closed "
                  "standard input would read the program itself";
#endif
  const std::string image5x4 = shellCommand(kImage, {"--width", "5", "--height", "4"});
  const struct {
    std::string command;
    int status;
    std::string expected;
  } cases[] = {
      {image5x4 + " -o " + dir_ + "/out.png <&-", 3, "standard input: Bad file descriptor"},
      {image5x4 + " --format rows -o - " + in_ + " >&-", 4, "standard output: Bad file descriptor"},
      {image5x4 + " --format rows -o /proc/self/fd/9 " + in_, 4,
       "/proc/self/fd/9: No such file or directory"},
      // A missing second input is found before the first is read: standard
      // input, a FIFO kept open and empty, never ends here.
      {image5x4 + " -o " + dir_ + "/out.png - " + dir_ + "/nowhere.rows < " + dir_ + "/fifo", 3,
       "nowhere.rows: No such file or directory"},
  };
  ASSERT_EQ(mkfifo((dir_ + "/fifo").c_str(), 0644), 0);
  const int keepOpen = open((dir_ + "/fifo").c_str(), O_RDWR);
  ASSERT_GE(keepOpen, 0);
  for (const auto &c : cases) {
    RunOptions guarded;
    guarded.killAfterMs = 1500;  // a run that waits for input is killed, and fails here
    ProgramResult run = runProgram("/bin/sh", {"-c", c.command}, guarded);
    EXPECT_EQ(run.exitStatus, c.status) << c.command << ": " << run.err;
    EXPECT_NE(run.err.find(c.expected), std::string::npos) << run.err;
  }
  close(keepOpen);
  EXPECT_EQ(listing(dir_), "fifo\nin.rows\n");

  // Without standard error, warnings (rows missing here) must not land in
  // the output file that took its number.
  const std::string rows = readFile(in_).substr(24);
  writeFile(dir_ + "/part.rows", rows);
  ProgramResult noErrors = runProgram(
      "/bin/sh", {"-c", image5x4 + " --format rows -o " + dir_ + "/out.rows " + dir_ +
                            "/part.rows 2>&-"});
  EXPECT_EQ(noErrors.exitStatus, 0);
  EXPECT_TRUE(readFile(dir_ + "/out.rows") == rows);
}

TEST(ImageOutputSignals, SignalsIgnoredAtStartStayIgnored) {
  // As under nohup: the run must not die of a hang-up it was told to ignore.
  TemporaryDirectory directory;
  struct sigaction ignore = {}, previous;
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(sigaction(SIGHUP, &ignore, &previous), 0);
  {
    ImageOutput output;
    std::string error;
    ASSERT_TRUE(output.open(directory.file("out.png"), &error)) << error;
    struct sigaction now;
    ASSERT_EQ(sigaction(SIGHUP, nullptr, &now), 0);
    EXPECT_EQ(now.sa_handler, SIG_IGN);
  }
  sigaction(SIGHUP, &previous, nullptr);
}

TEST_F(ImageOutputTest, OutputProblemsAreFoundBeforeAnyInputIsRead) {
  // The input does not exist: reading it first would exit 3.
  const std::string nowhere = dir_ + "/nowhere.rows";
  ASSERT_EQ(mkdir((dir_ + "/folder.png").c_str(), 0755), 0);
  const struct {
    std::vector<std::string> args;
    int status;
    std::string expected;
  } cases[] = {
      {{"-o", dir_ + "/missing/out.png"}, 4, "cannot write a file in the folder " + dir_ + "/missing"},
      {{"-o", dir_ + "/folder.png"}, 4, "folder.png: Is a directory"},
      {{"-o", dir_ + "/" + std::string(300, 'n') + ".png"}, 4, "File name too long"},
      {{"--width", "0", "-o", dir_ + "/out.png"}, 2, "--width 0"},
      {{"--height", "0", "-o", dir_ + "/out.rows", "--format", "rows"}, 2, "--height 0"},
      {{"--height", "16777217", "-o", dir_ + "/out.png"}, 2, "at most 2^24"},
      {{"--width", "0", "--height", "2147483647", "-o", dir_ + "/out.rows"}, 2, "at most 2^24"},
      {{"--width", "16385", "--height", "16384", "-o", dir_ + "/out.png"}, 2, "at most 2^28 pixels"},
  };
  for (const auto &c : cases) {
    std::vector<std::string> args = c.args;
    args.push_back(nowhere);
    ProgramResult run = image(args);
    EXPECT_EQ(run.exitStatus, c.status) << c.expected << ": " << run.err;
    EXPECT_NE(run.err.find(c.expected), std::string::npos) << run.err;
  }
  // A name as long as the folder allows still works: the temporary name is
  // shorter than it.
  const std::string longest = dir_ + "/" + std::string(251, 'n') + ".png";
  ProgramResult run = image({"-o", longest, in_});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(readFile(longest), reference_);
}

TEST_F(ImageOutputTest, AnInterruptedRunLeavesNoTemporaryFile) {
  // The input is a FIFO that stays open and empty, so the run waits for rows.
  const std::string fifo = dir_ + "/rows.fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  const int keepOpen = open(fifo.c_str(), O_RDWR);
  ASSERT_GE(keepOpen, 0);
  writeFile(dir_ + "/out.png", "old picture");
  std::remove(in_.c_str());
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    RunOptions interrupted;
    interrupted.killAfterMs = 300;
    interrupted.killSignal = signal;
    ProgramResult run = image({"-o", dir_ + "/out.png", fifo}, interrupted);
    EXPECT_EQ(run.signal, signal);
    EXPECT_EQ(listing(dir_), "out.png\nrows.fifo\n") << "signal " << signal;
    EXPECT_EQ(readFile(dir_ + "/out.png"), "old picture");
  }
  close(keepOpen);
}

TEST_F(ImageOutputTest, WriteErrorsNameTheOutputAndTheReason) {
  // A picture larger than any stdio buffer, so the error comes from libpng.
  std::vector<int> rows(100);
  for (int row = 0; row < 100; ++row) rows[static_cast<size_t>(row)] = row;
  uint32_t seed = 6502;
  const std::string noisy =
      encodeRecords(200, rows, [&](int, int) { return (seed = seed * 1103515245 + 12345) >> 20; });
  writeFile(dir_ + "/noisy.rows", noisy);
  for (const std::string format : {"png", "png16", "pgm", "rows"}) {
    ProgramResult run = runProgram(kImage, {"--width", "200", "--height", "100", "--format", format,
                                            "-o", "/dev/full", dir_ + "/noisy.rows"});
    EXPECT_EQ(run.exitStatus, 4) << format;
    EXPECT_NE(run.err.find("/dev/full: No space left on device"), std::string::npos)
        << format << ": " << run.err;
  }
  // Past the file size limit: reported, and nothing is left behind.
  writeFile(dir_ + "/out.pgm", "old picture");
  ProgramResult tooLarge = runProgram(
      "/bin/sh", {"-c", "ulimit -f 8; exec " + shellCommand(kImage, {"--width", "200", "--height",
                                                                     "100", "-o", dir_ + "/out.pgm",
                                                                     dir_ + "/noisy.rows"})});
  EXPECT_EQ(tooLarge.exitStatus, 4);
  EXPECT_NE(tooLarge.err.find("out.pgm: File too large"), std::string::npos) << tooLarge.err;
  EXPECT_EQ(readFile(dir_ + "/out.pgm"), "old picture");
  EXPECT_EQ(listing(dir_), "in.rows\nnoisy.rows\nout.pgm\n");
  // Standard output that is full: a small image fails only when flushed.
  RunOptions full;
  full.stdoutPath = "/dev/full";
  ProgramResult run = image({"-o", "-", "--format", "rows", in_}, full);
  EXPECT_EQ(run.exitStatus, 4);
  EXPECT_NE(run.err.find("No space left on device"), std::string::npos) << run.err;
}

TEST_F(ImageOutputTest, PngsMayBeWiderThanAMillionPixels) {
  const int width = 1000001;
  const std::string stream =
      encodeRecords(width, {0, 1}, [](int x, int row) { return x == 0 ? 7 + row : -1; });
  writeFile(in_, stream);
  for (const std::string format : {"png", "png16"}) {
    ProgramResult run = runProgram(kImage, {"--width", std::to_string(width), "--height", "2",
                                            "--format", format, "-o", dir_ + "/wide.png", in_});
    ASSERT_EQ(run.exitStatus, 0) << format << ": " << run.err;
    const std::string png = readFile(dir_ + "/wide.png");
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(png.substr(12, 12), std::string("IHDR\x00\x0f\x42\x41\x00\x00\x00\x02", 12)) << format;
  }
}

// A 3 x 2 picture from each program, written to the file named last.
struct SmallPicture {
  std::string name, program;
  std::vector<std::string> args;  // the output's name goes after these
  std::string rows;               // what the picture's rows are
};

std::vector<SmallPicture> smallPictures(const TemporaryDirectory &dir) {
  const std::string rows = encodeRecords(3, {0, 1}, [](int x, int y) { return 5 + x + y; });
  writeFile(dir.file("input"), rows);
  return {{"quatdepth-image", kImage, {"--width", "3", "--height", "2", dir.file("input"), "-o"},
           rows},
          {"quatdepth-render", kRender, {"--size", "3x2", "-o"},
           runProgram(kRender, {"--size", "3x2", "--format", "rows", "-o", "-"}).out}};
}

// "0644", say; "none" when there is no such file.
std::string modeOf(const std::string &path) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0) return "none";
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(status.st_mode & 07777));
  return text;
}

TEST(OutputFiles, ANewFileTakesTheUmaskAndAReplacedOneKeepsItsMode) {
  TemporaryDirectory dir;
  const std::string out = dir.file("out.png");
  for (const SmallPicture &p : smallPictures(dir)) {
    std::vector<std::string> args = p.args;
    args.push_back(out);
    for (const auto &[mask, fresh] : {std::pair{077, "0600"}, std::pair{022, "0644"}}) {
      SCOPED_TRACE(p.name + ", umask " + (mask == 077 ? "077" : "022"));
      RunOptions masked;
      masked.fileModeMask = mask;
      std::remove(out.c_str());
      ProgramResult created = runProgram(p.program, args, masked);
      ASSERT_EQ(created.exitStatus, 0) << created.err;
      EXPECT_EQ(modeOf(out), fresh);
      ASSERT_EQ(chmod(out.c_str(), 0640), 0);
      ProgramResult replaced = runProgram(p.program, args, masked);
      ASSERT_EQ(replaced.exitStatus, 0) << replaced.err;
      EXPECT_EQ(modeOf(out), "0640");
    }
  }
}

// What a written file's first bytes say it is.
std::string formatOf(const std::string &bytes, const std::string &rows) {
  if (bytes.rfind("\x89PNG\r\n\x1a\n", 0) == 0 && bytes.size() > 25)
    return "PNG of " + std::to_string(bytes[24]) + "-bit samples, colour type " +
           std::to_string(bytes[25]);
  if (bytes.rfind("P5\n", 0) == 0) return "PGM";
  if (bytes.rfind("\x76\x2f\x31\x01", 0) == 0) return "EXR";
  if (bytes == rows) return "rows";
  return bytes.empty() ? "nothing" : "something else";
}

TEST(OutputFiles, TheExtensionNamesTheFormatAndNeverASixteenBitPng) {
  TemporaryDirectory dir;
  ASSERT_EQ(mkdir(dir.file("folder.png").c_str(), 0755), 0);
#if defined(QUATDEPTH_WITH_OPENEXR)
  const std::string renderedExr = "EXR";
#else
  const std::string renderedExr = "";  // a build without OpenEXR refuses it as such
#endif
  const struct {
    std::string name, byImage, byRender;
  } cases[] = {
      {"out.png", "PNG of 8-bit samples, colour type 0", "PNG of 8-bit samples, colour type 0"},
      {"out.pgm", "PGM", "PGM"},
      {"out.rows", "rows", "rows"},
      {"out.exr", "refused", renderedExr},
      // 16-bit depths only on request: a name is no request.
      {"out.png16", "refused", "refused"},
      {"out.jpg", "refused", "refused"},
      {"out", "refused", "refused"},
      {"folder.png/out", "refused", "refused"},
  };
  for (const SmallPicture &p : smallPictures(dir)) {
    for (const auto &c : cases) {
      SCOPED_TRACE(p.name + " -o " + c.name);
      const std::string expected = p.program == kImage ? c.byImage : c.byRender;
      if (expected.empty()) continue;
      std::vector<std::string> args = p.args;
      args.push_back(dir.file(c.name));
      ProgramResult run = runProgram(p.program, args);
      if (expected == "refused") {
        EXPECT_EQ(run.exitStatus, 2);
        EXPECT_NE(run.err.find("cannot tell the format from"), std::string::npos) << run.err;
      } else {
        EXPECT_EQ(run.exitStatus, 0) << run.err;
      }
      EXPECT_EQ(formatOf(readFile(dir.file(c.name)), p.rows),
                expected == "refused" ? "nothing" : expected);
      std::remove(dir.file(c.name).c_str());
    }
    // Asked for by name, whatever the extension.
    std::vector<std::string> args = p.args;
    args.insert(args.end(), {dir.file("depths.png"), "--format", "png16"});
    ProgramResult run = runProgram(p.program, args);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(formatOf(readFile(dir.file("depths.png")), p.rows),
              "PNG of 16-bit samples, colour type 0")
        << p.name;
  }
}

}  // namespace
}  // namespace quatdepth::testing
