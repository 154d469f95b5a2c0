#include "core/platform/paths.h"

#include <system_error>

#ifdef _WIN32
#include <windows.h>

#include <vector>
#endif

namespace pyranex {

namespace {

std::filesystem::path ExecutablePath(std::error_code& ec) {
#ifdef _WIN32
  // Long paths need more than MAX_PATH: grow the buffer until the name fits.
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) {
      ec.assign(static_cast<int>(::GetLastError()), std::system_category());
      return {};
    }
    if (n < buffer.size()) return std::filesystem::path(std::wstring(buffer.data(), n));
    buffer.resize(buffer.size() * 2);
  }
#else
  return std::filesystem::read_symlink("/proc/self/exe", ec);
#endif
}

}  // namespace

Paths Paths::ForProcess() {
  Paths paths;
  std::error_code ec;
  const auto exe = ExecutablePath(ec);
  paths.executableDir = ec ? std::filesystem::current_path(ec) : exe.parent_path();
  paths.currentDir = std::filesystem::current_path(ec);
  return paths;
}

}  // namespace pyranex
