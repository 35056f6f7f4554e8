#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "image/depth_picture.h"
#include "output/depth_image.h"

namespace quatdepth {

enum class ImageFormat {
  kPng,    // 8-bit grey picture
  kPng16,  // 16-bit grey: depth + 1, 0 for background
  kPgm,    // 8-bit grey picture, binary PGM
  kRows,   // the merged depth row records, in row order
};

// "png", "png16", "pgm" or "rows".
bool parseImageFormat(const std::string &name, ImageFormat *format);

// The format a path's extension names (.png, .pgm, .rows).
bool imageFormatFromPath(const std::string &path, ImageFormat *format);

// Every format but rows is a picture, which needs at least one pixel.
inline bool isPictureFormat(ImageFormat format) { return format != ImageFormat::kRows; }

// A text a picture carries beside its pixels (a PNG tEXt chunk): Latin-1,
// the keyword 1 to 79 characters.
struct PictureText {
  std::string keyword, text;
};

// Writes the image to `out` in `format`; PNGs carry `texts`, the other
// formats have no room for them. Returns false with the reason (the
// system's, or libpng's) when a write fails or the depths do not fit.
bool encodeImage(FILE *out, const DepthImage &rows, ImageFormat format, Look look,
                 std::string *error, const std::vector<PictureText> &texts = {});

// Writes an 8-bit picture made already (`channels` 1 for grey, 3 for RGB,
// interleaved, row-major) as a PNG, or a PGM when it is grey.
bool encodePicture(FILE *out, int32_t width, int32_t height, int channels,
                   const std::vector<uint8_t> &pixels, ImageFormat format, std::string *error,
                   const std::vector<PictureText> &texts = {});

}  // namespace quatdepth
