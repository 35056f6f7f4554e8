// quatdepth-image: merges depth row streams into one image.
#pragma once

namespace quatdepth {

// The program: options from the argument vector, then every input merged
// into one image, or the list of its missing rows. Returns the exit status.
int runQuatdepthImage(int argc, char **argv);

}  // namespace quatdepth
