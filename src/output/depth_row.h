#pragma once

#include <cstddef>
#include <cstdint>

namespace quatdepth {

// A depth row record is 4 x (width + 1) bytes: the row index, then one
// depth per pixel column, each value in four bytes. A non-negative value
// keeps its low 24 bits as four 6-bit groups, most significant first, each
// stored as 2 x group + 1 (always odd, 0x01..0x7F); a negative value is four
// 0xFF bytes. No byte is ever 0x00 or 0x0A.
constexpr size_t kBytesPerValue = 4;
constexpr uint8_t kNoSurfaceByte = 0xFF;

inline size_t depthRowBytes(size_t width) {
  return kBytesPerValue * (width + 1);
}

// Writes 4 x count bytes for `count` values, then one NUL (not part of the
// record), so `bytes` must hold 4 x count + 1.
void encodeRow(const int32_t *values, uint8_t *bytes, size_t count);

}  // namespace quatdepth
