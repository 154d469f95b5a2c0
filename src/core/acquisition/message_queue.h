#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

#include "core/platform/message_sink.h"

namespace pyranex {

// A message sink for programs without a window: posters never block, and one consumer thread
// waits for the next message as a window's message loop would.
class BlockingMessageQueue final : public MessageSink {
 public:
  void Post(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
  // The oldest message, or nothing when none arrives within `timeout`.
  std::optional<PostedMessage> WaitTake(std::chrono::milliseconds timeout);
  size_t Size() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<PostedMessage> queue_;
};

}  // namespace pyranex
