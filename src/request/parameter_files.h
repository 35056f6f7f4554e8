#pragma once

#include <string>

namespace quatdepth {

// The parameter text of a file: a PNG's or an EXR's that quatdepth-render
// wrote (one written before --search with "search = steps" added, the
// search it was rendered by), or the file itself when it is neither. False
// with a message naming the file when it cannot be read or a picture
// carries none.
bool readParameterFile(const std::string &path, std::string *text, std::string *error);

// The PNG tEXt keyword and EXR attribute name the parameters go under.
constexpr const char *kParameterKeyword = "quatdepth-render";

}  // namespace quatdepth
