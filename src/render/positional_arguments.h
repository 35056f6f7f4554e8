#pragma once

#include <string>
#include <vector>

#include "settings/render_settings.h"

namespace quatdepth {

// The first 20 positional arguments of quatdepth that give these
// parameters, as text its own number parsers read back. `exact` (may be
// null) is false when some value has no such text: quatdepth's real parser
// takes no exponent and rounds at every digit, so it cannot reach every
// double, and such a value is printed as its nearest decimal.
std::vector<std::string> positionalArguments(const RenderSettings &settings,
                                             const ViewAngles &angles, bool *exact);

// The shortest plain decimal (no exponent) that quatdepth's parseReal reads
// as exactly `value`, or false with a near decimal in *text. Every value
// quatdepth-render reads has one: it reads its numbers that way too.
bool positionalReal(double value, std::string *text);

}  // namespace quatdepth
