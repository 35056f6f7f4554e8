#include "request/words.h"

#include "request/parameter_files.h"
#include "request/render_exit.h"
#include "request/shown_text.h"

namespace quatdepth {
namespace {

// The file an option takes, as "--name FILE" or "--name=FILE": true with
// *at moved past it, or false for another word. *missing when it ends the
// command line.
bool optionFile(const std::vector<std::string> &arguments, const std::string &name, size_t *at,
                std::string *file, bool *missing) {
  const std::string &argument = arguments[*at];
  if (argument == name) {
    *missing = *at + 1 >= arguments.size();
    if (!*missing) *file = arguments[++*at];
    return true;
  }
  if (argument.rfind(name + "=", 0) == 0) {
    *file = argument.substr(name.size() + 1);
    return true;
  }
  return false;
}

// A parameter file's settings as option words, each as one word
// ("--w=0.5"), so a value that starts with a dash stays a value; an empty
// value as a word of its own, for the option to refuse.
int addParameterFile(const std::string &path, std::vector<Word> *words, std::string *error) {
  std::string text;
  if (!readParameterFile(path, &text, error)) return kRenderCannotRead;
  std::vector<ParameterLine> lines;
  if (!parameterLines(text, path, &lines, error)) return kRenderUsage;
  for (const ParameterLine &line : lines) {
    if (line.value.empty()) {
      words->push_back({"--" + line.name, path, line.line});
      words->push_back({"", path, line.line});
    } else {
      words->push_back({"--" + line.name + "=" + line.value, path, line.line});
    }
  }
  return -1;
}

}  // namespace

std::string originOf(const Word &word) {
  return word.file.empty() ? "" : word.file + ", line " + std::to_string(word.line) + ": ";
}

std::vector<Word> plainWords(const std::vector<std::string> &arguments) {
  std::vector<Word> words;
  for (const std::string &argument : arguments) words.push_back({argument, "", 0});
  return words;
}

int commandWords(const std::vector<std::string> &arguments, CommandWords *command,
                 std::string *error) {
  std::vector<std::string> kept;
  for (size_t at = 0; at < arguments.size(); ++at) {
    std::string path;
    bool missing = false;
    if (!optionFile(arguments, "--params", &at, &path, &missing)) {
      command->words.push_back({arguments[at], "", 0});
      continue;
    }
    if (missing) {
      *error =
          "--params needs a file: a picture quatdepth-render wrote, or 'name = value' lines";
      return kRenderUsage;
    }
    if (const int status = addParameterFile(path, &command->words, error); status >= 0)
      return status;
  }
  // Keys from two files cannot both be followed.
  std::vector<Word> rest;
  std::string keyframeFile;
  bool given = false;
  std::vector<std::string> texts;
  for (const Word &word : command->words) texts.push_back(word.text);
  for (size_t at = 0; at < texts.size(); ++at) {
    std::string path;
    bool missing = false;
    if (!optionFile(texts, "--keyframes", &at, &path, &missing)) {
      rest.push_back(command->words[at]);
      continue;
    }
    if (missing) {
      *error = "--keyframes needs a file of [frame N] sections of 'name = value' lines";
      return kRenderUsage;
    }
    if (given) {
      *error = "--keyframes is given twice, '" + shownText(keyframeFile) + "' and '" +
               shownText(path) + "'; give one file of keys";
      return kRenderUsage;
    }
    keyframeFile = path;
    given = true;
  }
  command->words = rest;
  if (!given) return -1;
  command->keyframeFile = keyframeFile;
  std::string text;
  if (!readParameterFile(keyframeFile, &text, error)) return kRenderCannotRead;
  if (!keyframeSections(text, keyframeFile, &command->keySections, error)) return kRenderUsage;
  return -1;
}

}  // namespace quatdepth
