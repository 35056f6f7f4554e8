#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace quatdepth {

// A file with no name in a chosen folder, for bytes gathered before they
// can be written in order: it is gone however the run ends, a kill
// included, since no name ever points at it (or the name is removed the
// moment it is made, where the file system cannot make nameless files).
class ScratchFile {
 public:
  ScratchFile() = default;
  ScratchFile(const ScratchFile &) = delete;
  ScratchFile &operator=(const ScratchFile &) = delete;
  ~ScratchFile();

  // False with a message naming the folder when none can be made there.
  bool open(const std::string &folder, std::string *error);
  bool write(const void *bytes, size_t size, std::string *error);
  // Everything written so far, appended to `out` (named `outName` in a
  // message).
  bool copyTo(FILE *out, const std::string &outName, std::string *error);
  uint64_t size() const { return size_; }

 private:
  std::string folder_;
  FILE *stream_ = nullptr;
  uint64_t size_ = 0;
};

}  // namespace quatdepth
