#include "request/positional_arguments.h"

#include "request/decimals.h"

namespace quatdepth {

int realParameterIndex(const std::string &name) {
  for (int i = 0; i < kRealParameters; ++i)
    if (name == kPositionalValues[i].name) return i;
  return -1;
}

void setRealParameter(int index, const std::string &plain, RenderSettings *settings,
                      ViewAngles *angles, RealTexts *texts) {
  kPositionalValues[index].real(*settings, *angles) = parseReal(plain.c_str());
  (*texts)[static_cast<size_t>(index)] = plain;
}

RealTexts realTextsOf(const RenderSettings &settings, const ViewAngles &angles) {
  RenderSettings s = settings;
  ViewAngles a = angles;
  RealTexts texts;
  for (int i = 0; i < kRealParameters; ++i)
    positionalReal(kPositionalValues[i].real(s, a), &texts[static_cast<size_t>(i)]);
  return texts;
}

std::vector<std::string> positionalArguments(const RenderSettings &settings,
                                             const RealTexts &texts) {
  std::vector<std::string> arguments(texts.begin(), texts.end());
  RenderSettings s = settings;
  for (int i = kRealParameters; i < kViewValues; ++i)
    arguments.push_back(std::to_string(kPositionalValues[i].whole(s)));
  return arguments;
}

std::string positionalLine(const RenderSettings &settings, const RealTexts &texts) {
  std::string line;
  for (const std::string &argument : positionalArguments(settings, texts)) {
    if (!line.empty()) line += ' ';
    line += argument;
  }
  return line;
}

}  // namespace quatdepth
