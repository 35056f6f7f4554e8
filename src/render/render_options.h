#pragma once

#include <string>
#include <vector>

#include "image/colormap.h"
#include "image/depth_picture.h"
#include "image/image_files.h"
#include "julia/search_path.h"
#include "render/animation.h"
#include "render/keyframes.h"
#include "render/positional_arguments.h"
#include "settings/render_settings.h"

namespace quatdepth {

// The depth search a run takes when --search is not given: steps, so that
// quatdepth-render writes quatdepth's records unless asked otherwise.
constexpr DepthSearch kDefaultDepthSearch = DepthSearch::kSteps;

// Everything one quatdepth-render run was asked for.
struct RenderRequest {
  RenderSettings settings;  // every row, from row 0
  ViewAngles angles;
  RealTexts realTexts;  // the decimals the real parameters were read from
  std::string output;
  DepthSearch search = kDefaultDepthSearch;  // for every format and frame
  ImageFormat format = ImageFormat::kPng;
  bool depthExr = false;  // an OpenEXR file of scene depths instead of `format`
  Look look = Look::kLit;
  Colormap colormap = Colormap::kGrey;  // for the 8-bit pictures
  int supersample = 1;  // samples a side per pixel of an 8-bit picture
  int threads = 0;      // 0: every core
  int frames = 1;       // with sweeps, the output name holds a frame number
  std::vector<Sweep> sweeps;
  bool occlusion = false;  // darken creases, from the depth map
  std::vector<Keyframe> keyframes;  // from --keyframes, instead of sweeps
  bool printArguments = false;
};

// The parameters of one frame of a request: its sweeps' or its keys'
// values for that frame, derived values included.
struct FrameParameters {
  RenderSettings settings;
  ViewAngles angles;
  RealTexts texts;
};
FrameParameters frameOf(const RenderRequest &request, int frame);

// Exit statuses, shared with quatdepth-image where they mean the same.
enum RenderExit : int {
  kRenderSuccess = 0,
  kRenderFailed = 1,      // no memory, a thread that cannot start
  kRenderUsage = 2,       // an option that is malformed or out of the limits
  kRenderCannotRead = 3,  // a --params file
  kRenderCannotWrite = 4,
};

// Parses the command line (argv[0] is the program) into `request`. Returns
// -1 when the run goes on, else the exit status, after --help or a message
// naming the option at fault on standard error.
int parseRenderOptions(int argc, const char *const *argv,
                       RenderRequest *request);

// The same for arguments with no --params left among them (argv without
// argv[0]), the refusal in *error instead of on standard error (only
// --help prints). Front ends that build the options themselves use it.
int parseRenderArguments(const std::vector<std::string> &arguments,
                         RenderRequest *request, std::string *error);

// Whether quatdepth's positional arguments (--print-args) can stand for
// the request: quatdepth searches by steps only, so a request that asks
// for another search anywhere, a key's included, is refused with a
// message giving the options of the steps search that writes the same
// depths.
bool checkPositionalSearch(const RenderRequest &request, std::string *error);

// Reads an ordinary decimal ("0.25", "-1e-3", "+2."): written out without
// its exponent, then read by quatdepth's own parser, so a number given here
// is the very double quatdepth takes for the same decimal. False for
// anything else, or a value that is not finite.
bool parseDecimal(const std::string &text, double *value);

// The decimal with its exponent written out ("-1.5e-3" is "-0.0015"), or
// "" when `text` is not an ordinary decimal or its exponent is beyond 999.
std::string plainDecimal(const std::string &text);

// The option that sets a parameter the limits name ("wSlice" is --w).
std::string optionForParameter(const std::string &parameter);

}  // namespace quatdepth
