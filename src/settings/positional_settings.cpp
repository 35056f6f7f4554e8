#include "settings/positional_settings.h"

#include "settings/setting_values.h"

namespace quatdepth {
namespace {

void storeDefaults(RenderSettings *s, ViewAngles *angles) {
  for (const SettingValue &value : kSettingValues) {
    if (value.kind == ValueKind::kReal)
      value.real(*s, *angles) = value.realDefault;
    else
      value.whole(*s) = value.wholeDefault;
  }
}

}  // namespace

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
