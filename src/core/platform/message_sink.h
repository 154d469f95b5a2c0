#pragma once

#include <cstdint>

namespace pyranex {

struct PostedMessage {
  uint32_t message = 0;
  uintptr_t wParam = 0;
  intptr_t lParam = 0;
  friend bool operator==(const PostedMessage&, const PostedMessage&) = default;
};

// Stands for posting a window message to the owner window: thread-safe, first in first out,
// never blocks the caller.
class MessageSink {
 public:
  virtual ~MessageSink() = default;
  virtual void Post(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
};

}  // namespace pyranex
