#pragma once

#include <chrono>
#include <thread>

namespace pyranex::test {

// Waits (generously) for a condition another thread makes true; false when it never does.
template <typename F>
bool Eventually(F condition, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace pyranex::test
