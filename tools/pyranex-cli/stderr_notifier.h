#pragma once

#include <cstdio>
#include <string>

#include "core/platform/notifier.h"

namespace pyranex::cli {

// Message boxes become lines on standard error; nobody is there to press OK.
class StderrNotifier final : public Notifier {
 public:
  using Notifier::Show;
  NoticeAnswer Show(const std::string& text, const std::string& caption, NoticeIcon,
                    NoticeButtons) override {
    std::fprintf(stderr, "pyranex-cli: [%s] %s\n", caption.c_str(), text.c_str());
    std::fflush(stderr);
    return NoticeAnswer::Ok;
  }
};

}  // namespace pyranex::cli
