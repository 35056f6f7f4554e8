#pragma once

// quatdepth-explore started by a test, and a plain socket to talk to it
// byte for byte where an HTTP client would tidy the request up.
#include <arpa/inet.h>
#include <fcntl.h>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "run_program.h"

namespace quatdepth::testing {

inline const std::string kExplore = QUATDEPTH_EXPLORE_PROGRAM;

// The program serving, started with `options`, read up to the address it
// prints; stopped with SIGINT, as a user's Ctrl-C, when the test ends.
// What it writes on standard error is kept.
class RunningExplorer {
 public:
  explicit RunningExplorer(const std::vector<std::string> &options = {}) {
    int out[2];
    if (pipe(out) != 0) return;
    char errors[] = "/tmp/quatdepth-explore-errors-XXXXXX";
    const int errorFd = mkstemp(errors);
    errorsPath_ = errors;
    std::vector<std::string> words = {kExplore};
    words.insert(words.end(), options.begin(), options.end());
    std::vector<char *> argv;
    for (std::string &word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      dup2(errorFd, 2);
      close(out[0]);
      close(out[1]);
      execv(kExplore.c_str(), argv.data());
      _exit(127);
    }
    close(errorFd);
    close(out[1]);
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') url_ += c;
    close(out[0]);
    const size_t colon = url_.rfind(':');
    if (colon != std::string::npos) port_ = std::atoi(url_.c_str() + colon + 1);
  }
  ~RunningExplorer() {
    stop();
    unlink(errorsPath_.c_str());
  }
  RunningExplorer(const RunningExplorer &) = delete;
  RunningExplorer &operator=(const RunningExplorer &) = delete;

  // The exit status after SIGINT, or -1 when it did not exit by itself.
  int stop() {
    if (pid_ <= 0) return status_;
    kill(pid_, SIGINT);
    int status = 0;
    if (waitpid(pid_, &status, 0) == pid_ && WIFEXITED(status))
      status_ = WEXITSTATUS(status);
    pid_ = -1;
    return status_;
  }

  const std::string &url() const { return url_; }
  int port() const { return port_; }
  pid_t pid() const { return pid_; }
  std::string errors() const { return readFile(errorsPath_); }
  httplib::Client client() const {
    httplib::Client client("127.0.0.1", port_);
    client.set_read_timeout(120, 0);
    return client;
  }

 private:
  pid_t pid_ = -1;
  int status_ = -1;
  std::string url_;
  int port_ = 0;
  std::string errorsPath_;
};

// A TCP connection to 127.0.0.1:port, closed with this object.
class RawConnection {
 public:
  explicit RawConnection(int port) : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = fd_ >= 0 &&
                 connect(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
  }
  ~RawConnection() { close(); }
  RawConnection(const RawConnection &) = delete;
  RawConnection &operator=(const RawConnection &) = delete;

  bool connected() const { return connected_; }
  bool send(const std::string &bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
      const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return false;
      sent += static_cast<size_t>(n);
    }
    return true;
  }
  // Everything the server sends until it closes the connection, or until
  // `seconds` pass.
  std::string receiveAll(int seconds = 30) {
    timeval timeout{seconds, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    std::string received;
    char buffer[65536];
    for (;;) {
      const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      received.append(buffer, static_cast<size_t>(n));
    }
    return received;
  }
  // One whole answer, its body as long as its Content-Length says, leaving
  // the connection open; what came by `seconds` when it does not end.
  std::string receiveAnswer(int seconds = 30) {
    timeval timeout{seconds, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    std::string received;
    char buffer[65536];
    for (;;) {
      const size_t end = received.find("\r\n\r\n");
      if (end != std::string::npos) {
        const size_t length = received.find("Content-Length: ");
        const size_t body = length == std::string::npos || length > end
                                ? 0
                                : std::strtoul(received.c_str() + length + 16, nullptr, 10);
        if (received.size() >= end + 4 + body) return received;
      }
      const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
      if (n <= 0) return received;
      received.append(buffer, static_cast<size_t>(n));
    }
  }
  // Whether the server has closed its end (nothing more will come).
  bool closedByPeer() {
    char byte;
    const ssize_t n = recv(fd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
  }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
  bool connected_ = false;
};

// The status of an HTTP answer's first line, or 0.
inline int statusOf(const std::string &answer) {
  return answer.compare(0, 9, "HTTP/1.1 ") == 0 ? std::atoi(answer.c_str() + 9) : 0;
}

// One request over a connection of its own, the answer whole.
inline std::string roundTrip(int port, const std::string &request, int seconds = 30) {
  RawConnection connection(port);
  if (!connection.send(request)) return "";
  return connection.receiveAll(seconds);
}

// A GET of `target` with the right Host and `extraHeaders` (each ending
// in CRLF), closing after the answer.
inline std::string get(int port, const std::string &target,
                       const std::string &extraHeaders = "") {
  return roundTrip(port, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" +
                            std::to_string(port) + "\r\n" + extraHeaders +
                            "Connection: close\r\n\r\n");
}

}  // namespace quatdepth::testing
