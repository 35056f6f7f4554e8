// Prints the renderer's sine and cosine of each argument, read as the
// renderer reads angles, in hexadecimal: one line "SINE COSINE" each. The
// tests run it under other CPUs, where a C library picks other routines.
#include <cstdio>

#include "settings/render_settings.h"

int main(int argc, char **argv) {
  for (int i = 1; i < argc; ++i) {
    const double angle = quatdepth::parseReal(argv[i]);
    std::printf("%a %a\n", quatdepth::viewSine(angle), quatdepth::viewCosine(angle));
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
