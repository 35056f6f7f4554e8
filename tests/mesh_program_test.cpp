// quatdepth-mesh as people run it: a mesh admesh finds nothing to fix in,
// the view carried in PLY and OBJ and read back into the same mesh, the
// same bytes on any thread count and on standard output, and the file it
// would replace left as it was whenever a run fails or is stopped.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "run_program.h"

namespace quatdepth::testing {
namespace {

const std::string kMesh = QUATDEPTH_MESH_PROGRAM;
const std::string kRender = QUATDEPTH_RENDER_PROGRAM;

// Workload 2's constant and angles at cap 20: thin parts and many holes.
const std::vector<std::string> kLateEscape = {"--c", "-0.291,-0.399,0.339,0.437", "--angles",
                                              "0.3,0.5,0.7", "--iterations", "20"};

std::vector<std::string> with(std::vector<std::string> a, const std::vector<std::string> &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::string listing(const std::string &folder) {
  return runProgram("/bin/ls", {"-A", folder}).out;
}

// Where a program is installed on the path, or "" when it is not.
std::string programPath(const std::string &name) {
  const ProgramResult found = runProgram("/bin/sh", {"-c", "command -v " + name});
  return found.exitStatus == 0 ? found.out.substr(0, found.out.find('\n')) : "";
}

class MeshProgram : public ::testing::Test {
 protected:
  TemporaryDirectory directory_;
  const std::string dir_ = directory_.path();
};

// admesh, the STL checker printing services' tools are built on, finds no
// edge to fix, no facet backwards or degenerate, and nothing to add or
// remove, on the default view and on one with thin parts and holes.
TEST_F(MeshProgram, AdmeshFindsNothingToFix) {
  const std::string admesh = programPath("admesh");
  if (admesh.empty()) GTEST_SKIP() << "admesh is not installed (scripts/install-deps)";
  for (const auto &view : {std::vector<std::string>{}, kLateEscape}) {
    const std::string stl = dir_ + "/view.stl";
    const ProgramResult run = runProgram(kMesh, with(view, {"--resolution", "56", "-o", stl}));
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    const ProgramResult check = runProgram(admesh, {stl});
    ASSERT_EQ(check.exitStatus, 0) << check.err;
    for (const char *line : {"Degenerate facets", "Edges fixed", "Facets removed", "Facets added",
                             "Facets reversed", "Backwards edges", "Normals fixed",
                             "Facets with 1 disconnected edge", "Total disconnected facets"}) {
      const std::regex zero(std::string(line) + R"( *: *0\b)");
      EXPECT_TRUE(std::regex_search(check.out, zero)) << line << " in\n" << check.out;
    }
    EXPECT_TRUE(std::regex_search(check.out, std::regex(R"(Volume *: *[0-9]*\.[0-9]*[1-9])")));
  }
}

// The view travels in PLY and OBJ: each read back with --params gives the
// same mesh, and quatdepth-render reads it as it reads a picture.
TEST_F(MeshProgram, MeshFilesCarryTheirViewBack) {
  const std::string ply = dir_ + "/view.ply", obj = dir_ + "/view.obj";
  const std::vector<std::string> view = with(kLateEscape, {"--box", "-1,-1.2,-0.9,1.1,1.2,1.2", "--w", "0.05"});
  ASSERT_EQ(runProgram(kMesh, with(view, {"--resolution", "40", "-o", ply})).exitStatus, 0);
  ASSERT_EQ(runProgram(kMesh, with(view, {"--resolution", "40", "-o", obj})).exitStatus, 0);
  const std::string original = readFile(ply);
  ASSERT_EQ(original.rfind("ply\nformat binary_little_endian 1.0\n", 0), 0u);
  EXPECT_NE(original.find("comment quatdepth: c = -0.291,-0.399,0.339,0.437\n"), std::string::npos);
  EXPECT_NE(original.find("comment quatdepth: iterations = 20\n"), std::string::npos);
  EXPECT_NE(readFile(obj).find("# quatdepth: box = -1,-1.2,-0.9,1.1,1.2,1.2\n"), std::string::npos);
  for (const std::string &from : {ply, obj}) {
    SCOPED_TRACE(from);
    const std::string again = dir_ + "/again.ply";
    const ProgramResult run =
        runProgram(kMesh, {"--params", from, "--resolution", "40", "-o", again});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_TRUE(readFile(again) == original);
  }
  // Options after --params override it: a finer mesh of the same view.
  const ProgramResult finer =
      runProgram(kMesh, {"--params", ply, "--resolution", "41", "-o", dir_ + "/finer.ply"});
  ASSERT_EQ(finer.exitStatus, 0) << finer.err;
  EXPECT_FALSE(readFile(dir_ + "/finer.ply") == original);
  const ProgramResult picture = runProgram(
      kRender, {"--params", ply, "--size", "30x20", "-o", dir_ + "/view.png"});
  EXPECT_EQ(picture.exitStatus, 0) << picture.err;
}

// Any thread count, and standard output, give the same bytes.
TEST_F(MeshProgram, ThreadsAndStandardOutputGiveTheSameBytes) {
  const std::vector<std::string> base = with(kLateEscape, {"--resolution", "33"});
  for (const char *format : {"stl", "ply", "obj"}) {
    SCOPED_TRACE(format);
    const std::string one = dir_ + "/one." + format;
    ASSERT_EQ(runProgram(kMesh, with(base, {"--threads", "1", "-o", one})).exitStatus, 0);
    const std::string reference = readFile(one);
    ASSERT_GT(reference.size(), 1000u);
    for (const char *threads : {"2", "3", "0"}) {
      const std::string many = dir_ + "/many." + format;
      ASSERT_EQ(runProgram(kMesh, with(base, {"--threads", threads, "-o", many})).exitStatus, 0);
      EXPECT_TRUE(readFile(many) == reference) << threads << " threads";
    }
    const ProgramResult piped = runProgram(kMesh, with(base, {"--format", format, "-o", "-"}));
    ASSERT_EQ(piped.exitStatus, 0) << piped.err;
    EXPECT_TRUE(piped.out == reference);
  }
}

// Simplified to a budget: at most that many triangles, still what admesh
// accepts; a budget the surface cannot meet is refused.
TEST_F(MeshProgram, MaxTrianglesKeepsTheMeshWhole) {
  const std::string stl = dir_ + "/small.stl";
  const ProgramResult run =
      runProgram(kMesh, {"--resolution", "64", "--max-triangles", "5000", "-o", stl});
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  const std::string bytes = readFile(stl);
  ASSERT_GE(bytes.size(), 84u);
  uint32_t count = 0;
  std::memcpy(&count, bytes.data() + 80, 4);
  EXPECT_LE(count, 5000u);
  EXPECT_GT(count, 4000u);
  EXPECT_EQ(bytes.size(), 84 + size_t{count} * 50);
  if (const std::string admesh = programPath("admesh"); !admesh.empty()) {
    const ProgramResult check = runProgram(admesh, {stl});
    for (const char *line : {"Edges fixed", "Backwards edges", "Degenerate facets", "Facets added"})
      EXPECT_TRUE(std::regex_search(check.out, std::regex(std::string(line) + R"( *: *0\b)")))
          << line << " in\n" << check.out;
  }
}

// Whatever stops a run, the file it would replace is left as it was and
// nothing is left beside it; the status says why.
TEST_F(MeshProgram, TheOldFileStaysWhenARunFails) {
  const std::string kept = dir_ + "/kept.stl";
  const auto fresh = [&] { writeFile(kept, "an older mesh"); };
  const auto untouched = [&](const ProgramResult &run, int status, const std::string &says) {
    EXPECT_EQ(run.exitStatus, status) << run.err;
    EXPECT_NE(run.err.find(says), std::string::npos) << run.err;
    EXPECT_EQ(readFile(kept), "an older mesh");
    EXPECT_EQ(listing(dir_), "kept.stl\n");
  };
  fresh();
  untouched(runProgram(kMesh, {"--resolution", "0", "-o", kept}), 2, "--resolution");
  untouched(runProgram(kMesh, {"--resolution", "10", "--box", "0,0,0,1,1,0", "-o", kept}),
            2, "--box");
  // Nothing of the set in the box: no surface, and no empty file for one.
  untouched(runProgram(kMesh, {"--resolution", "10", "--box", "5,5,5,6,6,6", "-o", kept}),
            1, "no surface");
  untouched(runProgram(kMesh, with(kLateEscape,
                                   {"--resolution", "40", "--max-triangles", "4", "-o", kept})),
            1, "--max-triangles 4");
  // Stopped part way: by the usual signals, and by a kill.
  for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGKILL}) {
    RunOptions stopped;
    stopped.killAfterMs = 300;
    stopped.killSignal = signal;
    const ProgramResult run =
        runProgram(kMesh, {"--resolution", "1200", "-o", kept}, stopped);
    EXPECT_EQ(run.signal, signal) << run.err;
    EXPECT_EQ(readFile(kept), "an older mesh");
    EXPECT_EQ(listing(dir_), "kept.stl\n");
  }
}

// What a run holds is estimated before the sweep and refused when it
// cannot fit, naming a resolution that would: the sweep's planes, and with
// --max-triangles the whole mesh.
TEST_F(MeshProgram, MemoryItCannotHaveIsRefusedBeforeTheSweep) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "address space caps do not mix with the address sanitizer";
#endif
#if defined(QUATDEPTH_TESTS_UNDER_EMULATOR)
  GTEST_SKIP() << "qemu-user takes a guest's address-space cap and enforces none";
#endif
  const std::string kept = dir_ + "/kept.stl";
  writeFile(kept, "an older mesh");
  RunOptions capped;
  capped.addressSpaceMiB = 300;
  for (const std::vector<std::string> &asked :
       {std::vector<std::string>{"--resolution", "20000"},
        std::vector<std::string>{"--resolution", "1000", "--max-triangles", "1000"}}) {
    const ProgramResult run = runProgram(kMesh, with(asked, {"-o", kept}), capped);
    EXPECT_EQ(run.exitStatus, 1) << run.err;
    EXPECT_NE(run.err.find(asked.size() > 2 ? "--max-triangles" : "planes"), std::string::npos)
        << run.err;
    std::smatch found;
    ASSERT_TRUE(std::regex_search(run.err, found, std::regex("--resolution ([0-9]+) would fit")))
        << run.err;
    const int fitting = std::stoi(found[1]);
    EXPECT_GT(fitting, 50);
    EXPECT_LT(fitting, std::stoi(asked[1]));
    EXPECT_EQ(readFile(kept), "an older mesh");
    EXPECT_EQ(listing(dir_), "kept.stl\n");
  }
}

// A box that cuts the set across its depth puts the whole cut, a face of
// the grid, into one slab. Short of memory such a run ends with status 1
// and a message, the old file kept: it never aborts.
TEST_F(MeshProgram, ShortOfMemoryABoxCuttingTheSetEndsWithStatusOne) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "address space caps do not mix with the address sanitizer";
#endif
#if defined(QUATDEPTH_TESTS_UNDER_EMULATOR)
  GTEST_SKIP() << "qemu-user takes a guest's address-space cap and enforces none";
#endif
  const std::string kept = dir_ + "/kept.ply";
  RunOptions capped;
  capped.addressSpaceMiB = 300;
  const std::vector<std::string> thin = {"--box", "-1.2,-1.2,-0.01,1.2,1.2,0.01"};
  for (const char *threads : {"1", "2"}) {
    writeFile(kept, "an older mesh");
    const ProgramResult run = runProgram(
        kMesh, with(thin, {"--threads", threads, "--resolution", "2000", "-o", kept}), capped);
    EXPECT_EQ(run.signal, 0) << run.err;
    EXPECT_EQ(run.exitStatus, 1) << run.err;
    EXPECT_NE(run.err.find("not enough memory"), std::string::npos) << run.err;
    EXPECT_EQ(readFile(kept), "an older mesh");
    EXPECT_EQ(listing(dir_), "kept.ply\n");
  }
}

// Zoomed far in, away from the origin: the mesh is taken from the box's
// centre, so its floats still tell every vertex apart and admesh finds no
// facet folded to a line or a point.
TEST_F(MeshProgram, ADeepZoomKeepsEveryFacet) {
  const std::string admesh = programPath("admesh");
  if (admesh.empty()) GTEST_SKIP() << "admesh is not installed (scripts/install-deps)";
  const std::string stl = dir_ + "/zoom.stl";
  const ProgramResult run = runProgram(
      kMesh, {"--box", "0.1124,-0.3001,-0.9156,0.1126,-0.2999,-0.9154", "--resolution", "100",
              "-o", stl});
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  const ProgramResult check = runProgram(admesh, {stl});
  ASSERT_EQ(check.exitStatus, 0) << check.err;
  for (const char *line : {"Degenerate facets", "Facets removed", "Edges fixed", "Backwards edges"}) {
    const std::regex zero(std::string(line) + R"( *: *0\b)");
    EXPECT_TRUE(std::regex_search(check.out, zero)) << line << " in\n" << check.out;
  }
  EXPECT_TRUE(std::regex_search(check.out, std::regex(R"(Number of facets *: *[1-9][0-9]{3})")))
      << check.out;
}

TEST_F(MeshProgram, DiskFailuresAreReportedAndTheOldFileStays) {
#if defined(QUATDEPTH_TESTS_UNDER_EMULATOR)
  GTEST_SKIP() << "qemu-user's own loader would take the preloaded library too";
#endif
  const std::string kept = dir_ + "/kept.ply";
  for (const std::string calls : {"", "fsync", "rename", "fchmod"}) {
    SCOPED_TRACE(calls);
    writeFile(kept, "an older mesh");
    RunOptions options;
    const char *asan = std::getenv("ASAN_OPTIONS");
    options.environment = {
        {"LD_PRELOAD", QUATDEPTH_FAILING_CALLS_LIBRARY},
        {"QUATDEPTH_FAILING_CALLS", calls},
        {"ASAN_OPTIONS", std::string(asan ? asan : "") + ":verify_asan_link_order=0"}};
    const ProgramResult run =
        runProgram(kMesh, {"--resolution", "20", "-o", kept}, options);
    if (calls.empty()) {
      // The library alone changes nothing.
      EXPECT_EQ(run.exitStatus, 0) << run.err;
      EXPECT_EQ(readFile(kept).rfind("ply\n", 0), 0u);
      continue;
    }
    EXPECT_EQ(run.exitStatus, 4) << run.err;
    EXPECT_NE(run.err.find(kept), std::string::npos) << run.err;
    EXPECT_EQ(readFile(kept), "an older mesh");
    EXPECT_EQ(listing(dir_), "kept.ply\n");
  }
}

}  // namespace
}  // namespace quatdepth::testing
