#include "explore/render_cost.h"

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
  if (request.occlusion) return 112;
  return request.look == Look::kLit ? 80 : 24;
}

}  // namespace

RenderCost renderCostOf(const RenderRequest &request, ViewOutput output) {
  const RenderSettings &s = request.settings;
  const int64_t side = request.supersample;
  RenderCost cost;
  cost.samples = int64_t{s.width} * s.height * side * side;
  const double probes = static_cast<double>(s.coarseSteps) + s.fineSteps;
  cost.passes = static_cast<double>(cost.samples) * probes * s.maxIterations;
  cost.memoryBytes = kProcessBytes + cost.samples * bytesPerSample(request, output);
  return cost;
}

}  // namespace quatdepth
