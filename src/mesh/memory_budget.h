#pragma once

#include <cstdint>

namespace quatdepth {

// Bytes this process can still take: the system's available memory, or
// less when an address-space limit (ulimit -v) leaves less room.
int64_t availableMemory();

}  // namespace quatdepth
