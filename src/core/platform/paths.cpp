#include "core/platform/paths.h"

#include <system_error>

namespace pyranex {

Paths Paths::ForProcess() {
  Paths paths;
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  paths.executableDir = ec ? std::filesystem::current_path(ec) : exe.parent_path();
  paths.currentDir = std::filesystem::current_path(ec);
  return paths;
}

}  // namespace pyranex
