#include "render/frame_output.h"

#include <algorithm>
#include <new>
#include <vector>

#include "image/colormap.h"
#include "image/depth_picture.h"
#include "image/image_files.h"
#include "julia/search_path.h"
#include "render/depth_exr.h"
#include "render/occlusion.h"
#include "render/normal_map.h"
#include "request/parameter_files.h"
#include "request/parameter_text.h"
#include "render/threaded_render.h"

namespace quatdepth {
namespace {

int threadsOf(const RenderRequest &request) {
  return request.threads > 0 ? request.threads : defaultThreadCount();
}

// An 8-bit picture, shaded from the samples; the other formats write the
// depths themselves.
bool writesPicture(const RenderRequest &request) {
  return !request.depthExr &&
         (request.format == ImageFormat::kPng || request.format == ImageFormat::kPgm);
}

int pictureChannels(const Frame &frame) {
  return frame.colormap == Colormap::kGrey ? 1 : 3;
}

// libpng's buffers for rows of `rowBytes`: the row, the row before it and
// two trial rows for its filters; and zlib's state and window.
size_t pngEncoderBytes(size_t rowBytes) { return 4 * (rowBytes + 1) + (size_t{1} << 20); }

// How many of each thing a frame's buffers hold.
struct FramePlan {
  size_t samples = 0, sampleRows = 0;
  size_t normals = 0, normalDepths = 0, openness = 0;
  size_t shades = 0, colours = 0, pixels = 0;
  int32_t exrWidth = 0, exrHeight = 0;  // of an EXR, if one is written
  size_t encoderBytes = 0;

  size_t bytes() const {
    return samples * sizeof(int32_t) + sampleRows + normals * sizeof(SurfaceNormal) +
           normalDepths * sizeof(double) + openness * sizeof(float) + shades + colours +
           pixels + (exrWidth > 0 ? exrBufferBytes(exrWidth, exrHeight) : 0) + encoderBytes;
  }
};

FramePlan planFrame(const RenderRequest &request, const Frame &frame) {
  const RenderSettings &s = frame.settings;
  const RenderSettings sampled = supersampledSettings(s, frame.supersample);
  const size_t samples = static_cast<size_t>(sampled.width) * static_cast<size_t>(sampled.height);
  const size_t pixels = static_cast<size_t>(s.width) * static_cast<size_t>(s.height);
  const size_t width = static_cast<size_t>(s.width);
  FramePlan plan;
  plan.samples = samples;
  plan.sampleRows = static_cast<size_t>(sampled.height);
  if (request.depthExr) {
    plan.normals = samples;
    plan.exrWidth = s.width, plan.exrHeight = s.height;
    plan.encoderBytes = exrEncoderBytes(s.width, s.height);
  } else if (writesPicture(request)) {
    // Occlusion measures from the normals' surface whatever the look.
    if (frame.occlusion)
      plan.normals = plan.normalDepths = plan.openness = samples;
    else if (frame.look == Look::kLit)
      plan.normals = samples;
    plan.shades = samples;
    const size_t channels = static_cast<size_t>(pictureChannels(frame));
    if (channels == 3) plan.colours = 3 * samples;
    if (frame.supersample > 1) plan.pixels = channels * pixels;
    if (request.format == ImageFormat::kPng) plan.encoderBytes = pngEncoderBytes(channels * width);
  } else if (request.format == ImageFormat::kPng16) {
    plan.encoderBytes = 2 * width + pngEncoderBytes(2 * width);
  } else {
    plan.encoderBytes = 2 * 4 * (width + 1) + 1;  // a record's values and bytes
  }
  return plan;
}

// Gives a buffer's memory back.
template <typename T>
void release(std::vector<T> *buffer) {
  std::vector<T>().swap(*buffer);
}

// An 8-bit picture: shaded at every sample, coloured, then each pixel's
// samples averaged.
bool writePicture(FILE *out, const RenderRequest &request, const Frame &frame,
                  const DepthImage &samples, FrameBuffers *b,
                  const std::vector<PictureText> &texts, std::string *error) {
  const RenderSettings &s = frame.settings;
  const RenderSettings sampled = supersampledSettings(s, frame.supersample);
  // Occlusion needs the normals whatever the look: they give each pixel's
  // tangent plane, which its horizons are measured from, on the smooth
  // surface they are measured on rather than on the hits' finer relief.
  if (frame.occlusion)
    shownSurface(sampled, samples, threadsOf(request), &b->surface);
  else if (frame.look == Look::kLit)
    normalMap(sampled, samples, threadsOf(request), &b->surface.normals);
  if (frame.occlusion) {
    // A fiftieth of the picture's width, whatever the samples a pixel.
    const int radius = std::max(3, s.width / 50) * frame.supersample;
    ambientOcclusion(sampled, samples, b->surface, radius, threadsOf(request), &b->openness);
  }
  renderPicture(samples, frame.look, &b->surface.normals,
                frame.occlusion ? &b->openness : nullptr, &b->shades);
  const std::vector<uint8_t> *picture = &b->shades;
  const int channels = pictureChannels(frame);
  if (channels == 3) {
    colourPicture(*picture, frame.colormap, &b->colours);
    picture = &b->colours;
  }
  if (frame.supersample > 1) {
    shrinkPicture(*picture, samples.width, samples.height, channels, frame.supersample,
                  &b->pixels);
    picture = &b->pixels;
  }
  release(&b->encoderRoom);
  return encodePicture(out, s.width, s.height, channels, *picture, request.format, error, texts);
}

}  // namespace

bool allocateFrameBuffers(const RenderRequest &request, const Frame &frame,
                          FrameBuffers *buffers, std::string *error) {
  const RenderSettings &s = frame.settings;
  const FramePlan plan = planFrame(request, frame);
  try {
    buffers->samples.depths.reserve(plan.samples);
    buffers->samples.received.reserve(plan.sampleRows);
    buffers->surface.normals.reserve(plan.normals);
    buffers->surface.depths.reserve(plan.normalDepths);
    buffers->openness.reserve(plan.openness);
    buffers->shades.reserve(plan.shades);
    buffers->colours.reserve(plan.colours);
    buffers->pixels.reserve(plan.pixels);
    if (plan.exrWidth > 0) reserveExrBuffers(plan.exrWidth, plan.exrHeight, &buffers->exr);
    buffers->encoderRoom.reserve(plan.encoderBytes);
  } catch (const std::bad_alloc &) {
    *buffers = FrameBuffers();
    const std::string samples =
        frame.supersample > 1 ? " at " + std::to_string(frame.supersample) + " x " +
                                      std::to_string(frame.supersample) + " samples a pixel"
                                : "";
    *error = "not enough memory for a picture of " + std::to_string(s.width) + " x " +
             std::to_string(s.height) + " pixels" + samples + ": it needs " +
             std::to_string((plan.bytes() + (size_t{1} << 20) - 1) >> 20) + " MiB";
    return false;
  }
  return true;
}

bool renderFrameSamples(const RenderRequest &request, const Frame &frame,
                        DepthImage *samples,
                        const std::function<void(int32_t)> &onProgress,
                        std::string *error, const std::atomic<bool> *stop) {
  return renderAllRows(supersampledSettings(frame.settings, frame.supersample), frame.search,
                       fastestSearchPath(), threadsOf(request), samples, onProgress,
                       error, stop);
}

bool writeFrame(FILE *out, const RenderRequest &request, const Frame &frame, FrameBuffers *b,
                std::string *error) {
  const RenderSettings &s = frame.settings;
  const DepthImage &samples = b->samples;
  const std::string parameters = parameterText(frame);
  const std::vector<PictureText> pictureTexts = {{kParameterKeyword, parameters}};
  if (writesPicture(request))
    return writePicture(out, request, frame, samples, b, pictureTexts, error);
  if (request.depthExr) {
    normalMap(s, samples, threadsOf(request), &b->surface.normals);
    release(&b->encoderRoom);
    return writeDepthExr(out, samples, s, b->surface.normals, kParameterKeyword, parameters,
                         error, &b->exr);
  }
  release(&b->encoderRoom);
  return encodeImage(out, samples, request.format, frame.look, error, pictureTexts);
}

}  // namespace quatdepth
