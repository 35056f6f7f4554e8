#pragma once

// The bare pass's rate: lane passes per second of q -> q^2 + c with the
// bailout compare (the operations of passVector in src/julia/vector_search.h,
// in the same order) over independent chains of one vector type, with
// nothing else in the loop. It is this CPU's limit for the search's work.
// The timing template is included by one file per instruction set, each
// built with its own flags, so no code is shared between them.
#include <time.h>

#include <cstdint>

namespace quatdepth::bench {

struct PassRate {
  double lanePassesPerSecond = 0;
  int chains = 0;        // the number of chains that gave the best rate
  bool bounded = false;  // every lane stayed below the bailout throughout
};

// Seconds each timed run should take; the best of three runs counts.
struct RateOptions {
  double seconds = 0.2;
};

// One per vector width, in the file built for its instruction set.
PassRate measureZmmPasses(RateOptions options);   // AVX-512F, 8 lanes
PassRate measureYmmPasses(RateOptions options);   // AVX2, 4 lanes
PassRate measureXmmPasses(RateOptions options);   // SSE2, 2 lanes
PassRate measureNeonPasses(RateOptions options);  // NEON, 2 lanes

namespace {

// Thread CPU time: a run that is descheduled while another build runs is
// not charged for the wait.
inline double threadSeconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct ChainRun {
  double seconds;
  bool bounded;
  double checksum;  // the final values, so the work cannot be dropped
};

// `passes` passes of K chains of L::kLanes lanes each. The start points
// near q = 0 with the renderer's default c stay in the set, so every pass
// is live; the compare's lanes are kept and checked, as the search does.
template <class L, int K>
[[gnu::noinline]] ChainRun runChains(int64_t passes) {
  using Vec = typename L::Vec;
  static_assert(K * L::kLanes <= 64);
  const Vec c0 = L::set(-0.1), c1 = L::set(0.2), c2 = L::set(0.3), c3 = L::set(-0.1);
  const Vec bailout = L::set(16.0);
  Vec a[K], b[K], c[K], d[K];
  for (int v = 0; v < K; ++v) {
    a[v] = L::set(0.001 * v), b[v] = L::set(0.0), c[v] = L::set(0.0), d[v] = L::set(0.0);
  }
  const uint64_t allLanes = K * L::kLanes == 64 ? ~uint64_t{0}
                                                 : (uint64_t{1} << (K * L::kLanes)) - 1;
  uint64_t live = allLanes;
  const double start = threadSeconds();
  for (int64_t i = 0; i < passes; ++i) {
    uint64_t below = 0;
#pragma GCC unroll 8
    for (int v = 0; v < K; ++v) {
      Vec t = L::add(a[v], a[v]);
      Vec aSquared = L::sub(L::sub(L::sub(L::mul(a[v], a[v]), L::mul(b[v], b[v])),
                                   L::mul(c[v], c[v])),
                            L::mul(d[v], d[v]));
      Vec bSquared = L::mul(t, b[v]);
      Vec cSquared = L::mul(t, c[v]);
      Vec dSquared = L::mul(t, d[v]);
      Vec n = L::add(L::add(L::add(L::mul(aSquared, aSquared), L::mul(bSquared, bSquared)),
                            L::mul(cSquared, cSquared)),
                     L::mul(dSquared, dSquared));
      below |= uint64_t{L::below(n, bailout)} << (v * L::kLanes);
      a[v] = L::add(aSquared, c0);
      b[v] = L::add(bSquared, c1);
      c[v] = L::add(cSquared, c2);
      d[v] = L::add(dSquared, c3);
    }
    live &= below;
  }
  const double seconds = threadSeconds() - start;
  double checksum = 0;
  for (int v = 0; v < K; ++v) checksum += L::first(a[v]) + L::first(d[v]);
  return {seconds, live == allLanes, checksum};
}

using ChainRunner = ChainRun (*)(int64_t);

// The best of three runs of `run`, each about options.seconds long.
inline double bestRate(ChainRunner run, int lanes, RateOptions options, bool *bounded,
                       double *checksum) {
  int64_t passes = 1 << 14;
  ChainRun trial = run(passes);
  while (trial.seconds < options.seconds / 8) {
    passes *= 4;
    trial = run(passes);
  }
  passes = static_cast<int64_t>(static_cast<double>(passes) * options.seconds / trial.seconds) + 1;
  double best = 0;
  for (int repeat = 0; repeat < 3; ++repeat) {
    const ChainRun timed = run(passes);
    *bounded = *bounded && timed.bounded;
    *checksum += timed.checksum;
    const double rate = static_cast<double>(passes) * lanes / timed.seconds;
    if (rate > best) best = rate;
  }
  return best;
}

// The best rate over 1 to 6 chains: enough to cover the latency of a pass
// on any core, without running out of registers.
template <class L>
PassRate measurePassRate(RateOptions options) {
  constexpr ChainRunner kRunners[] = {runChains<L, 1>, runChains<L, 2>, runChains<L, 3>,
                                      runChains<L, 4>, runChains<L, 5>, runChains<L, 6>};
  PassRate result;
  result.bounded = true;
  double checksum = 0;
  for (int chains = 1; chains <= 6; ++chains) {
    const double rate = bestRate(kRunners[chains - 1], chains * L::kLanes, options,
                                 &result.bounded, &checksum);
    if (rate > result.lanePassesPerSecond) {
      result.lanePassesPerSecond = rate;
      result.chains = chains;
    }
  }
  // The values are bounded, so the sum is finite; this keeps it used.
  result.bounded = result.bounded && checksum == checksum;
  return result;
}

}  // namespace
}  // namespace quatdepth::bench
