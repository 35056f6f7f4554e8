#include "request/render_request.h"

#include <CLI/CLI.hpp>

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>

#include "image/image_output.h"
#include "output/depth_image.h"
#include "request/exr_text.h"
#include "request/frame_names.h"
#include "request/parameter_options.h"
#include "request/parameters.h"
#include "request/shown_text.h"
#include "settings/settings_limits.h"

namespace quatdepth {
namespace {

bool fail(std::string *error, const std::string &message) {
  *error = message;
  return false;
}

// What a whole-number option takes, where it is narrower than an int.
constexpr const char *kThreadsRange = "1 to 1024, or 0 for every core";
constexpr const char *kFramesRange = "1 to 1000000";

// The options as they were given, before they are numbers.
struct OptionTexts {
  std::optional<std::string> threads, frames;
  std::string formatName;
  std::vector<std::string> sweeps;
};

// What is written: the format, from --format or the output's extension.
bool readOutput(const OptionTexts &texts, RenderRequest *request, std::string *error) {
  const std::string &output = request->output;
  if (request->frames > 1 && !checkFramePattern(output, error)) return false;
  request->depthExr = texts.formatName.empty()
                          ? output.size() > 4 && output.compare(output.size() - 4, 4, ".exr") == 0
                          : texts.formatName == "exr";
  if (request->depthExr) {
    if (!depthExrSupported())
      return fail(error, "--format exr: this build has no OpenEXR support (libopenexr-dev)");
  } else if (texts.formatName.empty() ? !imageFormatFromPath(output, &request->format)
                                      : !parseImageFormat(texts.formatName, &request->format)) {
    return fail(error, texts.formatName.empty()
                           ? "cannot tell the format from '" + shownText(output) +
                                 "': give --format png, png16, pgm, rows or exr"
                           : "--format '" + shownText(texts.formatName) +
                                 "': use png, png16, pgm, rows or exr");
  }
  return true;
}

// A frame as the run renders it: within the limits, its samples within
// what one render holds, in a format that can show it. Depth formats stay
// exact at one sample a pixel.
bool checkFrame(const RenderRequest &request, Frame *frame, std::string *error) {
  const RenderSettings &s = frame->settings;
  if (!checkParameterLimits(*frame, error)) return false;
  const Parameter &samples = *parameterOf("supersample");
  if (frame->supersample < 1 || frame->supersample > samples.countMost)
    return fail(error, "--supersample " + std::to_string(frame->supersample) + ": give " +
                           samples.countRange);
  // --print-args writes no output: nothing about one to check.
  if (request.printArguments) return true;
  if (frame->colormap != Colormap::kGrey && !request.depthExr &&
      request.format == ImageFormat::kPgm)
    return fail(error, std::string("--colormap ") + colormapName(frame->colormap) +
                           ": a PGM is grey; use png");
  if (!checkDepthImageSize(s.width, s.height, error))
    return fail(error, "--size " + std::to_string(s.width) + "x" + std::to_string(s.height) +
                           ": at most 2^28 pixels and 2^24 rows, none negative");
  const bool picture = !request.depthExr && (request.format == ImageFormat::kPng ||
                                             request.format == ImageFormat::kPgm);
  if (!picture) frame->supersample = 1;
  const int64_t sampleWidth = int64_t{s.width} * frame->supersample;
  const int64_t sampleHeight = int64_t{s.height} * frame->supersample;
  if (sampleWidth > INT32_MAX || sampleHeight > INT32_MAX ||
      !checkDepthImageSize(static_cast<int32_t>(sampleWidth), static_cast<int32_t>(sampleHeight),
                       error))
    return fail(error, "--supersample " + std::to_string(frame->supersample) + ": " +
                           std::to_string(sampleWidth) + " x " + std::to_string(sampleHeight) +
                           " samples are more than one render holds");
  if ((request.depthExr || isPictureFormat(request.format)) && (s.width == 0 || s.height == 0))
    return fail(error, "--size " + std::to_string(s.width) + "x" + std::to_string(s.height) +
                           ": a picture needs at least one pixel; use --format rows");
  return true;
}

// The sweeps, each name once.
bool readSweeps(const std::vector<std::string> &texts, std::vector<Sweep> *sweeps,
                std::string *error) {
  for (size_t i = 0; i < texts.size(); ++i) {
    Sweep sweep;
    if (!parseSweep(texts[i], &sweep, error)) return false;
    // Both would step one value and only the last would show: a typo,
    // most likely, for another name.
    for (size_t j = 0; j < sweeps->size(); ++j)
      if ((*sweeps)[j].parameter == sweep.parameter)
        return fail(error, std::string("--animate ") + kSettingValues[sweep.parameter].name +
                               " is given twice, '" + shownText(texts[j]) + "' and '" +
                               shownText(texts[i]) + "'; give each name one sweep");
    sweeps->push_back(sweep);
  }
  return true;
}

// Every frame a sweep or a key moves, within the limits, before any is
// rendered; `where` names the option that moves them.
bool checkMovedFrames(const RenderRequest &request, const std::string &where,
                      std::string *error) {
  for (int index = 0; index < request.frames; ++index) {
    std::string refusal;
    if (!request.keyframes.empty() && !checkKeyCurves(request.keyframes, index, &refusal))
      return fail(error, where + ": frame " + std::to_string(index) + ": " + refusal);
    const Frame f = frameOf(request, index);
    if (const std::optional<LimitViolation> limit = firstViolatedLimit(&f.settings, &f.angles))
      return fail(error, where + ": frame " + std::to_string(index) + ": " + limitMessage(*limit));
  }
  return true;
}

}  // namespace

Frame frameOf(const RenderRequest &request, int index) {
  if (!request.keyframes.empty()) return keyedFrame(request.keyframes, index);
  Frame frame = request.parameters;
  sweepFrame(request.sweeps, index, request.frames, &frame);
  return frame;
}

int parseRenderWords(const CommandWords &command, RenderRequest *request, std::string *error) {
  std::vector<Word> words = command.words;
  const bool keyed = !command.keySections.empty();
  // First, so a --frames on the command line overrides it.
  if (keyed)
    words.insert(words.begin(),
                 {{"--frames", "", 0}, {std::to_string(command.keySections.back().frame + 1), "", 0}});
  request->parameters = defaultFrame();
  OptionTexts texts;
  ParameterOptions parameterTexts(ParameterSet::kAll);
  CLI::App app{
      "Renders a depth image of a 3-D slice through a 4-D quaternion Julia set "
      "on every core, straight to a picture or to quatdepth's row records.",
      "quatdepth-render"};
  app.add_option("-o,--output", request->output, "output file, or - for standard output");
  addParameterOptions(&app, &parameterTexts);
  app.add_option("--threads", texts.threads, "render threads (default 0: every core)");
  app.add_option("--format", texts.formatName,
                 "png (8-bit picture), png16 (depth + 1, 16-bit), pgm (8-bit picture), "
                 "rows (quatdepth's records) or exr (scene depths, float channel Z); "
                 "default: from the extension");
  app.add_option("--frames", texts.frames,
                 "N frames, the --animate values stepped from FROM to TO; -o then names "
                 "them with a frame number, as frame%04d.png (default 1)");
  app.add_option("--animate", texts.sweeps,
                 "NAME=FROM:TO, repeatable: NAME one of " + realParameterNames());
  app.add_option("--keyframes",
                 "FILE: a [frame N] section a key, each of 'name = value' "
                 "lines over the options here; real values curve from key to "
                 "key, the others hold; --frames defaults to the last key + 1");
  app.add_flag("--print-args", request->printArguments,
               "print quatdepth's first 20 arguments for these parameters (a line a frame), "
               "and exit");
  app.add_option("--params",
                 "FILE: parameters from a picture quatdepth-render wrote, the view of a "
                 "PLY or OBJ quatdepth-mesh wrote, or 'name = value' lines; later options "
                 "override them");
  // A later option overrides an earlier one: --params and scripts that add
  // options to a base command rely on it.
  for (CLI::Option *option : app.get_options())
    option->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.get_option("--animate")->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  if (const int status = parseWords(&app, words, error); status >= 0) return status;
  if (!request->printArguments && request->output.empty()) {
    *error = "give -o FILE (or --print-args); see --help";
    return kRenderUsage;
  }
  const std::array<Word, kParameterCount> origins = parameterWords(words);
  Frame &frame = request->parameters;
  if (!readParameterOptions(app, parameterTexts, origins, &frame, error)) return kRenderUsage;
  if ((texts.threads && !parseWhole("--threads", *texts.threads, &request->threads, error,
                                    kThreadsRange)) ||
      (texts.frames &&
       !parseWhole("--frames", *texts.frames, &request->frames, error, kFramesRange)))
    return kRenderUsage;
  if (request->frames < 1 || request->frames > 1000000) {
    *error = "--frames " + std::to_string(request->frames) + ": give " + kFramesRange;
    return kRenderUsage;
  }
  if (!readSweeps(texts.sweeps, &request->sweeps, error)) return kRenderUsage;
  if (!request->printArguments && !readOutput(texts, request, error)) return kRenderUsage;
  if (request->threads < 0 || request->threads > 1024) {
    *error = "--threads " + std::to_string(request->threads) + ": give " + kThreadsRange;
    return kRenderUsage;
  }
  if (!checkFrame(*request, &frame, error)) {
    *error = originOfRefusal(*error, origins) + *error;
    return kRenderUsage;
  }
  if (!request->sweeps.empty() && !checkMovedFrames(*request, "--animate", error))
    return kRenderUsage;
  if (keyed) {
    if (!request->sweeps.empty()) {
      *error =
          "--keyframes and --animate: give one or the other; the keys already move every real "
          "parameter";
      return kRenderUsage;
    }
    const FrameCheck check = [request](Frame *f, std::string *refusal) {
      return checkFrame(*request, f, refusal);
    };
    if (!keysOf(command.keySections, command.keyframeFile, frame, check, &request->keyframes,
                error) ||
        !checkMovedFrames(*request, "--keyframes " + command.keyframeFile, error))
      return kRenderUsage;
  }
  return -1;
}

bool checkPositionalSearch(const RenderRequest &request, const CommandWords &command,
                           std::string *error) {
  const Frame *asking = &request.parameters;
  // Where the setting that asked for it was written.
  std::string where = originOf(
      parameterWords(command.words)[static_cast<size_t>(parameterOf("search") - kParameters)]);
  const std::string &keyframeFile = command.keyframeFile;
  for (size_t i = 0; asking->search == DepthSearch::kSteps; ++i) {
    if (i == request.keyframes.size()) return true;
    const Keyframe &key = request.keyframes[i];
    asking = &key.parameters;
    for (const ParameterLine &setting : key.section.settings)
      if (setting.name == "search")
        where = keyframeFile + ", line " + std::to_string(setting.line) + ", [frame " +
                std::to_string(key.section.frame) + "]: ";
  }
  // Every level a coarse step of its own: what the nearest search gives.
  const int64_t levels = int64_t{asking->settings.coarseSteps} * asking->settings.fineSteps;
  return fail(error, where + "--search " + depthSearchName(asking->search) +
                         ": quatdepth searches by steps only, so --print-args has no "
                         "arguments for it; the same depths are --search steps --coarse " +
                         std::to_string(levels) + " --fine 1");
}

int parseRenderArguments(const std::vector<std::string> &arguments, RenderRequest *request,
                         std::string *error) {
  return parseRenderWords({plainWords(arguments), "", {}}, request, error);
}

int parseRenderOptions(int argc, const char *const *argv, RenderRequest *request) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  CommandWords command;
  std::string error;
  int status = commandWords(arguments, &command, &error);
  if (status < 0) status = parseRenderWords(command, request, &error);
  if (status < 0 && request->printArguments && !checkPositionalSearch(*request, command, &error))
    status = kRenderUsage;
  if (status > 0)
    std::fprintf(stderr, "quatdepth-render: %s\n", shownText(error, SIZE_MAX).c_str());
  return status;
}

}  // namespace quatdepth
