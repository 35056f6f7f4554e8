// quatdepth-mesh's options: the view parameters as quatdepth-render reads
// them, the mesh's own limits, and the view carried by pictures and meshes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mesh/mesh_request.h"
#include "request/parameter_files.h"
#include "request/parameter_text.h"
#include "request/parameters.h"
#include "request/render_request.h"
#include "run_program.h"

namespace quatdepth::testing {
namespace {

const std::string kRender = QUATDEPTH_RENDER_PROGRAM;

struct Parsed {
  int status = -1;
  MeshRequest request;
  std::string error;
};

// The arguments as quatdepth-mesh takes them, --params files read.
Parsed parseMesh(const std::vector<std::string> &arguments) {
  Parsed parsed;
  CommandWords command;
  parsed.status = commandWords(arguments, &command, &parsed.error);
  if (parsed.status < 0) parsed.status = parseMeshWords(command, &parsed.request, &parsed.error);
  return parsed;
}

// The same arguments as quatdepth-render takes them.
RenderRequest parseRender(const std::vector<std::string> &arguments) {
  CommandWords command;
  std::string error;
  RenderRequest request;
  int status = commandWords(arguments, &command, &error);
  if (status < 0) status = parseRenderWords(command, &request, &error);
  EXPECT_EQ(status, -1) << error;
  return request;
}

std::vector<std::string> plus(std::vector<std::string> a, const std::vector<std::string> &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const std::vector<std::string> kMeshBasics = {"--resolution", "8", "-o", "out.ply"};

// A view unlike the defaults in every view parameter.
const std::vector<std::string> kView = {
    "--box",        "-1.5,-1.25,-1,1.5,1.25,1.0", "--c",       "-0.2,0.6,0.2,0.05",
    "--w",          "0.125",                      "--angles",  "0.3,-0.2,0.7",
    "--iterations", "17",                         "--bailout", "6"};

// The view's values, derived ones included, and every other parameter
// left at its default.
void expectView(const Frame &mesh, const Frame &rendered) {
  EXPECT_EQ(viewParameterText(mesh), viewParameterText(rendered));
  EXPECT_EQ(mesh.settings.xMin, rendered.settings.xMin);
  EXPECT_EQ(mesh.settings.juliaC[3], rendered.settings.juliaC[3]);
  EXPECT_EQ(mesh.settings.maxIterations, rendered.settings.maxIterations);
  // Derived once every text is read: the sines of the turned view.
  EXPECT_EQ(mesh.settings.sinA, rendered.settings.sinA);
  EXPECT_EQ(mesh.settings.cosC, rendered.settings.cosC);
  const Frame defaults = defaultFrame();
  for (const Parameter &parameter : kParameters) {
    if (!parameter.view) {
      EXPECT_EQ(parameterValue(parameter, mesh), parameterValue(parameter, defaults))
          << parameter.key;
    }
  }
}

TEST(MeshRequest, TheViewOptionsReadAsQuatdepthRendersDo) {
  const Parsed parsed = parseMesh(plus(kView, kMeshBasics));
  ASSERT_EQ(parsed.status, -1) << parsed.error;
  expectView(parsed.request.view, parseRender(plus(kView, {"-o", "x.png"})).parameters);
  EXPECT_NE(viewParameterText(parsed.request.view), viewParameterText(defaultFrame()));
  EXPECT_EQ(parsed.request.resolution, 8);
  EXPECT_EQ(parsed.request.refine, 6);
  EXPECT_EQ(parsed.request.maxTriangles, 0);
  EXPECT_EQ(parsed.request.threads, 0);
  EXPECT_EQ(parsed.request.output, "out.ply");
}

TEST(MeshRequest, EachLimitIsTakenAtItsEdgesAndRefusedBeyond) {
  const struct {
    const char *option;
    const char *value;
    const char *refusal;  // null: taken
  } cases[] = {
      {"--resolution", "0", "--resolution 0: give 1 to 65536"},
      {"--resolution", "1", nullptr},
      {"--resolution", "65536", nullptr},
      {"--resolution", "65537", "--resolution 65537: give 1 to 65536"},
      {"--resolution", "99999999999999999999",
       "--resolution 99999999999999999999: give 1 to 65536"},
      {"--resolution", "8x", "--resolution '8x': give a whole number, 1 to 65536"},
      {"--refine", "-1", "--refine -1: give 0 to 40"},
      {"--refine", "0", nullptr},
      {"--refine", "40", nullptr},
      {"--refine", "41", "--refine 41: give 0 to 40"},
      {"--max-triangles", "3", "--max-triangles 3: give 4 to 4294967295"},
      {"--max-triangles", "4", nullptr},
      {"--max-triangles", "4294967295", nullptr},
      {"--max-triangles", "4294967296", "--max-triangles 4294967296: give 4 to 4294967295"},
      {"--threads", "-1", "--threads -1: give 1 to 1024, or 0 for every core"},
      {"--threads", "0", nullptr},
      {"--threads", "1024", nullptr},
      {"--threads", "1025", "--threads 1025: give 1 to 1024, or 0 for every core"},
  };
  for (const auto &c : cases) {
    // --resolution is given first, so the case's own value is the one taken.
    const Parsed parsed = parseMesh({"--resolution", "8", c.option, c.value, "-o", "m.stl"});
    if (!c.refusal) {
      ASSERT_EQ(parsed.status, -1) << c.option << " " << c.value << ": " << parsed.error;
      const std::string option = c.option;
      const int64_t taken = option == "--resolution"  ? parsed.request.resolution
                            : option == "--refine"    ? parsed.request.refine
                            : option == "--threads"   ? parsed.request.threads
                                                      : parsed.request.maxTriangles;
      EXPECT_EQ(std::to_string(taken), c.value) << c.option;
    } else {
      EXPECT_EQ(parsed.status, kRenderUsage) << c.option << " " << c.value;
      EXPECT_EQ(parsed.error, c.refusal);
    }
  }
}

TEST(MeshRequest, TheOutputAndTheResolutionAreRequired) {
  Parsed parsed = parseMesh({"--resolution", "8"});
  EXPECT_EQ(parsed.status, kRenderUsage);
  EXPECT_EQ(parsed.error, "give -o FILE; see --help");
  parsed = parseMesh({"-o", "m.stl"});
  EXPECT_EQ(parsed.status, kRenderUsage);
  EXPECT_EQ(parsed.error,
            "give --resolution N, the cells along the box's longest edge; see --help");
}

TEST(MeshRequest, TheFormatIsTheExtensionsUnlessGiven) {
  const struct {
    std::vector<std::string> options;
    MeshFormat format;
  } taken[] = {
      {{"-o", "a.stl"}, MeshFormat::kStl},
      {{"-o", "dir.ply/a.obj"}, MeshFormat::kObj},
      {{"-o", "a.ply"}, MeshFormat::kPly},
      {{"-o", "a.ply", "--format", "obj"}, MeshFormat::kObj},
      {{"-o", "-", "--format", "ply"}, MeshFormat::kPly},
      {{"-o", "mesh", "--format", "stl"}, MeshFormat::kStl},
  };
  for (const auto &t : taken) {
    const Parsed parsed = parseMesh(plus({"--resolution", "4"}, t.options));
    ASSERT_EQ(parsed.status, -1) << t.options[1] << ": " << parsed.error;
    EXPECT_EQ(parsed.request.format, t.format) << t.options[1];
  }
  // quatdepth-render tells a format by its extension in lower case only.
  for (const char *output : {"-", "a.PLY", "a.png", "a", "a.stl/b"}) {
    const Parsed parsed = parseMesh({"--resolution", "4", "-o", output});
    EXPECT_EQ(parsed.status, kRenderUsage) << output;
    EXPECT_EQ(parsed.error, std::string("cannot tell the format from '") + output +
                                "': give --format stl, ply or obj");
  }
  const Parsed parsed = parseMesh({"--resolution", "4", "-o", "a.ply", "--format", "png"});
  EXPECT_EQ(parsed.status, kRenderUsage);
  EXPECT_EQ(parsed.error, "--format 'png': use stl, ply or obj");
}

TEST(MeshRequest, ABadViewValueIsRefusedAsQuatdepthRenderRefusesIt) {
  for (const std::vector<std::string> &bad :
       std::vector<std::vector<std::string>>{{"--c", "1,2"},
                                             {"--angles", "9007199254740992,0,0"},
                                             {"--iterations", "many"},
                                             {"--box", ""}}) {
    const Parsed mesh = parseMesh(plus(bad, kMeshBasics));
    RenderRequest request;
    std::string renderRefusal;
    EXPECT_EQ(parseRenderArguments(plus(bad, {"-o", "x.png"}), &request, &renderRefusal),
              kRenderUsage);
    EXPECT_EQ(mesh.status, kRenderUsage) << bad[0];
    EXPECT_EQ(mesh.error, renderRefusal);
    EXPECT_EQ(mesh.error.rfind(bad[0], 0), 0u) << mesh.error;
  }
}

TEST(MeshRequest, ARenderOptionIsUnknownOnTheCommandLine) {
  for (const std::vector<std::string> &extra : std::vector<std::vector<std::string>>{
           {"--size", "10x10"}, {"--search=nearest"}, {"--occlusion"}, {"--frames", "2"},
           {"--animate", "w=0:1"}, {"--print-args"}}) {
    const Parsed parsed = parseMesh(plus(extra, kMeshBasics));
    EXPECT_EQ(parsed.status, kRenderUsage) << extra[0];
    EXPECT_NE(parsed.error.find(extra[0]), std::string::npos) << parsed.error;
    EXPECT_TRUE(parsed.error.ends_with("; see --help")) << parsed.error;
  }
}

TEST(MeshRequest, KeysAreRefusedBeforeTheirFileIsRead) {
  const char *argv[] = {"quatdepth-mesh", "--keyframes", "/nonexistent/keys", "--resolution",
                        "4", "-o", "m.ply"};
  MeshRequest request;
  ::testing::internal::CaptureStderr();
  const int status = parseMeshOptions(static_cast<int>(std::size(argv)), argv, &request);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(status, kRenderUsage);
  EXPECT_EQ(err.rfind("quatdepth-mesh: --keyframes: quatdepth-mesh makes one mesh a run", 0), 0u)
      << err;
  // And a command whose keys were read all the same.
  TemporaryDirectory dir;
  writeFile(dir.file("keys"), "[frame 0]\nw = 0\n[frame 3]\nw = 1\n");
  const Parsed parsed = parseMesh(plus({"--keyframes", dir.file("keys")}, kMeshBasics));
  EXPECT_EQ(parsed.status, kRenderUsage);
  EXPECT_EQ(parsed.error.rfind("--keyframes: ", 0), 0u) << parsed.error;
}

TEST(MeshRequest, TheCommandLineSaysWhatIsWrongOnStandardError) {
  MeshRequest request;
  const char *unreadable[] = {"quatdepth-mesh", "--params", "/nonexistent/view.png",
                              "--resolution", "4", "-o", "m.ply"};
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(parseMeshOptions(static_cast<int>(std::size(unreadable)), unreadable, &request),
            kRenderCannotRead);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "quatdepth-mesh: /nonexistent/view.png: No such file or directory\n");
  const char *fine[] = {"quatdepth-mesh", "--w", "0.5", "--resolution", "4", "-o", "m.obj"};
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(parseMeshOptions(static_cast<int>(std::size(fine)), fine, &request), -1);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(request.format, MeshFormat::kObj);
  EXPECT_EQ(request.view.settings.wSlice, 0.5);
}

TEST(MeshRequest, HelpListsTheViewOptionsWithTheirDefaultsAndNoPictureOptions) {
  const char *argv[] = {"quatdepth-mesh", "--help"};
  MeshRequest request;
  ::testing::internal::CaptureStdout();
  const int status = parseMeshOptions(2, argv, &request);
  const std::string help = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(status, kRenderSuccess);
  for (const Parameter &parameter : kParameters) {
    const bool listed = help.find(std::string("--") + parameter.key + " ") != std::string::npos;
    EXPECT_EQ(listed, parameter.view) << parameter.key << "\n" << help;
    if (parameter.view) {
      EXPECT_NE(help.find(parameterHelp(parameter).substr(0, 30)), std::string::npos)
          << parameter.key;
    }
  }
  for (const char *option : {"--resolution", "--refine", "--max-triangles", "--threads",
                             "--format", "--params", "--output"})
    EXPECT_NE(help.find(option), std::string::npos) << option;
  EXPECT_EQ(help.find("--keyframes"), std::string::npos);
}

// A picture's parameters hold its size, look and search too: a mesh takes
// its view and leaves the rest.
TEST(MeshRequest, APicturesViewIsTakenAndTheRestOfItsParametersLeft) {
  TemporaryDirectory dir;
  const std::string picture = dir.file("view.png");
  const ProgramResult made = runProgram(
      kRender, plus(kView, {"--size", "6x4", "--coarse", "20", "--search", "nearest", "--look",
                            "depth", "--occlusion", "--supersample", "2", "-o", picture}));
  ASSERT_EQ(made.exitStatus, 0) << made.err;
  const Parsed parsed = parseMesh(plus({"--params", picture}, kMeshBasics));
  ASSERT_EQ(parsed.status, -1) << parsed.error;
  expectView(parsed.request.view, parseRender({"--params", picture, "-o", "x.png"}).parameters);
  // Later options override the file's, as quatdepth-render's do.
  const Parsed later = parseMesh(plus({"--params", picture, "--w", "0.25"}, kMeshBasics));
  ASSERT_EQ(later.status, -1) << later.error;
  EXPECT_EQ(later.request.view.settings.wSlice, 0.25);
  EXPECT_EQ(later.request.view.settings.maxIterations, 17);
}

TEST(MeshRequest, AParameterFilesEmptyRenderValueIsSkippedAndAViewValueRefusedWithItsLine) {
  TemporaryDirectory dir;
  writeFile(dir.file("view.txt"), "size =\nsearch = nearest\nw = 0.75\n");
  Parsed parsed = parseMesh(plus({"--params", dir.file("view.txt")}, kMeshBasics));
  ASSERT_EQ(parsed.status, -1) << parsed.error;
  EXPECT_EQ(parsed.request.view.settings.wSlice, 0.75);
  EXPECT_EQ(parsed.request.view.search, kDefaultDepthSearch);

  writeFile(dir.file("bad.txt"), "size = 4x4\n\nc = 1,2\n");
  parsed = parseMesh(plus({"--params", dir.file("bad.txt")}, kMeshBasics));
  EXPECT_EQ(parsed.status, kRenderUsage);
  EXPECT_EQ(parsed.error, dir.file("bad.txt") +
                              ", line 3: --c '1,2': give 4 numbers separated by commas, as "
                              "ordinary decimals");
  // A limit's refusal names the line that set the value too.
  writeFile(dir.file("turned.txt"), "iterations = 4\nangles = 0,9007199254740992,0\n");
  parsed = parseMesh(plus({"--params", dir.file("turned.txt")}, kMeshBasics));
  EXPECT_EQ(parsed.status, kRenderUsage);
  EXPECT_EQ(parsed.error.rfind(dir.file("turned.txt") + ", line 2: --angles: angle B is ", 0),
            0u)
      << parsed.error;
}

// A PLY header as quatdepth-mesh writes one: the view's lines as comments,
// then a binary body that must not be read as text.
std::string plyWith(const std::string &comments, const std::string &lineEnd = "\n") {
  std::string header = "ply" + lineEnd + "format binary_little_endian 1.0" + lineEnd +
                       "comment made by hand" + lineEnd + comments +
                       "element vertex 3" + lineEnd + "property float x" + lineEnd +
                       "end_header" + lineEnd;
  return header + std::string("\x00\x80\xff\n box = 1\n", 12) + std::string(36, '\xff');
}

std::string commented(const std::string &marker, const std::string &text,
                      const std::string &lineEnd = "\n") {
  std::string lines;
  size_t at = 0;
  for (size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
    lines += marker + kMeshParameterPrefix + text.substr(at, end - at) + lineEnd;
  return lines;
}

TEST(MeshRequest, AMeshCarriesItsViewToBothPrograms) {
  const Frame view = parseRender(plus(kView, {"-o", "x.png"})).parameters;
  const std::string text = viewParameterText(view);
  TemporaryDirectory dir;
  writeFile(dir.file("view.ply"), plyWith(commented("comment ", text)));
  writeFile(dir.file("crlf.ply"), plyWith(commented("comment ", text, "\r\n"), "\r\n"));
  writeFile(dir.file("view.obj"), "# quatdepth-mesh\n" + commented("# ", text) +
                                      "# 3 vertices\n\nv 0 0 0\n# quatdepth: w = 9\n");
  for (const char *name : {"view.ply", "crlf.ply", "view.obj"}) {
    const Parsed parsed = parseMesh(plus({"--params", dir.file(name)}, kMeshBasics));
    ASSERT_EQ(parsed.status, -1) << name << ": " << parsed.error;
    expectView(parsed.request.view, view);
    expectView(parseRender({"--params", dir.file(name), "-o", "x.png"}).parameters, view);
  }
  // A refusal names the file's own line.
  writeFile(dir.file("bad.ply"), plyWith("comment quatdepth: w = 0\ncomment quatdepth: c = 1\n"));
  const Parsed parsed = parseMesh(plus({"--params", dir.file("bad.ply")}, kMeshBasics));
  EXPECT_EQ(parsed.status, kRenderUsage);
  EXPECT_EQ(parsed.error.rfind(dir.file("bad.ply") + ", line 5: --c '1': ", 0), 0u)
      << parsed.error;
}

TEST(MeshRequest, ViewParameterTextIsTheViewsLinesOfTheParameterText) {
  const Frame view = parseRender(plus(kView, {"--size", "3x3", "-o", "x.png"})).parameters;
  std::string expected;
  size_t at = 0;
  const std::string all = parameterText(view);
  for (size_t end; (end = all.find('\n', at)) != std::string::npos; at = end + 1) {
    const std::string line = all.substr(at, end - at + 1);
    if (parameterOf(line.substr(0, line.find(' ')))->view) expected += line;
  }
  EXPECT_EQ(viewParameterText(view), expected);
  EXPECT_EQ(viewParameterText(view).find("size"), std::string::npos);
  EXPECT_NE(viewParameterText(view).find("bailout = 6\n"), std::string::npos);
}

TEST(MeshRequest, AMeshWithoutParametersOrWithoutItsHeaderEndIsRefused) {
  TemporaryDirectory dir;
  const struct {
    const char *name;
    std::string bytes;
    std::string refusal;
  } cases[] = {
      {"none.ply", plyWith("comment quatdepth is not here\n"),
       ": a PLY without quatdepth's parameters (its header has no 'comment quatdepth: ' "
       "lines)"},
      {"open.ply", "ply\ncomment quatdepth: w = 0\nelement vertex 0\n",
       ": a PLY header without end_header"},
      {"long.ply",
       "ply\ncomment quatdepth: w = 0\n" + std::string(size_t{2} << 20, 'x') +
           "\nend_header\n",
       ": a PLY header longer than 1 MiB (no end_header within it)"},
      {"none.obj", "# a cube\nv 0 0 0\n# quatdepth: w = 0\n",
       ": an OBJ without quatdepth's parameters (no '# quatdepth: ' lines at its start)"},
      {"long.obj", "# quatdepth: w = 0\n" + std::string(size_t{2} << 20, '#'),
       ": an OBJ whose comments at its start run past 1 MiB"},
  };
  for (const auto &c : cases) {
    writeFile(dir.file(c.name), c.bytes);
    const Parsed parsed = parseMesh(plus({"--params", dir.file(c.name)}, kMeshBasics));
    EXPECT_EQ(parsed.status, kRenderCannotRead) << c.name;
    EXPECT_EQ(parsed.error, dir.file(c.name) + c.refusal);
  }
  // The header alone is read: a body far past the bound is never reached.
  writeFile(dir.file("big.ply"), plyWith("comment quatdepth: w = 0.5\n") +
                                     std::string(size_t{20} << 20, '\0'));
  const Parsed parsed = parseMesh(plus({"--params", dir.file("big.ply")}, kMeshBasics));
  ASSERT_EQ(parsed.status, -1) << parsed.error;
  EXPECT_EQ(parsed.request.view.settings.wSlice, 0.5);
}

// An STL's 80-byte header has no room for parameters: it is refused by
// its name, before its bytes could be shown as a text that is not them.
TEST(MeshRequest, AnStlIsRefusedPlainly) {
  TemporaryDirectory dir;
  std::string stl(80, '\0');
  stl.replace(0, 9, "binary 3d");
  stl += std::string("\x01\x00\x00\x00", 4) + std::string(50, '\x7f');
  writeFile(dir.file("view.stl"), stl);
  const Parsed parsed = parseMesh(plus({"--params", dir.file("view.stl")}, kMeshBasics));
  EXPECT_EQ(parsed.status, kRenderCannotRead);
  EXPECT_EQ(parsed.error, dir.file("view.stl") +
                              ": an STL carries no parameters; give the PLY or OBJ "
                              "quatdepth-mesh wrote, or the picture");
}

// The explorer's page builds its quatdepth-mesh command from the view
// parameters of the table; this is one it showed.
TEST(MeshRequest, TheExplorersMeshCommandGivesItsView) {
  const std::string shown =
      "--box -1.1,-0.9,-1.2,1.3,1.2,1.2 --c -0.1,0.2,0.3,-0.1 --w 0.05 --angles "
      "0.4312,-0.1,0 --iterations 12 --bailout 4 --resolution 512 -o view.ply";
  const Parsed parsed = parseMesh(words(shown));
  ASSERT_EQ(parsed.status, -1) << parsed.error;
  EXPECT_EQ(parsed.request.resolution, 512);
  EXPECT_EQ(parsed.request.format, MeshFormat::kPly);
  const std::string renderOptions = shown.substr(0, shown.find(" --resolution"));
  expectView(parsed.request.view,
             parseRender(plus(words(renderOptions), {"-o", "view.png"})).parameters);
  EXPECT_EQ(parsed.request.view.settings.wSlice, 0.05);
}

}  // namespace
}  // namespace quatdepth::testing
