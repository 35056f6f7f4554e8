// quatdepth-parallel through the real script, GNU parallel and renderer.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "run_program.h"

namespace quatdepth::testing {
namespace {

const std::string kRenderer = QUATDEPTH_PROGRAM;
const std::string kParallel = QUATDEPTH_PARALLEL_SCRIPT;

// quatdepth's first 20 arguments for an 8 x 4 view: records of 36 bytes.
std::vector<std::string> smallView() {
  return {"-1.2", "-1.2", "-1.2", "1.2", "1.2", "1.2", "-0.1", "0.2", "0.3", "-0.1",
          "0",    "0.3",  "0.5",  "0.7", "8",   "4",   "20",   "5",   "10",  "16"};
}

// Records put in the order of their bytes; every record starts with its row.
std::vector<std::string> sortedRecords(const std::string &stream, size_t recordBytes) {
  std::vector<std::string> records;
  for (size_t at = 0; at < stream.size(); at += recordBytes)
    records.push_back(stream.substr(at, recordBytes));
  std::sort(records.begin(), records.end());
  return records;
}

// A renderer that logs its arguments, one line per run that has rows to
// render (not the check of the parameters, which renders none), then fails
// with FAIL_STATUS (default 1) when FAIL_FIRST_ROW names its firstRow, else
// runs the real renderer.
std::string writeLoggingRenderer(const TemporaryDirectory &dir) {
  const std::string path = dir.file("logging-quatdepth");
  writeFile(path, "#!/bin/sh\n"
                  "[ \"${21}\" -lt \"${16}\" ] && echo \"$*\" >> '" + dir.file("runs.log") + "'\n"
                  "if [ \"${FAIL_FIRST_ROW:-}\" = \"${21}\" ]; then\n"
                  "  echo \"row ${21} failed\" >&2\n"
                  "  exit ${FAIL_STATUS:-1}\n"
                  "fi\n"
                  "exec '" + kRenderer + "' \"$@\"\n");
  chmod(path.c_str(), 0755);
  return path;
}

// quatdepth-parallel -j JOBS over `view`, its renderers logged in `dir`.
ProgramResult runLogged(const TemporaryDirectory &dir, const std::string &jobs,
                        const std::vector<std::string> &view) {
  RunOptions logged;
  logged.environment = {{"QUATDEPTH", writeLoggingRenderer(dir)}};
  std::vector<std::string> args = {"-j", jobs};
  args.insert(args.end(), view.begin(), view.end());
  return runProgram(kParallel, args, logged);
}

std::vector<std::string> lines(const std::string &text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

TEST(ParallelScript, HelpIsAnAnswerAndAnAbsurdJobCountIsRefusedAtOnce) {
  for (const char *option : {"-h", "--help"}) {
    ProgramResult help = runProgram(kParallel, {option});
    EXPECT_EQ(help.exitStatus, 0) << option;
    EXPECT_NE(help.out.find("quatdepth-parallel [-j N]"), std::string::npos) << help.out;
    EXPECT_EQ(help.err, "") << option;
  }
  EXPECT_EQ(runProgram(kParallel, {"-j", ""}).exitStatus, 2);
  ProgramResult unknown = runProgram(kParallel, {"-x"});
  EXPECT_EQ(unknown.exitStatus, 2);
  EXPECT_NE(unknown.err.find("unknown option -x"), std::string::npos) << unknown.err;
  // Capped, and with no renderer to run, so that if the refusal is lost a
  // list of four billion jobs cannot eat the machine.
  TemporaryDirectory dir;
  RunOptions capped;
  capped.addressSpaceMiB = 512;
  capped.environment = {{"QUATDEPTH", dir.file("nonexistent")}};
  for (const char *jobs : {"4294967296", "65537", "99999999999999999999"}) {
    ProgramResult refused = runProgram(kParallel, {"-j", jobs}, capped);
    EXPECT_EQ(refused.exitStatus, 2) << jobs;
    EXPECT_NE(refused.err.find("at most 65536"), std::string::npos) << refused.err;
    EXPECT_EQ(refused.out, "") << jobs;
  }
  // The largest count is let through (to the missing renderer).
  ProgramResult largest = runProgram(kParallel, {"-j", "65536"}, capped);
  EXPECT_EQ(largest.err.find("at most 65536"), std::string::npos) << largest.err;
}

TEST(ParallelScript, NoMoreJobsThanRowsAndTheSameRecordsAsOneRun) {
  TemporaryDirectory dir;
  const ProgramResult single = runProgram(kRenderer, smallView());
  ASSERT_EQ(single.exitStatus, 0);
  ASSERT_EQ(single.out.size(), 4u * 36);

  ProgramResult run = runLogged(dir, "50", smallView());
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_TRUE(sortedRecords(run.out, 36) == sortedRecords(single.out, 36));
  // One renderer per row: firstRow 0 to 3, each with rowStep 4.
  const std::vector<std::string> runs = lines(readFile(dir.file("runs.log")));
  EXPECT_EQ(runs.size(), 4u);
  for (const std::string &line : runs) EXPECT_TRUE(line.ends_with(" 4")) << line;
}

// quatdepth's first 20 arguments for an 8 x 20 view.
std::vector<std::string> tallView() {
  std::vector<std::string> view = smallView();
  view[15] = "20";
  return view;
}

TEST(ParallelScript, MoreSlicesThanSlotsSoFreeSlotsTakeTheNext) {
  TemporaryDirectory dir;
  ProgramResult run = runLogged(dir, "2", tallView());
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_TRUE(sortedRecords(run.out, 36) == sortedRecords(runProgram(kRenderer, tallView()).out, 36));
  // Two slots, eight interleaved slices: firstRow 0 to 7, each rowStep 8.
  std::vector<std::string> runs = lines(readFile(dir.file("runs.log")));
  std::sort(runs.begin(), runs.end());
  ASSERT_EQ(runs.size(), 8u);
  for (size_t k = 0; k < runs.size(); ++k)
    EXPECT_TRUE(runs[k].ends_with(" " + std::to_string(k) + " 8")) << runs[k];
}

// The records of `rows` taken from one full run of the 8 x 20 view.
std::string recordsOf(const std::vector<int> &rows) {
  static const std::string full = runProgram(kRenderer, tallView()).out;
  std::string records;
  for (int row : rows) records += full.substr(static_cast<size_t>(row) * 36, 36);
  return records;
}

TEST(ParallelScript, RowsFromAListRenderExactlyThoseRows) {
  TemporaryDirectory dir;
  RunOptions logged;
  logged.environment = {{"QUATDEPTH", writeLoggingRenderer(dir)}};
  std::vector<std::string> args = {"-j", "1", "--rows", dir.file("rows")};
  for (const std::string &word : tallView()) args.push_back(word);

  // A progression to the last row, single rows (one listed twice), rows
  // that pair up only by stealing from the progression, and a leading 0.
  writeFile(dir.file("rows"), "3\n7\n11\n15\n19\n0\n5\n05\n1\n12\n");
  ProgramResult run = runProgram(kParallel, args, logged);
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_TRUE(sortedRecords(run.out, 36) == sortedRecords(recordsOf({0, 1, 3, 5, 7, 11, 12, 15, 19}), 36));
  const std::vector<std::string> runs = lines(readFile(dir.file("runs.log")));
  EXPECT_NE(std::find_if(runs.begin(), runs.end(),
                         [](const std::string &line) { return line.ends_with(" 3 4"); }),
            runs.end())
      << "3, 7, 11, 15, 19 are not one run";
  EXPECT_LE(runs.size(), 5u);

  // A resumed slice from standard input: the tail of firstRow 2, rowStep 3.
  RunOptions fromInput;
  writeFile(dir.file("tail"), "17\n8\n11\n14\n");
  fromInput.stdinPath = dir.file("tail");
  args[3] = "-";
  run = runProgram(kParallel, args, fromInput);
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_TRUE(sortedRecords(run.out, 36) == sortedRecords(recordsOf({8, 11, 14, 17}), 36));

  // An empty list renders nothing; a bad line renders nothing at all.
  writeFile(dir.file("rows"), "");
  args = {"--rows", dir.file("rows")};
  for (const std::string &word : tallView()) args.push_back(word);
  run = runProgram(kParallel, args);
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.out, "");
  for (const char *bad : {"3\n20\n", "3\n-1\n", "3\nx\n", "3\n\n4\n", "2.0\n", " 4\n",
                          "99999999999999999999\n"}) {
    writeFile(dir.file("rows"), bad);
    run = runProgram(kParallel, args);
    EXPECT_EQ(run.exitStatus, 2) << bad;
    EXPECT_EQ(run.out, "") << bad;
    EXPECT_NE(run.err.find("row list"), std::string::npos) << run.err;
  }
  // A line from a file written on Windows: the carriage return is shown.
  writeFile(dir.file("rows"), "3\r\n");
  EXPECT_NE(runProgram(kParallel, args).err.find("\"3\\r\""), std::string::npos);
  writeFile(dir.file("rows"), "3\n");
  args[1] = dir.file("nonexistent");
  EXPECT_EQ(runProgram(kParallel, args).exitStatus, 2);
}

TEST(ParallelScript, AFailedRendererStopsTheRunWithItsOwnStatus) {
  TemporaryDirectory dir;
  std::vector<std::string> args = {"-j", "2"};
  for (const std::string &word : smallView()) args.push_back(word);

  RunOptions missing;
  missing.environment = {{"QUATDEPTH", dir.file("nonexistent")}};
  EXPECT_EQ(runProgram(kParallel, args, missing).exitStatus, 127);

  RunOptions oneJobFails;
  oneJobFails.environment = {{"QUATDEPTH", writeLoggingRenderer(dir)}, {"FAIL_FIRST_ROW", "1"}};
  ProgramResult run = runProgram(kParallel, args, oneJobFails);
  EXPECT_NE(run.exitStatus, 0);
  std::vector<std::string> runs = lines(readFile(dir.file("runs.log")));
  EXPECT_NE(std::find_if(runs.begin(), runs.end(),
                         [](const std::string &line) { return line.ends_with(" 1 4"); }),
            runs.end())
      << "the failing job never ran";

  // One job at a time, the first slice fails: no other slice starts, and
  // the run ends with the renderer's status (3, which no count of failed
  // jobs among four would give) and its message.
  std::remove(dir.file("runs.log").c_str());
  args[1] = "1";
  oneJobFails.environment.back() = {"FAIL_FIRST_ROW", "0"};
  oneJobFails.environment.push_back({"FAIL_STATUS", "3"});
  run = runProgram(kParallel, args, oneJobFails);
  EXPECT_EQ(run.exitStatus, 3) << run.err;
  EXPECT_NE(run.err.find("row 0 failed"), std::string::npos) << run.err;
  runs = lines(readFile(dir.file("runs.log")));
  ASSERT_EQ(runs.size(), 1u) << "slices ran after one failed";
  EXPECT_TRUE(runs[0].ends_with(" 0 4")) << runs[0];
}

// Mistakes found before any job runs, each with a message that names it.
TEST(ParallelScript, RefusalsComeBeforeAnyJobWithTheirReasonOnStandardError) {
  TemporaryDirectory dir;
  RunOptions logged;
  logged.environment = {{"QUATDEPTH", writeLoggingRenderer(dir)}};
  writeFile(dir.file("rows"), "3\n");
  std::vector<std::string> refusedView = tallView();
  refusedView[17] = "0";  // fineSteps
  std::vector<std::string> quirkyHeight = tallView();
  quirkyHeight[15] = "2e1";  // quatdepth reads 731, not 20
  const auto with = [](std::vector<std::string> first, const std::vector<std::string> &view) {
    first.insert(first.end(), view.begin(), view.end());
    return first;
  };
  const std::vector<std::pair<std::vector<std::string>, std::string>> mistakes = {
      // The renderer's own message, which a job would have put among the
      // records on standard output.
      {with({"-j", "2"}, refusedView), "quatdepth: fineSteps is 0, but it must be at least 1\n"},
      {with({"--rows", dir.file("rows")}, refusedView), "fineSteps is 0"},
      // An empty name is not taken for no list at all (the whole image).
      {with({"--rows", ""}, tallView()), "--rows needs a file name"},
      {with({"--rows="}, tallView()), "--rows needs a file name"},
      // A list's rows are checked against a height read as plain digits.
      {with({"--rows", dir.file("rows")}, quirkyHeight), "height (argument 16) as plain digits"},
  };
  for (const auto &[arguments, message] : mistakes) {
    std::remove(dir.file("runs.log").c_str());
    const ProgramResult run = runProgram(kParallel, arguments, logged);
    EXPECT_EQ(run.exitStatus, 2) << message;
    EXPECT_EQ(run.out.size(), 0u) << message << ": bytes on standard output";
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    EXPECT_EQ(readFile(dir.file("runs.log")), "") << message;
  }
}

// GNU parallel's -j holds for every host alike, so this machine's core
// count, the default here, must not reach hosts given with -S: without -j
// each runs one job per CPU of its own, which parallel finds out there.
// A parallel that only records its arguments and the renderings it is
// given comes first on the PATH.
TEST(ParallelScript, HostsRunOneJobPerCpuOfTheirOwnUnlessToldOtherwise) {
  TemporaryDirectory dir;
  writeFile(dir.file("parallel"), "#!/bin/sh\n"
                                  "printf '%s\\n' \"$@\" > '" + dir.file("arguments") + "'\n"
                                  "for last; do :; done\n"
                                  "cat \"$last\" > '" + dir.file("renderings") + "'\n");
  chmod(dir.file("parallel").c_str(), 0755);
  RunOptions fake;
  fake.environment = {{"PATH", dir.path() + ":" + (getenv("PATH") ? getenv("PATH") : "")}};
  auto run = [&](std::vector<std::string> args) {
    std::remove(dir.file("arguments").c_str());
    for (const std::string &word : tallView()) args.push_back(word);
    const ProgramResult result = runProgram(kParallel, args, fake);
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    return lines(readFile(dir.file("arguments")));
  };
  const auto has = [](const std::vector<std::string> &words, const std::string &option,
                      const std::string &value) {
    for (size_t k = 0; k + 1 < words.size(); ++k)
      if (words[k] == option && words[k + 1] == value) return true;
    return false;
  };

  std::vector<std::string> arguments = run({"-S", "alpha,beta"});
  EXPECT_TRUE(has(arguments, "-S", "alpha,beta"));
  EXPECT_EQ(std::count(arguments.begin(), arguments.end(), "-j"), 0)
      << "a job count is imposed on the hosts";

  // A host said to have 3 CPUs runs 3 jobs, and the image is cut for them.
  arguments = run({"-S", "3/alpha"});
  EXPECT_EQ(std::count(arguments.begin(), arguments.end(), "-j"), 0)
      << "a job count is imposed on the host";
  EXPECT_EQ(lines(readFile(dir.file("renderings"))).size(), 4u * 3);

  // Told, each host runs that many.
  EXPECT_TRUE(has(run({"-j", "3", "-S", "alpha,beta"}), "-j", "3"));
}

}  // namespace
}  // namespace quatdepth::testing
