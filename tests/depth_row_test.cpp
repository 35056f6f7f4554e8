#include <gtest/gtest.h>

#include <vector>

#include "output/depth_row.h"

namespace quatdepth {
namespace {

std::vector<uint8_t> encode(std::vector<int32_t> values) {
  std::vector<uint8_t> bytes(4 * values.size() + 1, 0xAA);
  encodeRow(values.data(), bytes.data(), values.size());
  return bytes;
}

TEST(EncodeRow, DocumentedValues) {
  EXPECT_EQ(encode({0, 1000, 299, -1, 1 << 24, INT32_MIN, 0xFFFFFF}),
            (std::vector<uint8_t>{
                0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x1F, 0x51,  // 0, 1000
                0x01, 0x01, 0x09, 0x57, 0xFF, 0xFF, 0xFF, 0xFF,  // 299, -1
                0x01, 0x01, 0x01, 0x01, 0xFF, 0xFF, 0xFF, 0xFF,  // 2^24, min
                0x7F, 0x7F, 0x7F, 0x7F, 0x00}));                 // 2^24-1, NUL
}

TEST(EncodeRow, EveryNonNegativeByteIsOddAndRoundTrips) {
  for (int32_t v = 0; v < (1 << 24); v += 4099) {
    auto bytes = encode({v});
    int32_t decoded = 0;
    for (int j = 0; j < 4; ++j) {
      ASSERT_EQ(bytes[static_cast<size_t>(j)] % 2, 1) << v;
      decoded = decoded * 64 + (bytes[static_cast<size_t>(j)] - 1) / 2;
    }
    ASSERT_EQ(decoded, v);
  }
}

TEST(EncodeRow, EmptyRowIsJustTheNul) {
  EXPECT_EQ(encode({}), std::vector<uint8_t>{0x00});
}

}  // namespace
}  // namespace quatdepth
