#pragma once

#include <functional>
#include <string>
#include <vector>

#include "request/frame.h"
#include "request/parameter_text.h"

namespace quatdepth {

// One "[frame N]" section of a keyframe file: its frame, the line of its
// heading, and its "name = value" lines.
struct KeySection {
  int frame = 0;
  int line = 0;
  std::vector<ParameterLine> settings;
};

// The sections of a keyframe file, read as --params reads a file within
// each. False with a message naming `source` and the line for a heading
// that is not "[frame N]" (N from 0 to 999999), frames that do not
// increase, a setting before the first heading, a malformed setting, or
// no section at all.
bool keyframeSections(const std::string &text, const std::string &source,
                      std::vector<KeySection> *sections, std::string *error);

// One key of a keyframed animation: the frame it sits on, the section it
// was read from, and everything that frame renders.
struct Keyframe {
  KeySection section;
  Frame parameters;
};

// Checks a frame as a run would and settles what the run decides for it
// (such as one sample a pixel for depth formats); false with the refusal.
using FrameCheck = std::function<bool(Frame *frame, std::string *refusal)>;

// The keys of `sections` from `file`: each is the frame before it (the
// first: `start`) with its section's settings on top, as one run with all
// of them would be, and must pass `check`. False with a message naming the
// file, the line of the setting first refused (the heading's when none is)
// and the key's frame.
bool keysOf(const std::vector<KeySection> &sections, const std::string &file,
            const Frame &start, const FrameCheck &check, std::vector<Keyframe> *keys,
            std::string *error);

// Frame `index` of a keyframed animation: a key's own at its frame;
// between two keys each real value on a centripetal Catmull-Rom curve
// through every key's value, written as a decimal, and everything else the
// earlier key's; before the first key the first, after the last the last.
// Derived values included. `keys` must not be empty.
Frame keyedFrame(const std::vector<Keyframe> &keys, int index);

// Every real value of frame `index` stays a double between the keys;
// false with a message naming the value otherwise.
bool checkKeyCurves(const std::vector<Keyframe> &keys, int index, std::string *error);

// The value at `u` (0 to 1) of the centripetal Catmull-Rom segment from
// values[segment] to values[segment + 1], the points beyond the first and
// last reflected through them.
double keyframeCurve(const std::vector<double> &values, size_t segment, double u);

}  // namespace quatdepth
