// quatdepth-explore: find a view by looking at it, in a browser.
#pragma once

namespace quatdepth {

// The program: options from the argument vector, then the server on its
// address until a signal stops it. Returns the exit status.
int runQuatdepthExplore(int argc, char **argv);

}  // namespace quatdepth
