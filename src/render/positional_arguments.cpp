#include "render/positional_arguments.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace quatdepth {
namespace {

bool sameDouble(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// `value` with `decimals` digits after the point, never an exponent.
std::string fixedText(double value, int decimals) {
  char text[800];
  const auto result = std::to_chars(text, text + sizeof text, value,
                                    std::chars_format::fixed, decimals);
  return std::string(text, result.ptr);
}

}  // namespace

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

std::vector<std::string> positionalArguments(const RenderSettings &s, const ViewAngles &angles,
                                             bool *exact) {
  const double reals[14] = {s.xMin,      s.yMin,      s.zMin,      s.xMax,   s.yMax,
                            s.zMax,      s.juliaC[0], s.juliaC[1], s.juliaC[2], s.juliaC[3],
                            s.wSlice,    angles.a,    angles.b,    angles.c};
  const int32_t integers[6] = {s.width, s.height, s.coarseSteps, s.fineSteps,
                               s.maxIterations, s.bailout};
  std::vector<std::string> arguments;
  bool allExact = true;
  for (double value : reals) {
    std::string text;
    allExact = positionalReal(value, &text) && allExact;
    arguments.push_back(text);
  }
  for (int32_t value : integers) arguments.push_back(std::to_string(value));
  if (exact) *exact = allExact;
  return arguments;
}

}  // namespace quatdepth
