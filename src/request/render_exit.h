#pragma once

namespace quatdepth {

// quatdepth-render's exit statuses, shared with quatdepth-image where they
// mean the same.
enum RenderExit : int {
  kRenderSuccess = 0,
  kRenderFailed = 1,      // no memory, a thread that cannot start
  kRenderUsage = 2,       // an option that is malformed or out of the limits
  kRenderCannotRead = 3,  // a --params or --keyframes file
  kRenderCannotWrite = 4,
};

}  // namespace quatdepth
