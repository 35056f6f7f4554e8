#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "julia/search_path.h"
#include "output/depth_image.h"
#include "settings/render_settings.h"

namespace quatdepth {

// Renders every row of `settings` into `rows` (sized here) on `threads`
// threads, each taking the next row not yet taken, all with `search` on
// `path`. `onProgress` is called on the calling thread every `interval`
// while they work. Returns false with a message when memory or a thread
// cannot be had, or when `stop` (if given) is set before every row is
// done: the threads finish the rows they hold and take no more. The
// depths are the search's, whatever the thread count: for the steps
// search those quatdepth writes.
bool renderAllRows(const RenderSettings &settings, DepthSearch search, SearchPath path,
                   int threads, DepthImage *rows,
                   const std::function<void(int32_t rowsDone)> &onProgress,
                   std::string *error,
                   const std::atomic<bool> *stop = nullptr);

// The same with the steps search, quatdepth's.
bool renderAllRows(const RenderSettings &settings, SearchPath path, int threads,
                   DepthImage *rows,
                   const std::function<void(int32_t rowsDone)> &onProgress,
                   std::string *error,
                   const std::atomic<bool> *stop = nullptr);

// `settings` with `n` x `n` samples a pixel: n times the pixels a side,
// each pixel's samples centred on where its one sample would be, turned
// about the same pivot.
RenderSettings supersampledSettings(const RenderSettings &settings, int n);

// The threads to use when none are asked for: every core.
int defaultThreadCount();

}  // namespace quatdepth
