#pragma once

#include <optional>
#include <string>

#include "core/platform/notifier.h"

class QWidget;

namespace pyranex::ui {

// The Save As dialog of an export. The overwrite question is asked of the name the workbook
// will really be saved under (the writer's ".xls" rule applied), not of the name as typed: "day"
// asks about an existing "day.xls", and "day.Xls" about "day.Xls.xls". No goes back to the
// dialog. Returns that full name, or nothing when the user cancels.
std::optional<std::string> AskExportPath(QWidget* parent, Notifier& notifier);

}  // namespace pyranex::ui
