#include "request/parameter_text.h"

#include <map>
#include <sstream>

#include "request/parameters.h"
#include "request/shown_text.h"

namespace quatdepth {
std::string trimmed(const std::string &text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

namespace {

std::string linesOf(const Frame &frame, bool viewOnly) {
  std::string text;
  for (const Parameter &parameter : kParameters)
    if (parameter.view || !viewOnly)
      text.append(parameter.key).append(" = ").append(parameterValue(parameter, frame)).append("\n");
  return text;
}

}  // namespace

std::string parameterText(const Frame &frame) { return linesOf(frame, false); }

std::string viewParameterText(const Frame &frame) { return linesOf(frame, true); }

bool parameterLines(const std::string &text, const std::string &source,
                    std::vector<ParameterLine> *settings, std::string *error, int firstLine) {
  // Editors on some systems begin a UTF-8 file with a byte-order mark.
  constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";
  const bool marked = text.compare(0, 3, kByteOrderMark) == 0;
  std::istringstream lines(marked ? text.substr(3) : text);
  std::map<std::string, int> lineOfName;
  int number = firstLine - 1;
  for (std::string line; std::getline(lines, line);) {
    ++number;
    line = trimmed(line);
    if (line.empty() || line[0] == '#') continue;
    const std::string where = source + ", line " + std::to_string(number);
    const size_t equals = line.find('=');
    const std::string name = trimmed(line.substr(0, equals));
    const Parameter *parameter = parameterOf(name);
    if (equals == std::string::npos || !parameter) {
      *error = where + ": '" + shownText(line) + "' is not 'name = value' with one of " +
               parameterKeys();
      return false;
    }
    // Which of two would win is a guess the file's author should not
    // have to make.
    const auto [earlier, first] = lineOfName.emplace(name, number);
    if (!first) {
      *error = source + ", lines " + std::to_string(earlier->second) + " and " +
               std::to_string(number) + ": '" + name + "' is given twice";
      return false;
    }
    const std::string value = trimmed(line.substr(equals + 1));
    // The option of a switch reads anything as some truth value (an empty
    // one as on): take only the words a picture's parameters hold.
    if (parameter->kind == ParameterKind::kSwitch && value != "true" && value != "false") {
      *error = where + ": " + name + " '" + shownText(value) + "': use true or false";
      return false;
    }
    settings->push_back({name, value, number});
  }
  return true;
}

}  // namespace quatdepth
