#pragma once

#include <string>
#include <vector>

#include "request/frame.h"

namespace quatdepth {

// One real value swept over the frames: FROM at frame 0 to TO at the last,
// in equal steps.
struct Sweep {
  int parameter = 0;             // its index in quatdepth's argument order
  std::string fromText, toText;  // plain decimals
  double from = 0, to = 0;       // as quatdepth reads them
};

// Reads NAME=FROM:TO. False with a message for an unknown name or a value
// that is not an ordinary decimal.
bool parseSweep(const std::string &text, Sweep *sweep, std::string *error);

// Frame `index` of `frames`: every sweep's value for that frame, derived
// values included. The ends are FROM and TO as given; a value between is a
// decimal near its step, as quatdepth reads it, so the texts stay exactly
// what is rendered.
void sweepFrame(const std::vector<Sweep> &sweeps, int index, int frames, Frame *frame);

}  // namespace quatdepth
