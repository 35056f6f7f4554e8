#include "render/frame_output.h"

#include <algorithm>
#include <vector>

#include "image/colormap.h"
#include "image/depth_picture.h"
#include "image/image_files.h"
#include "julia/search_path.h"
#include "render/depth_exr.h"
#include "render/occlusion.h"
#include "render/parameter_text.h"
#include "render/surface_normals.h"
#include "render/threaded_render.h"

namespace quatdepth {
namespace {

int threadsOf(const RenderRequest &request) {
  return request.threads > 0 ? request.threads : defaultThreadCount();
}

// An 8-bit picture: shaded at every sample, coloured, then each pixel's
// samples averaged.
bool writePicture(FILE *out, const RenderRequest &request,
                  const RenderSettings &s, const MergedRows &samples,
                  const std::vector<PictureText> &texts, std::string *error) {
  const RenderSettings sampled = supersampledSettings(s, request.supersample);
  // Occlusion needs the normals whatever the look: they give each pixel's
  // tangent plane, which its horizons are measured from, on the smooth
  // surface they are measured on rather than on the hits' finer relief.
  ShownSurface surface;
  if (request.occlusion)
    surface = shownSurface(sampled, samples, threadsOf(request));
  else if (request.look == Look::kLit)
    surface.normals = surfaceNormals(sampled, samples, threadsOf(request));
  std::vector<float> openness;
  if (request.occlusion) {
    // A fiftieth of the picture's width, whatever the samples a pixel.
    const int radius = std::max(3, s.width / 50) * request.supersample;
    openness = ambientOcclusion(sampled, samples, surface, radius, threadsOf(request));
  }
  std::vector<uint8_t> pixels = renderPicture(samples, request.look, &surface.normals,
                                              request.occlusion ? &openness : nullptr);
  int channels = 1;
  if (request.colormap != Colormap::kGrey) {
    pixels = colourPicture(pixels, request.colormap);
    channels = 3;
  }
  if (request.supersample > 1)
    pixels = shrinkPicture(pixels, samples.width, samples.height, channels,
                           request.supersample);
  return encodePicture(out, s.width, s.height, channels, pixels,
                       request.format, error, texts);
}

}  // namespace

bool renderFrameSamples(const RenderRequest &request, const RenderSettings &s,
                        MergedRows *samples,
                        const std::function<void(int32_t)> &onProgress,
                        std::string *error, const std::atomic<bool> *stop) {
  return renderAllRows(supersampledSettings(s, request.supersample),
                       fastestSearchPath(), threadsOf(request), samples, onProgress,
                       error, stop);
}

bool writeFrame(FILE *out, const RenderRequest &request,
                const RenderSettings &s, const RealTexts &texts,
                const MergedRows &samples, std::string *error) {
  const std::string parameters = parameterText(request, s, texts);
  const std::vector<PictureText> pictureTexts = {
      {kParameterKeyword, parameters}};
  if (request.depthExr)
    return writeDepthExr(out, samples, s, surfaceNormals(s, samples, threadsOf(request)),
                         kParameterKeyword, parameters, error);
  if (request.format == ImageFormat::kPng ||
      request.format == ImageFormat::kPgm)
    return writePicture(out, request, s, samples, pictureTexts, error);
  return encodeImage(out, samples, request.format, request.look, error,
                     pictureTexts);
}

}  // namespace quatdepth
