#include "request/parameter_options.h"

#include <CLI/CLI.hpp>

#include "image/image_output.h"
#include "request/render_exit.h"

namespace quatdepth {
namespace {

// The parameter whose option the word is ("--size" or "--size=..."), or
// null; *alone when its value is the next word.
const Parameter *optionParameter(const std::string &word, bool *alone) {
  if (word.rfind("--", 0) != 0) return nullptr;
  const size_t equals = word.find('=');
  *alone = equals == std::string::npos;
  return parameterOf(std::string_view(word).substr(2, *alone ? std::string::npos : equals - 2));
}

}  // namespace

bool takesParameter(ParameterSet set, const Parameter &parameter) {
  return set == ParameterSet::kAll || parameter.view;
}

void addParameterOptions(CLI::App *app, ParameterOptions *options) {
  for (int i = 0; i < kParameterCount; ++i) {
    const Parameter &parameter = kParameters[i];
    if (!takesParameter(options->set, parameter)) continue;
    const std::string option = std::string("--") + parameter.key;
    const auto at = static_cast<size_t>(i);
    if (parameter.kind == ParameterKind::kSwitch)
      app->add_flag(option, options->switches[at], parameterHelp(parameter));
    else
      app->add_option(option, options->texts[at], parameterHelp(parameter));
  }
}

std::vector<Word> takenWords(const std::vector<Word> &words, ParameterSet set) {
  std::vector<Word> taken;
  for (size_t at = 0; at < words.size(); ++at) {
    const Word &word = words[at];
    bool alone = false;
    const Parameter *parameter = word.file.empty() ? nullptr : optionParameter(word.text, &alone);
    if (!parameter || takesParameter(set, *parameter)) {
      taken.push_back(word);
      continue;
    }
    // A file's empty value is a word of its own, from the same line.
    if (alone && at + 1 < words.size() && words[at + 1].file == word.file &&
        words[at + 1].line == word.line)
      ++at;
  }
  return taken;
}

std::array<Word, kParameterCount> parameterWords(const std::vector<Word> &words) {
  std::array<Word, kParameterCount> origins;
  for (const Word &word : words) {
    for (int i = 0; i < kParameterCount; ++i) {
      const std::string option = std::string("--") + kParameters[i].key;
      if (word.text == option || word.text.rfind(option + "=", 0) == 0)
        origins[static_cast<size_t>(i)] = word;
    }
  }
  return origins;
}

bool readParameterOptions(const CLI::App &app, const ParameterOptions &options,
                          const std::array<Word, kParameterCount> &origins, Frame *frame,
                          std::string *error) {
  for (int i = 0; i < kParameterCount; ++i) {
    const Parameter &parameter = kParameters[i];
    if (!takesParameter(options.set, parameter)) continue;
    const auto at = static_cast<size_t>(i);
    std::optional<std::string> text = options.texts[at];
    if (parameter.kind == ParameterKind::kSwitch &&
        app.get_option(std::string("--") + parameter.key)->count() > 0)
      text = options.switches[at] ? "true" : "false";
    if (text && !readParameter(parameter, *text, frame, error)) {
      *error = originOf(origins[at]) + *error;
      return false;
    }
  }
  deriveViewValues(&frame->settings, frame->angles);
  return true;
}

std::string limitMessage(const LimitViolation &refusal) {
  std::string message = refusal.message.substr(refusal.message.find(' ') + 1);
  message.pop_back();
  return message;
}

bool checkParameterLimits(const Frame &frame, std::string *error) {
  const std::optional<LimitViolation> refusal =
      firstViolatedLimit(&frame.settings, &frame.angles);
  if (!refusal) return true;
  *error = optionForParameter(refusal->parameter) + ": " + limitMessage(*refusal);
  return false;
}

std::string originOfRefusal(const std::string &refusal,
                            const std::array<Word, kParameterCount> &origins) {
  size_t at = 0;
  while (refusal.compare(at, 2, "--") == 0) {
    const size_t end = refusal.find_first_of(" :,", at);
    if (end == std::string::npos) break;
    if (const Parameter *parameter = parameterOf(refusal.substr(at + 2, end - at - 2))) {
      const Word &word = origins[static_cast<size_t>(parameter - kParameters)];
      if (!word.file.empty()) return originOf(word);
    }
    if (refusal.compare(end, 2, ", ") != 0) break;
    at = end + 2;
  }
  return "";
}

int parseWords(CLI::App *app, const std::vector<Word> &words, std::string *error) {
  try {
    std::vector<std::string> reversed;
    for (auto word = words.rbegin(); word != words.rend(); ++word) reversed.push_back(word->text);
    app->parse(reversed);
  } catch (const CLI::ParseError &e) {
    if (e.get_exit_code() == 0) {  // --help
      app->exit(e);
      return flushStandardOutput(error) ? kRenderSuccess : kRenderCannotWrite;
    }
    *error = std::string(e.what()) + "; see --help";
    return kRenderUsage;
  }
  return -1;
}

}  // namespace quatdepth
