#include "render/render_run.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <utility>

#include "image/image_output.h"
#include "render/frame_output.h"
#include "render/progress_bar.h"
#include "render/threaded_render.h"
#include "request/frame_names.h"
#include "request/render_request.h"

namespace quatdepth {
namespace {

void report(const std::string &message) {
  std::fprintf(stderr, "quatdepth-render: %s\n", message.c_str());
}

// One line a frame.
int printArguments(const RenderRequest &request) {
  for (int frame = 0; frame < request.frames; ++frame) {
    const Frame f = frameOf(request, frame);
    std::printf("%s\n", positionalLine(f.settings, f.texts).c_str());
  }
  std::string error;
  if (!flushStandardOutput(&error)) {
    report(error);
    return kRenderCannotWrite;
  }
  return kRenderSuccess;
}

// One frame's picture into `output`.
int renderAndWrite(const RenderRequest &request, const Frame &frame, const std::string &label,
                   ImageOutput *output) {
  // All the memory the frame needs, before it renders: a frame too large
  // is refused now rather than when it is written.
  FrameBuffers buffers;
  std::string error;
  if (!allocateFrameBuffers(request, frame, &buffers, &error)) {
    report(error + "; nothing was written");
    return kRenderFailed;
  }
  ProgressBar bar(supersampledSettings(frame.settings, frame.supersample).height,
                  std::string("quatdepth-render").append(label), "rows");
  if (!renderFrameSamples(
          request, frame, &buffers.samples, [&bar](int32_t done) { bar.show(done); },
          &error)) {
    report(error + "; nothing was written");
    return kRenderFailed;
  }
  FILE *out = output->begin(&error);
  if (!out) {
    report(error);
    return kRenderCannotWrite;
  }
  if (!writeFrame(out, request, frame, &buffers, &error)) {
    report(output->name() + ": " + error);
    return kRenderCannotWrite;
  }
  if (!output->commit(&error)) {
    report(error);
    return kRenderCannotWrite;
  }
  return kRenderSuccess;
}

// Every frame can be written, its folder and its name, before the first
// frame renders.
bool checkFrameOutputs(const RenderRequest &request) {
  std::set<std::string> folders;
  for (int frame = 0; frame < request.frames; ++frame) {
    const std::string name = frameName(request.output, frame);
    const size_t slash = name.rfind('/');
    folders.insert(slash == std::string::npos ? "."
                   : slash == 0               ? "/"
                                              : name.substr(0, slash));
  }
  for (const std::string &folder : folders) {
    if (access(folder.c_str(), W_OK | X_OK) != 0) {
      report(folder + ": " + std::strerror(errno) + "; no frame was rendered");
      return false;
    }
  }
  // A frame's name taken by a folder, or by a file the user cannot
  // overwrite, would otherwise be found only when that frame is written.
  for (int frame = 0; frame < request.frames; ++frame) {
    const std::string name = frameName(request.output, frame);
    struct stat status;
    if (stat(name.c_str(), &status) != 0) continue;
    const int code = S_ISDIR(status.st_mode)           ? EISDIR
                     : access(name.c_str(), W_OK) != 0 ? errno
                                                       : 0;
    if (code) {
      report(name + ": " + std::strerror(code) + "; no frame was rendered");
      return false;
    }
  }
  return true;
}

}  // namespace

int runQuatdepthRender(int argc, char **argv) {
  const ClosedStreams closed = occupyClosedStreams();
  RenderRequest request;
  const int parsed = parseRenderOptions(argc, argv, &request);
  if (parsed == kRenderSuccess && closed.output) {  // --help, into nothing
    report("standard output: " + std::string(std::strerror(EBADF)));
    return kRenderCannotWrite;
  }
  if (parsed >= 0) return parsed;
  if ((request.printArguments || request.output == "-") && closed.output) {
    report("standard output: " + std::string(std::strerror(EBADF)));
    return kRenderCannotWrite;
  }
  if (request.printArguments) return printArguments(request);
  if (request.frames > 1 && !checkFrameOutputs(request))
    return kRenderCannotWrite;
  for (int frame = 0; frame < request.frames; ++frame) {
    const Frame f = frameOf(request, frame);
    const bool animated = request.frames > 1;
    // A name with a frame number is numbered even for one frame, so a
    // script's frame%04d.png is frame0000.png whatever the count.
    const std::string name = animated || holdsFramePattern(request.output)
                                 ? frameName(request.output, frame)
                                 : request.output;
    const std::string label = animated
                                  ? " frame " + std::to_string(frame + 1) +
                                        "/" + std::to_string(request.frames)
                                  : "";
    ImageOutput output;
    std::string error;
    if (!output.open(name, &error)) {
      report(error);
      return kRenderCannotWrite;
    }
    int status = kRenderSuccess;
    try {
      status = renderAndWrite(request, f, label, &output);
    } catch (const std::bad_alloc &) {
      report("not enough memory for a picture of " + std::to_string(f.settings.width) +
             " x " + std::to_string(f.settings.height) + " pixels; nothing was written");
      status = kRenderFailed;
    }
    if (status != kRenderSuccess) return status;  // the frames before it stand
  }
  return kRenderSuccess;
}

}  // namespace quatdepth
