#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "core/platform/notifier.h"

namespace pyranex::cli {

// Message boxes become lines on standard error; nobody is there to press OK. A box of several
// lines (a prompt's Chinese and English lines) gives one line each, each naming what the box's
// caption names (the field of a prompt).
class StderrNotifier final : public Notifier {
 public:
  using Notifier::Show;
  NoticeAnswer Show(const std::string& text, const std::string& caption, NoticeIcon,
                    NoticeButtons) override {
    std::string_view name = caption;
    constexpr std::string_view kProgram = " - Quorvane";
    if (name.size() > kProgram.size() && name.ends_with(kProgram)) {
      name.remove_suffix(kProgram.size());
    }
    std::string_view rest = text;
    do {
      const size_t end = rest.find('\n');
      const std::string_view line = rest.substr(0, end);
      std::fprintf(stderr, "pyranex-cli: [%.*s] %.*s\n", static_cast<int>(name.size()), name.data(),
                   static_cast<int>(line.size()), line.data());
      rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    } while (!rest.empty());
    std::fflush(stderr);
    return NoticeAnswer::Ok;
  }
};

}  // namespace pyranex::cli
