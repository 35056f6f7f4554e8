#include "render/keyframes.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <sstream>

#include "render/parameter_text.h"
#include "render/render_options.h"
#include "render/shown_text.h"
#include "settings/settings_limits.h"

namespace quatdepth {
namespace {

bool fail(std::string *error, const std::string &message) {
  *error = message;
  return false;
}

std::string trimmed(const std::string &text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// Frames run to 999999, so keys do too.
constexpr size_t kMostFrameDigits = 6;

// N of a "[frame N]" heading, or nothing.
std::optional<int> headingFrame(const std::string &heading) {
  if (heading.size() < 2 || heading.back() != ']') return std::nullopt;
  const std::string inside = trimmed(heading.substr(1, heading.size() - 2));
  if (inside.rfind("frame", 0) != 0 || inside.size() < 7 ||
      (inside[5] != ' ' && inside[5] != '\t'))
    return std::nullopt;
  const std::string number = trimmed(inside.substr(5));
  if (number.empty() || number.size() > kMostFrameDigits ||
      number.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  return std::stoi(number);
}

// The settings of the lines gathered for the last section.
bool closeSection(const std::string &lines, const std::string &source,
                  std::vector<KeySection> *sections, std::string *error) {
  if (sections->empty()) return true;
  KeySection &section = sections->back();
  return parameterLines(lines, source, &section.settings, error,
                        section.line + 1);
}

// Straight through a at ta and b at tb, at t; a where the two are one
// point, as for two keys with the same value.
double throughTwo(double a, double ta, double b, double tb, double t) {
  if (tb - ta == 0) return a;
  return ((tb - t) * a + (t - ta) * b) / (tb - ta);
}

// The key at or before `frame`, or the first.
size_t latestKey(const std::vector<Keyframe> &keys, int frame) {
  const auto after = std::upper_bound(
      keys.begin(), keys.end(), frame,
      [](int f, const Keyframe &key) { return f < key.frame; });
  return after == keys.begin() ? 0
                               : static_cast<size_t>(after - keys.begin() - 1);
}

// A key's value of a real parameter: its text as quatdepth reads it.
double keyValue(const Keyframe &key, int parameter) {
  return parseReal(key.texts[static_cast<size_t>(parameter)].c_str());
}

// The value of real parameter `parameter` at `frame`, strictly between
// keys[before] and the next, or nothing where the two keys agree and the
// earlier key's text holds.
std::optional<double> valueBetween(const std::vector<Keyframe> &keys,
                                   size_t before, int parameter, int frame) {
  const size_t first = before > 0 ? before - 1 : 0;
  const size_t last = std::min(before + 2, keys.size() - 1);
  std::vector<double> values;
  for (size_t i = first; i <= last; ++i)
    values.push_back(keyValue(keys[i], parameter));
  const size_t segment = before - first;
  if (values[segment] == values[segment + 1]) return std::nullopt;
  const Keyframe &from = keys[before], &to = keys[before + 1];
  const double u =
      static_cast<double>(frame - from.frame) / (to.frame - from.frame);
  return keyframeCurve(values, segment, u);
}

// Where the keys leave `frame` a parameter between two keys; nothing on a
// key, before the first or after the last.
std::optional<size_t> segmentOf(const std::vector<Keyframe> &keys, int frame) {
  const size_t before = latestKey(keys, frame);
  if (frame <= keys[before].frame || before + 1 == keys.size())
    return std::nullopt;
  return before;
}

// "quatdepth: width is -5, but ...\n" as "width is -5, but ...".
std::string limitMessage(const LimitViolation &refusal) {
  std::string message = refusal.message.substr(refusal.message.find(' ') + 1);
  message.pop_back();
  return message;
}

// Every frame between keys within the limits (the keys themselves were
// checked as they were read), before any is rendered.
bool checkKeyframes(const RenderRequest &request, const std::string &source,
                    std::string *error) {
  const std::vector<Keyframe> &keys = request.keyframes;
  for (int frame = 0; frame < request.frames; ++frame) {
    const std::optional<size_t> before = segmentOf(keys, frame);
    if (!before) continue;
    const std::string where =
        "--keyframes " + source + ": frame " + std::to_string(frame) + ": ";
    // A curve that overshoots past the largest double has no decimal.
    for (int parameter = 0; parameter < kRealParameters; ++parameter) {
      const std::optional<double> value =
          valueBetween(keys, *before, parameter, frame);
      if (value && !std::isfinite(*value))
        return fail(error, where + kRealParameterNames[parameter] +
                               " curves beyond the range of a double "
                               "between its keys");
    }
    const FrameParameters f = frameOf(request, frame);
    if (const std::optional<LimitViolation> refusal =
            firstViolatedLimit(&f.settings, &f.angles))
      return fail(error, where + limitMessage(*refusal));
  }
  return true;
}

// Takes the --keyframes FILE out of `arguments`. Two are refused: keys
// from two files cannot both be followed.
bool takeKeyframesOption(std::vector<std::string> *arguments,
                         std::optional<std::string> *path, std::string *error) {
  std::vector<std::string> kept;
  for (size_t i = 0; i < arguments->size(); ++i) {
    const std::string &argument = (*arguments)[i];
    std::string file;
    if (argument == "--keyframes") {
      if (i + 1 >= arguments->size())
        return fail(error,
                    "--keyframes needs a file of [frame N] sections of "
                    "'name = value' lines");
      file = (*arguments)[++i];
    } else if (argument.rfind("--keyframes=", 0) == 0) {
      file = argument.substr(12);
    } else {
      kept.push_back(argument);
      continue;
    }
    if (*path)
      return fail(error, "--keyframes is given twice, '" + shownText(**path) +
                             "' and '" + shownText(file) +
                             "'; give one file of keys");
    *path = file;
  }
  *arguments = kept;
  return true;
}

// Every name's latest setting, by name.
using LatestSettings = std::map<std::string, ParameterLine>;

// A key's run: the command line, then every name's latest setting.
int parseKey(const std::vector<std::string> &commandLine,
             const LatestSettings &latest, RenderRequest *key,
             std::string *refusal) {
  std::vector<std::string> arguments = commandLine;
  for (const auto &[name, setting] : latest) {
    const std::vector<std::string> words = optionWords(setting);
    arguments.insert(arguments.end(), words.begin(), words.end());
  }
  return parseRenderArguments(arguments, key, refusal);
}

// The line of the setting a refused section is first refused at, and its
// refusal: the section's settings added one by one over the keys before
// it, which were accepted. The heading's line if none is.
int lineAtFault(const std::vector<std::string> &commandLine,
                LatestSettings latest, const KeySection &section,
                std::string *refusal) {
  for (const ParameterLine &setting : section.settings) {
    latest[setting.name] = setting;
    RenderRequest key;
    if (parseKey(commandLine, latest, &key, refusal) >= 0) return setting.line;
  }
  return section.line;
}

// Each section as a key: the command line, then every name's latest value
// from the sections up to it, parsed as one run would be.
bool keysOf(const std::vector<KeySection> &sections,
            const std::vector<std::string> &commandLine,
            const std::string &source, std::vector<Keyframe> *keys,
            std::string *error) {
  LatestSettings latest;
  for (const KeySection &section : sections) {
    const LatestSettings before = latest;
    for (const ParameterLine &setting : section.settings)
      latest[setting.name] = setting;
    RenderRequest key;
    std::string refusal;
    if (parseKey(commandLine, latest, &key, &refusal) >= 0) {
      const int line = lineAtFault(commandLine, before, section, &refusal);
      return fail(error, source + ", line " + std::to_string(line) +
                             ", [frame " + std::to_string(section.frame) +
                             "]: " + refusal);
    }
    keys->push_back({section.frame, key.settings, key.angles, key.realTexts, key.search,
                     key.look, key.colormap, key.supersample, key.occlusion});
  }
  return true;
}

}  // namespace

bool keyframeSections(const std::string &text, const std::string &source,
                      std::vector<KeySection> *sections, std::string *error) {
  constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";
  const bool marked = text.compare(0, 3, kByteOrderMark) == 0;
  std::istringstream lines(marked ? text.substr(3) : text);
  std::string sectionLines;  // everything since the last heading
  int number = 0;
  for (std::string line; std::getline(lines, line);) {
    ++number;
    const std::string content = trimmed(line);
    const std::string where = source + ", line " + std::to_string(number);
    if (content.empty() || content[0] != '[') {
      if (sections->empty() && !content.empty() && content[0] != '#')
        return fail(error, where + ": '" + shownText(content) +
                               "' comes before the first [frame N]");
      sectionLines += line + '\n';
      continue;
    }
    const std::optional<int> frame = headingFrame(content);
    if (!frame)
      return fail(error, where + ": '" + shownText(content) +
                             "' is not [frame N], N a whole number from 0 "
                             "to 999999");
    if (!sections->empty() && *frame <= sections->back().frame)
      return fail(error, where + ": [frame " + std::to_string(*frame) +
                             "] after [frame " +
                             std::to_string(sections->back().frame) +
                             "]; frames must increase from key to key");
    if (!closeSection(sectionLines, source, sections, error)) return false;
    sections->push_back({*frame, number, {}});
    sectionLines.clear();
  }
  if (!closeSection(sectionLines, source, sections, error)) return false;
  if (sections->empty())
    return fail(error, source +
                           ": no [frame N] section; a keyframe file "
                           "gives each key as [frame N] and its "
                           "'name = value' lines");
  return true;
}

double keyframeCurve(const std::vector<double> &values, size_t segment,
                     double u) {
  // Worked at a power-of-two scale where reflected ends and differences
  // cannot overflow. The curve scales with its points, and an even power
  // keeps every square root exact, so the scale changes no bit otherwise.
  const size_t first = segment > 0 ? segment - 1 : segment;
  const size_t last = std::min(segment + 2, values.size() - 1);
  double largest = 0;
  for (size_t i = first; i <= last; ++i)
    largest = std::max(largest, std::fabs(values[i]));
  int exponent = 0;
  std::frexp(largest, &exponent);
  exponent += exponent & 1;
  const auto scaled = [&](size_t i) {
    return std::ldexp(values[i], -exponent);
  };
  const double p1 = scaled(segment), p2 = scaled(segment + 1);
  // Beyond the ends, points reflected through them: two keys give a line.
  const double p0 = segment > 0 ? scaled(segment - 1) : 2 * p1 - p2;
  const double p3 =
      segment + 2 < values.size() ? scaled(segment + 2) : 2 * p2 - p1;
  // Centripetal: knots spaced by the square root of the distance between
  // points, counted from p1.
  const double t0 = -std::sqrt(std::fabs(p1 - p0));
  const double t2 = std::sqrt(std::fabs(p2 - p1));
  const double t3 = t2 + std::sqrt(std::fabs(p3 - p2));
  const double t = u * t2;
  // Barry and Goldman's pyramid.
  const double a1 = throughTwo(p0, t0, p1, 0, t);
  const double a2 = throughTwo(p1, 0, p2, t2, t);
  const double a3 = throughTwo(p2, t2, p3, t3, t);
  const double b1 = throughTwo(a1, t0, a2, t2, t);
  const double b2 = throughTwo(a2, 0, a3, t3, t);
  return std::ldexp(throughTwo(b1, 0, b2, t2, t), exponent);
}

void keyframeParameters(const std::vector<Keyframe> &keys, int frame,
                        RenderSettings *settings, ViewAngles *angles,
                        RealTexts *texts) {
  if (keys.empty()) return;
  const Keyframe &held = keys[latestKey(keys, frame)];
  *settings = held.settings;
  *angles = held.angles;
  *texts = held.texts;
  const std::optional<size_t> before = segmentOf(keys, frame);
  if (!before) return;
  for (int parameter = 0; parameter < kRealParameters; ++parameter) {
    if (const std::optional<double> value =
            valueBetween(keys, *before, parameter, frame))
      setRealParameter(parameter, decimalText(*value), settings, angles, texts);
  }
  deriveViewValues(settings, *angles);
}

void keyframePictureOptions(const std::vector<Keyframe> &keys, int frame,
                            DepthSearch *search, Look *look, Colormap *colormap,
                            int *supersample, bool *occlusion) {
  if (keys.empty()) return;
  const Keyframe &held = keys[latestKey(keys, frame)];
  *search = held.search;
  *look = held.look;
  *colormap = held.colormap;
  *supersample = held.supersample;
  *occlusion = held.occlusion;
}

int parseKeyframedArguments(std::vector<std::string> arguments,
                            RenderRequest *request, std::string *error) {
  std::optional<std::string> path;
  if (!takeKeyframesOption(&arguments, &path, error)) return kRenderUsage;
  if (!path) return parseRenderArguments(arguments, request, error);
  std::string text;
  if (!readParameterFile(*path, &text, error)) return kRenderCannotRead;
  std::vector<KeySection> sections;
  if (!keyframeSections(text, *path, &sections, error)) return kRenderUsage;
  // First, so a --frames on the command line overrides it.
  arguments.insert(arguments.begin(),
                   {"--frames", std::to_string(sections.back().frame + 1)});
  const int status = parseRenderArguments(arguments, request, error);
  if (status >= 0) return status;
  if (!request->sweeps.empty()) {
    *error =
        "--keyframes and --animate: give one or the other; the keys "
        "already move every real parameter";
    return kRenderUsage;
  }
  if (!keysOf(sections, arguments, *path, &request->keyframes, error) ||
      !checkKeyframes(*request, *path, error))
    return kRenderUsage;
  return -1;
}

}  // namespace quatdepth
