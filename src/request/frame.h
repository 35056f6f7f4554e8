#pragma once

#include "image/colormap.h"
#include "image/depth_picture.h"
#include "julia/search_path.h"
#include "request/positional_arguments.h"
#include "settings/render_settings.h"

namespace quatdepth {

// The depth search a run takes when --search is not given: steps, so that
// quatdepth-render writes quatdepth's records unless asked otherwise.
constexpr DepthSearch kDefaultDepthSearch = DepthSearch::kSteps;

// Everything one frame is rendered from: what a parameter file, a query or
// a key sets, and the decimals its real values were read from.
struct Frame {
  RenderSettings settings;  // every row, from row 0; derived values included
  ViewAngles angles;
  RealTexts texts;
  DepthSearch search = kDefaultDepthSearch;
  Look look = Look::kLit;
  Colormap colormap = Colormap::kGrey;  // for the 8-bit pictures
  int supersample = 1;                  // samples a side per pixel of an 8-bit picture
  bool occlusion = false;               // darken creases, from the depth map
};

// quatdepth's defaults, as its decimals.
Frame defaultFrame();

}  // namespace quatdepth
