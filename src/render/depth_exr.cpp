#include "render/depth_exr.h"

#include <algorithm>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>

#include "julia/depth_search.h"
#include "request/exr_text.h"

#if defined(QUATDEPTH_WITH_OPENEXR)
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <IexErrnoExc.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>
#include <ImfOutputFile.h>
#include <ImfStdIO.h>
#include <ImfStringAttribute.h>
#include <zlib.h>

#include <cstdio>

#include <exception>
#include <new>
#include <vector>
#endif

namespace quatdepth {

float sceneDepth(const RenderSettings &s, int32_t level) {
  if (level < 0) return std::numeric_limits<float>::infinity();
  const int32_t levels = s.coarseSteps * s.fineSteps;
  // The level's z exactly as the search forms it, then its distance from
  // the near face.
  // A hit is never written as the background's infinity: depths beyond a
  // float's range are written as its largest value.
  return static_cast<float>(
      std::min(std::fabs(gridCoordinate(s.zMin, s.zMax, level, levels) - s.zMin),
               static_cast<double>(std::numeric_limits<float>::max())));
}

namespace {

// Z, N.X, N.Y and N.Z, a float each.
constexpr size_t kChannels = 4;
// OpenEXR's default compression, ZIP, packs 16 rows a block.
constexpr size_t kRowsPerBlock = 16;

size_t blocksOf(int32_t height) {
  return (static_cast<size_t>(height) + kRowsPerBlock - 1) / kRowsPerBlock;
}

// The largest file: the header with room for any parameters, each
// block's offset, row number and size, and its pixels stored as they are
// (OpenEXR keeps a block that does not compress uncompressed).
size_t exrFileBytes(int32_t width, int32_t height) {
  const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
  return (size_t{1} << 20) + 16 * blocksOf(height) + kChannels * sizeof(float) * pixels;
}

}  // namespace

void reserveExrBuffers(int32_t width, int32_t height, ExrBuffers *buffers) {
  const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
  buffers->channels.reserve(kChannels * pixels);
  buffers->file.reserve(exrFileBytes(width, height));
}

size_t exrBufferBytes(int32_t width, int32_t height) {
  const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
  return kChannels * sizeof(float) * pixels + exrFileBytes(width, height);
}

size_t exrEncoderBytes(int32_t width, int32_t height) {
  // A block's line buffer, the compressor's output and zlib's scratch,
  // each a block of rows, twice over; OpenEXR's tables of each row's size
  // and place; zlib's own state.
  const size_t block = kRowsPerBlock * kChannels * sizeof(float) * static_cast<size_t>(width);
  return 6 * block + 24 * static_cast<size_t>(height) + (size_t{1} << 20);
}

#if defined(QUATDEPTH_WITH_OPENEXR)

namespace {

// The attribute beside the parameters that holds their CRC-32.
}  // namespace

namespace {

// An OpenEXR stream into memory, which keeps the room it was given.
class MemoryStream : public Imf::OStream {
 public:
  explicit MemoryStream(std::vector<char> *bytes) : Imf::OStream("memory"), bytes_(bytes) {
    bytes_->clear();
  }
  void write(const char c[], int n) override {
    const size_t end = at_ + static_cast<size_t>(n);
    if (end > bytes_->size()) bytes_->resize(end);
    std::memcpy(bytes_->data() + at_, c, static_cast<size_t>(n));
    at_ = end;
  }
  uint64_t tellp() override { return at_; }
  void seekp(uint64_t position) override { at_ = static_cast<size_t>(position); }

 private:
  std::vector<char> *bytes_;
  size_t at_ = 0;
};

}  // namespace

bool writeDepthExr(FILE *out, const DepthImage &rows,
                   const RenderSettings &settings,
                   const std::vector<SurfaceNormal> &normals,
                   const std::string &attribute,
                   const std::string &parameters, std::string *error,
                   ExrBuffers *buffers) {
  ExrBuffers own;
  ExrBuffers &b = buffers ? *buffers : own;
  const size_t pixels = rows.depths.size();
  b.channels.assign(kChannels * pixels, 0.0f);
  for (size_t i = 0; i < pixels; ++i) {
    float *pixel = b.channels.data() + kChannels * i;
    pixel[0] = sceneDepth(settings, rows.depths[i]);
    if (i < normals.size()) {
      pixel[1] = static_cast<float>(normals[i].x);
      pixel[2] = static_cast<float>(normals[i].y);
      pixel[3] = static_cast<float>(normals[i].z);
    }
  }
  try {
    Imf::Header header(rows.width, rows.height);
    const char *names[kChannels] = {"Z", "N.X", "N.Y", "N.Z"};
    for (const char *name : names) header.channels().insert(name, Imf::Channel(Imf::FLOAT));
    header.insert(attribute, Imf::StringAttribute(parameters));
    // An EXR header has no checksum of its own.
    header.insert(attribute + kExrCheckSuffix, Imf::StringAttribute(exrTextCheck(parameters)));
    MemoryStream stream(&b.file);
    Imf::OutputFile file(stream, header);
    Imf::FrameBuffer frame;
    const size_t pixelBytes = kChannels * sizeof(float);
    for (size_t c = 0; c < kChannels; ++c)
      frame.insert(names[c], Imf::Slice(Imf::FLOAT, reinterpret_cast<char *>(b.channels.data() + c),
                                        pixelBytes, pixelBytes * static_cast<size_t>(rows.width)));
    file.setFrameBuffer(frame);
    file.writePixels(rows.height);
  } catch (const std::bad_alloc &) {
    throw;  // out of memory, as for the render, not a failed write
  } catch (const IEX_NAMESPACE::EnomemExc &) {
    throw std::bad_alloc();
  } catch (const std::exception &e) {
    *error = e.what();
    return false;
  }
  if (std::fwrite(b.file.data(), 1, b.file.size(), out) != b.file.size()) {
    *error = std::strerror(errno);
    return false;
  }
  return true;
}

#else

bool writeDepthExr(FILE *, const DepthImage &, const RenderSettings &,
                   const std::vector<SurfaceNormal> &, const std::string &,
                   const std::string &, std::string *error, ExrBuffers *) {
  *error = "this build has no OpenEXR support";
  return false;
}

#endif

}  // namespace quatdepth
