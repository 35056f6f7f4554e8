#include "image/depth_picture.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <iterator>

namespace quatdepth {
namespace {

// Towards the light: up and left of the picture, and towards the viewer.
constexpr double kLightX = -1.0, kLightY = -1.0, kLightZ = -1.5;
constexpr double kAmbient = 0.12;
// A little gloss on the set's own normals: Blinn's highlight, halfway
// between the light and the viewer (who looks along +z).
constexpr double kSpecular = 0.3;
constexpr double kShininess = 24.0;

uint8_t surfaceShade(double brightness) {
  brightness = std::clamp(brightness, 0.0, 1.0);
  return static_cast<uint8_t>(kDarkestSurface + std::lround(brightness * (255 - kDarkestSurface)));
}

// 0 at the nearest depth present, 1 at the farthest.
double farness(int32_t depth, DepthRange range) {
  if (range.farthest == range.nearest) return 0.0;
  return static_cast<double>(depth - range.nearest) /
         static_cast<double>(range.farthest - range.nearest);
}

// Depth at (x, y), or `fallback` off the image or on background: edges
// then read as flat rather than as cliffs.
double depthOr(const DepthImage &rows, ptrdiff_t x, ptrdiff_t y, double fallback) {
  if (x < 0 || y < 0 || x >= rows.width || y >= rows.height) return fallback;
  int32_t depth = rows.depths[static_cast<size_t>(y) * static_cast<size_t>(rows.width) +
                              static_cast<size_t>(x)];
  return depth < 0 ? fallback : depth;
}

// The surface's slope in levels per pixel, from a wide Sobel stencil: the
// depths come in whole levels, and a narrow stencil would draw every step.
void slopeAt(const DepthImage &rows, ptrdiff_t x, ptrdiff_t y, double *dx, double *dy) {
  constexpr ptrdiff_t kReach = 2;
  const double centre = depthOr(rows, x, y, 0.0);
  double sumX = 0.0, sumY = 0.0, weights = 0.0;
  for (ptrdiff_t across = -1; across <= 1; ++across) {
    const double w = across == 0 ? 2.0 : 1.0;
    sumX += w * (depthOr(rows, x + kReach, y + across, centre) -
                 depthOr(rows, x - kReach, y + across, centre));
    sumY += w * (depthOr(rows, x + across, y + kReach, centre) -
                 depthOr(rows, x + across, y - kReach, centre));
    weights += w;
  }
  *dx = sumX / (weights * 2.0 * kReach);
  *dy = sumY / (weights * 2.0 * kReach);
}

// The brightness of a surface with unit normal n (towards the viewer is
// negative z): ambient, diffuse and a highlight.
double litBrightness(const SurfaceNormal &n) {
  const double lightLength = std::sqrt(kLightX * kLightX + kLightY * kLightY + kLightZ * kLightZ);
  const double lx = kLightX / lightLength, ly = kLightY / lightLength, lz = kLightZ / lightLength;
  const double diffuse = std::max(0.0, n.x * lx + n.y * ly + n.z * lz);
  double hx = lx, hy = ly, hz = lz - 1.0;
  const double halfLength = std::sqrt(hx * hx + hy * hy + hz * hz);
  hx /= halfLength, hy /= halfLength, hz /= halfLength;
  const double facing = std::max(0.0, n.x * hx + n.y * hy + n.z * hz);
  const double highlight = diffuse > 0.0 ? std::pow(facing, kShininess) : 0.0;
  return kAmbient + (1.0 - kAmbient) * diffuse + kSpecular * highlight;
}

// The brightness of the surface at (x, y) with its normal from the slope of
// the depths around it (in levels per pixel, scaled to pixels).
double reliefBrightness(const DepthImage &rows, ptrdiff_t x, ptrdiff_t y, double pixelsPerLevel) {
  double dx, dy;
  slopeAt(rows, x, y, &dx, &dy);
  dx *= pixelsPerLevel;
  dy *= pixelsPerLevel;
  // Depth grows away from the viewer; the normal towards the viewer is
  // (dx, dy, -1): a surface deeper to the right faces right.
  const double nx = dx, ny = dy, nz = -1.0;
  const double lightLength = std::sqrt(kLightX * kLightX + kLightY * kLightY + kLightZ * kLightZ);
  const double length = std::sqrt(nx * nx + ny * ny + nz * nz);
  const double diffuse = (nx * kLightX + ny * kLightY + nz * kLightZ) / (length * lightLength);
  return kAmbient + (1.0 - kAmbient) * std::max(0.0, diffuse);
}

}  // namespace

bool parseLook(const std::string &name, Look *look) {
  for (size_t i = 0; i < std::size(kLookNames); ++i) {
    if (name == kLookNames[i]) {
      *look = static_cast<Look>(i);
      return true;
    }
  }
  return false;
}

const char *lookName(Look look) { return kLookNames[static_cast<size_t>(look)]; }

DepthRange depthRange(const DepthImage &rows) {
  DepthRange range;
  for (int32_t depth : rows.depths) {
    if (depth < 0) continue;
    if (range.nearest < 0 || depth < range.nearest) range.nearest = depth;
    if (depth > range.farthest) range.farthest = depth;
  }
  return range;
}

std::vector<uint8_t> renderPicture(const DepthImage &rows, Look look,
                                   const std::vector<SurfaceNormal> *normals,
                                   const std::vector<float> *openness) {
  std::vector<uint8_t> picture;
  renderPicture(rows, look, normals, openness, &picture);
  return picture;
}

void renderPicture(const DepthImage &rows, Look look, const std::vector<SurfaceNormal> *normals,
                   const std::vector<float> *openness, std::vector<uint8_t> *shades) {
  if (openness && openness->size() != rows.depths.size()) openness = nullptr;
  if (look == Look::kLit && (!normals || normals->size() != rows.depths.size()))
    look = Look::kRelief;
  const size_t width = static_cast<size_t>(rows.width);
  shades->assign(rows.depths.size(), 0);
  std::vector<uint8_t> &picture = *shades;
  const DepthRange range = depthRange(rows);
  if (range.nearest < 0) return;

  // Depths as lengths in pixels: the depth span present spans a third of
  // the image width, whatever the level count, so the relief reads the same.
  const double span = std::max(1, range.farthest - range.nearest);
  const double pixelsPerLevel = static_cast<double>(std::max<size_t>(width, 1)) / (3.0 * span);
  for (size_t y = 0; y < static_cast<size_t>(rows.height); ++y) {
    for (size_t x = 0; x < width; ++x) {
      const size_t i = y * width + x;
      const int32_t depth = rows.depths[i];
      if (depth < 0) continue;
      const double nearness = 1.0 - farness(depth, range);
      const double open = openness ? (*openness)[i] : 1.0;
      if (look == Look::kDepth) {
        picture[i] = surfaceShade(nearness * open);
        continue;
      }
      const double light =
          look == Look::kLit
              ? litBrightness((*normals)[i])
              : reliefBrightness(rows, static_cast<ptrdiff_t>(x), static_cast<ptrdiff_t>(y),
                                 pixelsPerLevel);
      picture[i] = surfaceShade(light * (0.55 + 0.45 * nearness) * open);
    }
  }
}

}  // namespace quatdepth
