#include "render/animation.h"

#include <cstdio>

#include "render/render_options.h"

namespace quatdepth {
namespace {

// Where each sweepable name lives.
double *sweptValue(const std::string &name, RenderSettings *s, ViewAngles *angles) {
  const struct {
    const char *name;
    double *value;
  } values[] = {{"xMin", &s->xMin},        {"yMin", &s->yMin},        {"zMin", &s->zMin},
                {"xMax", &s->xMax},        {"yMax", &s->yMax},        {"zMax", &s->zMax},
                {"c0", &s->juliaC[0]},     {"c1", &s->juliaC[1]},     {"c2", &s->juliaC[2]},
                {"c3", &s->juliaC[3]},     {"wSlice", &s->wSlice},    {"angleA", &angles->a},
                {"angleB", &angles->b},    {"angleC", &angles->c}};
  for (const auto &entry : values)
    if (name == entry.name) return entry.value;
  return nullptr;
}

}  // namespace

bool parseSweep(const std::string &text, Sweep *sweep, std::string *error) {
  const size_t equals = text.find('=');
  const size_t colon = text.find(':', equals == std::string::npos ? 0 : equals);
  RenderSettings probe;
  ViewAngles angles;
  if (equals == std::string::npos || colon == std::string::npos ||
      !sweptValue(text.substr(0, equals), &probe, &angles)) {
    *error = "--animate '" + text + "': give NAME=FROM:TO, NAME one of xMin yMin zMin xMax "
             "yMax zMax c0 c1 c2 c3 wSlice angleA angleB angleC";
    return false;
  }
  sweep->name = text.substr(0, equals);
  if (!parseDecimal(text.substr(equals + 1, colon - equals - 1), &sweep->from) ||
      !parseDecimal(text.substr(colon + 1), &sweep->to)) {
    *error = "--animate '" + text + "': FROM and TO must be ordinary decimals";
    return false;
  }
  return true;
}

void frameParameters(const std::vector<Sweep> &sweeps, int frame, int frames,
                     RenderSettings *settings, ViewAngles *angles) {
  for (const Sweep &sweep : sweeps) {
    // The ends exactly as given, whatever rounding the steps between take.
    double value = sweep.from;
    if (frame == frames - 1)
      value = sweep.to;
    else if (frame > 0)
      value = sweep.from + (sweep.to - sweep.from) * frame / (frames - 1);
    *sweptValue(sweep.name, settings, angles) = value;
  }
  deriveViewValues(settings, *angles);
}

bool checkFramePattern(const std::string &pattern, std::string *error) {
  int numbers = 0;
  for (size_t at = 0; at < pattern.size(); ++at) {
    if (pattern[at] != '%') continue;
    if (at + 1 < pattern.size() && pattern[at + 1] == '%') {
      ++at;
      continue;
    }
    size_t end = at + 1;
    if (end < pattern.size() && pattern[end] == '0') ++end;
    while (end < pattern.size() && end - at < 4 && pattern[end] >= '0' && pattern[end] <= '9')
      ++end;
    if (end >= pattern.size() || pattern[end] != 'd') {
      *error = "-o '" + pattern + "': only %d, %4d, %04d (and %% for '%') may follow a '%'";
      return false;
    }
    ++numbers;
    at = end;
  }
  if (numbers != 1) {
    *error = "-o '" + pattern + "': several frames need one frame number in the name, as "
             "frame%04d.png";
    return false;
  }
  return true;
}

std::string frameName(const std::string &pattern, int frame) {
  const int length = std::snprintf(nullptr, 0, pattern.c_str(), frame);
  std::string name(static_cast<size_t>(length) + 1, '\0');
  std::snprintf(name.data(), name.size(), pattern.c_str(), frame);
  name.pop_back();
  return name;
}

}  // namespace quatdepth
