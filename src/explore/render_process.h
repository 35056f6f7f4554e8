#pragma once

#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quatdepth {

// A file descriptor, closed with its owner.
class OwnedFd {
 public:
  OwnedFd() = default;
  explicit OwnedFd(int fd) : fd_(fd) {}
  ~OwnedFd() { reset(); }
  OwnedFd(OwnedFd &&other) noexcept : fd_(other.release()) {}
  OwnedFd &operator=(OwnedFd &&other) noexcept {
    if (this != &other) {
      reset();
      fd_ = other.release();
    }
    return *this;
  }
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset();

 private:
  int fd_ = -1;
};

// One run of quatdepth-render for one view, in a process of its own, so
// that a render nobody wants any more ends at once, wherever it is, and
// its memory with it. What it writes goes to memory files, read once it
// has ended. The process is killed and reaped with this object.
class RenderProcess {
 public:
  // Starts `program` with `arguments` (argv[1] on). Null with the reason
  // when no process can be started.
  static std::unique_ptr<RenderProcess> start(const std::string &program,
                                              const std::vector<std::string> &arguments,
                                              std::string *error);
  ~RenderProcess();
  RenderProcess(const RenderProcess &) = delete;
  RenderProcess &operator=(const RenderProcess &) = delete;

  // Readable once the process has ended (a pidfd).
  int endedFd() const { return ended_.get(); }

  // Ends the process now; idempotent.
  void kill();

  // The wait status once it has ended, reaping it; nullopt while it runs.
  std::optional<int> reap();

  // Its standard output (positioned at its start) and, as text, its
  // standard error; after reap.
  OwnedFd takeOutput();
  std::string errorText(size_t most = 4096) const;

 private:
  RenderProcess() = default;
  pid_t pid_ = -1;
  bool reaped_ = false;
  OwnedFd ended_, output_, errors_;
};

}  // namespace quatdepth
