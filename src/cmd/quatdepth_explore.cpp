// quatdepth-explore: find a view by looking at it, in a browser.
#include "explore/explore_run.h"

int main(int argc, char **argv) { return quatdepth::runQuatdepthExplore(argc, argv); }
