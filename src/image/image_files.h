#pragma once

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

// Writes the image to `path` ("-" for standard output). A file is written
// under a temporary name beside it and renamed into place only when
// complete, so a failure leaves an existing file as it was. Returns false
// with a message on failure.
bool writeImage(const MergedRows &rows, ImageFormat format, Look look,
                const std::string &path, std::string *error);

}  // namespace quatdepth
