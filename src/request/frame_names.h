#pragma once

#include <string>

namespace quatdepth {

// Checks that `pattern` holds exactly one printf-style frame number (%d,
// %4d, %04d; %% is a plain '%'). False with a message otherwise.
bool checkFramePattern(const std::string &pattern, std::string *error);

// Whether `name` is such a pattern.
bool holdsFramePattern(const std::string &name);

// The pattern with its frame number filled in.
std::string frameName(const std::string &pattern, int frame);

}  // namespace quatdepth
