#include "core/workbook/history_store.h"

#include <system_error>

#include "core/workbook/utf8_path.h"

namespace pyranex {

HistoryStore::HistoryStore(std::filesystem::path executableDir, WorkbookEnv env)
    : m_moduleDir(std::move(executableDir)), env_(std::move(env)) {
  env_.sink = nullptr;  // the history save posts no progress
}

std::string HistoryStore::BuildHistoryName(const std::string& serialText, int ratedPower,
                                           int64_t startTime, const Clock& clock) {
  return serialText + "," + std::to_string(ratedPower * 100) + "," +
         FormatLocal(clock, startTime, "%Y-%m-%d %H-%M");
}

void HistoryStore::SaveHistory(int /*minute*/, const HistoryContext& context) {
  ExportParams params;
  params.serialText = context.serialText;
  params.ratedPower = context.ratedPower;
  params.startTime = context.startTime;
  params.stepMin = 1;
  params.fromMin = 0;
  params.toMin = 1440;
  if (m_historyName.empty()) {
    m_historyName =
        BuildHistoryName(context.serialText, context.ratedPower, context.startTime, env_.clock);
  }
  // A missing folder is created; if that fails the save reports why.
  std::error_code ec;
  std::filesystem::create_directories(Folder(), ec);
  m_exportPath = Utf8FromPath(Folder() / PathFromUtf8(m_historyName));
  params.path = m_exportPath;
  WriteWorkbook(context.log, params, WorkbookMode::History, env_);
}

void HistoryStore::StartNewDayLog() {
  m_historyName.clear();
  m_exportPath.clear();
}

}  // namespace pyranex
