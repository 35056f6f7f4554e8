// quatdepth-mesh: the view's set as a closed mesh, for printing and 3-D tools.
#include "mesh/mesh_run.h"

int main(int argc, char **argv) { return quatdepth::runQuatdepthMesh(argc, argv); }
