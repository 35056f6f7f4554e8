#pragma once

#include <string>
#include <vector>

#include "image/image_files.h"
#include "request/frame.h"
#include "request/keyframes.h"
#include "request/render_exit.h"
#include "request/sweeps.h"
#include "request/words.h"

namespace quatdepth {

// Everything one quatdepth-render run was asked for.
struct RenderRequest {
  Frame parameters;  // every frame's, but for what sweeps or keys move
  std::string output;
  ImageFormat format = ImageFormat::kPng;
  bool depthExr = false;  // an OpenEXR file of scene depths instead of `format`
  int threads = 0;        // 0: every core
  int frames = 1;         // with sweeps or keys, the output name holds a frame number
  std::vector<Sweep> sweeps;
  std::vector<Keyframe> keyframes;  // from --keyframes, instead of sweeps
  bool printArguments = false;
};

// Frame `index` of the request: its sweeps' or its keys' values for that
// frame, derived values included.
Frame frameOf(const RenderRequest &request, int index);

// Parses the command line (argv[0] is the program) into `request`, its
// --params and --keyframes files read. Returns -1 when the run goes on,
// else the exit status, after --help or a message naming the option at
// fault (and the file and line it came from) on standard error.
int parseRenderOptions(int argc, const char *const *argv, RenderRequest *request);

// The same for a command line already in words (its files read), the
// refusal in *error instead of on standard error (only --help prints).
int parseRenderWords(const CommandWords &command, RenderRequest *request, std::string *error);

// Whether quatdepth's positional arguments (--print-args) can stand for
// the request: quatdepth searches by steps only, so a request that asks
// for another search anywhere, a key's included, is refused with a message
// giving the options of the steps search that writes the same depths, and
// naming the file and line that asked when one did.
bool checkPositionalSearch(const RenderRequest &request, const CommandWords &command,
                           std::string *error);

// The same for arguments with no --params or --keyframes among them: front
// ends that build the options themselves use it.
int parseRenderArguments(const std::vector<std::string> &arguments, RenderRequest *request,
                         std::string *error);

}  // namespace quatdepth
