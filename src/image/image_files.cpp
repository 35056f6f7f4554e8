#include "image/image_files.h"

#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "output/depth_row.h"

namespace quatdepth {
namespace {

bool fail(std::string *error, const std::string &message) {
  *error = message;
  return false;
}

// Owns libpng's write state; frees it however the write ends.
struct PngWriter {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~PngWriter() { png_destroy_write_struct(&png, info ? &info : nullptr); }
};

// Where libpng's bytes go, and why the last write failed.
struct PngSink {
  FILE *out;
  std::string error;
  bool outOfMemory = false;
};

void onPngError(png_structp png, png_const_charp message) {
  auto *sink = static_cast<PngSink *>(png_get_error_ptr(png));
  if (sink->error.empty()) sink->error = message;
  // libpng's and zlib's words for a failed allocation.
  sink->outOfMemory = sink->outOfMemory || std::strstr(message, "memory") != nullptr;
  png_longjmp(png, 1);
}

void onPngWarning(png_structp, png_const_charp) {}

// libpng's own writer says only "Write Error": keep the system's reason.
void onPngWrite(png_structp png, png_bytep data, size_t size) {
  auto *sink = static_cast<PngSink *>(png_get_io_ptr(png));
  if (std::fwrite(data, 1, size, sink->out) != size) {
    sink->error = std::strerror(errno);
    png_error(png, "write");
  }
}

void onPngFlush(png_structp) {}

// PNG allows 2^31 - 1 pixels a side; libpng by default only a million.
constexpr png_uint_32 kMaxPngSide = 0x7FFFFFFF;

// libpng's view of the texts, which point into them.
std::vector<png_text> pngTexts(const std::vector<PictureText> &texts) {
  std::vector<png_text> chunks(texts.size());
  for (size_t i = 0; i < texts.size(); ++i) {
    chunks[i].compression = PNG_TEXT_COMPRESSION_NONE;
    chunks[i].key = const_cast<png_charp>(texts[i].keyword.c_str());
    chunks[i].text = const_cast<png_charp>(texts[i].text.c_str());
    chunks[i].text_length = texts[i].text.size();
  }
  return chunks;
}

// Grey (1 channel) or RGB (3) PNG of `bitDepth` 8 or 16, carrying `chunks`
// before the pixels. Row y's big-endian samples are rowAt(y), which is
// called just before the row is written, so a picture is never copied
// whole.
template <typename RowAt>
bool writePngWithTexts(FILE *out, int32_t width, int32_t height, int bitDepth, int channels,
                       const RowAt &rowAt, std::vector<png_text> &chunks, std::string *error) {
  PngSink sink{out, "", false};
  PngWriter writer;
  writer.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &sink,
                                       onPngError, onPngWarning);
  if (!writer.png) return fail(error, "cannot start a PNG");
  writer.info = png_create_info_struct(writer.png);
  if (!writer.info) return fail(error, "cannot start a PNG");
  // Nothing with a destructor is created past this point.
  if (setjmp(png_jmpbuf(writer.png))) {
    // Back in C++ frames: a failed allocation is reported as everywhere else.
    if (sink.outOfMemory) throw std::bad_alloc();
    return fail(error, sink.error);
  }
  png_set_write_fn(writer.png, &sink, onPngWrite, onPngFlush);
  png_set_user_limits(writer.png, kMaxPngSide, kMaxPngSide);
  png_set_IHDR(writer.png, writer.info, static_cast<png_uint_32>(width),
               static_cast<png_uint_32>(height), bitDepth,
               channels == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  // Before the pixels, so a reader finds them without decoding the image.
  if (!chunks.empty())
    png_set_text(writer.png, writer.info, chunks.data(), static_cast<int>(chunks.size()));
  png_write_info(writer.png, writer.info);
  for (int32_t y = 0; y < height; ++y) png_write_row(writer.png, rowAt(y));
  png_write_end(writer.png, nullptr);
  return true;
}

bool writePng(FILE *out, int32_t width, int32_t height, int bitDepth, int channels,
              const std::vector<uint8_t> &samples, const std::vector<PictureText> &texts,
              std::string *error) {
  std::vector<png_text> chunks = pngTexts(texts);
  const size_t rowBytes = static_cast<size_t>(width) * static_cast<size_t>(channels) *
                          static_cast<size_t>(bitDepth / 8);
  const auto rowAt = [&](int32_t y) { return samples.data() + static_cast<size_t>(y) * rowBytes; };
  return writePngWithTexts(out, width, height, bitDepth, channels, rowAt, chunks, error);
}

bool writeDepthPng16(FILE *out, const DepthImage &rows, const std::vector<PictureText> &texts,
                     std::string *error) {
  const DepthRange range = depthRange(rows);
  if (range.farthest > 65534)
    return fail(error, "depth " + std::to_string(range.farthest) +
                           " does not fit a 16-bit PNG (at most 65534); use "
                           "--format rows");
  // A row at a time: the depths are not copied whole.
  const size_t width = static_cast<size_t>(rows.width);
  std::vector<uint8_t> row(2 * width);
  const auto rowAt = [&](int32_t y) {
    const int32_t *depths = rows.depths.data() + static_cast<size_t>(y) * width;
    for (size_t x = 0; x < width; ++x) {
      const uint32_t value = static_cast<uint32_t>(depths[x] + 1);
      row[2 * x] = static_cast<uint8_t>(value >> 8);
      row[2 * x + 1] = static_cast<uint8_t>(value & 0xFF);
    }
    return row.data();
  };
  std::vector<png_text> chunks = pngTexts(texts);
  return writePngWithTexts(out, rows.width, rows.height, 16, 1, rowAt, chunks, error);
}

bool writePgm(FILE *out, int32_t width, int32_t height, const std::vector<uint8_t> &picture) {
  return std::fprintf(out, "P5\n%d %d\n255\n", width, height) > 0 &&
         std::fwrite(picture.data(), 1, picture.size(), out) == picture.size();
}

bool writeRows(FILE *out, const DepthImage &rows) {
  const size_t width = static_cast<size_t>(rows.width);
  std::vector<int32_t> values(width + 1);
  std::vector<uint8_t> bytes(depthRowBytes(width) + 1);
  for (size_t y = 0; y < rows.received.size(); ++y) {
    if (!rows.received[y]) continue;
    values[0] = static_cast<int32_t>(y);
    std::copy_n(rows.depths.begin() + static_cast<ptrdiff_t>(y * width), width,
                values.begin() + 1);
    encodeRow(values.data(), bytes.data(), values.size());
    if (std::fwrite(bytes.data(), 1, bytes.size() - 1, out) != bytes.size() - 1)
      return false;
  }
  return true;
}

}  // namespace

bool encodeImage(FILE *out, const DepthImage &rows, ImageFormat format, Look look,
                 std::string *error, const std::vector<PictureText> &texts) {
  switch (format) {
    case ImageFormat::kRows:
      return writeRows(out, rows) || fail(error, std::strerror(errno));
    case ImageFormat::kPgm:
    case ImageFormat::kPng:
      return encodePicture(out, rows.width, rows.height, 1, renderPicture(rows, look), format,
                           error, texts);
    case ImageFormat::kPng16:
      return writeDepthPng16(out, rows, texts, error);
  }
  return fail(error, "unknown format");
}

bool encodePicture(FILE *out, int32_t width, int32_t height, int channels,
                   const std::vector<uint8_t> &pixels, ImageFormat format, std::string *error,
                   const std::vector<PictureText> &texts) {
  if (format == ImageFormat::kPgm && channels == 1)
    return writePgm(out, width, height, pixels) || fail(error, std::strerror(errno));
  if (format == ImageFormat::kPng)
    return writePng(out, width, height, 8, channels, pixels, texts, error);
  return fail(error, "this format holds no 8-bit picture of " + std::to_string(channels) +
                         " channels");
}

bool parseImageFormat(const std::string &name, ImageFormat *format) {
  const struct {
    const char *name;
    ImageFormat format;
  } formats[] = {{"png", ImageFormat::kPng},
                 {"png16", ImageFormat::kPng16},
                 {"pgm", ImageFormat::kPgm},
                 {"rows", ImageFormat::kRows}};
  for (const auto &entry : formats) {
    if (name == entry.name) {
      *format = entry.format;
      return true;
    }
  }
  return false;
}

bool imageFormatFromPath(const std::string &path, ImageFormat *format) {
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return false;
  std::string extension = path.substr(dot + 1);
  return extension != "png16" && parseImageFormat(extension, format);
}

}  // namespace quatdepth
