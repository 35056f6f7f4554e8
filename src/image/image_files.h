#pragma once

#include <cstdio>
#include <string>

#include "image/depth_picture.h"
#include "image/row_merge.h"

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

// Writes the image to `out` in `format`. Returns false with the reason
// (the system's, or libpng's) when a write fails or the depths do not fit.
bool encodeImage(FILE *out, const MergedRows &rows, ImageFormat format, Look look,
                 std::string *error);

}  // namespace quatdepth
