#pragma once

#include <string>
#include <vector>

#include "render/positional_arguments.h"
#include "settings/render_settings.h"

namespace quatdepth {

struct RenderRequest;

// The parameters of a render as quatdepth-render's option names and values,
// one "name = value" a line: what a picture carries and --params reads.
// The view is `settings` and `texts` (one frame's); how the picture looks
// comes from `request`.
std::string parameterText(const RenderRequest &request,
                          const RenderSettings &settings,
                          const RealTexts &texts);

// One "name = value" line of a parameter text, and where it stands.
struct ParameterLine {
  std::string name;   // "box", "occlusion", ...
  std::string value;  // as typed, without the spaces around it
  int line = 0;
};

// The "name = value" lines of a parameter text, in its order. A leading
// UTF-8 byte-order mark, blank lines and lines starting with '#' are
// skipped. False with a message naming `source` and the line for a line
// that is not "name = value" with a known name (shown escaped and cut
// short), a name given twice, or an occlusion that is not true or false
// (what parameterText writes). Lines are numbered from `firstLine`, for a
// text that is part of a file.
bool parameterLines(const std::string &text, const std::string &source,
                    std::vector<ParameterLine> *lines, std::string *error,
                    int firstLine = 1);

// The option a parameter line stands for, as one word ("--w=0.5"), so a
// value that starts with a dash stays a value; an empty value stays a
// word of its own, for the option to refuse.
std::vector<std::string> optionWords(const ParameterLine &line);

// The options a parameter text stands for ("--box=-1.2,...", ...), in its
// order, refused as parameterLines refuses it.
bool parameterOptions(const std::string &text, const std::string &source,
                      std::vector<std::string> *options, std::string *error);

// The parameter text of a file: a PNG's or an EXR's that quatdepth-render
// wrote (one written before --search with "search = steps" added, the
// search it was rendered by), or the file itself when it is neither. False with a message
// naming the file when it cannot be read or a picture carries none.
bool readParameterFile(const std::string &path, std::string *text,
                       std::string *error);

// The PNG tEXt keyword and EXR attribute name the parameters go under.
constexpr const char *kParameterKeyword = "quatdepth-render";

}  // namespace quatdepth
