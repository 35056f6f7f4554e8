#pragma once

#include <png.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace quatdepth::testing {

struct Png {
  png_uint_32 width = 0, height = 0;
  int bitDepth = 0;
  int channels = 0;  // 1 grey, 3 RGB
  std::vector<std::vector<uint8_t>> rows;
};

// Decodes a whole PNG with libpng, samples as stored (grey or RGB, 8 or
// 16 bits); an empty result on any failure.
inline Png readPngFrom(FILE *in) {
  Png result;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return Png{};
  }
  png_init_io(png, in);
  png_read_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
  result.width = png_get_image_width(png, info);
  result.height = png_get_image_height(png, info);
  result.bitDepth = png_get_bit_depth(png, info);
  result.channels = png_get_channels(png, info);
  png_bytepp rows = png_get_rows(png, info);
  for (png_uint_32 y = 0; y < result.height; ++y)
    result.rows.emplace_back(rows[y], rows[y] + png_get_rowbytes(png, info));
  png_destroy_read_struct(&png, &info, nullptr);
  return result;
}

inline Png readPng(const std::string &file) {
  FILE *in = std::fopen(file.c_str(), "rb");
  if (!in) return Png{};
  Png result = readPngFrom(in);
  std::fclose(in);
  return result;
}

}  // namespace quatdepth::testing
