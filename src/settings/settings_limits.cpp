#include "settings/settings_limits.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace quatdepth {
namespace {

constexpr int64_t kInt32Max = INT32_MAX;
constexpr double kMaxAngleMagnitude = 9007199254740992.0;  // 2^53

struct MessageSink {
  char *text;
  size_t size;
};

bool refuseInteger(MessageSink sink, const char *name, int64_t value,
                   const char *limit) {
  std::snprintf(sink.text, sink.size,
                "quatdepth: %s is %lld, but it must be %s\n", name,
                static_cast<long long>(value), limit);
  return false;
}

bool checkReal(MessageSink sink, const char *name, double value) {
  if (std::isfinite(value)) return true;
  std::snprintf(sink.text, sink.size,
                "quatdepth: %s is %g, but it must be a finite number\n", name,
                value);
  return false;
}

bool checkAngle(MessageSink sink, const char *name, double value) {
  if (std::fabs(value) < kMaxAngleMagnitude) return true;
  std::snprintf(sink.text, sink.size,
                "quatdepth: %s is %.17g, but its magnitude must be below "
                "2^53 (9007199254740992)\n",
                name, value);
  return false;
}

bool checkIntegers(MessageSink sink, const RenderSettings *s) {
  if (s->width < 0) return refuseInteger(sink, "width", s->width, "at least 0");
  if (s->height > kMaxHeight)
    return refuseInteger(sink, "height", s->height,
                         "at most 16777216 (2^24), or row indices alias");
  if (s->coarseSteps < 1)
    return refuseInteger(sink, "coarseSteps", s->coarseSteps, "at least 1");
  if (s->fineSteps < 1)
    return refuseInteger(sink, "fineSteps", s->fineSteps, "at least 1");
  // The search steps its level index up to one fine step past the far face.
  int64_t levels = int64_t{s->coarseSteps} * s->fineSteps;
  if (levels + s->fineSteps > kInt32Max)
    return refuseInteger(sink, "coarseSteps x fineSteps + fineSteps",
                         levels + s->fineSteps, "at most 2147483647 (2^31 - 1)");
  if (levels > kMaxDepthLevels)
    return refuseInteger(sink, "coarseSteps x fineSteps", levels,
                         "at most 16777215 (2^24 - 1), or depths alias");
  if (s->firstRow < 0)
    return refuseInteger(sink, "firstRow", s->firstRow, "at least 0");
  if (s->rowStep < 1)
    return refuseInteger(sink, "rowStep", s->rowStep, "at least 1");
  return true;
}

}  // namespace

bool checkSettingsLimits(const RenderSettings *s, const ViewAngles *angles,
                         char *message, size_t messageSize) {
  MessageSink sink{message, messageSize};
  const struct {
    const char *name;
    double value;
  } reals[] = {{"xMin", s->xMin},
               {"yMin", s->yMin},
               {"zMin", s->zMin},
               {"xMax", s->xMax},
               {"yMax", s->yMax},
               {"zMax", s->zMax},
               {"juliaC component 1", s->juliaC[0]},
               {"juliaC component 2", s->juliaC[1]},
               {"juliaC component 3", s->juliaC[2]},
               {"juliaC component 4", s->juliaC[3]},
               {"wSlice", s->wSlice},
               {"angle A", angles->a},
               {"angle B", angles->b},
               {"angle C", angles->c}};
  for (const auto &real : reals)
    if (!checkReal(sink, real.name, real.value)) return false;
  if (!checkAngle(sink, "angle A", angles->a) ||
      !checkAngle(sink, "angle B", angles->b) ||
      !checkAngle(sink, "angle C", angles->c))
    return false;
  return checkIntegers(sink, s);
}

}  // namespace quatdepth
