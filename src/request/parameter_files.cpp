#include "request/parameter_files.h"

#include <sys/stat.h>
#include <zlib.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>

#include "request/exr_text.h"
#include "request/parameter_text.h"

namespace quatdepth {
namespace {

uint32_t bigEndian32(const unsigned char *bytes) {
  return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) |
         (uint32_t{bytes[2]} << 8) | uint32_t{bytes[3]};
}

constexpr unsigned char kPngSignature[8] = {0x89, 'P',  'N',  'G',
                                            '\r', '\n', 0x1A, '\n'};

// What a PNG holds under our keyword.
enum class PngText { kFound, kAbsent, kDamaged, kDamagedText, kCutShort };

// The text of the PNG's tEXt chunk under our keyword, walking the chunks
// without decoding the image. A tEXt chunk whose CRC fails is damaged: its
// text (or its keyword, so it may be ours) cannot be trusted.
PngText pngParameters(const std::string &bytes, std::string *text) {
  const std::string keyword = std::string(kParameterKeyword) + '\0';
  bool damagedText = false;
  size_t at = sizeof kPngSignature;
  while (bytes.size() - at >= 12) {
    const auto *chunk =
        reinterpret_cast<const unsigned char *>(bytes.data() + at);
    const uint32_t length = bigEndian32(chunk);
    if (length > bytes.size() - at - 12) return PngText::kCutShort;
    const std::string type = bytes.substr(at + 4, 4);
    if (type == "tEXt") {
      // PNG's CRC is zlib's, over the chunk's type and data.
      const uLong crc = crc32(crc32(0L, Z_NULL, 0), chunk + 4, length + 4);
      const bool intact = crc == bigEndian32(chunk + 8 + length);
      const std::string data = bytes.substr(at + 8, length);
      if (data.compare(0, keyword.size(), keyword) == 0) {
        if (!intact) return PngText::kDamaged;
        *text = data.substr(keyword.size());
        return PngText::kFound;
      }
      damagedText = damagedText || !intact;
    }
    if (type == "IEND") break;
    at += 12 + size_t{length};
  }
  return damagedText ? PngText::kDamagedText : PngText::kAbsent;
}

// A picture's parameters as they stand for it. Pictures written before the
// depth search was an option were rendered by steps: without a search line
// they get one, so they render the same whatever the default has become.
std::string pictureParameters(std::string text) {
  std::vector<ParameterLine> lines;
  std::string unread;  // a text refused here is refused when it is read
  if (!parameterLines(text, "", &lines, &unread)) return text;
  for (const ParameterLine &line : lines)
    if (line.name == "search") return text;
  if (!text.empty() && text.back() != '\n') text += '\n';
  return text.append("search = ").append(depthSearchName(DepthSearch::kSteps)).append("\n");
}

}  // namespace

bool readParameterFile(const std::string &path, std::string *text,
                       std::string *error) {
  // A picture carries its parameters near its start; a parameter file is
  // a few lines. Neither needs more than this, and /dev/zero never ends.
  constexpr size_t kMostBytes = size_t{16} << 20;
  struct stat status;
  if (stat(path.c_str(), &status) != 0) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  if (S_ISDIR(status.st_mode)) {
    *error = path + ": " + std::strerror(EISDIR);
    return false;
  }
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  std::string bytes(kMostBytes + 1, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (in.bad() || (!in.eof() && in.fail()) || !in.is_open()) {
    *error = path + ": " + std::strerror(errno ? errno : EIO);
    return false;
  }
  bytes.resize(static_cast<size_t>(in.gcount()));
  if (bytes.compare(0, sizeof kPngSignature,
                    reinterpret_cast<const char *>(kPngSignature),
                    sizeof kPngSignature) == 0) {
    switch (pngParameters(bytes, text)) {
      case PngText::kFound:
        *text = pictureParameters(*text);
        return true;
      case PngText::kDamaged:
        *error = path +
                 ": the PNG's quatdepth-render parameter chunk is damaged (its CRC "
                 "does not match)";
        return false;
      case PngText::kDamagedText:
        *error = path +
                 ": a PNG whose tEXt chunk is damaged (its CRC does not match), perhaps "
                 "the one with quatdepth-render's parameters";
        return false;
      case PngText::kCutShort:
        *error = path + ": a PNG cut short or damaged before quatdepth-render's parameters";
        return false;
      case PngText::kAbsent:
        break;
    }
    *error = path + ": a PNG without quatdepth-render's parameters";
    return false;
  }
  if (bytes.compare(0, 4, "\x76\x2f\x31\x01") == 0) {  // OpenEXR's magic number
    if (!readExrText(bytes, path, kParameterKeyword, text, error)) return false;
    *text = pictureParameters(*text);
    return true;
  }
  if (bytes.size() > kMostBytes) {
    *error = path + ": more than 16 MiB, too large for a parameter file";
    return false;
  }
  *text = bytes;
  return true;
}

}  // namespace quatdepth
