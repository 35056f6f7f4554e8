#pragma once

#include <array>
#include <string>
#include <vector>

#include "settings/render_settings.h"

namespace quatdepth {

// The 14 real parameters in quatdepth's argument order, by these names.
constexpr int kRealParameters = 14;
constexpr const char *kRealParameterNames[kRealParameters] = {
    "xMin", "yMin", "zMin", "xMax",   "yMax",   "zMax",   "c0",
    "c1",   "c2",   "c3",   "wSlice", "angleA", "angleB", "angleC"};

// Each real parameter as the plain decimal it was read from. quatdepth's
// own reader rounds at every digit, so a value is only known to be what
// quatdepth reads when its text travels with it.
using RealTexts = std::array<std::string, kRealParameters>;

// The index of a real parameter's name, or -1.
int realParameterIndex(const std::string &name);

// Sets real parameter `index` to `plain` (a plain decimal, no exponent) as
// quatdepth reads it, keeping the text. Derived values are left as they were.
void setRealParameter(int index, const std::string &plain,
                      RenderSettings *settings, ViewAngles *angles,
                      RealTexts *texts);

// Texts for values that came from no text (the defaults): the shortest
// plain decimal that quatdepth reads back as each.
RealTexts realTextsOf(const RenderSettings &settings, const ViewAngles &angles);

// The first 20 positional arguments of quatdepth for these parameters.
std::vector<std::string> positionalArguments(const RenderSettings &settings,
                                             const RealTexts &texts);

// The same, separated by spaces: the line --print-args prints.
std::string positionalLine(const RenderSettings &settings,
                           const RealTexts &texts);

// The shortest plain decimal (no exponent) that quatdepth's parseReal reads
// as exactly `value`, or false with a near decimal in *text.
bool positionalReal(double value, std::string *text);

// A plain decimal near `value` (its shortest round-trip form, written out).
std::string decimalText(double value);

}  // namespace quatdepth
