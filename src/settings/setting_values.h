#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string_view>

#include "settings/render_settings.h"

namespace quatdepth {

// The values of RenderSettings that a run is given, rather than derived:
// every list of them (defaults, quatdepth's positional arguments, the
// limits, option groups, sweep and key names, --print-args) reads this
// table. The real values come first.
enum class ValueKind { kReal, kWhole };

struct SettingValue {
  const char *name;       // as --animate and keys name it: "xMin", "c0"
  const char *limitName;  // as the limits' messages name it
  int position;           // in quatdepth's arguments, from 1; 0 for none
  ValueKind kind;
  double realDefault;
  int32_t wholeDefault;
  double &(*real)(RenderSettings &, ViewAngles &);  // kReal
  int32_t &(*whole)(RenderSettings &);              // kWhole
};

#define QUATDEPTH_REAL(name, limitName, position, fallback, field)       \
  SettingValue {                                                         \
    name, limitName, position, ValueKind::kReal, fallback, 0,            \
        [](RenderSettings &s, ViewAngles &a) -> double & {               \
          (void)s;                                                       \
          (void)a;                                                       \
          return field;                                                  \
        },                                                               \
        nullptr                                                          \
  }
#define QUATDEPTH_WHOLE(name, position, fallback, field)                           \
  SettingValue {                                                                   \
    name, name, position, ValueKind::kWhole, 0.0, fallback, nullptr,               \
        [](RenderSettings &s) -> int32_t & { return s.field; }                     \
  }

inline constexpr SettingValue kSettingValues[] = {
    QUATDEPTH_REAL("xMin", "xMin", 1, -1.2, s.xMin),
    QUATDEPTH_REAL("yMin", "yMin", 2, -1.2, s.yMin),
    QUATDEPTH_REAL("zMin", "zMin", 3, -1.2, s.zMin),
    QUATDEPTH_REAL("xMax", "xMax", 4, 1.2, s.xMax),
    QUATDEPTH_REAL("yMax", "yMax", 5, 1.2, s.yMax),
    QUATDEPTH_REAL("zMax", "zMax", 6, 1.2, s.zMax),
    QUATDEPTH_REAL("c0", "juliaC component 1", 7, -0.1, s.juliaC[0]),
    QUATDEPTH_REAL("c1", "juliaC component 2", 8, 0.2, s.juliaC[1]),
    QUATDEPTH_REAL("c2", "juliaC component 3", 9, 0.3, s.juliaC[2]),
    QUATDEPTH_REAL("c3", "juliaC component 4", 10, -0.1, s.juliaC[3]),
    QUATDEPTH_REAL("wSlice", "wSlice", 11, 0.0, s.wSlice),
    QUATDEPTH_REAL("angleA", "angle A", 12, 0.0, a.a),
    QUATDEPTH_REAL("angleB", "angle B", 13, 0.0, a.b),
    QUATDEPTH_REAL("angleC", "angle C", 14, 0.0, a.c),
    QUATDEPTH_WHOLE("width", 15, 300, width),
    QUATDEPTH_WHOLE("height", 16, 300, height),
    QUATDEPTH_WHOLE("coarseSteps", 17, 100, coarseSteps),
    QUATDEPTH_WHOLE("fineSteps", 18, 10, fineSteps),
    QUATDEPTH_WHOLE("maxIterations", 19, 10, maxIterations),
    QUATDEPTH_WHOLE("bailout", 20, 16, bailout),
    QUATDEPTH_WHOLE("firstRow", 21, 0, firstRow),
    QUATDEPTH_WHOLE("rowStep", 22, 1, rowStep),
};

#undef QUATDEPTH_REAL
#undef QUATDEPTH_WHOLE

constexpr int kSettingValueCount = static_cast<int>(std::size(kSettingValues));

constexpr int kRealParameters = [] {
  int reals = 0;
  while (reals < kSettingValueCount && kSettingValues[reals].kind == ValueKind::kReal) ++reals;
  return reals;
}();

// quatdepth takes its arguments in the table's order, and reals only
// before wholes: a real value's index is its place among the real texts.
static_assert([] {
  int last = 0;
  for (int i = 0; i < kSettingValueCount; ++i) {
    if (i >= kRealParameters && kSettingValues[i].kind == ValueKind::kReal) return false;
    if (kSettingValues[i].position == 0) continue;
    if (kSettingValues[i].position <= last) return false;
    last = kSettingValues[i].position;
  }
  return true;
}());

// The positional arguments that make a picture's view: all but the row
// selection (firstRow, rowStep), which only quatdepth's own runs take.
constexpr int kViewPositions = 20;

// The index of a value in the table, by name; -1 for none.
constexpr int settingIndex(std::string_view name) {
  for (int i = 0; i < kSettingValueCount; ++i)
    if (name == kSettingValues[i].name) return i;
  return -1;
}

}  // namespace quatdepth
