#include "explore/render_cost.h"

#include <algorithm>

namespace quatdepth {
namespace {

// A render process before its first sample: the program, its libraries
// and its threads' stacks and arenas.
constexpr int64_t kProcessBytes = int64_t{64} << 20;

// Bytes a sample at the largest, measured with quatdepth-render's peak
// resident size over sizes of 1 to 16 million samples, with a margin:
// the depths and their row flags, normals and occlusion where the look
// needs them, the picture and its encoding.
int64_t bytesPerSample(const RenderRequest &request, ViewOutput output) {
  switch (output) {
    case ViewOutput::kRows: return 16;
    case ViewOutput::kExr: return 96;
    case ViewOutput::kPng:
    case ViewOutput::kArguments: break;
  }
  if (request.parameters.occlusion) return 112;
  return request.parameters.look == Look::kLit ? 80 : 24;
}

// The work beyond the search, counted in passes too: a normal takes
// distance estimates at a few scales and a gradient, each an orbit run to
// the cap and some way past it; occlusion steps out to its radius in eight
// directions; an EXR compresses each scanline on its own, which costs
// about as much as this many passes.
constexpr double kNormalOrbits = 10;
constexpr double kNormalPassesPastCap = 64;
constexpr double kOcclusionDirections = 8;
constexpr double kExrRowPasses = 10000;

// The nearest search probes levels from the near face, skipping those an
// escaping probe proves outside. At worst it probes every level, far above
// what it does; in practice it takes 1 to 5 times the steps search's work,
// so it counts as 4 times the steps search's bound.
constexpr double kNearestSearchFactor = 4;

}  // namespace

RenderCost renderCostOf(const RenderRequest &request, ViewOutput output) {
  const RenderSettings &s = request.parameters.settings;
  const int64_t side = request.parameters.supersample;
  RenderCost cost;
  cost.samples = int64_t{s.width} * s.height * side * side;
  const double samples = static_cast<double>(cost.samples);
  const double probes = static_cast<double>(s.coarseSteps) + s.fineSteps;
  cost.passes = samples * probes * s.maxIterations;
  if (request.parameters.search == DepthSearch::kNearest) cost.passes *= kNearestSearchFactor;
  const bool picture = output == ViewOutput::kPng;
  if (output == ViewOutput::kExr || (picture && (request.parameters.look == Look::kLit || request.parameters.occlusion)))
    cost.passes += samples * kNormalOrbits * (s.maxIterations + kNormalPassesPastCap);
  if (picture && request.parameters.occlusion) {
    // As quatdepth-render sets it: a fiftieth of the width, in samples.
    const double radius = std::max(3, s.width / 50) * static_cast<double>(side);
    cost.passes += samples * kOcclusionDirections * radius;
  }
  if (output == ViewOutput::kExr) cost.passes += s.height * kExrRowPasses;
  cost.memoryBytes = kProcessBytes + cost.samples * bytesPerSample(request, output);
  return cost;
}

}  // namespace quatdepth
