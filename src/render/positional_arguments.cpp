#include "render/positional_arguments.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "render/render_options.h"

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

double *realField(int index, RenderSettings *s, ViewAngles *angles) {
  double *const fields[kRealParameters] = {
      &s->xMin,   &s->yMin,      &s->zMin,      &s->xMax,      &s->yMax,
      &s->zMax,   &s->juliaC[0], &s->juliaC[1], &s->juliaC[2], &s->juliaC[3],
      &s->wSlice, &angles->a,    &angles->b,    &angles->c};
  return fields[index];
}

}  // namespace

int realParameterIndex(const std::string &name) {
  for (int i = 0; i < kRealParameters; ++i)
    if (name == kRealParameterNames[i]) return i;
  return -1;
}

void setRealParameter(int index, const std::string &plain,
                      RenderSettings *settings, ViewAngles *angles,
                      RealTexts *texts) {
  *realField(index, settings, angles) = parseReal(plain.c_str());
  (*texts)[static_cast<size_t>(index)] = plain;
}

RealTexts realTextsOf(const RenderSettings &settings,
                      const ViewAngles &angles) {
  RenderSettings s = settings;
  ViewAngles a = angles;
  RealTexts texts;
  for (int i = 0; i < kRealParameters; ++i)
    positionalReal(*realField(i, &s, &a), &texts[static_cast<size_t>(i)]);
  return texts;
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

std::vector<std::string> positionalArguments(const RenderSettings &s,
                                             const RealTexts &texts) {
  std::vector<std::string> arguments(texts.begin(), texts.end());
  for (int32_t value : {s.width, s.height, s.coarseSteps, s.fineSteps,
                        s.maxIterations, s.bailout})
    arguments.push_back(std::to_string(value));
  return arguments;
}

std::string positionalLine(const RenderSettings &s, const RealTexts &texts) {
  std::string line;
  for (const std::string &argument : positionalArguments(s, texts)) {
    if (!line.empty()) line += ' ';
    line += argument;
  }
  return line;
}

}  // namespace quatdepth
