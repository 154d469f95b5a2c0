#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

#include "core/platform/message_sink.h"

namespace pyranex::test {

// Collects posted messages; tests drain them in order, waiting on a condition, never on time.
class QueueSink final : public MessageSink {
 public:
  void Post(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
    {
      std::lock_guard lock(mutex_);
      queue_.push_back({message, wParam, lParam});
    }
    changed_.notify_all();
  }

  std::optional<PostedMessage> Take() {
    std::lock_guard lock(mutex_);
    if (queue_.empty()) return std::nullopt;
    PostedMessage m = queue_.front();
    queue_.pop_front();
    return m;
  }

  std::vector<PostedMessage> TakeAll() {
    std::lock_guard lock(mutex_);
    std::vector<PostedMessage> all(queue_.begin(), queue_.end());
    queue_.clear();
    return all;
  }

  size_t Size() const {
    std::lock_guard lock(mutex_);
    return queue_.size();
  }

  // Waits until at least n messages are queued; false when the generous deadline passes.
  bool WaitForCount(size_t n, std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, deadline, [&] { return queue_.size() >= n; });
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<PostedMessage> queue_;
};

}  // namespace pyranex::test
