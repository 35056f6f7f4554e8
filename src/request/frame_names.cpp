#include "request/frame_names.h"

#include <cstdio>

#include "request/shown_text.h"

namespace quatdepth {

bool checkFramePattern(const std::string &pattern, std::string *error) {
  int numbers = 0;
  for (size_t at = 0; at < pattern.size(); ++at) {
    if (pattern[at] != '%') continue;
    if (at + 1 < pattern.size() && pattern[at + 1] == '%') {
      ++at;
      continue;
    }
    size_t end = at + 1;
    if (end < pattern.size() && pattern[end] == '0') ++end;
    while (end < pattern.size() && end - at < 4 && pattern[end] >= '0' &&
           pattern[end] <= '9')
      ++end;
    if (end >= pattern.size() || pattern[end] != 'd') {
      *error = "-o '" + shownText(pattern) +
               "': only %d, %4d, %04d (and %% for '%') may follow a '%'";
      return false;
    }
    ++numbers;
    at = end;
  }
  if (numbers != 1) {
    *error = "-o '" + shownText(pattern) +
             "': several frames need one frame number in the name, as "
             "frame%04d.png";
    return false;
  }
  return true;
}

bool holdsFramePattern(const std::string &name) {
  std::string unused;
  return checkFramePattern(name, &unused);
}

std::string frameName(const std::string &pattern, int frame) {
  const int length = std::snprintf(nullptr, 0, pattern.c_str(), frame);
  std::string name(static_cast<size_t>(length) + 1, '\0');
  std::snprintf(name.data(), name.size(), pattern.c_str(), frame);
  name.pop_back();
  return name;
}

}  // namespace quatdepth
