#pragma once

#include <string>
#include <vector>

#include "request/frame.h"

namespace quatdepth {

// A frame's parameters as "name = value" lines, one a parameter, in the
// parameter table's order: what a picture carries and --params reads.
std::string parameterText(const Frame &frame);

// The same lines of the view's parameters only (the set and how it is
// turned): what a mesh carries.
std::string viewParameterText(const Frame &frame);

// What begins a parameter line in a mesh file's comments: a PLY header's
// "comment quatdepth: box = ..." and an OBJ's "# quatdepth: box = ...".
constexpr const char *kMeshParameterPrefix = "quatdepth: ";

// One "name = value" line of a parameter text, and where it stands.
struct ParameterLine {
  std::string name;   // "box", "occlusion", ...
  std::string value;  // as typed, without the spaces around it
  int line = 0;
};

// The "name = value" lines of a parameter text, in its order. A leading
// UTF-8 byte-order mark, blank lines and lines starting with '#' are
// skipped. False with a message naming `source` and the line for a line
// that is not "name = value" with a parameter's name (shown escaped and
// cut short), a name given twice, or a switch that is not true or false
// (what parameterText writes). Lines are numbered from `firstLine`, for a
// text that is part of a file.
bool parameterLines(const std::string &text, const std::string &source,
                    std::vector<ParameterLine> *lines, std::string *error, int firstLine = 1);

// Text without the spaces and tabs (and a carriage return) around it.
std::string trimmed(const std::string &text);

}  // namespace quatdepth
