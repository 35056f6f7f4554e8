// quatdepth-render: named options to a finished picture, on every core.
#include "render/render_run.h"

int main(int argc, char **argv) { return quatdepth::runQuatdepthRender(argc, argv); }
