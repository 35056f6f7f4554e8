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
  int threads = 0;                          // render threads a render, 0: every core
  int renderWorkers = 0;                    // renders at once, 0: one a core
  int64_t maxSamples = 4194304;             // a render's pixels x supersamples
  // A render's iteration passes at most: samples x probes a sample x cap.
  double maxWork = 2e10;
  // Memory of the renders in flight, queued ones included; 0: a quarter
  // of the machine's, at least one render of maxSamples.
  int64_t maxRenderMemory = 0;
  // quatdepth-render, which renders every view; empty: the one beside
  // this program.
  std::string renderProgram;
  // The view the page starts from, as query keys and values.
  std::vector<std::pair<std::string, std::string>> startView;
};

// quatdepth-explore's HTTP server: the page, and every view it asks for
// rendered by quatdepth-render itself. One thread serves every connection;
// renders run as processes of their own, a few at a time, and end as
// soon as nobody waits for them.
class ExploreServer {
 public:
  explicit ExploreServer(ExploreOptions options);
  ~ExploreServer();
  ExploreServer(const ExploreServer &) = delete;
  ExploreServer &operator=(const ExploreServer &) = delete;

  // Takes the address and port. False with the reason when it cannot.
  bool bind(std::string *error);

  // The address it listens on, as a user would write it (an IPv4 address
  // written as IPv6, ::ffff:a.b.c.d, is the IPv4 address it is).
  const std::string &listenAddress() const;

  // The page's address, as a browser opens it (after bind).
  std::string url() const;
  int port() const;

  // Answers requests until stop(). False when serving failed.
  bool serve();

  // Stops serving: every render ends at once and its client gets 503;
  // from any thread.
  void stop();

  struct State;  // the connections' shared state, opaque outside

 private:
  std::unique_ptr<State> state_;
};

}  // namespace quatdepth
