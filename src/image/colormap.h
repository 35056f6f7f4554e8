#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quatdepth {

// How an 8-bit picture's grey levels become colours. Grey keeps one
// channel; the others give three.
enum class Colormap { kGrey, kViridis, kMagma, kTurbo };

// The maps' names, in Colormap's order.
inline constexpr const char *kColormapNames[] = {"grey", "viridis", "magma", "turbo"};
const char *colormapName(Colormap colormap);

// The picture's pixels through the map: 0 (background) stays black, every
// other grey level takes the map's colour at that level. RGB, row-major.
std::vector<uint8_t> colourPicture(const std::vector<uint8_t> &grey, Colormap colormap);
// The same into `rgb`, which keeps its memory where it has room enough.
void colourPicture(const std::vector<uint8_t> &grey, Colormap colormap,
                   std::vector<uint8_t> *rgb);

// Every `factor` x `factor` block of a picture of `channels` interleaved
// channels averaged into one pixel: width and height shrink by `factor`.
std::vector<uint8_t> shrinkPicture(const std::vector<uint8_t> &pixels, int32_t width,
                                   int32_t height, int channels, int factor);
// The same into `small`, which keeps its memory where it has room enough.
void shrinkPicture(const std::vector<uint8_t> &pixels, int32_t width, int32_t height,
                   int channels, int factor, std::vector<uint8_t> *shrunk);

}  // namespace quatdepth
