#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "request/exr_text.h"
#include "julia/surface_normal.h"
#include "output/depth_image.h"
#include "settings/render_settings.h"

namespace quatdepth {

// Each pixel's depth in scene units: the distance of its level from the
// near face along the view, zMin to the level's z, at most the largest
// float. Background is +infinity, the compositing convention.
float sceneDepth(const RenderSettings &settings, int32_t level);

// What an EXR needs beside the depths and normals it is made from: its
// channels, and the whole file, made in memory because OpenEXR seeks back
// to write its line offsets and the output may be a pipe.
struct ExrBuffers {
  std::vector<float> channels;  // Z, N.X, N.Y, N.Z of each pixel in turn
  std::vector<char> file;
};

// Room in `buffers` for an EXR of width x height pixels, had now so that
// writing it takes no more. Throws std::bad_alloc without memory.
void reserveExrBuffers(int32_t width, int32_t height, ExrBuffers *buffers);

// The bytes those take, and the bytes OpenEXR's own line buffers and
// compressor take while it writes such a file (an estimate, on the high
// side).
size_t exrBufferBytes(int32_t width, int32_t height);
size_t exrEncoderBytes(int32_t width, int32_t height);

// Writes `rows` as an OpenEXR file of 32-bit float channels: Z, the scene
// depths, and N.X, N.Y, N.Z, the unit surface normals in the picture's frame
// (`normals`, one a pixel, zero where there is no surface), carrying
// `parameters` as a string attribute under `attribute` and their CRC-32
// under `attribute` + "-crc32". Made in `buffers` when given. False with
// the reason when the write fails.
bool writeDepthExr(FILE *out, const DepthImage &rows,
                   const RenderSettings &settings,
                   const std::vector<SurfaceNormal> &normals,
                   const std::string &attribute,
                   const std::string &parameters, std::string *error,
                   ExrBuffers *buffers = nullptr);

}  // namespace quatdepth
