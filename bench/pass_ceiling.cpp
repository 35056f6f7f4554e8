// The bare pass's rate on each vector width this CPU has: the limit the
// search's efficiency is taken against (see pass_rate.h).
//   build/quatdepth_pass_ceiling [--seconds S]
//     one line a width: "zmm 2440 M lane-passes/s (3 chains)"
//   build/quatdepth_pass_ceiling --path NAME [--seconds S]
//     lane passes per second of the vector path NAME runs on (avx512, avx2,
//     sse2 or neon), as a plain number
// S is how long each timed run takes (default 0.2; the best of three runs
// of each chain count from 1 to 6 counts). Exits 2 on a bad argument or a
// path this CPU cannot run, 1 if a chain left the set (its passes would
// not all be live).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "pass_rate.h"

namespace quatdepth::bench {
namespace {

struct Width {
  const char *name;  // the register's
  const char *path;  // the search path that runs on it
  const char *lacking;  // why a CPU without it cannot run it
  bool (*supported)();
  PassRate (*measure)(RateOptions);
};

#if defined(__x86_64__)
const Width kWidths[] = {
    {"zmm", "avx512", "this CPU has no AVX-512F", [] { return bool(__builtin_cpu_supports("avx512f")); },
     measureZmmPasses},
    {"ymm", "avx2", "this CPU has no AVX2", [] { return bool(__builtin_cpu_supports("avx2")); },
     measureYmmPasses},
    {"xmm", "sse2", "", [] { return true; }, measureXmmPasses},
    {"neon", "neon", "not an AArch64 CPU", [] { return false; }, nullptr},
};
#elif defined(__aarch64__)
const Width kWidths[] = {
    {"zmm", "avx512", "not an x86-64 CPU", [] { return false; }, nullptr},
    {"ymm", "avx2", "not an x86-64 CPU", [] { return false; }, nullptr},
    {"xmm", "sse2", "not an x86-64 CPU", [] { return false; }, nullptr},
    {"neon", "neon", "", [] { return true; }, measureNeonPasses},
};
#else
const Width kWidths[] = {
    {"zmm", "avx512", "not an x86-64 CPU", [] { return false; }, nullptr},
    {"ymm", "avx2", "not an x86-64 CPU", [] { return false; }, nullptr},
    {"xmm", "sse2", "not an x86-64 CPU", [] { return false; }, nullptr},
    {"neon", "neon", "not an AArch64 CPU", [] { return false; }, nullptr},
};
#endif

int usage() {
  std::fputs("usage: quatdepth_pass_ceiling [--path avx512|avx2|sse2|neon] [--seconds S]\n",
             stderr);
  return 2;
}

// Measures one width; false (with a message) if a chain escaped.
bool measure(const Width &width, RateOptions options, PassRate *rate) {
  *rate = width.measure(options);
  if (rate->bounded) return true;
  std::fprintf(stderr, "quatdepth_pass_ceiling: a %s chain left the set, so not every pass "
                       "was live\n", width.name);
  return false;
}

int run(int argc, char **argv) {
  const char *path = nullptr;
  RateOptions options;
  for (int i = 1; i < argc; ++i) {
    if (i + 1 < argc && !std::strcmp(argv[i], "--path")) {
      path = argv[++i];
    } else if (i + 1 < argc && !std::strcmp(argv[i], "--seconds")) {
      char *end;
      options.seconds = std::strtod(argv[++i], &end);
      if (*end || !(options.seconds > 0 && options.seconds <= 60)) {
        std::fprintf(stderr, "quatdepth_pass_ceiling: --seconds takes a time above 0 and up "
                             "to 60, not '%s'\n", argv[i]);
        return 2;
      }
    } else {
      return usage();
    }
  }

  if (path) {
    for (const Width &width : kWidths) {
      if (std::strcmp(path, width.path) != 0) continue;
      if (!width.supported()) {
        std::fprintf(stderr, "quatdepth_pass_ceiling: --path %s: %s\n", path, width.lacking);
        return 2;
      }
      PassRate rate;
      if (!measure(width, options, &rate)) return 1;
      std::printf("%.0f\n", rate.lanePassesPerSecond);
      return 0;
    }
    // The scalar and portable paths have no vector register of their own.
    std::fprintf(stderr, "quatdepth_pass_ceiling: --path %s: not a vector path of its own "
                         "(avx512, avx2, sse2 or neon)\n", path);
    return 2;
  }

  for (const Width &width : kWidths) {
    if (!width.supported()) {
      std::printf("%s skipped: %s\n", width.name, width.lacking);
      continue;
    }
    PassRate rate;
    if (!measure(width, options, &rate)) return 1;
    std::printf("%s %.0f M lane-passes/s (%d chain%s)\n", width.name,
                rate.lanePassesPerSecond / 1e6, rate.chains, rate.chains == 1 ? "" : "s");
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace
}  // namespace quatdepth::bench

int main(int argc, char **argv) { return quatdepth::bench::run(argc, argv); }
