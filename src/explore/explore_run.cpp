#include "explore/explore_run.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "explore/explore_options.h"
#include "explore/explore_server.h"
#include "explore/host_check.h"
#include "image/image_output.h"

namespace quatdepth {
namespace {

constexpr auto kStopGrace = std::chrono::seconds(3);

void report(const std::string &message) {
  std::fprintf(stderr, "quatdepth-explore: %s\n", message.c_str());
}

}  // namespace

int runQuatdepthExplore(int argc, char **argv) {
  const ClosedStreams closed = occupyClosedStreams();
  ExploreOptions options;
  const int parsed = parseExploreOptions(argc, argv, &options);
  if (parsed == kExploreStopped && closed.output) {  // --help, into nothing
    std::fprintf(stderr, "quatdepth-explore: standard output: %s\n", std::strerror(EBADF));
    return kExploreCannotWrite;
  }
  if (parsed >= 0) return parsed;

  // Signals go to one thread that stops the server; every thread started
  // from here on inherits the mask. A client that hangs up is no signal.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stopSignals, signal);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  ExploreServer server(options);
  std::string error;
  if (!server.bind(&error)) {
    report(error);
    return kExploreFailed;
  }
  const std::string &address = server.listenAddress();
  if (!isLoopbackAddress(address))
    report("listening on " + addressWithPort(address, server.port()) +
           (isWildcardAddress(address) ? " (every address of this machine)" : "") +
           ": anyone who can reach it can render with this machine's CPU");
  if (closed.output || std::printf("%s\n", server.url().c_str()) < 0 ||
      std::fflush(stdout) != 0) {
    report("standard output: cannot write the address");
    return kExploreCannotWrite;
  }
  report("open " + server.url() + " in a browser; Ctrl-C stops");

  std::atomic<bool> serving{true};
  std::thread stopper([&server, &stopSignals, &serving] {
    int signal = 0;
    sigwait(&stopSignals, &signal);
    // Renders end at once, and answers being written get a moment; should
    // serving not end even so, the process ends without it (it writes no
    // files, and its renders end with it).
    server.stop();
    const auto deadline = std::chrono::steady_clock::now() + kStopGrace;
    while (serving.load()) {
      if (std::chrono::steady_clock::now() > deadline) {
        report("stopped with answers still being written");
        std::fflush(nullptr);
        _exit(kExploreStopped);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  const bool served = server.serve();
  serving.store(false);
  pthread_kill(stopper.native_handle(), SIGTERM);  // when serving failed
  stopper.join();
  if (!served) {
    report("serving stopped unexpectedly");
    return kExploreFailed;
  }
  return kExploreStopped;
}

}  // namespace quatdepth
