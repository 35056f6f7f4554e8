#include "request/parameters.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <utility>
#include <vector>

#include "request/shown_text.h"
#include "request/decimals.h"

namespace quatdepth {
namespace {

bool fail(std::string *error, const std::string &message) {
  *error = message;
  return false;
}

// `count` decimals separated by commas, into the real values from `first`
// on, each with its text.
bool readReals(const std::string &option, const std::string &text, int first, int count,
               Frame *frame, std::string *error) {
  size_t start = 0;
  for (int i = 0; i < count; ++i) {
    const size_t comma = text.find(',', start);
    const bool last = i + 1 == count;
    const std::string plain =
        plainDecimal(text.substr(start, comma == std::string::npos ? comma : comma - start));
    if (last != (comma == std::string::npos) || plain.empty())
      return fail(error, option + " '" + shownText(text) + "': give " + std::to_string(count) +
                             (count == 1 ? " number" : " numbers separated by commas") +
                             ", as ordinary decimals");
    double value = 0;
    if (!parseDecimal(plain, &value))
      return fail(error,
                  option + " '" + shownText(text) + "': a number beyond the range of a double");
    setRealParameter(first + i, plain, &frame->settings, &frame->angles, &frame->texts);
    start = comma + 1;
  }
  return true;
}

bool readSize(const std::string &option, const std::string &text, int32_t *width,
              int32_t *height, std::string *error) {
  const size_t x = text.find('x');
  if (x == std::string::npos || !parseWhole(option, text.substr(0, x), width, error) ||
      !parseWhole(option, text.substr(x + 1), height, error))
    return fail(error,
                option + " '" + shownText(text) + "': give WIDTHxHEIGHT, for example 640x360");
  return true;
}

// "a, b or c".
std::string listed(std::span<const char *const> names) {
  std::string list;
  for (size_t i = 0; i < names.size(); ++i)
    list += (i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + std::string(names[i]);
  return list;
}

int32_t &wholeValue(const Parameter &parameter, int offset, RenderSettings &settings) {
  return kSettingValues[parameter.firstValue + offset].whole(settings);
}

template <typename Whole>
bool parseWholeOf(const std::string &option, const std::string &text, Whole *value,
                  std::string *error, const char *range, const char *fullRange) {
  const char *end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, *value);
  if (range && result.ec == std::errc::result_out_of_range && result.ptr == end)
    return fail(error, option + " " + text + ": give " + range);
  if (text.empty() || result.ec != std::errc() || result.ptr != end)
    return fail(error, option + " '" + shownText(text) + "': give a whole number, " +
                           (range ? range : fullRange));
  return true;
}

}  // namespace

bool parseWhole(const std::string &option, const std::string &text, int32_t *value,
                std::string *error, const char *range) {
  return parseWholeOf(option, text, value, error, range, "from -2147483648 to 2147483647");
}

bool parseWhole(const std::string &option, const std::string &text, int64_t *value,
                std::string *error, const char *range) {
  return parseWholeOf(option, text, value, error, range,
                      "from -9223372036854775808 to 9223372036854775807");
}

const char *parameterKindName(ParameterKind kind) {
  switch (kind) {
    case ParameterKind::kReals: return "reals";
    case ParameterKind::kSize: return "size";
    case ParameterKind::kWhole: return "whole";
    case ParameterKind::kChoice: return "choice";
    case ParameterKind::kCount: return "count";
    case ParameterKind::kSwitch: return "switch";
  }
  return "";
}

std::string parameterKeys() {
  std::string keys;
  for (const Parameter &parameter : kParameters) {
    if (!keys.empty()) keys += ", ";
    keys += parameter.key;
  }
  return keys;
}

const Parameter *parameterOf(std::string_view key) {
  for (const Parameter &parameter : kParameters)
    if (key == parameter.key) return &parameter;
  return nullptr;
}

bool readParameter(const Parameter &parameter, const std::string &text, Frame *frame,
                   std::string *error) {
  const std::string option = std::string("--") + parameter.key;
  RenderSettings &s = frame->settings;
  switch (parameter.kind) {
    case ParameterKind::kReals:
      return readReals(option, text, parameter.firstValue, parameter.valueCount, frame, error);
    case ParameterKind::kSize:
      return readSize(option, text, &wholeValue(parameter, 0, s), &wholeValue(parameter, 1, s),
                      error);
    case ParameterKind::kWhole:
      return parseWhole(option, text, &wholeValue(parameter, 0, s), error);
    case ParameterKind::kChoice:
      for (size_t i = 0; i < parameter.choices.size(); ++i) {
        if (text == parameter.choices[i]) {
          parameter.choose(*frame, static_cast<int>(i));
          return true;
        }
      }
      return fail(error, option + " '" + shownText(text) + "': use " + listed(parameter.choices));
    case ParameterKind::kCount: {
      int32_t count = 0;
      if (!parseWhole(option, text, &count, error, parameter.countRange)) return false;
      frame->*parameter.count = count;
      return true;
    }
    case ParameterKind::kSwitch:
      if (text != "true" && text != "false")
        return fail(error, option + " '" + shownText(text) + "': use true or false");
      frame->*parameter.flag = text == "true";
      return true;
  }
  return fail(error, option + ": not a parameter");
}

std::string parameterValue(const Parameter &parameter, const Frame &frame) {
  RenderSettings s = frame.settings;
  switch (parameter.kind) {
    case ParameterKind::kReals: {
      std::string text;
      for (int i = parameter.firstValue; i < parameter.firstValue + parameter.valueCount; ++i)
        text += (i == parameter.firstValue ? "" : ",") + frame.texts[static_cast<size_t>(i)];
      return text;
    }
    case ParameterKind::kSize:
      return std::to_string(wholeValue(parameter, 0, s)) + "x" +
             std::to_string(wholeValue(parameter, 1, s));
    case ParameterKind::kWhole:
      return std::to_string(wholeValue(parameter, 0, s));
    case ParameterKind::kChoice:
      return parameter.choices[static_cast<size_t>(parameter.choice(frame))];
    case ParameterKind::kCount:
      return std::to_string(frame.*parameter.count);
    case ParameterKind::kSwitch:
      return frame.*parameter.flag ? "true" : "false";
  }
  return "";
}

std::string parameterHelp(const Parameter &parameter) {
  std::string help = parameter.help;
  const size_t slot = help.find("{}");
  if (slot != std::string::npos) help.replace(slot, 2, parameterValue(parameter, defaultFrame()));
  return help;
}

std::string optionForParameter(const std::string &limitName) {
  // Every value the name holds as a whole word ("coarseSteps x fineSteps
  // + fineSteps" holds two), its option once, in the order they stand.
  const auto isWordByte = [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
  };
  std::vector<std::pair<size_t, std::string>> found;
  for (const Parameter &parameter : kParameters) {
    for (int i = parameter.firstValue; i < parameter.firstValue + parameter.valueCount; ++i) {
      const std::string name = kSettingValues[i].limitName;
      for (size_t at = limitName.find(name); at != std::string::npos;
           at = limitName.find(name, at + 1)) {
        const size_t end = at + name.size();
        if ((at == 0 || !isWordByte(limitName[at - 1])) &&
            (end == limitName.size() || !isWordByte(limitName[end]))) {
          found.emplace_back(at, std::string("--") + parameter.key);
          break;
        }
      }
    }
  }
  if (found.empty()) return limitName;
  std::sort(found.begin(), found.end());
  std::vector<std::string> options;
  for (const auto &[at, option] : found)
    if (std::find(options.begin(), options.end(), option) == options.end())
      options.push_back(option);
  std::string list;
  for (const std::string &option : options) {
    if (!list.empty()) list += ", ";
    list += option;
  }
  return list;
}

}  // namespace quatdepth
