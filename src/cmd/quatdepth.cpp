// quatdepth: renders rows of depths as records on standard output.
#include "output/row_stream_run.h"

int main(int argc, char **argv) { return quatdepth::runQuatdepth(argc, argv); }
