#include "request/shown_text.h"

#include <cstdio>

namespace quatdepth {

std::string shownText(const std::string &text, size_t most) {
  std::string shown;
  size_t i = 0;
  for (; i < text.size() && shown.size() < most; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte >= 0x20 && byte < 0x7F) {
      shown += static_cast<char>(byte);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      shown += escaped;
    }
  }
  if (i < text.size()) shown += "...";
  return shown;
}

}  // namespace quatdepth
