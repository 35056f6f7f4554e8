#pragma once

namespace quatdepth {

// quatdepth-mesh: reads the command line, sweeps the view's set into a
// mesh and writes it; the exit status.
int runQuatdepthMesh(int argc, const char *const *argv);

}  // namespace quatdepth
