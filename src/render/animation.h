#pragma once

#include <optional>
#include <string>
#include <vector>

#include "render/positional_arguments.h"
#include "settings/render_settings.h"

namespace quatdepth {

// One value swept over the frames: FROM at frame 0 to TO at the last,
// in equal steps.
struct Sweep {
  int parameter = 0;             // index in kRealParameterNames
  std::string fromText, toText;  // plain decimals
  double from = 0, to = 0;       // as quatdepth reads them
};

// Reads NAME=FROM:TO. False with a message for an unknown name or a value
// that is not an ordinary decimal.
bool parseSweep(const std::string &text, Sweep *sweep, std::string *error);

// The parameters of frame `frame` of `frames`: every sweep's value for
// that frame, derived values included. The ends are FROM and TO as given;
// a value between is a decimal near its step, as quatdepth reads it, so
// the texts stay exactly what is rendered.
void frameParameters(const std::vector<Sweep> &sweeps, int frame, int frames,
                     RenderSettings *settings, ViewAngles *angles,
                     RealTexts *texts);

// Checks that `pattern` holds exactly one printf-style frame number (%d,
// %4d, %04d; %% is a plain '%'). False with a message otherwise.
bool checkFramePattern(const std::string &pattern, std::string *error);

// Whether `name` is such a pattern.
bool holdsFramePattern(const std::string &name);

// The pattern with its frame number filled in.
std::string frameName(const std::string &pattern, int frame);

}  // namespace quatdepth
