#include "mesh/memory_budget.h"

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

namespace quatdepth {
namespace {

// A line "Name: N kB" of a /proc file, in bytes; -1 when missing.
int64_t procValue(const char *file, const std::string &name) {
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    long long kilobytes = 0;
    if (line.rfind(name + ":", 0) == 0 &&
        std::sscanf(line.c_str() + name.size() + 1, "%lld", &kilobytes) == 1)
      return kilobytes * 1024;
  }
  return -1;
}

}  // namespace

int64_t availableMemory() {
  int64_t available = procValue("/proc/meminfo", "MemAvailable");
  if (available < 0) available = INT64_MAX;
  rlimit limit{};
  if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    const int64_t used = std::max<int64_t>(0, procValue("/proc/self/status", "VmSize"));
    const auto cap = static_cast<int64_t>(std::min<rlim_t>(limit.rlim_cur, INT64_MAX));
    available = std::min(available, std::max<int64_t>(0, cap - used));
  }
  return available;
}

}  // namespace quatdepth
