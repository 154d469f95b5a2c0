#pragma once

#include <string>

namespace pyranex {

enum class NoticeIcon { None, Information, Warning, Error, Question };
enum class NoticeButtons { Ok, OkCancel, YesNo };
enum class NoticeAnswer { Ok, Cancel, Yes, No };

// A blocking message box, callable from any thread; the caller waits for the answer.
class Notifier {
 public:
  virtual ~Notifier() = default;
  virtual NoticeAnswer Show(const std::string& text, const std::string& caption, NoticeIcon icon,
                            NoticeButtons buttons) = 0;

  NoticeAnswer Show(const std::string& text) {
    return Show(text, "Quorvane", NoticeIcon::Warning, NoticeButtons::Ok);
  }
};

}  // namespace pyranex
