#include "settings/render_settings.h"

namespace quatdepth {
namespace {

// Characters are taken as signed bytes, so bytes above 0x7F count negative.
int charCode(char c) { return static_cast<signed char>(c); }

bool endsNumber(char c) { return c == '\0' || c == '.'; }

// Centre of [lo, hi] as the renderer has always formed it, so that the
// rotation pivots on exactly the same point.
double boxCentre(double lo, double hi) { return (hi - lo) * 0.5 + lo; }

}  // namespace

int32_t parseInteger(const char *text) {
  bool negative = false;
  if (*text == '-') {
    negative = true;
    ++text;
  }
  // Unsigned arithmetic gives the two's-complement wrap without overflow UB.
  uint32_t value = 0;
  while (!endsNumber(*text)) {
    value += static_cast<uint32_t>(charCode(*text) - 48);
    ++text;
    if (!endsNumber(*text)) value *= 10u;
  }
  if (negative) value = 0u - value;
  return static_cast<int32_t>(value);
}

double parseReal(const char *text) {
  bool negative = false;
  if (*text == '-') {
    negative = true;
    ++text;
  }
  double value = 0.0;
  while (!endsNumber(*text)) {
    value = static_cast<double>(charCode(*text) - 48) + value;
    ++text;
    if (!endsNumber(*text)) value = value * 10.0;
  }
  if (*text == '.') {
    ++text;
    double divisor = 10.0;
    // A second '.' is just another character here: it counts as -2.
    for (; *text != '\0'; ++text) {
      int digit = charCode(*text) - 48;
      if (digit != 0) {
        double quotient = static_cast<double>(digit) / divisor;
        value = value + quotient;
      }
      divisor = divisor * 10.0;
    }
  }
  // Subtracting from 0.0 makes "-0" positive zero.
  return negative ? 0.0 - value : value;
}

void deriveViewValues(RenderSettings *settings, const ViewAngles &angles) {
  settings->sinA = viewSine(angles.a);
  settings->sinB = viewSine(angles.b);
  settings->sinC = viewSine(angles.c);
  settings->cosA = viewCosine(angles.a);
  settings->cosB = viewCosine(angles.b);
  settings->cosC = viewCosine(angles.c);
  settings->centreX = boxCentre(settings->xMin, settings->xMax);
  settings->centreY = boxCentre(settings->yMin, settings->yMax);
  settings->centreZ = boxCentre(settings->zMin, settings->zMax);
}

}  // namespace quatdepth
