#include "core/acquisition/message_queue.h"

namespace pyranex {

void BlockingMessageQueue::Post(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back({message, wParam, lParam});
  }
  arrived_.notify_one();
}

std::optional<PostedMessage> BlockingMessageQueue::WaitTake(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  if (!arrived_.wait_for(lock, timeout, [this] { return !queue_.empty(); })) return std::nullopt;
  PostedMessage message = queue_.front();
  queue_.pop_front();
  return message;
}

size_t BlockingMessageQueue::Size() const {
  std::lock_guard lock(mutex_);
  return queue_.size();
}

}  // namespace pyranex
