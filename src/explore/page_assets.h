#pragma once

#include <cstddef>
#include <string_view>

namespace quatdepth {

// A file of the explorer's page, built into the program so that it needs
// no network and nothing installed beside it.
struct PageAsset {
  const char *path;  // "/explore.js"
  const char *contentType;
  std::string_view bytes;
};

extern const PageAsset kPageAssets[];
extern const size_t kPageAssetCount;

}  // namespace quatdepth
