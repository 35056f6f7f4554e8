// quatdepth-image: merges depth row streams into one image.
#include "image/image_run.h"

int main(int argc, char **argv) { return quatdepth::runQuatdepthImage(argc, argv); }
