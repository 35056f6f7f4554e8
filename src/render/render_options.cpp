#include "render/render_options.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <utility>

#include "image/image_output.h"
#include "output/depth_image.h"
#include "render/depth_exr.h"
#include "render/parameter_text.h"
#include "render/shown_text.h"
#include "settings/settings_limits.h"

namespace quatdepth {
namespace {

bool fail(std::string *error, const std::string &message) {
  *error = message;
  return false;
}

// What a whole-number option takes, where it is narrower than an int.
constexpr const char *kThreadsRange = "1 to 1024, or 0 for every core";
constexpr const char *kSupersampleRange = "1 to 16 samples a side";
constexpr const char *kFramesRange = "1 to 1000000";

// `count` decimals separated by commas, into the real parameters from
// `first` on, each with its text.
bool parseReals(const std::string &option, const std::string &text, int first,
                int count, RenderRequest *request, std::string *error) {
  size_t start = 0;
  for (int i = 0; i < count; ++i) {
    const size_t comma = text.find(',', start);
    const bool last = i + 1 == count;
    const std::string plain = plainDecimal(
        text.substr(start, comma == std::string::npos ? comma : comma - start));
    if (last != (comma == std::string::npos) || plain.empty())
      return fail(
          error, option + " '" + shownText(text) + "': give " + std::to_string(count) +
                     (count == 1 ? " number" : " numbers separated by commas") +
                     ", as ordinary decimals");
    double value = 0;
    if (!parseDecimal(plain, &value))
      return fail(error, option + " '" + shownText(text) +
                             "': a number beyond the range of a double");
    setRealParameter(first + i, plain, &request->settings, &request->angles,
                     &request->realTexts);
    start = comma + 1;
  }
  return true;
}

// A whole number; beyond an int, refused with the option's own `range`
// when it has one, as a number within an int but out of range would be,
// and anything else with that range too.
bool parseWhole(const std::string &option, const std::string &text,
                int32_t *value, std::string *error,
                const char *range = nullptr) {
  const char *end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, *value);
  if (range && result.ec == std::errc::result_out_of_range && result.ptr == end)
    return fail(error, option + " " + text + ": give " + range);
  if (text.empty() || result.ec != std::errc() || result.ptr != end)
    return fail(error, option + " '" + shownText(text) +
                           "': give a whole number, " +
                           (range ? range : "from -2147483648 to 2147483647"));
  return true;
}

bool parseSize(const std::string &text, int32_t *width, int32_t *height,
               std::string *error) {
  const size_t x = text.find('x');
  if (x == std::string::npos ||
      !parseWhole("--size", text.substr(0, x), width, error) ||
      !parseWhole("--size", text.substr(x + 1), height, error))
    return fail(
        error, "--size '" + shownText(text) + "': give WIDTHxHEIGHT, for example 640x360");
  return true;
}

}  // namespace

std::string optionForParameter(const std::string &parameter) {
  const struct {
    const char *prefix, *option;
  } options[] = {{"xM", "--box"},
                 {"yM", "--box"},
                 {"zM", "--box"},
                 {"juliaC", "--c"},
                 {"wSlice", "--w"},
                 {"angle", "--angles"},
                 {"width", "--size"},
                 {"height", "--size"},
                 {"coarseSteps x", "--coarse, --fine"},
                 {"coarseSteps", "--coarse"},
                 {"fineSteps", "--fine"}};
  for (const auto &entry : options)
    if (parameter.rfind(entry.prefix, 0) == 0) return entry.option;
  return parameter;
}

namespace {

// The text options as they were given, before they are numbers.
struct OptionTexts {
  std::optional<std::string> box, c, w, angles, size, coarse, fine, iterations,
      bailout;
  std::optional<std::string> threads, supersample, frames;
  std::string formatName, lookName = "lit", colormapName = "grey";
  std::string searchName = depthSearchName(kDefaultDepthSearch);
  std::vector<std::string> sweeps;
};

// "quatdepth: width is -5, but ...\n" as "width is -5, but ...".
std::string limitMessage(const LimitViolation &refusal) {
  std::string message = refusal.message.substr(refusal.message.find(' ') + 1);
  message.pop_back();
  return message;
}

// Every frame within the limits, before any is rendered.
bool checkFrames(const RenderRequest &request, std::string *error) {
  for (int frame = 0; frame < request.frames; ++frame) {
    const FrameParameters f = frameOf(request, frame);
    if (const std::optional<LimitViolation> refusal =
            firstViolatedLimit(&f.settings, &f.angles))
      return fail(error, "--animate: frame " + std::to_string(frame) + ": " +
                             limitMessage(*refusal));
  }
  return true;
}

// The render's parameters, every frame's within the limits.
bool applyParameters(const OptionTexts &texts, RenderRequest *request,
                     std::string *error) {
  RenderSettings &s = request->settings;
  ViewAngles &angles = request->angles;
  if (texts.box && !parseReals("--box", *texts.box, 0, 6, request, error))
    return false;
  if (texts.c && !parseReals("--c", *texts.c, 6, 4, request, error))
    return false;
  if (texts.w && !parseReals("--w", *texts.w, 10, 1, request, error))
    return false;
  if (texts.angles &&
      !parseReals("--angles", *texts.angles, 11, 3, request, error))
    return false;
  if (texts.size && !parseSize(*texts.size, &s.width, &s.height, error))
    return false;
  const struct {
    const char *option;
    const std::optional<std::string> &text;
    int32_t *target;
    const char *range;
  } wholes[] = {
      {"--coarse", texts.coarse, &s.coarseSteps, nullptr},
      {"--fine", texts.fine, &s.fineSteps, nullptr},
      {"--iterations", texts.iterations, &s.maxIterations, nullptr},
      {"--bailout", texts.bailout, &s.bailout, nullptr},
      {"--threads", texts.threads, &request->threads, kThreadsRange},
      {"--supersample", texts.supersample, &request->supersample,
       kSupersampleRange},
      {"--frames", texts.frames, &request->frames, kFramesRange}};
  for (const auto &whole : wholes)
    if (whole.text && !parseWhole(whole.option, *whole.text, whole.target,
                                  error, whole.range))
      return false;
  deriveViewValues(&s, angles);
  // Read up to a NUL a file's value could hold, "nearest\0x" would pass.
  if (texts.searchName.find('\0') != std::string::npos ||
      !parseDepthSearch(texts.searchName.c_str(), &request->search))
    return fail(error, "--search '" + shownText(texts.searchName) + "': use steps or nearest");

  if (request->frames < 1 || request->frames > 1000000)
    return fail(error, "--frames " + std::to_string(request->frames) +
                           ": give " + kFramesRange);
  std::vector<const std::string *> sweepTexts;  // beside request->sweeps
  for (const std::string &text : texts.sweeps) {
    Sweep sweep;
    if (!parseSweep(text, &sweep, error)) return false;
    // Both would step one value and only the last would show: a typo,
    // most likely, for another name.
    for (size_t i = 0; i < request->sweeps.size(); ++i)
      if (request->sweeps[i].parameter == sweep.parameter)
        return fail(error, std::string("--animate ") +
                               kRealParameterNames[sweep.parameter] +
                               " is given twice, '" + shownText(*sweepTexts[i]) +
                               "' and '" + shownText(text) +
                               "'; give each name one sweep");
    request->sweeps.push_back(sweep);
    sweepTexts.push_back(&text);
  }

  if (const std::optional<LimitViolation> refusal =
          firstViolatedLimit(&s, &angles))
    return fail(error,
                optionForParameter(refusal->parameter) + ": " + limitMessage(*refusal));
  return request->sweeps.empty() || checkFrames(*request, error);
}

// How an 8-bit picture looks, whatever is written: a picture's parameters
// carry it, so --params renders the same picture.
bool applyPictureOptions(const OptionTexts &texts, RenderRequest *request,
                         std::string *error) {
  if (!parseLook(texts.lookName, &request->look))
    return fail(error, "--look '" + shownText(texts.lookName) + "': use lit, relief or depth");
  if (!parseColormap(texts.colormapName, &request->colormap))
    return fail(error, "--colormap '" + shownText(texts.colormapName) +
                           "': use grey, viridis, magma or turbo");
  if (request->supersample < 1 || request->supersample > 16)
    return fail(error, "--supersample " + std::to_string(request->supersample) +
                           ": give " + kSupersampleRange);
  return true;
}

// What is written, and how: format, look, samples, threads.
bool applyOutputOptions(const OptionTexts &texts, RenderRequest *request,
                        std::string *error) {
  const RenderSettings &s = request->settings;
  if (request->frames > 1 && !checkFramePattern(request->output, error))
    return false;
  const std::string &output = request->output;
  request->depthExr =
      texts.formatName.empty()
          ? output.size() > 4 &&
                output.compare(output.size() - 4, 4, ".exr") == 0
          : texts.formatName == "exr";
  if (request->depthExr) {
    if (!depthExrSupported())
      return fail(
          error,
          "--format exr: this build has no OpenEXR support (libopenexr-dev)");
  } else if (texts.formatName.empty()
                 ? !imageFormatFromPath(output, &request->format)
                 : !parseImageFormat(texts.formatName, &request->format)) {
    return fail(error, texts.formatName.empty()
                           ? "cannot tell the format from '" + shownText(output) +
                                 "': give --format png, png16, pgm, rows or exr"
                           : "--format '" + shownText(texts.formatName) +
                                 "': use png, png16, pgm, rows or exr");
  }
  if (request->colormap != Colormap::kGrey && !request->depthExr &&
      request->format == ImageFormat::kPgm)
    return fail(
        error, "--colormap " + texts.colormapName + ": a PGM is grey; use png");
  if (!checkDepthImageSize(s.width, s.height, error))
    return fail(error,
                "--size " + std::to_string(s.width) + "x" +
                    std::to_string(s.height) +
                    ": at most 2^28 pixels and 2^24 rows, none negative");
  const bool picture =
      !request->depthExr && (request->format == ImageFormat::kPng ||
                             request->format == ImageFormat::kPgm);
  if (!picture)
    request->supersample = 1;  // depth formats stay exact, one sample a pixel
  const int64_t sampleWidth = int64_t{s.width} * request->supersample;
  const int64_t sampleHeight = int64_t{s.height} * request->supersample;
  if (sampleWidth > INT32_MAX || sampleHeight > INT32_MAX ||
      !checkDepthImageSize(static_cast<int32_t>(sampleWidth),
                       static_cast<int32_t>(sampleHeight), error))
    return fail(error, "--supersample " + std::to_string(request->supersample) +
                           ": " + std::to_string(sampleWidth) + " x " +
                           std::to_string(sampleHeight) +
                           " samples are more than one render holds");
  if ((request->depthExr || isPictureFormat(request->format)) &&
      (s.width == 0 || s.height == 0))
    return fail(error,
                "--size " + std::to_string(s.width) + "x" +
                    std::to_string(s.height) +
                    ": a picture needs at least one pixel; use --format rows");
  if (request->threads < 0 || request->threads > 1024)
    return fail(error, "--threads " + std::to_string(request->threads) +
                           ": give " + kThreadsRange);
  return true;
}

// The command line with every --params FILE replaced by the options its
// file stands for, so options after it override it and options before it
// are overridden.
bool expandParameterFiles(int argc, const char *const *argv,
                          std::vector<std::string> *arguments, int *status,
                          std::string *error) {
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    std::string path;
    if (argument == "--params") {
      if (i + 1 >= argc) {
        *status = kRenderUsage;
        return fail(
            error,
            "--params needs a file: a picture quatdepth-render wrote, or "
            "'name = value' lines");
      }
      path = argv[++i];
    } else if (argument.rfind("--params=", 0) == 0) {
      path = argument.substr(9);
    } else {
      arguments->push_back(argument);
      continue;
    }
    std::string text;
    if (!readParameterFile(path, &text, error)) {
      *status = kRenderCannotRead;
      return false;
    }
    if (!parameterOptions(text, path, arguments, error)) {
      *status = kRenderUsage;
      return false;
    }
  }
  return true;
}

}  // namespace

std::string plainDecimal(const std::string &text) {
  size_t at = 0;
  std::string sign;
  if (at < text.size() && (text[at] == '-' || text[at] == '+'))
    sign = text[at++] == '-' ? "-" : "";
  std::string digits;
  auto takeDigits = [&] {
    const size_t start = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9')
      digits += text[at++];
    return at - start;
  };
  size_t integerDigits = takeDigits();
  size_t fractionDigits = 0;
  if (at < text.size() && text[at] == '.') {
    ++at;
    fractionDigits = takeDigits();
  }
  if (integerDigits + fractionDigits == 0) return "";
  long exponent = 0;
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    ++at;
    const bool negative = at < text.size() && text[at] == '-';
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) ++at;
    const size_t start = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' &&
           exponent < 1000)
      exponent = exponent * 10 + (text[at++] - '0');
    if (at == start || exponent >= 1000) return "";
    if (negative) exponent = -exponent;
  }
  if (at != text.size()) return "";
  // Move the point: digits before it, then after it, zeros as needed.
  const long point = static_cast<long>(integerDigits) + exponent;
  const long length = static_cast<long>(digits.size());
  if (point <= 0)
    return sign + "0." + std::string(static_cast<size_t>(-point), '0') + digits;
  if (point >= length)
    return sign + digits +
           std::string(static_cast<size_t>(point - length), '0');
  return sign + digits.substr(0, static_cast<size_t>(point)) + "." +
         digits.substr(static_cast<size_t>(point));
}

bool parseDecimal(const std::string &text, double *value) {
  const std::string plain = plainDecimal(text);
  if (plain.empty()) return false;
  const double parsed = parseReal(plain.c_str());
  if (!std::isfinite(parsed)) return false;
  *value = parsed;
  return true;
}

FrameParameters frameOf(const RenderRequest &request, int frame) {
  FrameParameters f{request.settings, request.angles, request.realTexts};
  frameParameters(request.sweeps, frame, request.frames, &f.settings, &f.angles,
                  &f.texts);
  keyframeParameters(request.keyframes, frame, &f.settings, &f.angles,
                     &f.texts);
  return f;
}

int parseRenderArguments(const std::vector<std::string> &arguments,
                         RenderRequest *request, std::string *error) {
  const char *const defaults[] = {"quatdepth", nullptr};
  initSettings(&request->settings, defaults, 1, &request->angles);
  request->realTexts = realTextsOf(request->settings, request->angles);
  OptionTexts texts;
  CLI::App app{
      "Renders a depth image of a 3-D slice through a 4-D quaternion Julia set "
      "on every core, straight to a picture or to quatdepth's row records.",
      "quatdepth-render"};
  app.add_option("-o,--output", request->output,
                 "output file, or - for standard output");
  app.add_option(
      "--box", texts.box,
      "X0,Y0,Z0,X1,Y1,Z1: the view box (default -1.2,-1.2,-1.2,1.2,1.2,1.2)");
  app.add_option("--c", texts.c,
                 "A,B,C,D: the Julia constant (default -0.1,0.2,0.3,-0.1)");
  app.add_option("--w", texts.w,
                 "the fourth coordinate of every point (default 0)");
  app.add_option("--angles", texts.angles,
                 "A,B,C: view angles in radians about x, y, z (default 0,0,0)");
  app.add_option("--size", texts.size,
                 "WIDTHxHEIGHT in pixels (default 300x300)");
  app.add_option("--coarse", texts.coarse, "coarse depth steps (default 100)");
  app.add_option("--fine", texts.fine,
                 "depth levels per coarse step (default 10)");
  app.add_option("--iterations", texts.iterations,
                 "iteration cap of the membership test (default 10)");
  app.add_option("--bailout", texts.bailout, "escape threshold (default 16)");
  app.add_option("--threads", texts.threads,
                 "render threads (default 0: every core)");
  app.add_option(
      "--format", texts.formatName,
      "png (8-bit picture), png16 (depth + 1, 16-bit), pgm (8-bit picture), "
      "rows (quatdepth's records) or exr (scene depths, float channel Z); "
      "default: from the extension");
  app.add_option("--search", texts.searchName,
                 std::string("steps: quatdepth's records, which miss parts thinner than the "
                             "coarse steps; nearest: the nearest inside level of all the "
                             "levels, proven, nothing between coarse steps missed (default ") +
                     depthSearchName(kDefaultDepthSearch) + ")");
  app.add_option("--look", texts.lookName,
                 "lit (default: light on the set's own surface normals), relief (normals "
                 "from neighbouring depths) or depth (near bright), for png and pgm");
  app.add_option(
      "--colormap", texts.colormapName,
      "grey (default), viridis, magma or turbo: the colours of png pictures");
  app.add_option("--supersample", texts.supersample,
                 "N: N x N samples a pixel, averaged, for png and pgm pictures "
                 "(default 1; "
                 "depth formats always take one, exact)");
  app.add_option(
      "--frames", texts.frames,
      "N frames, the --animate values stepped from FROM to TO; -o then names "
      "them with a frame number, as frame%04d.png (default 1)");
  app.add_option("--animate", texts.sweeps,
                 "NAME=FROM:TO, repeatable: NAME one of xMin yMin zMin xMax "
                 "yMax zMax c0 c1 c2 "
                 "c3 wSlice angleA angleB angleC");
  app.add_flag("--occlusion", request->occlusion,
               "darken creases and hollows (ambient occlusion from the depth map), for png "
               "and pgm");
  app.add_option("--keyframes",
                 "FILE: a [frame N] section a key, each of 'name = value' "
                 "lines over the options here; real values curve from key to "
                 "key, the others hold; --frames defaults to the last key + 1");
  app.add_flag("--print-args", request->printArguments,
               "print quatdepth's first 20 arguments for these parameters (a "
               "line a frame), "
               "and exit");
  app.add_option("--params",
                 "FILE: parameters from a picture quatdepth-render wrote, or "
                 "'name = value' lines; later options override them");
  // A later option overrides an earlier one: --params and scripts that add
  // options to a base command rely on it.
  for (CLI::Option *option : app.get_options())
    option->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.get_option("--animate")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  try {
    // CLI11 takes the arguments last first.
    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
    app.parse(reversed);
  } catch (const CLI::ParseError &e) {
    if (e.get_exit_code() == 0) {  // --help
      app.exit(e);
      return flushStandardOutput(error) ? kRenderSuccess : kRenderCannotWrite;
    }
    *error = std::string(e.what()) + "; see --help";
    return kRenderUsage;
  }
  if (!request->printArguments && request->output.empty()) {
    *error = "give -o FILE (or --print-args); see --help";
    return kRenderUsage;
  }
  if (!applyParameters(texts, request, error) ||
      !applyPictureOptions(texts, request, error))
    return kRenderUsage;
  // --print-args writes no output: nothing about one to check.
  if (!request->printArguments && !applyOutputOptions(texts, request, error))
    return kRenderUsage;
  return -1;
}

bool checkPositionalSearch(const RenderRequest &request, std::string *error) {
  // Every frame renders the request's search or a key's.
  std::vector<std::pair<DepthSearch, const RenderSettings *>> searches = {
      {request.search, &request.settings}};
  for (const Keyframe &key : request.keyframes) searches.push_back({key.search, &key.settings});
  for (const auto &[search, s] : searches) {
    if (search == DepthSearch::kSteps) continue;
    // Every level a coarse step of its own: what the nearest search gives.
    const int64_t levels = int64_t{s->coarseSteps} * s->fineSteps;
    return fail(error, std::string("--search ") + depthSearchName(search) +
                           ": quatdepth searches by steps only, so --print-args has no "
                           "arguments for it; the same depths are --search steps --coarse " +
                           std::to_string(levels) + " --fine 1");
  }
  return true;
}

int parseRenderOptions(int argc, const char *const *argv,
                       RenderRequest *request) {
  std::vector<std::string> arguments;
  std::string error;
  int status = kRenderUsage;
  if (expandParameterFiles(argc, argv, &arguments, &status, &error))
    status = parseKeyframedArguments(arguments, request, &error);
  if (status < 0 && request->printArguments && !checkPositionalSearch(*request, &error))
    status = kRenderUsage;
  if (status > 0)
    std::fprintf(stderr, "quatdepth-render: %s\n", shownText(error, SIZE_MAX).c_str());
  return status;
}

}  // namespace quatdepth
