#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "request/render_request.h"

namespace quatdepth {

// What a view's URL asks for.
enum class ViewOutput { kPng, kRows, kExr, kArguments };

// The query keys that make a view are the parameters' keys: quatdepth-
// render's long option names without their dashes. A switch takes what
// its option takes as --occlusion=VALUE (true or false).

// Keys a page adds so that its newer requests stop its older ones.
constexpr const char *kPageKey = "page";
constexpr const char *kSequenceKey = "seq";

// Why a query is not rendered: an HTTP status and a plain-text message.
struct QueryRefusal {
  int status = 400;
  std::string message;
};

// The quatdepth-render options a query stands for ("--box=...", ...), for
// `output` written to standard output on `threads` threads. A key that is
// not a view's (the page's own excepted), or a key given twice, is refused.
std::optional<QueryRefusal> viewOptions(
    const std::multimap<std::string, std::string> &query, ViewOutput output,
    int threads, std::vector<std::string> *options);

// The request a query stands for, refused as quatdepth-render refuses the
// same options (400, its message), or with 413 when it asks for more than
// `maxSamples` samples (pixels times supersamples).
std::optional<QueryRefusal> viewRequest(
    const std::multimap<std::string, std::string> &query, ViewOutput output,
    int threads, int64_t maxSamples, RenderRequest *request);

// A frame's view as query keys and values, in the parameters' order:
// what a page starts from.
std::vector<std::pair<std::string, std::string>> viewOf(const Frame &frame);

}  // namespace quatdepth
