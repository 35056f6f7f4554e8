#include "image/image_files.h"

#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
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

void onPngError(png_structp png, png_const_charp message) {
  auto *error = static_cast<std::string *>(png_get_error_ptr(png));
  *error = message;
  png_longjmp(png, 1);
}

void onPngWarning(png_structp, png_const_charp) {}

// Grey PNG of `bitDepth` 8 or 16 from big-endian sample rows.
bool writePng(FILE *out, int32_t width, int32_t height, int bitDepth,
              const std::vector<uint8_t> &samples, std::string *error) {
  const size_t rowBytes = static_cast<size_t>(width) * static_cast<size_t>(bitDepth / 8);
  std::vector<png_bytep> rowPointers(static_cast<size_t>(height));
  for (size_t y = 0; y < rowPointers.size(); ++y)
    rowPointers[y] = const_cast<png_bytep>(samples.data() + y * rowBytes);
  std::string pngError;
  PngWriter writer;
  writer.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &pngError,
                                       onPngError, onPngWarning);
  if (!writer.png) return fail(error, "cannot start a PNG");
  writer.info = png_create_info_struct(writer.png);
  if (!writer.info) return fail(error, "cannot start a PNG");
  // Nothing with a destructor is created past this point.
  if (setjmp(png_jmpbuf(writer.png))) return fail(error, "PNG: " + pngError);
  png_init_io(writer.png, out);
  png_set_IHDR(writer.png, writer.info, static_cast<png_uint_32>(width),
               static_cast<png_uint_32>(height), bitDepth, PNG_COLOR_TYPE_GRAY,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(writer.png, writer.info);
  png_write_image(writer.png, rowPointers.data());
  png_write_end(writer.png, nullptr);
  return true;
}

bool writeDepthPng16(FILE *out, const MergedRows &rows, std::string *error) {
  const DepthRange range = depthRange(rows);
  if (range.farthest > 65534)
    return fail(error, "depth " + std::to_string(range.farthest) +
                           " does not fit a 16-bit PNG (at most 65534); use "
                           "--format rows");
  std::vector<uint8_t> samples(2 * rows.depths.size());
  for (size_t i = 0; i < rows.depths.size(); ++i) {
    const uint32_t value = static_cast<uint32_t>(rows.depths[i] + 1);
    samples[2 * i] = static_cast<uint8_t>(value >> 8);
    samples[2 * i + 1] = static_cast<uint8_t>(value & 0xFF);
  }
  return writePng(out, rows.width, rows.height, 16, samples, error);
}

bool writePgm(FILE *out, const MergedRows &rows, const std::vector<uint8_t> &picture) {
  std::fprintf(out, "P5\n%d %d\n255\n", rows.width, rows.height);
  return std::fwrite(picture.data(), 1, picture.size(), out) == picture.size();
}

bool writeRows(FILE *out, const MergedRows &rows) {
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

bool encodeImage(FILE *out, const MergedRows &rows, ImageFormat format, Look look,
                 std::string *error) {
  if (format != ImageFormat::kRows && (rows.width == 0 || rows.height == 0))
    return fail(error, "an image with no pixels cannot be a picture; use --format rows");
  switch (format) {
    case ImageFormat::kRows:
      return writeRows(out, rows) || fail(error, std::strerror(errno));
    case ImageFormat::kPgm:
      return writePgm(out, rows, renderPicture(rows, look)) ||
             fail(error, std::strerror(errno));
    case ImageFormat::kPng:
      return writePng(out, rows.width, rows.height, 8, renderPicture(rows, look), error);
    case ImageFormat::kPng16:
      return writeDepthPng16(out, rows, error);
  }
  return fail(error, "unknown format");
}

std::string directoryOf(const std::string &path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseNameOf(const std::string &path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Closes the temporary file and removes it unless it was renamed.
struct TemporaryFile {
  std::string path;
  FILE *stream = nullptr;
  bool kept = false;
  ~TemporaryFile() {
    if (stream) std::fclose(stream);
    if (!kept && !path.empty()) std::remove(path.c_str());
  }
};

}  // namespace

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

bool writeImage(const MergedRows &rows, ImageFormat format, Look look,
                const std::string &path, std::string *error) {
  if (path == "-") {
    return encodeImage(stdout, rows, format, look, error) &&
           (std::fflush(stdout) == 0 ||
            fail(error, std::string("standard output: ") + std::strerror(errno)));
  }
  // A device, pipe or other special file is written in place: renaming a
  // temporary file over it would replace it (as root, even /dev/full).
  struct stat existing;
  if (stat(path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode) &&
      !S_ISDIR(existing.st_mode)) {
    FILE *out = std::fopen(path.c_str(), "wb");
    if (!out) return fail(error, path + ": " + std::strerror(errno));
    std::string encodeError;
    bool written = encodeImage(out, rows, format, look, &encodeError);
    if (written && (std::fflush(out) != 0 || std::ferror(out))) {
      written = false;
      encodeError = std::strerror(errno);
    }
    if (std::fclose(out) != 0 && written) {
      written = false;
      encodeError = std::strerror(errno);
    }
    return written || fail(error, path + ": " + encodeError);
  }
  TemporaryFile temporary;
  temporary.path = directoryOf(path) + "/." + baseNameOf(path) + ".XXXXXX";
  int fd = mkstemp(temporary.path.data());
  if (fd < 0) {
    temporary.path.clear();
    return fail(error, path + ": " + std::strerror(errno));
  }
  // mkstemp makes the file private; give it the mode a new file gets.
  mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  temporary.stream = fdopen(fd, "wb");
  if (!temporary.stream) {
    close(fd);
    return fail(error, path + ": " + std::strerror(errno));
  }
  std::string encodeError;
  if (!encodeImage(temporary.stream, rows, format, look, &encodeError))
    return fail(error, path + ": " + encodeError);
  FILE *stream = temporary.stream;
  temporary.stream = nullptr;
  if (std::fflush(stream) != 0 || std::ferror(stream) || fsync(fileno(stream)) != 0) {
    int saved = errno;
    std::fclose(stream);
    return fail(error, path + ": " + std::strerror(saved));
  }
  if (std::fclose(stream) != 0) return fail(error, path + ": " + std::strerror(errno));
  if (std::rename(temporary.path.c_str(), path.c_str()) != 0)
    return fail(error, path + ": " + std::strerror(errno));
  temporary.kept = true;
  return true;
}

}  // namespace quatdepth
