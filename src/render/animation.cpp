#include "render/animation.h"

#include <cstdio>

#include "render/render_options.h"
#include "render/shown_text.h"

namespace quatdepth {

bool parseSweep(const std::string &text, Sweep *sweep, std::string *error) {
  const size_t equals = text.find('=');
  const size_t colon = text.find(':', equals == std::string::npos ? 0 : equals);
  const int parameter = equals == std::string::npos
                            ? -1
                            : realParameterIndex(text.substr(0, equals));
  if (colon == std::string::npos || parameter < 0) {
    *error = "--animate '" + shownText(text) +
             "': give NAME=FROM:TO, NAME one of xMin yMin zMin xMax "
             "yMax zMax c0 c1 c2 c3 wSlice angleA angleB angleC";
    return false;
  }
  sweep->parameter = parameter;
  sweep->fromText = plainDecimal(text.substr(equals + 1, colon - equals - 1));
  sweep->toText = plainDecimal(text.substr(colon + 1));
  if (!parseDecimal(sweep->fromText, &sweep->from) ||
      !parseDecimal(sweep->toText, &sweep->to)) {
    *error = "--animate '" + shownText(text) +
             "': FROM and TO must be ordinary decimals within range";
    return false;
  }
  return true;
}

void frameParameters(const std::vector<Sweep> &sweeps, int frame, int frames,
                     RenderSettings *settings, ViewAngles *angles,
                     RealTexts *texts) {
  for (const Sweep &sweep : sweeps) {
    std::string text = sweep.fromText;
    if (frame > 0 && frame == frames - 1) {
      text = sweep.toText;
    } else if (sweep.from == sweep.to) {
      // Weighting equal ends would wobble by an ulp from frame to frame.
    } else if (frame > 0) {
      // Weighted, not from + (to - from) x t, which can overflow.
      const double t = static_cast<double>(frame) / (frames - 1);
      text = decimalText(sweep.from * (1 - t) + sweep.to * t);
    }
    setRealParameter(sweep.parameter, text, settings, angles, texts);
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
    while (end < pattern.size() && end - at < 4 && pattern[end] >= '0' &&
           pattern[end] <= '9')
      ++end;
    if (end >= pattern.size() || pattern[end] != 'd') {
      *error = "-o '" + shownText(pattern) +
               "': only %d, %4d, %04d (and %% for '%') may follow a '%'";
      return false;
    }
    ++numbers;
    at = end;
  }
  if (numbers != 1) {
    *error = "-o '" + shownText(pattern) +
             "': several frames need one frame number in the name, as "
             "frame%04d.png";
    return false;
  }
  return true;
}

bool holdsFramePattern(const std::string &name) {
  std::string unused;
  return checkFramePattern(name, &unused);
}

std::string frameName(const std::string &pattern, int frame) {
  const int length = std::snprintf(nullptr, 0, pattern.c_str(), frame);
  std::string name(static_cast<size_t>(length) + 1, '\0');
  std::snprintf(name.data(), name.size(), pattern.c_str(), frame);
  name.pop_back();
  return name;
}

}  // namespace quatdepth
