#pragma once

#include <string>
#include <vector>

#include "render/positional_arguments.h"
#include "render/render_options.h"
#include "settings/render_settings.h"

namespace quatdepth {

// The parameters of a render as quatdepth-render's option names and values,
// one "name = value" a line: what a picture carries and --params reads.
// The view is `settings` and `texts` (one frame's); how the picture looks
// comes from `request`.
std::string parameterText(const RenderRequest &request,
                          const RenderSettings &settings,
                          const RealTexts &texts);

// The options a parameter text stands for ("--box", "-1.2,...", ...), in
// its order. A leading UTF-8 byte-order mark, blank lines and lines
// starting with '#' are skipped. False with a message naming `source` and
// the line for a line that is not "name = value" with a known name (shown
// escaped and cut short), or for a name given twice. Lines are numbered
// from `firstLine`, for a text that is part of a file.
bool parameterOptions(const std::string &text, const std::string &source,
                      std::vector<std::string> *options, std::string *error,
                      int firstLine = 1);

// The parameter text of a file: a PNG's or an EXR's that quatdepth-render
// wrote, or the file itself when it is neither. False with a message
// naming the file when it cannot be read or a picture carries none.
bool readParameterFile(const std::string &path, std::string *text,
                       std::string *error);

// The PNG tEXt keyword and EXR attribute name the parameters go under.
constexpr const char *kParameterKeyword = "quatdepth-render";

}  // namespace quatdepth
