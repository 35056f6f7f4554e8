#pragma once

#include <sys/types.h>

#include <cstdio>
#include <string>

namespace quatdepth {

// Where quatdepth-image's output goes, settled before any input is read so
// that a bad output path is found before a long render is consumed.
//
// "-" is standard output. Symbolic links are followed to their target, but
// not another user's link in a shared sticky folder (as the kernel's link
// protection). A special file (a device, a FIFO, or an open file named
// through /dev/stdout, /dev/fd/N or /proc/self/fd/N) is written in place;
// one of this process's own descriptors is written as it stands, offset
// and append mode included. A regular file is written under a temporary
// name in its folder and renamed over the old one only when complete,
// keeping the old file's permission bits (and owner, when run as root); a
// file the user could not overwrite, or not replace in a sticky folder, is
// refused. The temporary file is removed however the run ends, by the
// usual terminating signals included (those ignored at start stay ignored).
class ImageOutput {
 public:
  ImageOutput() = default;
  ImageOutput(const ImageOutput &) = delete;
  ImageOutput &operator=(const ImageOutput &) = delete;
  ~ImageOutput();  // an uncommitted temporary file is removed

  // Gets ready to write to `path`. False with a message naming the path,
  // or the folder that cannot be written, on failure.
  bool open(const std::string &path, std::string *error);

  // Empties an in-place regular file before writing (called once, after the
  // input was read, so a failed run never touches it); the stream to write.
  FILE *begin(std::string *error);

  // Flushes, syncs and puts the file in place. False with the output's name
  // and the system's reason when any of it fails.
  bool commit(std::string *error);

  const std::string &name() const { return name_; }

 private:
  enum class Kind { kStandardOutput, kInPlace, kReplace };
  bool openInPlace(const std::string &path, std::string *error);
  bool openReplacement(const std::string &path, std::string *error);
  bool adopt(int fd, std::string *error);  // the stream over fd, or fd closed
  bool fail(std::string *error, const std::string &what, int code) const;

  Kind kind_ = Kind::kStandardOutput;
  std::string name_;       // as the user gave it, for messages
  std::string target_;     // the regular file to replace, links followed
  std::string temporary_;  // the replacement while it is written
  FILE *stream_ = nullptr;
  bool sharedDescriptor_ = false;  // in place through one of our descriptors
  bool existed_ = false;   // the target existed: keep its mode and owner
  mode_t mode_ = 0;
  uid_t owner_ = 0;
  gid_t group_ = 0;
};

// Standard streams the run was started without. Each is opened on
// /dev/null, so no file this run opens takes its number by chance (a
// temporary output read back as standard input).
struct ClosedStreams {
  bool input = false;
  bool output = false;
};
ClosedStreams occupyClosedStreams();

// Flushes standard output. False with "standard output: REASON" when what
// was written to it could not all be (a full disk, a closed file).
bool flushStandardOutput(std::string *error);

}  // namespace quatdepth
