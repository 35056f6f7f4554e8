#include "mesh/mesh_request.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <optional>
#include <vector>

#include "image/image_output.h"
#include "request/parameter_options.h"
#include "request/shown_text.h"

namespace quatdepth {
namespace {

// What the whole-number options take.
constexpr const char *kResolutionRange = "1 to 65536";
constexpr const char *kRefineRange = "0 to 40";
constexpr const char *kMaxTrianglesRange = "4 to 4294967295";
constexpr const char *kThreadsRange = "1 to 1024, or 0 for every core";

// The options as they were given, before they are numbers.
struct MeshTexts {
  std::optional<std::string> resolution, refine, maxTriangles, threads;
  std::string formatName;
};

// A whole-number option's text into *value when it lies from `least` to
// `most`; otherwise false with a refusal naming the option and `range`.
template <typename Whole>
bool readWhole(const char *option, const std::optional<std::string> &text, int64_t least,
               int64_t most, const char *range, Whole *value, std::string *error) {
  if (!text) return true;
  int64_t whole = 0;
  if (!parseWhole(option, *text, &whole, error, range)) return false;
  if (whole < least || whole > most) {
    *error = std::string(option) + " " + std::to_string(whole) + ": give " + range;
    return false;
  }
  *value = static_cast<Whole>(whole);
  return true;
}

bool meshFormatNamed(const std::string &name, MeshFormat *format) {
  for (size_t i = 0; i < std::size(kMeshFormatNames); ++i) {
    if (name == kMeshFormatNames[i]) {
      *format = static_cast<MeshFormat>(i);
      return true;
    }
  }
  return false;
}

// The format from --format, or else from the output's extension, as
// quatdepth-render tells a picture's.
bool readFormat(const MeshTexts &texts, MeshRequest *request, std::string *error) {
  if (!texts.formatName.empty()) {
    if (meshFormatNamed(texts.formatName, &request->format)) return true;
    *error = "--format '" + shownText(texts.formatName) + "': use stl, ply or obj";
    return false;
  }
  const std::string &output = request->output;
  const size_t dot = output.rfind('.');
  if (dot != std::string::npos && output.find('/', dot) == std::string::npos &&
      meshFormatNamed(output.substr(dot + 1), &request->format))
    return true;
  *error = "cannot tell the format from '" + shownText(output) +
           "': give --format stl, ply or obj";
  return false;
}

// Whether the arguments ask for keys: a mesh is of one view.
bool asksForKeys(const std::vector<std::string> &arguments) {
  for (const std::string &argument : arguments)
    if (argument == "--keyframes" || argument.rfind("--keyframes=", 0) == 0) return true;
  return false;
}

constexpr const char *kOneView =
    "--keyframes: quatdepth-mesh makes one mesh a run, of one view; give the view's options "
    "or --params FILE";

}  // namespace

int parseMeshWords(const CommandWords &command, MeshRequest *request, std::string *error) {
  if (!command.keyframeFile.empty()) {
    *error = kOneView;
    return kRenderUsage;
  }
  const std::vector<Word> words = takenWords(command.words, ParameterSet::kView);
  request->view = defaultFrame();
  MeshTexts texts;
  ParameterOptions parameterTexts(ParameterSet::kView);
  CLI::App app{
      "Turns the view of a 3-D slice through a 4-D quaternion Julia set into a closed "
      "triangle mesh of its surface: STL, PLY or OBJ.",
      "quatdepth-mesh"};
  app.add_option("-o,--output", request->output,
                 "output file (.stl, .ply or .obj), or - for standard output with --format");
  addParameterOptions(&app, &parameterTexts);
  app.add_option("--resolution", texts.resolution,
                 "N: cells along the box's longest edge, 1 to 65536 (required)");
  app.add_option("--refine", texts.refine,
                 "bisection steps that place each vertex on the surface, 0 to 40 (default 6)");
  app.add_option("--max-triangles", texts.maxTriangles,
                 "T: simplify the mesh to at most T triangles, 4 to 4294967295 "
                 "(default: keep every triangle)");
  app.add_option("--threads", texts.threads, "threads (default 0: every core)");
  app.add_option("--format", texts.formatName,
                 "stl (binary), ply (binary) or obj; default: from the extension");
  app.add_option("--params",
                 "FILE: the view of a picture quatdepth-render wrote, of a PLY or OBJ "
                 "quatdepth-mesh wrote, or of 'name = value' lines; later options "
                 "override it");
  // A later option overrides an earlier one, as quatdepth-render's do.
  for (CLI::Option *option : app.get_options())
    option->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  if (const int status = parseWords(&app, words, error); status >= 0) return status;
  if (request->output.empty()) {
    *error = "give -o FILE; see --help";
    return kRenderUsage;
  }
  if (!texts.resolution) {
    *error = "give --resolution N, the cells along the box's longest edge; see --help";
    return kRenderUsage;
  }
  const std::array<Word, kParameterCount> origins = parameterWords(words);
  if (!readParameterOptions(app, parameterTexts, origins, &request->view, error) ||
      !readWhole("--resolution", texts.resolution, 1, 65536, kResolutionRange,
                 &request->resolution, error) ||
      !readWhole("--refine", texts.refine, 0, 40, kRefineRange, &request->refine, error) ||
      !readWhole("--max-triangles", texts.maxTriangles, 4, 4294967295, kMaxTrianglesRange,
                 &request->maxTriangles, error) ||
      !readWhole("--threads", texts.threads, 0, 1024, kThreadsRange, &request->threads,
                 error) ||
      !readFormat(texts, request, error))
    return kRenderUsage;
  if (!checkParameterLimits(request->view, error)) {
    *error = originOfRefusal(*error, origins) + *error;
    return kRenderUsage;
  }
  return -1;
}

int parseMeshOptions(int argc, const char *const *argv, MeshRequest *request) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  CommandWords command;
  std::string error;
  // Refused before its file is read: there is nothing to read it for.
  int status = kRenderUsage;
  if (asksForKeys(arguments))
    error = kOneView;
  else if (status = commandWords(arguments, &command, &error); status < 0)
    status = parseMeshWords(command, request, &error);
  if (status > 0)
    std::fprintf(stderr, "quatdepth-mesh: %s\n", shownText(error, SIZE_MAX).c_str());
  return status;
}

}  // namespace quatdepth
