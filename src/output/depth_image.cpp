#include "output/depth_image.h"

#include <cstddef>

namespace quatdepth {

bool checkDepthImageSize(int32_t width, int32_t height, std::string *error) {
  const std::string size = std::to_string(width) + " x " + std::to_string(height);
  if (width < 0 || height < 0) {
    *error = "an image of " + size + " pixels cannot be: --width and --height must not be negative";
    return false;
  }
  if (height > kMaxDepthImageHeight) {
    *error = "--height " + std::to_string(height) +
             " is more rows than a record can name (at most 2^24 = 16777216)";
    return false;
  }
  if (int64_t{width} * height > kMaxDepthImagePixels) {
    *error = "an image of " + size + " pixels is too large (at most 2^28 pixels)";
    return false;
  }
  return true;
}

bool initDepthImage(DepthImage *image, int32_t width, int32_t height,
                    std::string *error) {
  if (!checkDepthImageSize(width, height, error)) return false;
  image->width = width;
  image->height = height;
  image->depths.assign(static_cast<size_t>(width) * static_cast<size_t>(height), -1);
  image->received.assign(static_cast<size_t>(height), 0);
  image->rowsReceived = 0;
  return true;
}

}  // namespace quatdepth
