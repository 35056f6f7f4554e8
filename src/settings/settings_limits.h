#pragma once

#include <optional>
#include <string>

#include "settings/render_settings.h"

namespace quatdepth {

// The largest depth level count whose levels all fit the 24 bits a record
// carries, and the largest height whose row indices do.
constexpr int32_t kMaxDepthLevels = (1 << 24) - 1;
constexpr int32_t kMaxHeight = 1 << 24;

// The first parameter out of its limits: its name as the messages give it
// ("width", "angle B", "coarseSteps x fineSteps", ...) and a one-line
// message (with its line feed) naming it, its value and the limit.
struct LimitViolation {
  std::string parameter;
  std::string message;
};

// The parameters that would hang the search, overflow a 32-bit value or
// write records that cannot be read back: nothing when the run can go
// ahead, otherwise the first one out of its limits.
std::optional<LimitViolation> firstViolatedLimit(const RenderSettings *settings,
                                                 const ViewAngles *angles);

}  // namespace quatdepth
