#pragma once

#include <cstdint>

namespace quatdepth {

// Counters a vector search fills when asked (benchmarks only): how busy its
// lanes were.
struct SearchStats {
  int32_t laneWidth = 0;        // lanes per vector of the path that ran
  int64_t probes = 0;           // depth levels tested, speculative ones too
  int64_t groups = 0;           // vectors of probes started
  int64_t laneSlots = 0;        // vector passes x lanes per vector
  int64_t activeIterations = 0; // lane passes on lanes still iterating
  int64_t usefulIterations = 0; // lane passes whose probe the answer needed
};

}  // namespace quatdepth
