#include "request/sweeps.h"

#include "request/decimals.h"
#include "request/shown_text.h"

namespace quatdepth {
bool parseSweep(const std::string &text, Sweep *sweep, std::string *error) {
  const size_t equals = text.find('=');
  const size_t colon = text.find(':', equals == std::string::npos ? 0 : equals);
  const int parameter =
      equals == std::string::npos ? -1 : realParameterIndex(text.substr(0, equals));
  if (colon == std::string::npos || parameter < 0) {
    *error = "--animate '" + shownText(text) + "': give NAME=FROM:TO, NAME one of " + realParameterNames();
    return false;
  }
  sweep->parameter = parameter;
  sweep->fromText = plainDecimal(text.substr(equals + 1, colon - equals - 1));
  sweep->toText = plainDecimal(text.substr(colon + 1));
  if (!parseDecimal(sweep->fromText, &sweep->from) || !parseDecimal(sweep->toText, &sweep->to)) {
    *error = "--animate '" + shownText(text) +
             "': FROM and TO must be ordinary decimals within range";
    return false;
  }
  return true;
}

void sweepFrame(const std::vector<Sweep> &sweeps, int index, int frames, Frame *frame) {
  for (const Sweep &sweep : sweeps) {
    std::string text = sweep.fromText;
    if (index > 0 && index == frames - 1) {
      text = sweep.toText;
    } else if (sweep.from == sweep.to) {
      // Weighting equal ends would wobble by an ulp from frame to frame.
    } else if (index > 0) {
      // Weighted, not from + (to - from) x t, which can overflow.
      const double t = static_cast<double>(index) / (frames - 1);
      text = decimalText(sweep.from * (1 - t) + sweep.to * t);
    }
    setRealParameter(sweep.parameter, text, &frame->settings, &frame->angles, &frame->texts);
  }
  deriveViewValues(&frame->settings, frame->angles);
}

}  // namespace quatdepth
