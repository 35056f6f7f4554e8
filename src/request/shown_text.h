#pragma once

#include <cstddef>
#include <string>

namespace quatdepth {

// What a user typed or a file held, as a message quotes it: bytes that are
// not printable ASCII written as \xNN (a picture's text may hold a
// terminal's control sequences, or a NUL), and cut short after about 80
// characters with "..." (or after `most`).
std::string shownText(const std::string &text, size_t most = 80);

}  // namespace quatdepth
