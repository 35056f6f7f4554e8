#include "render/parameter_text.h"

#include <sys/stat.h>
#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "image/colormap.h"
#include "image/depth_picture.h"
#include "render/depth_exr.h"
#include "render/positional_arguments.h"
#include "render/render_options.h"
#include "render/shown_text.h"

namespace quatdepth {
namespace {

// Texts [first, first + count) joined by commas.
std::string joined(const RealTexts &texts, size_t first, size_t count) {
  std::string text;
  for (size_t i = first; i < first + count; ++i) {
    if (!text.empty()) text += ',';
    text += texts[i];
  }
  return text;
}

std::string trimmed(const std::string &text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

constexpr const char *kNames[] = {
    "box",     "c",      "w",    "angles",   "size",        "coarse",   "fine", "iterations",
    "bailout", "search", "look", "colormap", "supersample", "occlusion"};

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

std::string parameterText(const RenderRequest &request, const RenderSettings &s,
                          const RealTexts &texts) {
  std::ostringstream text;
  text << "box = " << joined(texts, 0, 6) << '\n'
       << "c = " << joined(texts, 6, 4) << '\n'
       << "w = " << texts[10] << '\n'
       << "angles = " << joined(texts, 11, 3) << '\n'
       << "size = " << s.width << 'x' << s.height << '\n'
       << "coarse = " << s.coarseSteps << '\n'
       << "fine = " << s.fineSteps << '\n'
       << "iterations = " << s.maxIterations << '\n'
       << "bailout = " << s.bailout << '\n'
       << "search = " << depthSearchName(request.search) << '\n'
       << "look = " << lookName(request.look) << '\n'
       << "colormap = " << colormapName(request.colormap) << '\n'
       << "supersample = " << request.supersample << '\n'
       << "occlusion = " << (request.occlusion ? "true" : "false") << '\n';
  return text.str();
}

bool parameterLines(const std::string &text, const std::string &source,
                    std::vector<ParameterLine> *settings, std::string *error,
                    int firstLine) {
  // Editors on some systems begin a UTF-8 file with a byte-order mark.
  constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";
  const bool marked = text.compare(0, 3, kByteOrderMark) == 0;
  std::istringstream lines(marked ? text.substr(3) : text);
  std::map<std::string, int> lineOfName;
  int number = firstLine - 1;
  for (std::string line; std::getline(lines, line);) {
    ++number;
    line = trimmed(line);
    if (line.empty() || line[0] == '#') continue;
    const std::string where = source + ", line " + std::to_string(number);
    const size_t equals = line.find('=');
    const std::string name = trimmed(line.substr(0, equals));
    bool known = false;
    for (const char *candidate : kNames) known = known || name == candidate;
    if (equals == std::string::npos || !known) {
      *error = where + ": '" + shownText(line) +
               "' is not 'name = value' with one of box, c, w, angles, size, "
               "coarse, fine, iterations, bailout, search, look, colormap, "
               "supersample, occlusion";
      return false;
    }
    // Which of two would win is a guess the file's author should not
    // have to make.
    const auto [earlier, first] = lineOfName.emplace(name, number);
    if (!first) {
      *error = source + ", lines " + std::to_string(earlier->second) +
               " and " + std::to_string(number) + ": '" + name +
               "' is given twice";
      return false;
    }
    const std::string value = trimmed(line.substr(equals + 1));
    // A switch reads anything as some truth value (an empty one as on):
    // take only the words a picture's parameters hold.
    if (name == "occlusion" && value != "true" && value != "false") {
      *error =
          where + ": occlusion '" + shownText(value) + "': use true or false";
      return false;
    }
    settings->push_back({name, value, number});
  }
  return true;
}

std::vector<std::string> optionWords(const ParameterLine &line) {
  if (line.value.empty()) return {"--" + line.name, ""};
  return {"--" + line.name + "=" + line.value};
}

bool parameterOptions(const std::string &text, const std::string &source,
                      std::vector<std::string> *options, std::string *error) {
  std::vector<ParameterLine> settings;
  if (!parameterLines(text, source, &settings, error)) return false;
  for (const ParameterLine &setting : settings) {
    const std::vector<std::string> words = optionWords(setting);
    options->insert(options->end(), words.begin(), words.end());
  }
  return true;
}

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
