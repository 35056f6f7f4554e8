#include "explore/view_query.h"

#include <algorithm>
#include <iterator>

#include "request/parameters.h"
#include "request/shown_text.h"

namespace quatdepth {
namespace {

bool isViewKey(const std::string &key) { return parameterOf(key) != nullptr; }

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
      return QueryRefusal{400, "unknown parameter " + quoted + ": a view takes " + parameterKeys()};
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
  const RenderSettings &s = request->parameters.settings;
  const int64_t side = request->parameters.supersample;
  const int64_t samples = int64_t{s.width} * s.height * side * side;
  if (samples > maxSamples)
    return QueryRefusal{
        413, "--size " + std::to_string(s.width) + "x" + std::to_string(s.height) +
                 (side > 1 ? " --supersample " + std::to_string(side) : "") +
                 ": " + std::to_string(samples) +
                 " samples, more than this server renders at once (" +
                 std::to_string(maxSamples) + ")"};
  return std::nullopt;
}

std::vector<std::pair<std::string, std::string>> viewOf(const Frame &frame) {
  std::vector<std::pair<std::string, std::string>> view;
  for (const Parameter &parameter : kParameters)
    view.emplace_back(parameter.key, parameterValue(parameter, frame));
  return view;
}

}  // namespace quatdepth
