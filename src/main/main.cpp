#include "main/render_main.h"

int main(int argc, char **argv) { return quatdepth::renderMain(argc, argv); }
