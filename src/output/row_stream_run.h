// quatdepth: settings from the command line to depth row records on
// standard output.
#pragma once

#include <cstdio>

#include "julia/search_path.h"
#include "settings/render_settings.h"

namespace quatdepth {

// Exit statuses of quatdepth.
enum ExitStatus : int {
  kExitSuccess = 0,
  kExitNoMemory = 1,      // the row buffers could not be taken
  kExitBadParameter = 2,  // a parameter is outside the renderable limits
  kExitWriteFailed = 4,   // standard output refused a record
};

// Renders rows firstRow, firstRow + rowStep, ... below height with `path`
// and writes each as a depth row record to `out` before computing the next,
// in one write on its descriptor: a run killed at any moment leaves whole
// records behind.
ExitStatus writeDepthRows(const RenderSettings *settings, SearchPath path,
                          FILE *out);

// The program: settings from the argument vector, then the row loop on
// standard output with the fastest search path, or the one named by the
// environment variable QUATDEPTH_SEARCH_PATH. Returns the exit status.
int runQuatdepth(int argc, const char *const *argv);

}  // namespace quatdepth
