// quatdepth-explore: find a view by looking at it, in a browser.
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>

#include "explore/explore_options.h"
#include "explore/explore_server.h"
#include "explore/host_check.h"
#include "image/image_output.h"

namespace quatdepth {
namespace {

void report(const std::string &message) {
  std::fprintf(stderr, "quatdepth-explore: %s\n", message.c_str());
}

int exploreMain(int argc, char **argv) {
  const ClosedStreams closed = occupyClosedStreams();
  ExploreOptions options;
  const int parsed = parseExploreOptions(argc, argv, &options);
  if (parsed >= 0) return parsed;

  // Signals go to one thread that stops the server; every thread started
  // from here on inherits the mask. A client that hangs up is no signal.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stopSignals, signal);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  ExploreServer server(options);
  std::string error;
  if (!server.bind(&error)) {
    report(error);
    return kExploreFailed;
  }
  if (!isLoopbackAddress(options.listenAddress))
    report("serving on " + urlHost(options.listenAddress) +
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
    // A signal that came before the server was listening finds nothing to
    // stop yet: stop until it has stopped.
    while (serving.load()) {
      server.stop();
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

}  // namespace
}  // namespace quatdepth

int main(int argc, char **argv) { return quatdepth::exploreMain(argc, argv); }
