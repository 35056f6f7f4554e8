#include "settings/render_settings.h"

#include "settings/setting_values.h"

namespace quatdepth {
namespace {

// Characters are taken as signed bytes, so bytes above 0x7F count negative.
int charCode(char c) { return static_cast<signed char>(c); }

bool endsNumber(char c) { return c == '\0' || c == '.'; }

void storeDefaults(RenderSettings *s, ViewAngles *angles) {
  for (const SettingValue &value : kSettingValues) {
    if (value.kind == ValueKind::kReal)
      value.real(*s, *angles) = value.realDefault;
    else
      value.whole(*s) = value.wholeDefault;
  }
}

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

void parseArguments(const char *const *argv, int argc, RenderSettings *settings,
                    ViewAngles *angles) {
  *angles = ViewAngles{};
  storeDefaults(settings, angles);

  // Fewer than 20 arguments: every one is ignored. With 20 or 21, only the
  // positions actually given are read; the rest keep their defaults.
  if (argc >= 21) {
    const int given = argc - 1;
    for (const SettingValue &value : kSettingValues) {
      if (value.position == 0 || value.position > given) continue;
      const char *text = argv[value.position];
      if (value.kind == ValueKind::kReal)
        value.real(*settings, *angles) = parseReal(text);
      else
        value.whole(*settings) = parseInteger(text);
    }
  }
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

void initSettings(RenderSettings *settings, const char *const *argv, int argc,
                  ViewAngles *angles) {
  // The record is a plain value filled in place, so creating it cannot fail
  // here; there is no abnormal-termination path to report.
  ViewAngles turn;
  parseArguments(argv, argc, settings, &turn);
  deriveViewValues(settings, turn);
  if (angles) *angles = turn;
}

}  // namespace quatdepth
