#pragma once

// Random views for the searches' tests: bounds around the set, any
// constant and angles, every kind of cap and bailout, awkward widths.

#include <initializer_list>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "settings/render_settings.h"
#include "test_settings.h"

namespace quatdepth {

// A random view that exercises the search: bounds around the set, any
// constant and angles, every kind of cap and bailout, awkward widths.
inline RenderSettings randomSettings(std::mt19937_64 &rng) {
  auto uniform = [&](double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(rng);
  };
  auto pick = [&](std::initializer_list<int32_t> values) {
    std::vector<int32_t> v(values);
    return v[std::uniform_int_distribution<size_t>(0, v.size() - 1)(rng)];
  };
  RenderSettings s = defaultSettings();
  s.xMin = uniform(-1.7, -0.4), s.xMax = uniform(0.4, 1.7);
  s.yMin = uniform(-1.7, -0.4), s.yMax = uniform(0.4, 1.7);
  s.zMin = uniform(-1.7, -0.2), s.zMax = uniform(0.2, 1.7);
  if (uniform(0, 1) < 0.25) {
    // Off centre and larger, reaching far beyond the escape bound.
    const double scale = uniform(1, 2.5), shift = uniform(-1, 1);
    for (double *bound : {&s.xMin, &s.xMax, &s.yMin, &s.yMax, &s.zMin, &s.zMax})
      *bound = *bound * scale + shift;
  }
  if (uniform(0, 1) < 0.2) std::swap(s.zMin, s.zMax);  // search from the far side
  for (double &c : s.juliaC) c = uniform(-0.7, 0.7);
  s.wSlice = uniform(-0.5, 0.5);
  setAngles(&s, uniform(-3.2, 3.2), uniform(-3.2, 3.2), uniform(-3.2, 3.2));
  s.centreX = (s.xMax - s.xMin) * 0.5 + s.xMin;
  s.centreY = (s.yMax - s.yMin) * 0.5 + s.yMin;
  s.centreZ = (s.zMax - s.zMin) * 0.5 + s.zMin;
  s.width = pick({0, 1, 2, 3, 5, 7, 8, 9, 13, 17, 31, 33, 65});  // pixels come 32 a batch
  s.height = pick({1, 2, 5, 9});
  s.coarseSteps = pick({1, 2, 5, 13, 40, 70});
  s.fineSteps = pick({1, 2, 3, 7, 10, 17, 40});
  s.maxIterations = pick({-3, 0, 1, 2, 3, 5, 10, 16, 20, 21, 22, 60, 100, 150});
  s.bailout = pick({-1, 0, 1, 4, 16, 100});
  return s;
}

inline std::string describe(const RenderSettings &s) {
  std::ostringstream text;
  text.precision(17);
  text << s.xMin << ' ' << s.yMin << ' ' << s.zMin << ' ' << s.xMax << ' '
       << s.yMax << ' ' << s.zMax << " c " << s.juliaC[0] << ' ' << s.juliaC[1]
       << ' ' << s.juliaC[2] << ' ' << s.juliaC[3] << " w " << s.wSlice
       << " size " << s.width << 'x' << s.height << " steps " << s.coarseSteps
       << 'x' << s.fineSteps << " iterations " << s.maxIterations
       << " bailout " << s.bailout;
  return text.str();
}

}  // namespace quatdepth
