// quatdepth-render: named options to a finished picture, on every core.
#pragma once

namespace quatdepth {

// The program: options from the argument vector, then each frame rendered
// and written in turn. Returns the exit status.
int runQuatdepthRender(int argc, char **argv);

}  // namespace quatdepth
