#include "explore/render_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace quatdepth {

void OwnedFd::reset() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

namespace {

OwnedFd memoryFile(const char *name) {
  return OwnedFd(memfd_create(name, MFD_CLOEXEC));
}

// Only system calls from here to exec: the server has other threads, so
// a lock one of them held at the fork stays held in the child.
[[noreturn]] void becomeRenderer(const char *program, char *const *argv, int input,
                                 int output, int errors, pid_t parent) {
  // Ended with the server, even when the server is killed outright.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(127);
  // Out of the terminal's process group: Ctrl-C is the server's to handle.
  setpgid(0, 0);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  struct sigaction byDefault {};
  byDefault.sa_handler = SIG_DFL;
  sigaction(SIGPIPE, &byDefault, nullptr);
  if (dup2(input, 0) < 0 || dup2(output, 1) < 0 || dup2(errors, 2) < 0) _exit(127);
  // Nothing of the server's (its sockets above all) stays open in the child.
  syscall(SYS_close_range, 3U, ~0U, 0U);
  execv(program, argv);
  _exit(127);
}

}  // namespace

std::unique_ptr<RenderProcess> RenderProcess::start(
    const std::string &program, const std::vector<std::string> &arguments,
    std::string *error) {
  std::unique_ptr<RenderProcess> process(new RenderProcess);
  OwnedFd input(open("/dev/null", O_RDONLY | O_CLOEXEC));
  process->output_ = memoryFile("quatdepth-view");
  process->errors_ = memoryFile("quatdepth-view-errors");
  if (input.get() < 0 || process->output_.get() < 0 || process->errors_.get() < 0) {
    *error = std::string("cannot start a render: ") + std::strerror(errno);
    return nullptr;
  }
  std::vector<std::string> words = {program};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char *> argv;
  for (std::string &word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) {
    *error = std::string("cannot start a render: ") + std::strerror(errno);
    return nullptr;
  }
  if (pid == 0)
    becomeRenderer(program.c_str(), argv.data(), input.get(), process->output_.get(),
                   process->errors_.get(), parent);
  process->pid_ = pid;
  process->ended_ = OwnedFd(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
  if (process->ended_.get() < 0) {
    *error = std::string("cannot watch a render: ") + std::strerror(errno);
    return nullptr;  // the destructor kills and reaps it
  }
  return process;
}

RenderProcess::~RenderProcess() {
  if (pid_ <= 0 || reaped_) return;
  kill();
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
}

void RenderProcess::kill() {
  if (pid_ > 0 && !reaped_) ::kill(pid_, SIGKILL);
}

std::optional<int> RenderProcess::reap() {
  if (reaped_) return std::nullopt;
  int status = 0;
  const pid_t done = waitpid(pid_, &status, WNOHANG);
  if (done != pid_) return std::nullopt;
  reaped_ = true;
  return status;
}

OwnedFd RenderProcess::takeOutput() {
  lseek(output_.get(), 0, SEEK_SET);
  return std::move(output_);
}

std::string RenderProcess::errorText(size_t most) const {
  std::string text(most, '\0');
  const ssize_t got = pread(errors_.get(), text.data(), most, 0);
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return text;
}

}  // namespace quatdepth
