#pragma once

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
  s->sinA = viewSine(a);
  s->sinB = viewSine(b);
  s->sinC = viewSine(c);
  s->cosA = viewCosine(a);
  s->cosB = viewCosine(b);
  s->cosC = viewCosine(c);
}

}  // namespace quatdepth
