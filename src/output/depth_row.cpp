#include "output/depth_row.h"

namespace quatdepth {

void encodeRow(const int32_t *values, uint8_t *bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    int32_t v = values[i];
    for (int shift = 18; shift >= 0; shift -= 6) {
      *bytes++ = v < 0 ? kNoSurfaceByte
                       : static_cast<uint8_t>(((v >> shift) & 63) * 2 + 1);
    }
  }
  *bytes = 0;
}

}  // namespace quatdepth
