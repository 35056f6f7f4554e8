#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "request/frame.h"
#include "request/parameters.h"
#include "request/words.h"
#include "settings/settings_limits.h"

namespace CLI {
class App;
}

namespace quatdepth {

// Which of the table's parameters a program takes as options.
enum class ParameterSet {
  kAll,   // quatdepth-render: every one
  kView,  // quatdepth-mesh: the set and how it is turned
};

bool takesParameter(ParameterSet set, const Parameter &parameter);

// The parameters' options of one command line, as given, before they are
// values.
struct ParameterOptions {
  explicit ParameterOptions(ParameterSet parameterSet) : set(parameterSet) {}
  ParameterSet set;
  std::array<std::optional<std::string>, kParameterCount> texts;
  std::array<bool, kParameterCount> switches{};  // kSwitch parameters' flags
};

// Adds an option for each parameter `options` takes to `app`, its help the
// table's with the default filled in.
void addParameterOptions(CLI::App *app, ParameterOptions *options);

// Parses `words` with `app` (which takes them last first). -1 when the run
// goes on; after --help, kRenderSuccess, or kRenderCannotWrite when
// standard output fails; kRenderUsage with CLI11's refusal in *error.
int parseWords(CLI::App *app, const std::vector<Word> &words, std::string *error);

// The words without those a --params file gave for parameters the set
// does not take (each with its value): a picture's size is no concern of
// a mesh. The command line's own words all stay, for the options to
// refuse what they do not know.
std::vector<Word> takenWords(const std::vector<Word> &words, ParameterSet set);

// The word that set each parameter: the last to name its option.
std::array<Word, kParameterCount> parameterWords(const std::vector<Word> &words);

// Sets `frame`'s parameters from the options `app` parsed, derived view
// values included. False with the refusal of the first text that is not
// its parameter's, named by the file and line it came from when it came
// from a file.
bool readParameterOptions(const CLI::App &app, const ParameterOptions &options,
                          const std::array<Word, kParameterCount> &origins, Frame *frame,
                          std::string *error);

// Whether the frame's values are within quatdepth's limits; false with a
// refusal that starts with the options that set the value at fault
// ("--coarse, --fine: ...").
bool checkParameterLimits(const Frame &frame, std::string *error);

// A limit's refusal without the program's name and the line end:
// "quatdepth: width is -5, but ...\n" as "width is -5, but ...".
std::string limitMessage(const LimitViolation &refusal);

// Where the options a refusal starts with ("--coarse, --fine: ...") were
// written: the first of them that came from a file, or "" when none did.
std::string originOfRefusal(const std::string &refusal,
                            const std::array<Word, kParameterCount> &origins);

}  // namespace quatdepth
