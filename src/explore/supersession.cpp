#include "explore/supersession.h"

namespace quatdepth {

Supersession::StopFlag Supersession::begin(const std::string &page,
                                           uint64_t sequence) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stopped_) return nullptr;
  if (pages_.size() >= kPagesKept && !pages_.count(page)) {
    for (auto it = pages_.begin(); it != pages_.end();)
      it = it->second.running.empty() ? pages_.erase(it) : std::next(it);
  }
  Page &p = pages_[page];
  if (sequence < p.newest || p.running.count(sequence)) return nullptr;
  p.newest = sequence;
  for (auto &[older, flag] : p.running) flag->store(true);
  StopFlag flag = std::make_shared<std::atomic<bool>>(false);
  p.running[sequence] = flag;
  return flag;
}

void Supersession::end(const std::string &page, uint64_t sequence) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = pages_.find(page);
  if (it != pages_.end()) it->second.running.erase(sequence);
}

void Supersession::stopAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  stopped_ = true;
  for (auto &[page, p] : pages_)
    for (auto &[sequence, flag] : p.running) flag->store(true);
}

bool Supersession::stopped() {
  std::lock_guard<std::mutex> lock(mutex_);
  return stopped_;
}

}  // namespace quatdepth
