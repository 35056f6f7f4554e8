#pragma once

#include <string>

namespace quatdepth {

// The decimal with its exponent written out ("-1.5e-3" is "-0.0015"), or
// "" when `text` is not an ordinary decimal ("0.25", "-1e-3", "+2.") or its
// exponent is beyond 999.
std::string plainDecimal(const std::string &text);

// Reads an ordinary decimal: written out without its exponent, then read by
// quatdepth's own parser, so a number given here is the very double
// quatdepth takes for the same decimal. False for anything else, or a value
// that is not finite.
bool parseDecimal(const std::string &text, double *value);

// The shortest plain decimal (no exponent) that quatdepth's parseReal reads
// as exactly `value`, or false with a near decimal in *text.
bool positionalReal(double value, std::string *text);

// A plain decimal near `value` (its shortest round-trip form, written out).
std::string decimalText(double value);

}  // namespace quatdepth
