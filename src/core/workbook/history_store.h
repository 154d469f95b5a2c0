#pragma once

#include <filesystem>
#include <string>

#include "core/platform/paths.h"
#include "core/samples/history_saver.h"
#include "core/workbook/workbook_export.h"

namespace pyranex {

// Saves each day log as a workbook in the "hisdata" folder beside the executable, replacing
// the previous save of the same day log. Runs on the calling thread.
class HistoryStore final : public HistorySaver {
 public:
  HistoryStore(std::filesystem::path executableDir, WorkbookEnv env);
  HistoryStore(const Paths& paths, WorkbookEnv env) : HistoryStore(paths.executableDir, env) {}

  void SaveHistory(int minute, const HistoryContext& context) override;
  void StartNewDayLog() override;

  // "<serial>,<rated power in W>,<start time %Y-%m-%d %H-%M>"
  static std::string BuildHistoryName(const std::string& serialText, int ratedPower,
                                      int64_t startTime, const Clock& clock);

  const std::string& HistoryName() const { return m_historyName; }
  std::filesystem::path Folder() const { return m_moduleDir / "hisdata"; }
  // The path handed to the writer (without the ".xls" it adds), in UTF-8.
  const std::string& ExportPath() const { return m_exportPath; }

 private:
  std::filesystem::path m_moduleDir;
  WorkbookEnv env_;
  std::string m_historyName;
  std::string m_exportPath;
};

}  // namespace pyranex
