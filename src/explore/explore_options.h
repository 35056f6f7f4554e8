#pragma once

#include "explore/explore_server.h"

namespace quatdepth {

// Exit statuses, as quatdepth-render's where they mean the same.
enum ExploreExit : int {
  kExploreStopped = 0,      // stopped by a signal, cleanly
  kExploreFailed = 1,       // cannot listen, or serving failed
  kExploreUsage = 2,        // an option that is malformed or out of range
  kExploreCannotRead = 3,   // the --params file
  kExploreCannotWrite = 4,  // standard output (the address)
};

// Parses quatdepth-explore's command line (argv[0] is the program) into
// `options`, the --params file's view included. Returns -1 when the server
// is to start, else the exit status, after --help or a message on standard
// error.
int parseExploreOptions(int argc, const char *const *argv,
                        ExploreOptions *options);

}  // namespace quatdepth
