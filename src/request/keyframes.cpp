#include "request/keyframes.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <sstream>

#include "request/decimals.h"
#include "request/parameters.h"
#include "request/shown_text.h"

namespace quatdepth {
namespace {

bool fail(std::string *error, const std::string &message) {
  *error = message;
  return false;
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

// The key at or before `index`, or the first.
size_t latestKey(const std::vector<Keyframe> &keys, int index) {
  const auto after = std::upper_bound(
      keys.begin(), keys.end(), index,
      [](int i, const Keyframe &key) { return i < key.section.frame; });
  return after == keys.begin() ? 0 : static_cast<size_t>(after - keys.begin() - 1);
}

// A key's real value: its text as quatdepth reads it.
double keyValue(const Keyframe &key, int value) {
  return parseReal(key.parameters.texts[static_cast<size_t>(value)].c_str());
}

// Real value `value` at frame `index`, strictly between keys[before] and
// the next, or nothing where the two keys agree and the earlier key's
// text holds.
std::optional<double> valueBetween(const std::vector<Keyframe> &keys, size_t before, int value,
                                   int index) {
  const size_t first = before > 0 ? before - 1 : 0;
  const size_t last = std::min(before + 2, keys.size() - 1);
  std::vector<double> values;
  for (size_t i = first; i <= last; ++i) values.push_back(keyValue(keys[i], value));
  const size_t segment = before - first;
  if (values[segment] == values[segment + 1]) return std::nullopt;
  const int from = keys[before].section.frame, to = keys[before + 1].section.frame;
  const double u = static_cast<double>(index - from) / (to - from);
  return keyframeCurve(values, segment, u);
}

// Where the keys leave frame `index` between two keys; nothing on a key,
// before the first or after the last.
std::optional<size_t> segmentOf(const std::vector<Keyframe> &keys, int index) {
  const size_t before = latestKey(keys, index);
  if (index <= keys[before].section.frame || before + 1 == keys.size()) return std::nullopt;
  return before;
}

// `settings` over `frame`, then checked; the first refusal.
bool settle(const std::vector<ParameterLine> &settings, const FrameCheck &check, Frame *frame,
            std::string *refusal) {
  for (const ParameterLine &setting : settings)
    if (!readParameter(*parameterOf(setting.name), setting.value, frame, refusal)) return false;
  deriveViewValues(&frame->settings, frame->angles);
  return check(frame, refusal);
}

// The line of the setting a refused section is first refused at, and its
// refusal: the section's settings added one by one over the key before,
// which was accepted. The heading's line if none is.
int lineAtFault(const KeySection &section, const Frame &before, const FrameCheck &check,
                std::string *refusal) {
  for (size_t i = 0; i < section.settings.size(); ++i) {
    Frame frame = before;
    const std::vector<ParameterLine> firstFew(section.settings.begin(),
                                              section.settings.begin() + static_cast<long>(i) + 1);
    if (!settle(firstFew, check, &frame, refusal)) return section.settings[i].line;
  }
  return section.line;
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

bool keysOf(const std::vector<KeySection> &sections, const std::string &file,
            const Frame &start, const FrameCheck &check, std::vector<Keyframe> *keys,
            std::string *error) {
  Frame before = start;
  for (const KeySection &section : sections) {
    Frame frame = before;
    std::string refusal;
    if (!settle(section.settings, check, &frame, &refusal)) {
      const int line = lineAtFault(section, before, check, &refusal);
      return fail(error, file + ", line " + std::to_string(line) + ", [frame " +
                             std::to_string(section.frame) + "]: " + refusal);
    }
    keys->push_back({section, frame});
    before = frame;
  }
  return true;
}

Frame keyedFrame(const std::vector<Keyframe> &keys, int index) {
  Frame frame = keys[latestKey(keys, index)].parameters;
  const std::optional<size_t> before = segmentOf(keys, index);
  if (!before) return frame;
  for (int value = 0; value < kRealParameters; ++value) {
    if (const std::optional<double> between = valueBetween(keys, *before, value, index))
      setRealParameter(value, decimalText(*between), &frame.settings, &frame.angles,
                       &frame.texts);
  }
  deriveViewValues(&frame.settings, frame.angles);
  return frame;
}

bool checkKeyCurves(const std::vector<Keyframe> &keys, int index, std::string *error) {
  const std::optional<size_t> before = segmentOf(keys, index);
  if (!before) return true;
  // A curve that overshoots past the largest double has no decimal.
  for (int value = 0; value < kRealParameters; ++value) {
    const std::optional<double> between = valueBetween(keys, *before, value, index);
    if (between && !std::isfinite(*between))
      return fail(error, std::string(kSettingValues[value].name) +
                             " curves beyond the range of a double between its keys");
  }
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

}  // namespace quatdepth
