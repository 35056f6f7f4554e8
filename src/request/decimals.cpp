#include "request/decimals.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "settings/render_settings.h"

namespace quatdepth {
namespace {

bool sameDouble(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// `value` with `decimals` digits after the point, never an exponent.
std::string fixedText(double value, int decimals) {
  char text[800];
  const auto result = std::to_chars(text, text + sizeof text, value,
                                    std::chars_format::fixed, decimals);
  return std::string(text, result.ptr);
}

}  // namespace

std::string plainDecimal(const std::string &text) {
  size_t at = 0;
  std::string sign;
  if (at < text.size() && (text[at] == '-' || text[at] == '+'))
    sign = text[at++] == '-' ? "-" : "";
  std::string digits;
  auto takeDigits = [&] {
    const size_t start = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9')
      digits += text[at++];
    return at - start;
  };
  size_t integerDigits = takeDigits();
  size_t fractionDigits = 0;
  if (at < text.size() && text[at] == '.') {
    ++at;
    fractionDigits = takeDigits();
  }
  if (integerDigits + fractionDigits == 0) return "";
  long exponent = 0;
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    ++at;
    const bool negative = at < text.size() && text[at] == '-';
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) ++at;
    const size_t start = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' &&
           exponent < 1000)
      exponent = exponent * 10 + (text[at++] - '0');
    if (at == start || exponent >= 1000) return "";
    if (negative) exponent = -exponent;
  }
  if (at != text.size()) return "";
  // Move the point: digits before it, then after it, zeros as needed.
  const long point = static_cast<long>(integerDigits) + exponent;
  const long length = static_cast<long>(digits.size());
  if (point <= 0)
    return sign + "0." + std::string(static_cast<size_t>(-point), '0') + digits;
  if (point >= length)
    return sign + digits +
           std::string(static_cast<size_t>(point - length), '0');
  return sign + digits.substr(0, static_cast<size_t>(point)) + "." +
         digits.substr(static_cast<size_t>(point));
}

bool parseDecimal(const std::string &text, double *value) {
  const std::string plain = plainDecimal(text);
  if (plain.empty()) return false;
  const double parsed = parseReal(plain.c_str());
  if (!std::isfinite(parsed)) return false;
  *value = parsed;
  return true;
}

bool positionalReal(double value, std::string *text) {
  // Past 330 decimals the parser's divisor is infinite and adds nothing.
  constexpr int kMostDecimals = 330;
  for (int decimals = 0; decimals <= kMostDecimals; ++decimals) {
    const std::string candidate = fixedText(value, decimals);
    if (sameDouble(parseReal(candidate.c_str()), value)) {
      *text = candidate;
      return true;
    }
  }
  *text = fixedText(value, 17);
  return false;
}

std::string decimalText(double value) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return plainDecimal(std::string(text, result.ptr));
}

}  // namespace quatdepth
