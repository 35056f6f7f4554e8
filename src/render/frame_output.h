#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "image/row_merge.h"
#include "render/positional_arguments.h"
#include "render/render_options.h"
#include "settings/render_settings.h"

namespace quatdepth {

// The samples of one frame `s` of `request`: its rows, supersampled as the
// request asks, on the request's threads (every core for 0) with the
// fastest search path. False with a message when memory or a thread cannot
// be had, or when `stop` is set before the last row.
bool renderFrameSamples(const RenderRequest &request, const RenderSettings &s,
                        MergedRows *samples,
                        const std::function<void(int32_t rowsDone)> &onProgress,
                        std::string *error,
                        const std::atomic<bool> *stop = nullptr);

// Writes the frame in the request's format to `out`, carrying the frame's
// parameters (`s` and the decimals `texts` it was read from). False with
// the reason when the write fails.
bool writeFrame(FILE *out, const RenderRequest &request,
                const RenderSettings &s, const RealTexts &texts,
                const MergedRows &samples, std::string *error);

}  // namespace quatdepth
