#include "request/positional_arguments.h"

#include "request/decimals.h"

namespace quatdepth {

std::string realParameterNames() {
  std::string names;
  for (int i = 0; i < kRealParameters; ++i) {
    if (i > 0) names += ' ';
    names += kSettingValues[i].name;
  }
  return names;
}

int realParameterIndex(const std::string &name) {
  for (int i = 0; i < kRealParameters; ++i)
    if (name == kSettingValues[i].name) return i;
  return -1;
}

void setRealParameter(int index, const std::string &plain, RenderSettings *settings,
                      ViewAngles *angles, RealTexts *texts) {
  kSettingValues[index].real(*settings, *angles) = parseReal(plain.c_str());
  (*texts)[static_cast<size_t>(index)] = plain;
}

RealTexts realTextsOf(const RenderSettings &settings, const ViewAngles &angles) {
  RenderSettings s = settings;
  ViewAngles a = angles;
  RealTexts texts;
  for (int i = 0; i < kRealParameters; ++i)
    positionalReal(kSettingValues[i].real(s, a), &texts[static_cast<size_t>(i)]);
  return texts;
}

std::vector<std::string> positionalArguments(const RenderSettings &settings,
                                             const RealTexts &texts) {
  std::vector<std::string> arguments;
  RenderSettings s = settings;
  for (int i = 0; i < kSettingValueCount; ++i) {
    const SettingValue &value = kSettingValues[i];
    if (value.position == 0 || value.position > kViewPositions) continue;
    arguments.push_back(value.kind == ValueKind::kReal ? texts[static_cast<size_t>(i)]
                                                       : std::to_string(value.whole(s)));
  }
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
