#include "request/frame.h"

#include "settings/positional_settings.h"

namespace quatdepth {

Frame defaultFrame() {
  Frame frame;
  const char *const program[] = {"quatdepth", nullptr};
  initSettings(&frame.settings, program, 1, &frame.angles);
  frame.texts = realTextsOf(frame.settings, frame.angles);
  return frame;
}

}  // namespace quatdepth
