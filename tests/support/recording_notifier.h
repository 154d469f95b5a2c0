#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "core/platform/notifier.h"

namespace pyranex::test {

struct Notice {
  std::string text;
  std::string caption;
  NoticeIcon icon;
  NoticeButtons buttons;
};

// Records every box instead of showing it and answers with a preset answer.
class RecordingNotifier final : public Notifier {
 public:
  using Notifier::Show;
  NoticeAnswer Show(const std::string& text, const std::string& caption, NoticeIcon icon,
                    NoticeButtons buttons) override {
    std::lock_guard lock(mutex_);
    notices_.push_back({text, caption, icon, buttons});
    changed_.notify_all();
    return answer_;
  }

  std::vector<Notice> Notices() const {
    std::lock_guard lock(mutex_);
    return notices_;
  }
  size_t Count() const {
    std::lock_guard lock(mutex_);
    return notices_.size();
  }
  void SetAnswer(NoticeAnswer answer) {
    std::lock_guard lock(mutex_);
    answer_ = answer;
  }
  bool WaitForCount(size_t n, std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, deadline, [&] { return notices_.size() >= n; });
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Notice> notices_;
  NoticeAnswer answer_ = NoticeAnswer::Ok;
};

}  // namespace pyranex::test
