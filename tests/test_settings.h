#pragma once

#include "settings/positional_settings.h"
#include "settings/render_settings.h"

namespace quatdepth {

// The renderer's defaults, as a run with no arguments sees them.
inline RenderSettings defaultSettings() {
  RenderSettings s;
  const char *argv[] = {"quatdepth", nullptr};
  initSettings(&s, argv, 1);
  return s;
}

// Recomputes the derived fields after a test changes angles or bounds.
inline void setAngles(RenderSettings *s, double a, double b, double c) {
  deriveViewValues(s, ViewAngles{a, b, c});
}

}  // namespace quatdepth
