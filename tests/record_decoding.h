#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "output/depth_row.h"

namespace quatdepth::testing {

// Records of `width` depths for `rows`, in that order; depthOf(x, row)
// gives each depth.
template <typename DepthOf>
std::string encodeRecords(int width, const std::vector<int> &rows, DepthOf depthOf) {
  std::vector<int32_t> values(static_cast<size_t>(width) + 1);
  std::vector<uint8_t> bytes(depthRowBytes(values.size() - 1) + 1);
  std::string stream;
  for (int row : rows) {
    values[0] = row;
    for (int x = 0; x < width; ++x) values[static_cast<size_t>(x) + 1] = static_cast<int32_t>(depthOf(x, row));
    encodeRow(values.data(), bytes.data(), values.size());
    stream.append(bytes.begin(), bytes.end() - 1);
  }
  return stream;
}

// Decodes one four-byte value of a depth row record.
inline int32_t decodeValue(const std::string &bytes, size_t offset) {
  if (static_cast<uint8_t>(bytes[offset]) == 0xFF) return -1;
  int32_t value = 0;
  for (size_t j = 0; j < 4; ++j)
    value = value * 64 + (static_cast<uint8_t>(bytes[offset + j]) - 1) / 2;
  return value;
}

// Splits a stream into records of `width` + 1 decoded values each.
inline std::vector<std::vector<int32_t>> decodeRecords(const std::string &bytes,
                                                       size_t width) {
  std::vector<std::vector<int32_t>> records;
  const size_t recordBytes = 4 * (width + 1);
  for (size_t start = 0; start + recordBytes <= bytes.size();
       start += recordBytes) {
    std::vector<int32_t> record;
    for (size_t v = 0; v <= width; ++v)
      record.push_back(decodeValue(bytes, start + 4 * v));
    records.push_back(record);
  }
  return records;
}

inline std::string hexBytes(const std::string &bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (!text.empty()) text += ' ';
    text += digits[byte >> 4];
    text += digits[byte & 15];
  }
  return text;
}

}  // namespace quatdepth::testing
