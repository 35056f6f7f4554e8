#pragma once

namespace quatdepth {

// Which of the vector searches a vector path runs: one pixel at a time in
// groups of levels, or short groups with a pool of the long probes of many
// pixels. Automatic picks by the iteration cap.
enum class SearchDesign { kAutomatic, kGrouped, kPooled };

}  // namespace quatdepth
