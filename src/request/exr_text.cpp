#include "request/exr_text.h"

#include <zlib.h>

#include <cstdio>

#if defined(QUATDEPTH_WITH_OPENEXR)
#include <ImfHeader.h>
#include <ImfInputFile.h>
#include <ImfStdIO.h>
#include <ImfStringAttribute.h>

#include <exception>
#endif

namespace quatdepth {

std::string exrTextCheck(const std::string &text) {
  const uLong crc = crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef *>(text.data()),
                          static_cast<uInt>(text.size()));
  char digits[9];
  std::snprintf(digits, sizeof digits, "%08lx", crc & 0xFFFFFFFFUL);
  return digits;
}

#if defined(QUATDEPTH_WITH_OPENEXR)

bool depthExrSupported() { return true; }

bool readExrText(const std::string &bytes, const std::string &source,
                 const std::string &attribute, std::string *text, std::string *error) {
  const std::string &path = source;
  try {
    Imf::StdISStream stream;
    stream.str(bytes);
    Imf::InputFile file(stream);
    const auto *value = file.header().findTypedAttribute<Imf::StringAttribute>(attribute);
    if (!value) {
      *error = path + ": an OpenEXR file without quatdepth-render's parameters";
      return false;
    }
    // Files written before the check carry none; those are taken as they are.
    const auto *check =
        file.header().findTypedAttribute<Imf::StringAttribute>(attribute + kExrCheckSuffix);
    if (check && check->value() != exrTextCheck(value->value())) {
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

bool readExrText(const std::string &, const std::string &source, const std::string &,
                 std::string *, std::string *error) {
  *error = source + ": an OpenEXR file, and this build has no OpenEXR support";
  return false;
}

#endif

}  // namespace quatdepth
