#include "render/progress_bar.h"

#include <unistd.h>

#include <cstdio>
#include <utility>

namespace quatdepth {

ProgressBar::ProgressBar(int64_t total, std::string title, std::string unit)
    : total_(total), title_(std::move(title)), unit_(std::move(unit)),
      terminal_(isatty(STDERR_FILENO) != 0), start_(std::chrono::steady_clock::now()) {}

void ProgressBar::show(int64_t done) {
  if (!terminal_ || total_ == 0) return;
  constexpr int kWidth = 30;
  const int filled = static_cast<int>(done * kWidth / total_);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
  char left[32] = "";
  if (rate > 0 && done < total_) {
    const long remaining = static_cast<long>(static_cast<double>(total_ - done) / rate + 0.5);
    std::snprintf(left, sizeof left, ", %ld:%02ld left", remaining / 60, remaining % 60);
  }
  std::fprintf(stderr, "\r%s [%.*s%.*s] %lld/%lld %s, %.0f %s/s%s   ", title_.c_str(), filled,
               "##############################", kWidth - filled,
               "..............................", static_cast<long long>(done),
               static_cast<long long>(total_), unit_.c_str(), rate, unit_.c_str(), left);
  if (done == total_) std::fputc('\n', stderr);
  std::fflush(stderr);
}

}  // namespace quatdepth
