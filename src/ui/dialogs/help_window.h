#pragma once

#include <filesystem>

#include "core/platform/paths.h"

class QWidget;

namespace pyranex::ui {

// The user manual's file name, beside the executable.
inline constexpr const char* kHelpFileName = "QuorvaneHlp.html";

std::filesystem::path HelpFilePath(const Paths& paths);

// Opens the program's own help window (not modal) on the manual beside the executable, or brings
// the one already open to the front. Returns false, showing nothing and saying nothing, when the
// manual is missing.
bool ShowHelp(const Paths& paths, QWidget* parent);

}  // namespace pyranex::ui
