#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace quatdepth {

// Renders of one page stop when a newer one of the same page begins, so a
// dragging user never waits behind views already left behind. Requests are
// ordered by the number the page gives them, not by when they arrive.
class Supersession {
 public:
  using StopFlag = std::shared_ptr<std::atomic<bool>>;

  // The stop flag of request `sequence` of `page`, after setting the flags
  // of the page's older requests; null when a newer one began already.
  StopFlag begin(const std::string &page, uint64_t sequence);

  // Request `sequence` of `page` is done.
  void end(const std::string &page, uint64_t sequence);

  // Every request's flag set, and every later one refused: the server stops.
  void stopAll();
  bool stopped();

 private:
  struct Page {
    uint64_t newest = 0;
    std::map<uint64_t, StopFlag> running;
  };
  // Pages whose requests are all done are forgotten past this many.
  static constexpr size_t kPagesKept = 1024;

  std::mutex mutex_;
  std::map<std::string, Page> pages_;
  bool stopped_ = false;
};

}  // namespace quatdepth
