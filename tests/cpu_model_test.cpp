// The built renderer under qemu-user's CPU models, which report fewer
// instruction sets than this machine has: the search path follows what the
// CPU reports, so a mistaken feature name cannot hide behind a CPU that
// has everything.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "run_program.h"

namespace quatdepth::testing {
namespace {

const std::string kProgram = QUATDEPTH_PROGRAM;

// The full path of an executable found on PATH, or "".
std::string findOnPath(const std::string &name) {
  const char *path = std::getenv("PATH");
  std::istringstream folders(path ? path : "");
  for (std::string folder; std::getline(folders, folder, ':');) {
    const std::string candidate = folder + "/" + name;
    if (!folder.empty() && access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

TEST(CpuModels, TheSearchPathFollowsTheFeaturesTheCpuReports) {
#if !defined(__x86_64__)
  GTEST_SKIP() << "qemu's x86-64 CPU models run x86-64 builds only";
#endif
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer's shadow memory does not fit under qemu-user";
#endif
  const std::string qemu = findOnPath("qemu-x86_64");
  if (qemu.empty())
    GTEST_SKIP() << "qemu-x86_64 is not installed (Debian package qemu-user; scripts/install-deps)";

  const std::vector<std::string> view = {
      "-1.2", "-1.2", "-1.2", "1.2", "1.2", "1.2", "-0.1", "0.2", "0.3", "-0.1", "0",
      "0.3",  "0.5",  "0.7",  "9",   "4",   "20",  "5",    "10",  "16",  "0",    "1"};
  const ProgramResult native = runProgram(kProgram, view);
  ASSERT_EQ(native.exitStatus, 0);

  // qemu64: SSE2 only. SandyBridge: AVX but not AVX2. Haswell: AVX2 but
  // not AVX-512. An empty path lets the program choose.
  const struct {
    const char *model, *path;
    int status;
  } cases[] = {{"qemu64", "", 0},        {"SandyBridge", "", 0},
               {"Haswell", "", 0},       {"SandyBridge", "avx2", 2},
               {"Haswell", "avx2", 0},   {"Haswell", "avx512", 2},
               {"qemu64", "avx2", 2},    {"qemu64", "portable8", 0}};
  for (const auto &c : cases) {
    std::vector<std::string> args = {"-cpu", c.model, kProgram};
    args.insert(args.end(), view.begin(), view.end());
    RunOptions options;
    options.environment = {{"QUATDEPTH_SEARCH_PATH", c.path}};
    const ProgramResult run = runProgram(qemu, args, options);
    SCOPED_TRACE(std::string(c.model) + ", QUATDEPTH_SEARCH_PATH '" + c.path + "'");
    EXPECT_EQ(run.exitStatus, c.status) << run.out.substr(0, 200) << run.err.substr(0, 400);
    if (c.status == 0) {
      EXPECT_TRUE(run.out == native.out);
    }
  }
}

}  // namespace
}  // namespace quatdepth::testing
