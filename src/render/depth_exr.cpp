#include "render/depth_exr.h"

#include <algorithm>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>

#include "julia/depth_search.h"

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

#if defined(QUATDEPTH_WITH_OPENEXR)

namespace {

// The attribute beside the parameters that holds their CRC-32.
constexpr const char *kCheckSuffix = "-crc32";

// The CRC-32 of `text` (zlib's, as PNG's), as eight lower-case hex digits.
std::string checkText(const std::string &text) {
  const uLong crc = crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef *>(text.data()),
                          static_cast<uInt>(text.size()));
  char digits[9];
  std::snprintf(digits, sizeof digits, "%08lx", crc & 0xFFFFFFFFUL);
  return digits;
}

}  // namespace

bool depthExrSupported() { return true; }

bool writeDepthExr(FILE *out, const MergedRows &rows,
                   const RenderSettings &settings,
                   const std::vector<SurfaceNormal> &normals,
                   const std::string &attribute,
                   const std::string &parameters, std::string *error) {
  std::vector<float> depths(rows.depths.size());
  for (size_t i = 0; i < depths.size(); ++i)
    depths[i] = sceneDepth(settings, rows.depths[i]);
  // N.X, N.Y, N.Z interleaved, one pixel after another.
  std::vector<float> normalChannels(3 * rows.depths.size(), 0.0f);
  for (size_t i = 0; i < normals.size() && i < rows.depths.size(); ++i) {
    normalChannels[3 * i] = static_cast<float>(normals[i].x);
    normalChannels[3 * i + 1] = static_cast<float>(normals[i].y);
    normalChannels[3 * i + 2] = static_cast<float>(normals[i].z);
  }
  std::string bytes;
  try {
    Imf::Header header(rows.width, rows.height);
    header.channels().insert("Z", Imf::Channel(Imf::FLOAT));
    for (const char *name : {"N.X", "N.Y", "N.Z"})
      header.channels().insert(name, Imf::Channel(Imf::FLOAT));
    header.insert(attribute, Imf::StringAttribute(parameters));
    // An EXR header has no checksum of its own.
    header.insert(attribute + kCheckSuffix, Imf::StringAttribute(checkText(parameters)));
    // OpenEXR seeks back to write its line offsets: write to memory, then
    // out, which may be a pipe.
    Imf::StdOSStream stream;
    {
      Imf::OutputFile file(stream, header);
      Imf::FrameBuffer frame;
      frame.insert(
          "Z", Imf::Slice(Imf::FLOAT, reinterpret_cast<char *>(depths.data()),
                          sizeof(float),
                          sizeof(float) * static_cast<size_t>(rows.width)));
      const char *names[] = {"N.X", "N.Y", "N.Z"};
      for (size_t c = 0; c < 3; ++c)
        frame.insert(names[c],
                     Imf::Slice(Imf::FLOAT,
                                reinterpret_cast<char *>(normalChannels.data() + c),
                                3 * sizeof(float),
                                3 * sizeof(float) * static_cast<size_t>(rows.width)));
      file.setFrameBuffer(frame);
      file.writePixels(rows.height);
    }
    bytes = stream.str();
  } catch (const std::bad_alloc &) {
    throw;  // out of memory, as for the render, not a failed write
  } catch (const IEX_NAMESPACE::EnomemExc &) {
    throw std::bad_alloc();
  } catch (const std::exception &e) {
    *error = e.what();
    return false;
  }
  if (std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()) {
    *error = std::strerror(errno);
    return false;
  }
  return true;
}

bool readExrText(const std::string &bytes, const std::string &source,
                 const std::string &attribute, std::string *text,
                 std::string *error) {
  const std::string &path = source;
  try {
    Imf::StdISStream stream;
    stream.str(bytes);
    Imf::InputFile file(stream);
    const auto *value =
        file.header().findTypedAttribute<Imf::StringAttribute>(attribute);
    if (!value) {
      *error = path + ": an OpenEXR file without quatdepth-render's parameters";
      return false;
    }
    // Files written before the check carry none; those are taken as they are.
    const auto *check =
        file.header().findTypedAttribute<Imf::StringAttribute>(attribute + kCheckSuffix);
    if (check && check->value() != checkText(value->value())) {
      *error = path + ": the OpenEXR file's quatdepth-render parameters are damaged (their "
                      "CRC-32 does not match)";
      return false;
    }
    *text = value->value();
    return true;
  } catch (const std::exception &e) {
    *error = path + ": " + e.what();
    return false;
  }
}

#else

bool depthExrSupported() { return false; }

bool writeDepthExr(FILE *, const MergedRows &, const RenderSettings &,
                   const std::vector<SurfaceNormal> &, const std::string &,
                   const std::string &, std::string *error) {
  *error = "this build has no OpenEXR support";
  return false;
}

bool readExrText(const std::string &, const std::string &source,
                 const std::string &, std::string *, std::string *error) {
  *error = source + ": an OpenEXR file, and this build has no OpenEXR support";
  return false;
}

#endif

}  // namespace quatdepth
