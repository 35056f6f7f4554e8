#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace quatdepth {

// On a terminal: a bar, the units done, the rate and the time left,
// redrawn in place on standard error; nothing otherwise, so logs stay
// clean.
class ProgressBar {
 public:
  // `title` starts the line ("quatdepth-render", with the frame when there
  // are several); `unit` is what is counted ("rows").
  ProgressBar(int64_t total, std::string title, std::string unit);
  void show(int64_t done);

 private:
  const int64_t total_;
  const std::string title_;
  const std::string unit_;
  const bool terminal_;
  const std::chrono::steady_clock::time_point start_;
};

}  // namespace quatdepth
