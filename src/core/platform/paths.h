#pragma once

#include <filesystem>

namespace pyranex {

// Where the program finds its files: some beside the executable ("backdata", "hisdata", "ports",
// the help file), others in the current folder ("datacfg.xls", pictures, system text).
struct Paths {
  std::filesystem::path executableDir;
  std::filesystem::path currentDir;

  // The running process's own folders.
  static Paths ForProcess();
};

}  // namespace pyranex
