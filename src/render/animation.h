#pragma once

#include <optional>
#include <string>
#include <vector>

#include "settings/render_settings.h"

namespace quatdepth {

// One value swept over the frames: FROM at frame 0 to TO at the last,
// in equal steps.
struct Sweep {
  std::string name;  // xMin ... zMax, c0 ... c3, wSlice, angleA ... angleC
  double from = 0, to = 0;
};

// Reads NAME=FROM:TO. False with a message for an unknown name or a value
// that is not an ordinary decimal.
bool parseSweep(const std::string &text, Sweep *sweep, std::string *error);

// The parameters of frame `frame` of `frames`: `settings` and `angles`
// with every sweep's value for that frame, derived values included.
void frameParameters(const std::vector<Sweep> &sweeps, int frame, int frames,
                     RenderSettings *settings, ViewAngles *angles);

// Checks that `pattern` holds exactly one printf-style frame number (%d,
// %4d, %04d; %% is a plain '%'). False with a message otherwise.
bool checkFramePattern(const std::string &pattern, std::string *error);

// The pattern with its frame number filled in.
std::string frameName(const std::string &pattern, int frame);

}  // namespace quatdepth
