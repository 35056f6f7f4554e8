#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace quatdepth {

// A request's target: its path and its query, percent-decoded ('+' in the
// query is a space, as forms write it).
struct RequestTarget {
  std::string path;
  std::multimap<std::string, std::string> query;
};

// Splits and decodes `target`. Refuses, with a message for a 400 answer,
// what could be read two ways: a malformed %-escape, a control byte, an
// empty key, or a second '=' in one key=value pair (w=0.5=0.25 must not
// quietly become one of its two values). Empty pairs (a&&b) are skipped.
std::optional<std::string> parseRequestTarget(std::string_view target,
                                              RequestTarget *parsed);

}  // namespace quatdepth
