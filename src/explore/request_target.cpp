#include "explore/request_target.h"

#include "request/shown_text.h"

namespace quatdepth {
namespace {

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The decoded text, or nullopt for a broken escape or a control byte.
std::optional<std::string> decoded(std::string_view text, bool plusIsSpace) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%') {
      if (i + 2 >= text.size()) return std::nullopt;
      const int high = hexDigit(text[i + 1]), low = hexDigit(text[i + 2]);
      if (high < 0 || low < 0) return std::nullopt;
      c = static_cast<char>(high * 16 + low);
      i += 2;
    } else if (c == '+' && plusIsSpace) {
      c = ' ';
    }
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return std::nullopt;
    out += c;
  }
  return out;
}

// Quoted for a message, control bytes escaped. Built by appending: gcc 12
// warns falsely (-Wrestrict) on "'" + std::string.
std::string quoted(std::string_view text) {
  std::string out(1, '\'');
  out += shownText(std::string(text));
  out += '\'';
  return out;
}

std::string badText(std::string_view text) {
  return quoted(text) + ": a malformed %-escape or a control character";
}

}  // namespace

std::optional<std::string> parseRequestTarget(std::string_view target,
                                              RequestTarget *parsed) {
  const size_t mark = target.find('?');
  const std::string_view path = target.substr(0, mark);
  std::optional<std::string> decodedPath = decoded(path, false);
  if (!decodedPath) return "path " + badText(path);
  parsed->path = std::move(*decodedPath);
  parsed->query.clear();
  if (mark == std::string_view::npos) return std::nullopt;
  std::string_view rest = target.substr(mark + 1);
  while (!rest.empty()) {
    const size_t amp = rest.find('&');
    const std::string_view pair = rest.substr(0, amp);
    rest = amp == std::string_view::npos ? std::string_view() : rest.substr(amp + 1);
    if (pair.empty()) continue;
    const size_t equals = pair.find('=');
    const std::string_view rawKey = pair.substr(0, equals);
    const std::string_view rawValue =
        equals == std::string_view::npos ? std::string_view() : pair.substr(equals + 1);
    std::optional<std::string> key = decoded(rawKey, true);
    std::optional<std::string> value = decoded(rawValue, true);
    if (!key || !value) return "query " + badText(pair);
    if (key->empty()) return quoted(pair) + ": a value without its key";
    if (rawValue.find('=') != std::string_view::npos)
      return quoted(pair) + ": the value of " + quoted(*key) + " holds '='";
    parsed->query.emplace(std::move(*key), std::move(*value));
  }
  return std::nullopt;
}

}  // namespace quatdepth
