#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace quatdepth {

struct ExploreOptions {
  std::string listenAddress = "127.0.0.1";  // an IP address
  int port = 0;                             // 0: any free port
  int threads = 0;                          // render threads, 0: every core
  int64_t maxSamples = 4194304;             // a render's pixels x supersamples
  // The view the page starts from, as query keys and values.
  std::vector<std::pair<std::string, std::string>> startView;
};

// quatdepth-explore's HTTP server: the page, and every view it asks for
// rendered exactly as quatdepth-render renders it.
class ExploreServer {
 public:
  explicit ExploreServer(ExploreOptions options);
  ~ExploreServer();
  ExploreServer(const ExploreServer &) = delete;
  ExploreServer &operator=(const ExploreServer &) = delete;

  // Takes the address and port. False with the reason when it cannot.
  bool bind(std::string *error);

  // The page's address, as a browser opens it (after bind).
  std::string url() const;
  int port() const;

  // Answers requests until stop(). False when serving failed.
  bool serve();

  // Stops serving and every render in progress; from any thread.
  void stop();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace quatdepth
