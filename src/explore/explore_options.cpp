#include "explore/explore_options.h"

#include <arpa/inet.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <optional>

#include "explore/view_query.h"
#include "image/image_output.h"
#include "request/render_request.h"

namespace quatdepth {
namespace {

int refuse(int status, const std::string &message) {
  std::fprintf(stderr, "quatdepth-explore: %s\n", message.c_str());
  return status;
}

bool isIpAddress(const std::string &text) {
  unsigned char address[16];
  return inet_pton(AF_INET, text.c_str(), address) == 1 ||
         inet_pton(AF_INET6, text.c_str(), address) == 1;
}

// The view of a picture quatdepth-render wrote, or of a parameter file,
// read as quatdepth-render reads it.
int readStartView(const std::string &path, ExploreOptions *options) {
  std::string error;
  CommandWords command;
  // The view, no output to check.
  const int status = commandWords({"--params", path, "--print-args"}, &command, &error);
  if (status >= 0)
    return refuse(status == kRenderCannotRead ? kExploreCannotRead : kExploreUsage, error);
  RenderRequest request;
  if (parseRenderWords(command, &request, &error) >= 0)
    // A refusal of one of its lines names the file already.
    return refuse(kExploreUsage,
                  error.rfind(path + ", line", 0) == 0 ? error : "--params " + path + ": " + error);
  options->startView = viewOf(request.parameters);
  return -1;
}

}  // namespace

int parseExploreOptions(int argc, const char *const *argv,
                        ExploreOptions *options) {
  CLI::App app{
      "Serves a page for finding a view of a quaternion Julia set by looking "
      "at it: drag, zoom and slide, then take away the picture and the "
      "command that renders it.",
      "quatdepth-explore"};
  std::optional<std::string> params;
  app.add_option("--port", options->port,
                 "TCP port (default 0: any free one; the address is printed)")
      ->check(CLI::Range(0, 65535));
  app.add_option("--listen", options->listenAddress,
                 "IP address to serve on (default 127.0.0.1, this machine "
                 "only)");
  app.add_option("--threads", options->threads,
                 "render threads (default 0: every core)")
      ->check(CLI::Range(0, 1024));
  app.add_option("--params", params,
                 "FILE: start from the view of a picture quatdepth-render "
                 "wrote, or of 'name = value' lines");
  app.add_option("--max-pixels", options->maxSamples,
                 "the most samples (pixels x supersamples) one view may ask "
                 "for (default 4194304)")
      ->check(CLI::Range(int64_t{1}, int64_t{1} << 32));
  app.add_option("--max-work", options->maxWork,
                 "the most iteration passes one view may take at worst: "
                 "samples x (coarse + fine) x iterations, 4 times that for the "
                 "nearest search (default 2e10)")
      ->check(CLI::Range(1.0, 1e18));
  app.add_option("--workers", options->renderWorkers,
                 "renders at once; more wait their turn (default 0: one a core)")
      ->check(CLI::Range(0, 1024));
  int64_t memoryMiB = 0;
  app.add_option("--max-memory", memoryMiB,
                 "MiB that the renders in flight may take together; more are "
                 "answered 503 (default 0: a quarter of this machine's)")
      ->check(CLI::Range(int64_t{0}, int64_t{1} << 30));
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError &e) {
    if (app.exit(e) != 0) return kExploreUsage;
    std::string error;  // --help: what it printed must have arrived
    return flushStandardOutput(&error) ? kExploreStopped
                                       : refuse(kExploreCannotWrite, error);
  }
  options->maxRenderMemory = memoryMiB << 20;
  if (!isIpAddress(options->listenAddress))
    return refuse(kExploreUsage, "--listen '" + options->listenAddress +
                                     "': give an IP address, as 127.0.0.1 "
                                     "or ::1");
  if (params) return readStartView(*params, options);
  RenderRequest defaults;
  std::string error;
  parseRenderArguments({"--print-args"}, &defaults, &error);
  options->startView = viewOf(defaults.parameters);
  return -1;
}

}  // namespace quatdepth
