#pragma once

#include <string>

namespace quatdepth {

// Whether this build writes and reads OpenEXR files (it needs Debian's
// libopenexr-dev, which the aarch64 cross build cannot install beside the
// host's).
bool depthExrSupported();

// An OpenEXR file carries a text attribute with its CRC-32 beside it,
// under the attribute's name with this suffix.
constexpr const char *kExrCheckSuffix = "-crc32";

// The CRC-32 of `text` (zlib's, as PNG's), as eight lower-case hex digits.
std::string exrTextCheck(const std::string &text);

// The string attribute `attribute` of an OpenEXR file's header, from the
// file's first bytes (read once, so a pipe works too). False with a
// message naming `source` when they hold no such header or attribute, or
// when the attribute no longer matches the CRC-32 written beside it.
bool readExrText(const std::string &bytes, const std::string &source,
                 const std::string &attribute, std::string *text, std::string *error);

}  // namespace quatdepth
