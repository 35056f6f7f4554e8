#include "run_program.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace quatdepth::testing {
namespace {

std::string temporaryPath() {
  char pattern[] = "/tmp/quatdepth-test-XXXXXX";
  int fd = mkstemp(pattern);
  if (fd >= 0) close(fd);
  return pattern;
}

void redirect(const std::string &path, int flags, int target) {
  int fd = open(path.c_str(), flags, 0644);
  if (fd < 0 || dup2(fd, target) < 0) _exit(127);
  close(fd);
}

}  // namespace

std::string shellCommand(const std::string &program, const std::vector<std::string> &arguments) {
  auto quoted = [](const std::string &word) {
    std::string text = "'";
    for (char c : word) {
      if (c == '\'') {
        text += "'\\''";
      } else {
        text.push_back(c);
      }
    }
    text.push_back('\'');
    return text;
  };
  std::string command = quoted(program);
  for (const std::string &argument : arguments) {
    command.push_back(' ');
    command += quoted(argument);
  }
  return command;
}

std::vector<std::string> words(const std::string &line) {
  std::istringstream in(line);
  std::vector<std::string> result;
  for (std::string word; in >> word;) result.push_back(word);
  return result;
}

std::string readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void writeFile(const std::string &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

TemporaryDirectory::TemporaryDirectory() {
  char pattern[] = "/tmp/quatdepth-test-XXXXXX";
  if (mkdtemp(pattern)) path_ = pattern;
}

TemporaryDirectory::~TemporaryDirectory() {
  if (!path_.empty()) std::system(("rm -rf '" + path_ + "'").c_str());
}

ProgramResult runProgram(const std::string &program,
                         const std::vector<std::string> &arguments,
                         const RunOptions &options) {
  const std::string outPath =
      options.stdoutPath.empty() ? temporaryPath() : options.stdoutPath;
  const std::string errPath = temporaryPath();

  std::vector<char *> argv;
  std::string name = program;
  argv.push_back(name.data());
  std::vector<std::string> copies = arguments;
  for (auto &argument : copies) argv.push_back(argument.data());
  argv.push_back(nullptr);

  int outPipe[2] = {-1, -1};
  if (options.stdoutPipe && pipe(outPipe) != 0) return {};
  std::fflush(nullptr);
  pid_t child = fork();
  if (child == 0) {
    redirect(options.stdinPath, O_RDONLY, 0);
    if (options.stdoutPipe) {
      if (dup2(outPipe[1], 1) < 0) _exit(127);
      close(outPipe[0]), close(outPipe[1]);
    } else {
      redirect(outPath, O_WRONLY | O_CREAT | O_TRUNC, 1);
    }
    redirect(errPath, O_WRONLY | O_CREAT | O_TRUNC, 2);
    for (const auto &[variable, value] : options.environment)
      setenv(variable.c_str(), value.c_str(), 1);
    if (options.addressSpaceMiB) {
      rlim_t bytes = static_cast<rlim_t>(options.addressSpaceMiB) << 20;
      struct rlimit limit = {bytes, bytes};
      setrlimit(RLIMIT_AS, &limit);
    }
    if (options.openFilesLimit) {
      struct rlimit limit = {options.openFilesLimit, options.openFilesLimit};
      setrlimit(RLIMIT_NOFILE, &limit);
    }
    if (options.fileModeMask >= 0) umask(static_cast<mode_t>(options.fileModeMask));
    if (options.userId >= 0) {
      const gid_t group = static_cast<gid_t>(options.userId);
      if (setgroups(0, nullptr) != 0 || setgid(group) != 0 ||
          setuid(static_cast<uid_t>(options.userId)) != 0)
        _exit(126);
    }
    execv(program.c_str(), argv.data());
    _exit(127);
  }

  if (options.stdoutPipe) close(outPipe[1]);
  ProgramResult result;
  int status = 0;
  struct rusage usage = {};
  if (child > 0 && options.killAfterMs) {
    // Poll, so a child that ends by itself is not waited for in full.
    for (unsigned waited = 0; waited < options.killAfterMs; waited += 10) {
      siginfo_t info = {};
      if (waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
          info.si_pid == child)
        break;
      usleep(10000);
    }
    kill(child, options.killSignal);  // no effect on a child that has ended
  }
  if (child > 0 && wait4(child, &status, 0, &usage) == child) {
    result.maxResidentKiB = usage.ru_maxrss;
    if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  }
  if (options.stdoutPipe) {
    char chunk[65536];
    for (ssize_t got; (got = read(outPipe[0], chunk, sizeof chunk)) > 0;)
      result.out.append(chunk, static_cast<size_t>(got));
    close(outPipe[0]);
  } else if (options.stdoutPath.empty()) {
    result.out = readFile(outPath);
    std::remove(outPath.c_str());
  }
  result.err = readFile(errPath);
  std::remove(errPath.c_str());
  return result;
}

int freeLocalPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr *>(&address), size) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) == 0)
    port = ntohs(address.sin_port);
  close(fd);
  return port;
}

std::string findProgram(const std::string &name) {
  std::string folders = getenv("PATH") ? getenv("PATH") : "";
  folders += ":/usr/sbin:/sbin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= folders.size()) {
    const size_t end = std::min(folders.find(':', start), folders.size());
    const std::string path = folders.substr(start, end - start) + "/" + name;
    if (end > start && access(path.c_str(), X_OK) == 0) return path;
    start = end + 1;
  }
  return "";
}

std::string installPrograms(const std::string &prefix) {
  const ProgramResult install =
      runProgram(QUATDEPTH_CMAKE, {"--install", QUATDEPTH_BUILD_DIR, "--prefix", prefix});
  return install.exitStatus == 0 ? prefix + "/bin" : "";
}

}  // namespace quatdepth::testing
