#include "settings/settings_limits.h"

#include "settings/setting_values.h"

#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <utility>

namespace quatdepth {
namespace {

constexpr int64_t kInt32Max = INT32_MAX;

using Refusal = std::optional<LimitViolation>;

[[gnu::format(printf, 1, 2)]] std::string formatted(const char *format, ...) {
  char text[256];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  return text;
}

Refusal refuseInteger(const char *name, int64_t value, const char *limit) {
  return LimitViolation{name, formatted("quatdepth: %s is %lld, but it must be %s\n", name,
                                        static_cast<long long>(value), limit)};
}

Refusal checkReal(const char *name, double value) {
  if (std::isfinite(value)) return std::nullopt;
  return LimitViolation{
      name, formatted("quatdepth: %s is %g, but it must be a finite number\n", name, value)};
}

Refusal checkAngle(const char *name, double value) {
  if (std::fabs(value) < kLargestTurnableAngle) return std::nullopt;
  return LimitViolation{name, formatted("quatdepth: %s is %.17g, but its magnitude must be "
                                        "below 2^53 (%.0f)\n",
                                        name, value, kLargestTurnableAngle)};
}

Refusal checkIntegers(const RenderSettings *s) {
  if (s->width < 0) return refuseInteger("width", s->width, "at least 0");
  if (s->height > kMaxHeight)
    return refuseInteger("height", s->height,
                         "at most 16777216 (2^24), or row indices alias");
  if (s->coarseSteps < 1)
    return refuseInteger("coarseSteps", s->coarseSteps, "at least 1");
  if (s->fineSteps < 1)
    return refuseInteger("fineSteps", s->fineSteps, "at least 1");
  // The search steps its level index up to one fine step past the far face.
  int64_t levels = int64_t{s->coarseSteps} * s->fineSteps;
  if (levels + s->fineSteps > kInt32Max)
    return refuseInteger("coarseSteps x fineSteps + fineSteps",
                         levels + s->fineSteps, "at most 2147483647 (2^31 - 1)");
  if (levels > kMaxDepthLevels)
    return refuseInteger("coarseSteps x fineSteps", levels,
                         "at most 16777215 (2^24 - 1), or depths alias");
  if (s->firstRow < 0)
    return refuseInteger("firstRow", s->firstRow, "at least 0");
  if (s->rowStep < 1)
    return refuseInteger("rowStep", s->rowStep, "at least 1");
  return std::nullopt;
}

}  // namespace

std::optional<LimitViolation> firstViolatedLimit(const RenderSettings *s,
                                                 const ViewAngles *angles) {
  RenderSettings values = *s;
  ViewAngles turns = *angles;
  for (int i = 0; i < kRealParameters; ++i) {
    const SettingValue &real = kSettingValues[i];
    if (Refusal refusal = checkReal(real.limitName, real.real(values, turns))) return refusal;
  }
  for (const auto &[name, value] : {std::pair{"angle A", angles->a}, std::pair{"angle B", angles->b},
                                    std::pair{"angle C", angles->c}})
    if (Refusal refusal = checkAngle(name, value)) return refusal;
  return checkIntegers(s);
}

}  // namespace quatdepth
