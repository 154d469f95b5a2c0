#pragma once

#include "core/platform/notifier.h"

namespace pyranex::ui {

// Shows message boxes on the interface thread; a caller on another thread waits for the answer.
class QtNotifier final : public Notifier {
 public:
  using Notifier::Show;
  NoticeAnswer Show(const std::string& text, const std::string& caption, NoticeIcon icon,
                    NoticeButtons buttons) override;
};

}  // namespace pyranex::ui
