#pragma once

#include <string>

namespace quatdepth {

// The parameter text of a file: a PNG's or an EXR's that quatdepth-render
// wrote (one written before --search with "search = steps" added, the
// search it was rendered by); a mesh's view that quatdepth-mesh wrote, from
// the "comment quatdepth: " lines of a PLY's header (a file that begins
// "ply") or the leading "# quatdepth: " lines of a file named .obj, other
// lines left blank so the text's lines are the file's; or the file itself
// when it is none of these. False with a message naming the file when it
// cannot be read, a picture or a mesh carries none (an STL never does), or
// a mesh's header runs past 1 MiB.
bool readParameterFile(const std::string &path, std::string *text, std::string *error);

// The PNG tEXt keyword and EXR attribute name the parameters go under.
constexpr const char *kParameterKeyword = "quatdepth-render";

}  // namespace quatdepth
