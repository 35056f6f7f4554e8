#include "request/parameter_files.h"

#include <sys/stat.h>
#include <zlib.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string_view>
#include <vector>

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

// Appends up to `count` more bytes of `in` to *bytes; false with a message
// naming the file when it cannot be read.
bool readMore(std::ifstream &in, size_t count, std::string *bytes, std::string *error,
              const std::string &path) {
  const size_t had = bytes->size();
  bytes->resize(had + count);
  in.read(bytes->data() + had, static_cast<std::streamsize>(count));
  if (in.bad() || (!in.eof() && in.fail()) || !in.is_open()) {
    *error = path + ": " + std::strerror(errno ? errno : EIO);
    return false;
  }
  bytes->resize(had + static_cast<size_t>(in.gcount()));
  return true;
}

bool endsWith(const std::string &text, const char *end) {
  const std::string_view ending = end;
  return text.size() > ending.size() &&
         text.compare(text.size() - ending.size(), ending.size(), ending) == 0;
}

// A mesh's header is read alone, to this many bytes.
constexpr size_t kMostHeaderBytes = size_t{1} << 20;

// The lines of `bytes` before the first one `ends` accepts, each without
// its line end ("\n" or "\r\n"). False when no line ends the header within
// the bytes, unless `mayEndWithBytes`: then the bytes' end ends it too.
template <typename Ends>
bool headerLines(const std::string &bytes, Ends ends, std::vector<std::string> *lines,
                 bool mayEndWithBytes) {
  size_t at = 0;
  while (at < bytes.size()) {
    size_t end = bytes.find('\n', at);
    if (end == std::string::npos) {
      if (!mayEndWithBytes) return false;
      end = bytes.size();
    }
    std::string line = bytes.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    at = end + 1;
    if (ends(line)) return true;
    lines->push_back(line);
  }
  return mayEndWithBytes;
}

// The parameter text of a mesh's header lines: a line that is
// `marker` + kMeshParameterPrefix + "name = value" gives "name = value",
// any other a blank line, so the text's line numbers are the file's. False
// when none is a parameter line.
bool meshParameterText(const std::vector<std::string> &lines, const std::string &marker,
                       std::string *text) {
  const std::string start = marker + kMeshParameterPrefix;
  bool found = false;
  text->clear();
  for (const std::string &line : lines) {
    if (line.compare(0, start.size(), start) == 0) {
      text->append(line, start.size());
      found = true;
    }
    text->push_back('\n');
  }
  return found;
}

// A PLY's parameters, from the comments of its header (which ends at
// "end_header"). `cut`: the bytes stop at the bound, the file goes on.
bool plyParameters(const std::string &bytes, bool cut, const std::string &path,
                   std::string *text, std::string *error) {
  std::vector<std::string> lines;
  const auto ends = [](const std::string &line) { return trimmed(line) == "end_header"; };
  if (!headerLines(bytes, ends, &lines, false)) {
    *error = path + (cut ? ": a PLY header longer than 1 MiB (no end_header within it)"
                         : ": a PLY header without end_header");
    return false;
  }
  if (!meshParameterText(lines, "comment ", text)) {
    *error = path + ": a PLY without quatdepth's parameters (its header has no 'comment " +
             kMeshParameterPrefix + "' lines)";
    return false;
  }
  return true;
}

// An OBJ's parameters, from the comments it begins with.
bool objParameters(const std::string &bytes, bool cut, const std::string &path,
                   std::string *text, std::string *error) {
  std::vector<std::string> lines;
  const auto ends = [](const std::string &line) {
    const std::string plain = trimmed(line);
    return !plain.empty() && plain[0] != '#';
  };
  if (!headerLines(bytes, ends, &lines, !cut)) {
    *error = path + ": an OBJ whose comments at its start run past 1 MiB";
    return false;
  }
  if (!meshParameterText(lines, "# ", text)) {
    *error = path + ": an OBJ without quatdepth's parameters (no '# " +
             kMeshParameterPrefix + "' lines at its start)";
    return false;
  }
  return true;
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
  // A mesh's parameters are in its header: what follows is not read.
  std::string bytes;
  if (!readMore(in, kMostHeaderBytes, &bytes, error, path)) return false;
  const bool headerCut = bytes.size() == kMostHeaderBytes;
  if (bytes.compare(0, 4, "ply\n") == 0 || bytes.compare(0, 5, "ply\r\n") == 0)
    return plyParameters(bytes, headerCut, path, text, error);
  if (endsWith(path, ".obj")) return objParameters(bytes, headerCut, path, text, error);
  if (endsWith(path, ".stl")) {  // its header is 80 bytes, of anything
    *error = path + ": an STL carries no parameters; give the PLY or OBJ quatdepth-mesh "
                    "wrote, or the picture";
    return false;
  }
  if (headerCut && !readMore(in, kMostBytes + 1 - bytes.size(), &bytes, error, path))
    return false;
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
