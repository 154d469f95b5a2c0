#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/acquisition/live_record.h"

namespace pyranex::cli {

bool IsHistoryCommand(const std::string& command);
// Runs `history ...` (the arguments after the program name); returns the exit status.
int RunHistory(const std::vector<std::string>& args);
std::string HistoryUsage();

// The history store beside the executable, fed by `poll`; problems go to standard error.
std::unique_ptr<RecordSink> MakeHistorySink();

}  // namespace pyranex::cli
