#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "output/depth_image.h"
#include "render/depth_exr.h"
#include "render/normal_map.h"
#include "request/render_request.h"
#include "settings/render_settings.h"

namespace quatdepth {

// Every buffer a frame needs that grows with its picture. Had all at once
// before the frame's first row renders, so a frame too large for memory
// is refused at once instead of after its render.
struct FrameBuffers {
  DepthImage samples;            // the depths, one a sample
  ShownSurface surface;          // normals, and their depths for occlusion
  std::vector<float> openness;   // for occlusion
  std::vector<uint8_t> shades;   // the 8-bit picture, one a sample
  std::vector<uint8_t> colours;  // through a colour map, three a sample
  std::vector<uint8_t> pixels;   // samples averaged, one a pixel
  ExrBuffers exr;
  // Room for libpng's, zlib's and OpenEXR's own buffers, given back just
  // before the picture is encoded, for them to take.
  std::vector<char> encoderRoom;
};

// Gets `buffers` ready for `frame` of `request`. False with a message
// saying how much memory the frame needs when that cannot be had.
bool allocateFrameBuffers(const RenderRequest &request, const Frame &frame,
                          FrameBuffers *buffers, std::string *error);

// The samples of `frame` of `request`: its rows, supersampled as the
// frame asks, with its depth search on the request's threads (every core
// for 0) on the fastest search path. False with a message when memory or a thread cannot
// be had, or when `stop` is set before the last row. Samples with room
// enough (allocateFrameBuffers) take no more memory.
bool renderFrameSamples(const RenderRequest &request, const Frame &frame,
                        DepthImage *samples,
                        const std::function<void(int32_t rowsDone)> &onProgress,
                        std::string *error,
                        const std::atomic<bool> *stop = nullptr);

// Writes `frame`, `buffers->samples` rendered, in the request's format to
// `out`, carrying the frame's parameters, in the buffers' memory. False
// with the reason when the write fails.
bool writeFrame(FILE *out, const RenderRequest &request, const Frame &frame,
                FrameBuffers *buffers, std::string *error);

}  // namespace quatdepth
