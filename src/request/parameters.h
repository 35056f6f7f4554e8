#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "request/frame.h"

namespace quatdepth {

// How a parameter's text reads.
enum class ParameterKind {
  kReals,   // real values, decimals separated by commas
  kSize,    // width and height as WIDTHxHEIGHT
  kWhole,   // one whole value of quatdepth's
  kChoice,  // one of a list of names
  kCount,   // a whole number of the frame's own
  kSwitch,  // true or false
};

// One parameter of a frame: its option is "--" + key, and the key is its
// name in parameter files, keyframe files, pictures and the explorer's
// queries.
struct Parameter {
  const char *key;
  ParameterKind kind;
  const char *help;  // "{}" stands for the default
  // kReals, kSize, kWhole: the quatdepth values it sets, from the first.
  int firstValue = 0;
  int valueCount = 0;
  // kChoice: the names, and the frame's choice as an index into them.
  std::span<const char *const> choices = {};
  int (*choice)(const Frame &) = nullptr;
  void (*choose)(Frame &, int) = nullptr;
  // kCount and kSwitch: the frame's field.
  int Frame::*count = nullptr;
  int countMost = 0;                 // from 1
  const char *countRange = nullptr;  // what a refusal offers
  bool Frame::*flag = nullptr;
  // The set and how it is turned: what a mesh of the view takes too.
  bool view = false;
};

inline constexpr Parameter kParameters[] = {
    {.key = "box",
     .kind = ParameterKind::kReals,
     .help = "X0,Y0,Z0,X1,Y1,Z1: the view box (default {})",
     .firstValue = settingIndex("xMin"),
     .valueCount = 6,
     .view = true},
    {.key = "c",
     .kind = ParameterKind::kReals,
     .help = "A,B,C,D: the Julia constant (default {})",
     .firstValue = settingIndex("c0"),
     .valueCount = 4,
     .view = true},
    {.key = "w",
     .kind = ParameterKind::kReals,
     .help = "the fourth coordinate of every point (default {})",
     .firstValue = settingIndex("wSlice"),
     .valueCount = 1,
     .view = true},
    {.key = "angles",
     .kind = ParameterKind::kReals,
     .help = "A,B,C: view angles in radians about x, y, z (default {})",
     .firstValue = settingIndex("angleA"),
     .valueCount = 3,
     .view = true},
    {.key = "size",
     .kind = ParameterKind::kSize,
     .help = "WIDTHxHEIGHT in pixels (default {})",
     .firstValue = settingIndex("width"),
     .valueCount = 2},
    {.key = "coarse",
     .kind = ParameterKind::kWhole,
     .help = "coarse depth steps (default {})",
     .firstValue = settingIndex("coarseSteps"),
     .valueCount = 1},
    {.key = "fine",
     .kind = ParameterKind::kWhole,
     .help = "depth levels per coarse step (default {})",
     .firstValue = settingIndex("fineSteps"),
     .valueCount = 1},
    {.key = "iterations",
     .kind = ParameterKind::kWhole,
     .help = "iteration cap of the membership test (default {})",
     .firstValue = settingIndex("maxIterations"),
     .valueCount = 1,
     .view = true},
    {.key = "bailout",
     .kind = ParameterKind::kWhole,
     .help = "escape threshold (default {})",
     .firstValue = settingIndex("bailout"),
     .valueCount = 1,
     .view = true},
    {.key = "search",
     .kind = ParameterKind::kChoice,
     .help = "steps: quatdepth's records, which miss parts thinner than the coarse steps; "
             "nearest: the nearest inside level of all the levels, proven, nothing between "
             "coarse steps missed (default {})",
     .choices = kDepthSearchNames,
     .choice = [](const Frame &f) { return static_cast<int>(f.search); },
     .choose = [](Frame &f, int i) { f.search = static_cast<DepthSearch>(i); }},
    {.key = "look",
     .kind = ParameterKind::kChoice,
     .help = "lit (light on the set's own surface normals), relief (normals from "
             "neighbouring depths) or depth (near bright), for png and pgm (default {})",
     .choices = kLookNames,
     .choice = [](const Frame &f) { return static_cast<int>(f.look); },
     .choose = [](Frame &f, int i) { f.look = static_cast<Look>(i); }},
    {.key = "colormap",
     .kind = ParameterKind::kChoice,
     .help = "grey, viridis, magma or turbo: the colours of png pictures (default {})",
     .choices = kColormapNames,
     .choice = [](const Frame &f) { return static_cast<int>(f.colormap); },
     .choose = [](Frame &f, int i) { f.colormap = static_cast<Colormap>(i); }},
    {.key = "supersample",
     .kind = ParameterKind::kCount,
     .help = "N: N x N samples a pixel, averaged, for png and pgm pictures (default {}; "
             "depth formats always take one, exact)",
     .count = &Frame::supersample,
     .countMost = 16,
     .countRange = "1 to 16 samples a side"},
    {.key = "occlusion",
     .kind = ParameterKind::kSwitch,
     .help = "darken creases and hollows (ambient occlusion from the depth map), for png "
             "and pgm",
     .flag = &Frame::occlusion},
};

constexpr int kParameterCount = static_cast<int>(std::size(kParameters));

// The kind's name, as the explorer's page takes it.
const char *parameterKindName(ParameterKind kind);

// Every parameter's key, in order, separated by commas: "box, c, ...".
std::string parameterKeys();

// The parameter of a key, or null.
const Parameter *parameterOf(std::string_view key);

// Sets `parameter` of `frame` from its text as an option takes it, or
// false with a message naming the option. Derived view values are left as
// they were: deriveViewValues once every text is read.
bool readParameter(const Parameter &parameter, const std::string &text, Frame *frame,
                   std::string *error);

// The parameter's value in `frame` as its text: what a picture carries
// and a query holds.
std::string parameterValue(const Parameter &parameter, const Frame &frame);

// The parameter's help, its default filled in.
std::string parameterHelp(const Parameter &parameter);

// The options of the parameters that a limit's name covers ("wSlice" is
// --w, "coarseSteps x fineSteps" is --coarse, --fine); the name itself
// for a value no option sets.
std::string optionForParameter(const std::string &limitName);

// A whole number; beyond an int, refused with `range` when given, as a
// number within an int but out of range would be, and anything else with
// that range too.
bool parseWhole(const std::string &option, const std::string &text, int32_t *value,
                std::string *error, const char *range = nullptr);
// The same for counts beyond an int, within an int64_t; `range` is what
// a refusal offers.
bool parseWhole(const std::string &option, const std::string &text, int64_t *value,
                std::string *error, const char *range);

}  // namespace quatdepth
