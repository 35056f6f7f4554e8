#pragma once

#include <array>
#include <string>
#include <vector>

#include "settings/setting_values.h"
#include "settings/render_settings.h"

namespace quatdepth {

// Each real parameter as the plain decimal it was read from. quatdepth's
// own reader rounds at every digit, so a value is only known to be what
// quatdepth reads when its text travels with it.
using RealTexts = std::array<std::string, kRealParameters>;

// The real parameters' names separated by spaces: "xMin yMin ... angleC".
std::string realParameterNames();

// The index of a real parameter's name ("c0", "angleA"), or -1.
int realParameterIndex(const std::string &name);

// Sets real parameter `index` to `plain` (a plain decimal, no exponent) as
// quatdepth reads it, keeping the text. Derived values are left as they were.
void setRealParameter(int index, const std::string &plain, RenderSettings *settings,
                      ViewAngles *angles, RealTexts *texts);

// Texts for values that came from no text (the defaults): the shortest
// plain decimal that quatdepth reads back as each.
RealTexts realTextsOf(const RenderSettings &settings, const ViewAngles &angles);

// quatdepth's positional arguments for a picture's view: every value but
// the row selection, which a whole picture leaves at its defaults.
std::vector<std::string> positionalArguments(const RenderSettings &settings,
                                             const RealTexts &texts);

// The same, separated by spaces: the line --print-args prints.
std::string positionalLine(const RenderSettings &settings, const RealTexts &texts);

}  // namespace quatdepth
