#include "image/image_output.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace quatdepth {
namespace {

// As the kernel: a chain of more links than this is a loop.
constexpr int kMaxLinkHops = 40;

std::string directoryOf(const std::string &path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string reason(int code) { return std::strerror(code); }

// The temporary file, for the signal handler: removed if the run is
// interrupted. Written only before the handlers can run for it.
char gTemporaryPath[PATH_MAX];
volatile sig_atomic_t gHaveTemporary = 0;

void removeTemporaryAndStop(int signal) {
  if (gHaveTemporary) unlink(gTemporaryPath);
  raise(signal);  // the handler was reset: this ends the run as the signal would
}

void watchTemporary(const std::string &path) {
  if (path.size() >= sizeof gTemporaryPath) return;
  std::memcpy(gTemporaryPath, path.c_str(), path.size() + 1);
  gHaveTemporary = 1;
  struct sigaction action = {};
  action.sa_handler = removeTemporaryAndStop;
  action.sa_flags = static_cast<int>(SA_RESETHAND);
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

// Links in /proc (what /dev/stdout and /dev/fd/N lead to) name files that
// are open in some process, not paths: they are opened, never followed.
bool isOpenFileLink(const std::string &path) {
  std::unique_ptr<char, decltype(&std::free)> folder(
      realpath(directoryOf(path).c_str(), nullptr), &std::free);
  return folder && std::strncmp(folder.get(), "/proc/", 6) == 0;
}

bool readLink(const std::string &path, std::string *target) {
  std::string buffer(PATH_MAX, '\0');
  const ssize_t length = readlink(path.c_str(), buffer.data(), buffer.size());
  if (length < 0) return false;
  if (static_cast<size_t>(length) == buffer.size()) return errno = ENAMETOOLONG, false;
  buffer.resize(static_cast<size_t>(length));
  *target = buffer[0] == '/' ? buffer : directoryOf(path) + "/" + buffer;
  return true;
}

}  // namespace

ImageOutput::~ImageOutput() {
  if (stream_ && stream_ != stdout) std::fclose(stream_);
  if (!temporary_.empty()) {
    unlink(temporary_.c_str());
    gHaveTemporary = 0;
  }
}

bool ImageOutput::fail(std::string *error, const std::string &what, int code) const {
  *error = name_ + ": " + what + (what.empty() ? "" : ": ") + reason(code);
  return false;
}

bool ImageOutput::open(const std::string &path, std::string *error) {
  name_ = path;
  if (path == "-") {
    kind_ = Kind::kStandardOutput;
    stream_ = stdout;
    return true;
  }
  if (path.empty()) return fail(error, "", ENOENT);
  std::string current = path;
  for (int hops = 0;; ++hops) {
    struct stat status;
    if (lstat(current.c_str(), &status) != 0) {
      if (errno == ENOENT) return openReplacement(current, error);
      return fail(error, "", errno);
    }
    if (S_ISLNK(status.st_mode)) {
      if (hops == kMaxLinkHops) return fail(error, "", ELOOP);
      if (isOpenFileLink(current)) return openInPlace(current, error);
      if (!readLink(current, &current)) return fail(error, "", errno);
      continue;
    }
    if (S_ISDIR(status.st_mode)) return fail(error, "", EISDIR);
    if (!S_ISREG(status.st_mode)) return openInPlace(current, error);
    // Renaming needs only the folder's permission: refuse a file the user
    // could not overwrite, as a shell's redirection would.
    if (access(current.c_str(), W_OK) != 0) return fail(error, "", errno);
    existed_ = true;
    mode_ = status.st_mode & 07777;
    owner_ = status.st_uid;
    group_ = status.st_gid;
    return openReplacement(current, error);
  }
}

bool ImageOutput::openInPlace(const std::string &path, std::string *error) {
  kind_ = Kind::kInPlace;
  const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return fail(error, "", errno);
  return adopt(fd, error);
}

bool ImageOutput::adopt(int fd, std::string *error) {
  stream_ = fdopen(fd, "wb");
  if (stream_) return true;
  const int code = errno;
  close(fd);
  return fail(error, "", code);
}

bool ImageOutput::openReplacement(const std::string &path, std::string *error) {
  kind_ = Kind::kReplace;
  target_ = path;
  // A short name, so any name that fits the folder leaves room for it.
  const std::string folder = directoryOf(path);
  std::string temporary = folder + "/.quatdepth-XXXXXX";
  const int fd = mkstemp(temporary.data());
  if (fd < 0) return fail(error, "cannot write a file in the folder " + folder, errno);
  temporary_ = temporary;
  watchTemporary(temporary_);
  return adopt(fd, error);
}

FILE *ImageOutput::begin(std::string *error) {
  if (kind_ == Kind::kInPlace) {
    struct stat status;
    const int fd = fileno(stream_);
    if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && ftruncate(fd, 0) != 0) {
      fail(error, "", errno);
      return nullptr;
    }
  }
  return stream_;
}

bool ImageOutput::commit(std::string *error) {
  if (std::fflush(stream_) != 0 || std::ferror(stream_))
    return fail(error, "", errno ? errno : EIO);
  if (kind_ == Kind::kStandardOutput) return true;
  FILE *stream = stream_;
  stream_ = nullptr;
  const int fd = fileno(stream);
  int code = 0;
  if (kind_ == Kind::kReplace) {
    const mode_t mask = umask(0);
    umask(mask);
    // The owner first: changing it may clear set-id bits that fchmod restores.
    if (existed_ && geteuid() == 0 && fchown(fd, owner_, group_) != 0) code = errno;
    if (!code && fchmod(fd, existed_ ? mode_ : 0666 & ~mask) != 0) code = errno;
    if (!code && fsync(fd) != 0) code = errno;
  }
  if (std::fclose(stream) != 0 && !code) code = errno;
  if (code) return fail(error, "", code);
  if (kind_ == Kind::kReplace) {
    if (std::rename(temporary_.c_str(), target_.c_str()) != 0) return fail(error, "", errno);
    gHaveTemporary = 0;
    temporary_.clear();
  }
  return true;
}

}  // namespace quatdepth
