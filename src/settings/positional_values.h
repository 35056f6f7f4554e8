#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>

#include "settings/render_settings.h"

namespace quatdepth {

// The values quatdepth takes by position, in its argument order: every
// other list of them (defaults, argument parsing, the limits, option
// groups, sweep and key names, --print-args) reads this table.
enum class ValueKind { kReal, kWhole };

struct PositionalValue {
  const char *name;       // as --animate and messages name it: "xMin", "c0"
  const char *limitName;  // as the limits' messages name it
  ValueKind kind;
  double realDefault;
  int32_t wholeDefault;
  double &(*real)(RenderSettings &, ViewAngles &);  // kReal
  int32_t &(*whole)(RenderSettings &);              // kWhole
};

#define QUATDEPTH_REAL(name, limitName, fallback, field)                 \
  PositionalValue {                                                      \
    name, limitName, ValueKind::kReal, fallback, 0,                      \
        [](RenderSettings &s, ViewAngles &a) -> double & {               \
          (void)s;                                                       \
          (void)a;                                                       \
          return field;                                                  \
        },                                                               \
        nullptr                                                          \
  }
#define QUATDEPTH_WHOLE(name, fallback, field)                                     \
  PositionalValue {                                                                \
    name, name, ValueKind::kWhole, 0.0, fallback, nullptr,                         \
        [](RenderSettings &s) -> int32_t & { return s.field; }                     \
  }

inline constexpr PositionalValue kPositionalValues[] = {
    QUATDEPTH_REAL("xMin", "xMin", -1.2, s.xMin),
    QUATDEPTH_REAL("yMin", "yMin", -1.2, s.yMin),
    QUATDEPTH_REAL("zMin", "zMin", -1.2, s.zMin),
    QUATDEPTH_REAL("xMax", "xMax", 1.2, s.xMax),
    QUATDEPTH_REAL("yMax", "yMax", 1.2, s.yMax),
    QUATDEPTH_REAL("zMax", "zMax", 1.2, s.zMax),
    QUATDEPTH_REAL("c0", "juliaC component 1", -0.1, s.juliaC[0]),
    QUATDEPTH_REAL("c1", "juliaC component 2", 0.2, s.juliaC[1]),
    QUATDEPTH_REAL("c2", "juliaC component 3", 0.3, s.juliaC[2]),
    QUATDEPTH_REAL("c3", "juliaC component 4", -0.1, s.juliaC[3]),
    QUATDEPTH_REAL("wSlice", "wSlice", 0.0, s.wSlice),
    QUATDEPTH_REAL("angleA", "angle A", 0.0, a.a),
    QUATDEPTH_REAL("angleB", "angle B", 0.0, a.b),
    QUATDEPTH_REAL("angleC", "angle C", 0.0, a.c),
    QUATDEPTH_WHOLE("width", 300, width),
    QUATDEPTH_WHOLE("height", 300, height),
    QUATDEPTH_WHOLE("coarseSteps", 100, coarseSteps),
    QUATDEPTH_WHOLE("fineSteps", 10, fineSteps),
    QUATDEPTH_WHOLE("maxIterations", 10, maxIterations),
    QUATDEPTH_WHOLE("bailout", 16, bailout),
    QUATDEPTH_WHOLE("firstRow", 0, firstRow),
    QUATDEPTH_WHOLE("rowStep", 1, rowStep),
};

#undef QUATDEPTH_REAL
#undef QUATDEPTH_WHOLE

constexpr int kPositionalCount = static_cast<int>(std::size(kPositionalValues));

// The real values come first, then the whole ones.
constexpr int kRealParameters = [] {
  int reals = 0;
  while (reals < kPositionalCount && kPositionalValues[reals].kind == ValueKind::kReal) ++reals;
  return reals;
}();

// The values a picture's view is made of: all but the row selection
// (firstRow, rowStep), which only quatdepth's own runs take.
constexpr int kViewValues = kPositionalCount - 2;

}  // namespace quatdepth
