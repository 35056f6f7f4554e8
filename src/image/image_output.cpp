#include "image/image_output.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
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

// Signals that end a run; each removes the temporary file first.
constexpr int kEndingSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM,
                                  SIGALRM, SIGUSR1, SIGUSR2, SIGPIPE};

void watchTemporary(const std::string &path) {
  if (path.size() >= sizeof gTemporaryPath) return;
  std::memcpy(gTemporaryPath, path.c_str(), path.size() + 1);
  gHaveTemporary = 1;
  struct sigaction action = {};
  action.sa_handler = removeTemporaryAndStop;
  action.sa_flags = static_cast<int>(SA_RESETHAND);
  sigemptyset(&action.sa_mask);
  for (int signal : kEndingSignals) {
    // A signal the run was started with ignored (nohup, a background job
    // of a script) stays ignored.
    struct sigaction current;
    if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
    sigaction(signal, &action, nullptr);
  }
  // Past a file size limit a write then fails with EFBIG, which is
  // reported, instead of the signal ending the run.
  std::signal(SIGXFSZ, SIG_IGN);
}

// The folder of `path`, resolved; empty when it cannot be.
std::string realFolderOf(const std::string &path) {
  std::unique_ptr<char, decltype(&std::free)> folder(
      realpath(directoryOf(path).c_str(), nullptr), &std::free);
  return folder ? folder.get() : "";
}

// Files in /proc (what /dev/stdout and /dev/fd/N lead to) are files open
// in some process, not paths: their links are opened, never followed, and
// nothing is created there.
bool isInProc(const std::string &path) { return realFolderOf(path).rfind("/proc/", 0) == 0; }

// The descriptor N when `path` is /proc/self/fd/N (or /dev/fd/N) of this
// very process; -1 otherwise.
int ownDescriptor(const std::string &path) {
  if (realFolderOf(path) != "/proc/" + std::to_string(getpid()) + "/fd") return -1;
  const std::string name = path.substr(path.rfind('/') + 1);
  if (name.empty() || name.size() > 9 || name.find_first_not_of("0123456789") != std::string::npos)
    return -1;
  return std::stoi(name);
}

// Where anyone may create files but only owners remove them (/tmp), the
// kernel follows a link only for its owner or the folder's: so do we.
bool mayFollowLink(const std::string &link, const struct stat &linkStatus) {
  struct stat folder;
  if (stat(directoryOf(link).c_str(), &folder) != 0) return true;
  const bool shared = (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH);
  return !shared || linkStatus.st_uid == geteuid() || linkStatus.st_uid == folder.st_uid;
}

// In a sticky folder only root, the folder's owner and the file's owner
// may replace a file.
bool mayReplace(const std::string &path, const struct stat &fileStatus) {
  struct stat folder;
  if (geteuid() == 0 || stat(directoryOf(path).c_str(), &folder) != 0) return true;
  return !(folder.st_mode & S_ISVTX) || fileStatus.st_uid == geteuid() ||
         folder.st_uid == geteuid();
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
      const int code = errno;
      if (code == ENOENT && !isInProc(current)) return openReplacement(current, error);
      return fail(error, "", code);
    }
    if (S_ISLNK(status.st_mode)) {
      if (hops == kMaxLinkHops) return fail(error, "", ELOOP);
      if (isInProc(current)) return openInPlace(current, error);
      if (!mayFollowLink(current, status))
        return fail(error, "another user's link in a shared folder is not followed", EACCES);
      if (!readLink(current, &current)) return fail(error, "", errno);
      continue;
    }
    if (S_ISDIR(status.st_mode)) return fail(error, "", EISDIR);
    if (!S_ISREG(status.st_mode)) return openInPlace(current, error);
    // Renaming needs only the folder's permission: refuse a file the user
    // could not overwrite, as a shell's redirection would.
    if (access(current.c_str(), W_OK) != 0) return fail(error, "", errno);
    if (!mayReplace(current, status))
      return fail(error, "another user's file in a sticky folder cannot be replaced", EPERM);
    existed_ = true;
    mode_ = status.st_mode & 07777;
    owner_ = status.st_uid;
    group_ = status.st_gid;
    return openReplacement(current, error);
  }
}

bool ImageOutput::openInPlace(const std::string &path, std::string *error) {
  kind_ = Kind::kInPlace;
  // One of our own descriptors is written as it stands, like standard
  // output: its offset and its append mode hold, and it works for sockets.
  const int own = ownDescriptor(path);
  sharedDescriptor_ = own >= 0;
  const int fd = sharedDescriptor_ ? fcntl(own, F_DUPFD_CLOEXEC, 3)
                                   : ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
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
  if (kind_ == Kind::kInPlace && !sharedDescriptor_) {
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

namespace {
bool isOpen(int fd) { return fcntl(fd, F_GETFD) != -1 || errno != EBADF; }
}  // namespace

ClosedStreams occupyClosedStreams() {
  ClosedStreams closed{!isOpen(STDIN_FILENO), !isOpen(STDOUT_FILENO)};
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd)
    if (!isOpen(fd)) open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
  return closed;
}

bool flushStandardOutput(std::string *error) {
  errno = 0;
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return true;
  *error = std::string("standard output: ") + reason(errno ? errno : EIO);
  return false;
}

}  // namespace quatdepth
