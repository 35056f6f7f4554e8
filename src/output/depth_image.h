#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quatdepth {

// A picture of depths, row by row as depth row records carry them:
// quatdepth-image puts one together from record streams by the row index
// every record carries; quatdepth-render fills it on its threads.
struct DepthImage {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<int32_t> depths;    // row-major; -1 where there is no surface
  std::vector<uint8_t> received;  // per row: has a record arrived?
  int64_t rowsReceived = 0;       // distinct rows
};

// The largest depth image: a gigabyte of depths.
constexpr int64_t kMaxDepthImagePixels = int64_t{1} << 28;
// A record keeps 24 bits of its row index: taller images would alias.
constexpr int32_t kMaxDepthImageHeight = int32_t{1} << 24;

// Tells whether a width x height depth image can be had; false with a
// message naming the limit otherwise.
bool checkDepthImageSize(int32_t width, int32_t height, std::string *error);

// Sizes `image` for width x height with no rows yet. Returns false (with a
// message) for sizes out of range. Throws std::bad_alloc when the memory
// cannot be had.
bool initDepthImage(DepthImage *image, int32_t width, int32_t height,
                    std::string *error);

}  // namespace quatdepth
