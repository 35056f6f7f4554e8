#include "explore/view_query.h"

#include <algorithm>
#include <iterator>

#include "image/colormap.h"
#include "image/depth_picture.h"
#include "render/shown_text.h"

namespace quatdepth {
namespace {

bool isViewKey(const std::string &key) {
  return std::find(std::begin(kViewKeys), std::end(kViewKeys), key) !=
         std::end(kViewKeys);
}

std::string viewKeyList() {
  std::string list;
  for (const char *key : kViewKeys) list += (list.empty() ? "" : ", ") + std::string(key);
  return list;
}

std::string joined(const RealTexts &texts, int first, int count) {
  std::string text;
  for (int i = first; i < first + count; ++i)
    text += (i == first ? "" : ",") + texts[static_cast<size_t>(i)];
  return text;
}

}  // namespace

std::optional<QueryRefusal> viewOptions(
    const std::multimap<std::string, std::string> &query, ViewOutput output,
    int threads, std::vector<std::string> *options) {
  for (const auto &[key, value] : query) {
    if (key == kPageKey || key == kSequenceKey) continue;
    // Quoted as typed, control bytes escaped; appended, as gcc 12 warns
    // falsely (-Wrestrict) on a literal + std::string.
    std::string quoted = "'";
    quoted.append(shownText(key)).append("'");
    if (!isViewKey(key))
      return QueryRefusal{400, "unknown parameter " + quoted + ": a view takes " + viewKeyList()};
    if (query.count(key) > 1) return QueryRefusal{400, quoted + " is given more than once"};
    // One word, so a value that starts with a dash stays a value; an
    // empty one as its own word, or the option would take the next.
    if (value.empty()) {
      options->push_back("--" + key);
      options->push_back("");
    } else {
      options->push_back("--" + key + "=" + value);
    }
  }
  options->push_back("--threads=" + std::to_string(threads));
  switch (output) {
    case ViewOutput::kPng: options->push_back("--format=png"); break;
    case ViewOutput::kRows: options->push_back("--format=rows"); break;
    case ViewOutput::kExr: options->push_back("--format=exr"); break;
    case ViewOutput::kArguments: options->push_back("--print-args"); break;
  }
  if (output != ViewOutput::kArguments) options->push_back("--output=-");
  return std::nullopt;
}

std::optional<QueryRefusal> viewRequest(
    const std::multimap<std::string, std::string> &query, ViewOutput output,
    int threads, int64_t maxSamples, RenderRequest *request) {
  std::vector<std::string> options;
  if (std::optional<QueryRefusal> refusal =
          viewOptions(query, output, threads, &options))
    return refusal;
  std::string error;
  if (parseRenderArguments(options, request, &error) >= 0)
    return QueryRefusal{400, error};
  // --print-args renders nothing, and its limits were checked.
  if (output == ViewOutput::kArguments) return std::nullopt;
  const int64_t side = request->supersample;
  const int64_t samples =
      int64_t{request->settings.width} * request->settings.height * side * side;
  if (samples > maxSamples)
    return QueryRefusal{
        413, "--size " + std::to_string(request->settings.width) + "x" +
                 std::to_string(request->settings.height) +
                 (side > 1 ? " --supersample " + std::to_string(side) : "") +
                 ": " + std::to_string(samples) +
                 " samples, more than this server renders at once (" +
                 std::to_string(maxSamples) + ")"};
  return std::nullopt;
}

std::vector<std::pair<std::string, std::string>> viewOf(
    const RenderRequest &request) {
  const RenderSettings &s = request.settings;
  const RealTexts &t = request.realTexts;
  return {{"box", joined(t, 0, 6)},
          {"c", joined(t, 6, 4)},
          {"w", t[10]},
          {"angles", joined(t, 11, 3)},
          {"size", std::to_string(s.width) + "x" + std::to_string(s.height)},
          {"coarse", std::to_string(s.coarseSteps)},
          {"fine", std::to_string(s.fineSteps)},
          {"iterations", std::to_string(s.maxIterations)},
          {"bailout", std::to_string(s.bailout)},
          {"search", depthSearchName(request.search)},
          {"look", lookName(request.look)},
          {"colormap", colormapName(request.colormap)},
          {"supersample", std::to_string(request.supersample)},
          {"occlusion", request.occlusion ? "true" : "false"}};
}

}  // namespace quatdepth
