#pragma once

#include <optional>
#include <string>

#include "settings/render_settings.h"

namespace quatdepth {

// The largest depth level count whose levels all fit the 24 bits a record
// carries, and the largest height whose row indices do.
constexpr int32_t kMaxDepthLevels = (1 << 24) - 1;
constexpr int32_t kMaxHeight = 1 << 24;

// The parameters that would hang the search, overflow a 32-bit value or
// write records that cannot be read back: nothing when the run can go
// ahead, otherwise a one-line message (with its line feed) naming the first
// offending parameter, its value and the limit.
std::optional<std::string> firstViolatedLimit(const RenderSettings *settings,
                                              const ViewAngles *angles);

}  // namespace quatdepth
