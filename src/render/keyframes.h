#pragma once

#include <string>
#include <vector>

#include "image/colormap.h"
#include "image/depth_picture.h"
#include "julia/search_path.h"
#include "render/parameter_text.h"
#include "render/positional_arguments.h"
#include "settings/render_settings.h"

namespace quatdepth {

struct RenderRequest;

// One key of a keyframed animation: the frame it sits on and everything
// that frame renders, as a run with the key's options would.
struct Keyframe {
  int frame = 0;
  RenderSettings settings;
  ViewAngles angles;
  RealTexts texts;
  DepthSearch search = DepthSearch::kSteps;  // not swept: held as the look is
  Look look = Look::kLit;
  Colormap colormap = Colormap::kGrey;
  int supersample = 1;
  bool occlusion = false;
};

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

// The parameters of `frame` of a keyframed animation (nothing when `keys`
// is empty): a key's own at its frame; between two keys each real
// parameter on a centripetal Catmull-Rom curve through every key's value,
// written as a decimal, and everything else the earlier key's; before the
// first key the first, after the last the last. Derived values included.
void keyframeParameters(const std::vector<Keyframe> &keys, int frame,
                        RenderSettings *settings, ViewAngles *angles,
                        RealTexts *texts);

// How `frame` is searched and looks (nothing when `keys` is empty): the
// depth search, look, colour map, supersampling and occlusion of the latest
// key at or before it.
void keyframePictureOptions(const std::vector<Keyframe> &keys, int frame,
                            DepthSearch *search, Look *look, Colormap *colormap,
                            int *supersample, bool *occlusion);

// The value at `u` (0 to 1) of the centripetal Catmull-Rom segment from
// values[segment] to values[segment + 1], the points beyond the first and
// last reflected through them.
double keyframeCurve(const std::vector<double> &values, size_t segment,
                     double u);

// parseRenderArguments, and when `arguments` hold --keyframes FILE, every
// key of that file: each key is the command line with the settings of the
// keys up to it on top, --frames defaults to the last key's frame + 1, and
// every frame is checked against the limits. A file that cannot be read
// is kRenderCannotRead; anything refused in it kRenderUsage, its message
// naming the line of the setting at fault.
int parseKeyframedArguments(std::vector<std::string> arguments,
                            RenderRequest *request, std::string *error);

}  // namespace quatdepth
