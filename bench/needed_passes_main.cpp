// Prints the needed lane passes of the rows quatdepth would render with the
// same 22 arguments: the work its answers need, whatever path finds them;
// then, after a space, those still to run for a search that knows the
// view's escape bound and spots orbits that come back to a quaternion they
// had: the probes short of the bound, each up to its escape, the cap or
// its first return.
//   build/quatdepth_needed_passes [the 22 arguments of quatdepth]
// Exits 2 on parameters quatdepth refuses, 1 if a depth disagrees with
// the reference search.
#include <cinttypes>
#include <cstdio>
#include <optional>

#include "julia/needed_passes.h"
#include "settings/positional_settings.h"
#include "settings/render_settings.h"
#include "settings/settings_limits.h"

int main(int argc, char **argv) {
  using namespace quatdepth;
  RenderSettings s;
  ViewAngles angles;
  initSettings(&s, argv, argc, &angles);
  if (const std::optional<LimitViolation> refusal = firstViolatedLimit(&s, &angles)) {
    std::fputs(refusal->message.c_str(), stderr);
    return 2;
  }
  int64_t passes = 0, toRun = 0;
  for (int64_t row = s.firstRow; row < s.height; row += s.rowStep) {
    if (!addNeededRowPasses(&s, static_cast<int32_t>(row), &passes, &toRun)) {
      std::fprintf(stderr, "quatdepth_needed_passes: row %" PRId64
                   " has a depth the reference search does not find\n", row);
      return 1;
    }
  }
  std::printf("%" PRId64 " %" PRId64 "\n", passes, toRun);
  return 0;
}
