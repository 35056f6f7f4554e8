#include "mesh/scratch_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace quatdepth {
namespace {

bool fail(std::string *error, const std::string &what, int code) {
  *error = what + ": " + std::strerror(code);
  return false;
}

}  // namespace

ScratchFile::~ScratchFile() {
  if (stream_) std::fclose(stream_);
}

bool ScratchFile::open(const std::string &folder, std::string *error) {
  if (stream_) std::fclose(stream_), stream_ = nullptr, size_ = 0;
  folder_ = folder;
  int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
    std::string name = folder + "/.quatdepth-mesh-XXXXXX";
    fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) unlink(name.c_str());
  }
  if (fd < 0) return fail(error, folder + ": cannot make a scratch file", errno);
  stream_ = fdopen(fd, "w+b");
  if (!stream_) {
    const int code = errno;
    ::close(fd);
    return fail(error, folder + ": cannot make a scratch file", code);
  }
  // Wide writes: a mesh is written a few bytes at a time.
  std::setvbuf(stream_, nullptr, _IOFBF, 1 << 20);
  return true;
}

bool ScratchFile::write(const void *bytes, size_t size, std::string *error) {
  if (std::fwrite(bytes, 1, size, stream_) != size)
    return fail(error, folder_ + ": cannot write a scratch file", errno);
  size_ += size;
  return true;
}

bool ScratchFile::copyTo(FILE *out, const std::string &outName, std::string *error) {
  if (std::fflush(stream_) != 0 || std::fseek(stream_, 0, SEEK_SET) != 0)
    return fail(error, folder_ + ": cannot read back a scratch file", errno);
  std::vector<char> chunk(1 << 20);
  uint64_t left = size_;
  while (left > 0) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(left, chunk.size()));
    if (std::fread(chunk.data(), 1, want, stream_) != want)
      return fail(error, folder_ + ": cannot read back a scratch file",
                  std::ferror(stream_) ? errno : EIO);
    if (std::fwrite(chunk.data(), 1, want, out) != want) return fail(error, outName, errno);
    left -= want;
  }
  return true;
}

}  // namespace quatdepth
