// Fuzzes the argument set-up: any argument vector goes through initSettings
// and the limits check without undefined behaviour, and the parsers agree
// with the plain models below, written separately from the real ones.
//
// Input: arguments separated by NUL bytes (at most 25 of them).
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "settings/positional_settings.h"
#include "settings/render_settings.h"
#include "settings/settings_limits.h"

namespace {

// parseInteger as its description reads: an optional '-', then every byte
// up to the first '.' or the end, as (signed byte - 48), in base ten,
// modulo 2^32.
int32_t integerModel(const std::string &text) {
  std::string digits = text;
  bool negative = !digits.empty() && digits[0] == '-';
  if (negative) digits.erase(0, 1);
  digits = digits.substr(0, digits.find('.'));
  int64_t value = 0;  // kept in [0, 2^32)
  for (char c : digits)
    value = ((value * 10) + (static_cast<signed char>(c) - 48)) & 0xFFFFFFFF;
  if (negative) value = (-value) & 0xFFFFFFFF;
  return static_cast<int32_t>(static_cast<uint32_t>(value));
}

// parseReal as its description reads: the whole part digit by digit,
// value = digit + value, times ten before each further digit; then each
// fraction digit d != 0 adds d / 10^k, every step rounded to double.
double realModel(const std::string &text) {
  std::string body = text;
  bool negative = !body.empty() && body[0] == '-';
  if (negative) body.erase(0, 1);
  size_t point = body.find('.');
  std::string whole = body.substr(0, point);
  double value = 0.0;
  for (size_t i = 0; i < whole.size(); ++i) {
    value = static_cast<double>(static_cast<signed char>(whole[i]) - 48) + value;
    if (i + 1 < whole.size()) value *= 10.0;
  }
  if (point != std::string::npos) {
    double divisor = 10.0;
    for (char c : body.substr(point + 1)) {
      int digit = static_cast<signed char>(c) - 48;
      if (digit != 0) value += static_cast<double>(digit) / divisor;
      divisor *= 10.0;
    }
  }
  return negative ? 0.0 - value : value;
}

bool sameDouble(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<std::string> arguments(1, "quatdepth");
  std::string current;
  for (size_t i = 0; i < size && arguments.size() <= 25; ++i) {
    if (data[i] == 0) {
      arguments.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  if (arguments.size() <= 25) arguments.push_back(current);

  std::vector<const char *> argv;
  for (const std::string &argument : arguments) argv.push_back(argument.c_str());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(arguments.size());

  for (size_t i = 1; i < arguments.size(); ++i) {
    if (quatdepth::parseInteger(argv[i]) != integerModel(arguments[i])) std::abort();
    if (!sameDouble(quatdepth::parseReal(argv[i]), realModel(arguments[i]))) std::abort();
  }

  quatdepth::RenderSettings settings;
  quatdepth::ViewAngles angles;
  quatdepth::initSettings(&settings, argv.data(), argc, &angles);
  const auto refusal = quatdepth::firstViolatedLimit(&settings, &angles);
  if (refusal && (refusal->message.empty() || refusal->message.back() != '\n')) std::abort();

  // Positions given are read, the rest keep their defaults.
  if (argc >= 21) {
    if (!sameDouble(settings.xMin, realModel(arguments[1]))) std::abort();
    if (settings.width != integerModel(arguments[15])) std::abort();
    int32_t expectedStep = argc >= 23 ? integerModel(arguments[22]) : 1;
    if (settings.rowStep != expectedStep) std::abort();
  } else if (settings.width != 300 || settings.rowStep != 1 || settings.xMin != -1.2) {
    std::abort();
  }
  return 0;
}
