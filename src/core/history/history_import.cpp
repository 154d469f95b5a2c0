#include "core/history/history_import.h"

#include <algorithm>
#include <chrono>
#include <set>
#include <utility>

#include "core/history/calendar.h"
#include "core/history/history_database.h"
#include "core/history/history_workbook.h"

namespace pyranex::history {
namespace {

// Workbooks per transaction: few enough that another program waits only a moment for the store.
constexpr size_t kWorkbooksPerCommit = 64;

bool IsXls(const std::filesystem::path& path) {
  std::string ext = path.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext == ".xls";
}

}  // namespace

std::vector<std::filesystem::path> FindWorkbooks(const std::vector<std::filesystem::path>& inputs,
                                                 std::vector<ImportProblem>& problems) {
  std::vector<std::filesystem::path> found;
  for (const auto& input : inputs) {
    std::error_code ec;
    if (std::filesystem::is_directory(input, ec)) {
      std::filesystem::recursive_directory_iterator it(
          input, std::filesystem::directory_options::skip_permission_denied, ec);
      for (; !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_regular_file(ec) && IsXls(it->path())) found.push_back(it->path());
      }
      if (ec) problems.push_back({input.string(), "cannot be read through: " + ec.message()});
    } else if (std::filesystem::is_regular_file(input, ec)) {
      found.push_back(input);
    } else {
      problems.push_back({input.string(), "no such file or folder"});
    }
  }
  std::sort(found.begin(), found.end());
  found.erase(std::unique(found.begin(), found.end()), found.end());
  return found;
}

ImportReport HistoryImporter::Run(const std::vector<std::filesystem::path>& workbooks,
                                  const Progress& progress, const std::atomic<bool>* cancel) {
  ImportReport report;
  report.workbooks = workbooks.size();
  SqlError error;
  std::error_code ec;
  std::filesystem::create_directories(storeFile_.parent_path(), ec);
  auto db = HistoryDatabase::Open(storeFile_, HistoryDatabase::Access::Bulk, error);
  if (!db) {
    report.failure = error.text;
    return report;
  }

  std::set<std::pair<int64_t, int64_t>> touched;  // inverter, day
  size_t inBatch = 0;
  size_t addedInBatch = 0, presentInBatch = 0, importedInBatch = 0;
  std::optional<SqlTransaction> transaction;

  // Makes the touched days' totals again and commits; false (with the failure) on an error.
  auto commit = [&]() -> bool {
    if (!transaction) return true;
    for (const auto& [inverter, day] : touched) {
      DayAccumulator folded = db->FoldDay(inverter, day, error);
      if (error.code != 0) return false;
      DaySummary summary = folded.Summary();
      // Thinned seconds are gone, but the peak they had is kept.
      const auto before = db->DaySummaries(inverter, day, day, error);
      if (!before.empty() && before.front().HasPeak() &&
          (!summary.HasPeak() || before.front().peakW > summary.peakW)) {
        summary.peakW = before.front().peakW;
        summary.peakTime = before.front().peakTime;
        summary.peakOffset = before.front().peakOffset;
      }
      if (!db->PutDaySummary(inverter, summary, error)) return false;
    }
    if (!transaction->Commit(error)) return false;
    transaction.reset();
    touched.clear();
    report.recordsAdded += addedInBatch;
    report.recordsPresent += presentInBatch;
    report.imported += importedInBatch;
    addedInBatch = presentInBatch = importedInBatch = 0;
    inBatch = 0;
    return true;
  };
  auto fail = [&] {
    transaction.reset();
    report.failure =
        "the history store " + storeFile_.string() + " cannot be written (" + error.text + ")";
  };

  HistoryWorkbook workbook;
  for (size_t i = 0; i < workbooks.size(); ++i) {
    if (cancel != nullptr && cancel->load()) {
      report.cancelled = true;
      break;
    }
    const std::filesystem::path& path = workbooks[i];
    std::string why;
    if (!ReadHistoryWorkbook(path, clock_, workbook, why)) {
      report.skipped.push_back({path.filename().string(), why});
    } else {
      if (!transaction) {
        transaction.emplace(db->Connection(), error);
        if (!transaction->Began()) {
          fail();
          return report;
        }
      }
      const auto inverter = db->InverterId(workbook.serial, workbook.ratedPower, "", error);
      if (!inverter) {
        fail();
        return report;
      }
      for (const LiveRecord& record : workbook.records) {
        bool added = false;
        if (!db->InsertRecord(*inverter, record, HistoryDatabase::Keep::Unique, added, error)) {
          fail();
          return report;
        }
        ++(added ? addedInBatch : presentInBatch);
        if (added) touched.insert({*inverter, LocalDayOf(record.time, record.utcOffsetSeconds)});
      }
      ++importedInBatch;
      if (++inBatch >= kWorkbooksPerCommit && !commit()) {
        fail();
        return report;
      }
    }
    if (progress) progress(i + 1, workbooks.size(), path.filename().string());
  }
  if (!commit()) fail();
  return report;
}

}  // namespace pyranex::history
