#include "core/history/history_import.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#include "core/history/calendar.h"
#include "core/history/history_database.h"
#include "core/history/history_workbook.h"

namespace pyranex::history {
namespace {

// A transaction holds the store for other programs (the recorder waits up to five seconds):
// it ends after this many workbooks or this long, whichever comes first.
constexpr size_t kWorkbooksPerCommit = 64;
constexpr auto kLongestTransaction = std::chrono::milliseconds(500);

bool IsXls(const std::filesystem::path& path) {
  std::string ext = path.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext == ".xls";
}

// Reads the workbooks in order on a thread of its own, a few ahead of the one being stored, so
// reading (most of the work) and writing share the machine's cores.
class ReadAhead {
 public:
  struct Item {
    HistoryWorkbook workbook;
    bool ok = false;
    std::string why;
  };

  ReadAhead(const std::vector<std::filesystem::path>& files, const Clock& clock)
      : files_(files), clock_(clock), thread_([this] { Run(); }) {}
  ~ReadAhead() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // The next workbook, in the order of the files.
  Item Next() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !ready_.empty(); });
    Item item = std::move(ready_.front());
    ready_.pop_front();
    changed_.notify_all();
    return item;
  }

 private:
  static constexpr size_t kAhead = 4;

  void Run() {
    for (const auto& file : files_) {
      Item item;
      item.ok = ReadHistoryWorkbook(file, clock_, item.workbook, item.why);
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return stop_ || ready_.size() < kAhead; });
      if (stop_) return;
      ready_.push_back(std::move(item));
      changed_.notify_all();
    }
  }

  const std::vector<std::filesystem::path>& files_;
  const Clock& clock_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Item> ready_;
  bool stop_ = false;
  std::thread thread_;  // last: starts once everything above is ready
};

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
  std::chrono::steady_clock::time_point began;

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

  ReadAhead reader(workbooks, clock_);
  for (size_t i = 0; i < workbooks.size(); ++i) {
    if (cancel != nullptr && cancel->load()) {
      report.cancelled = true;
      break;
    }
    const std::filesystem::path& path = workbooks[i];
    ReadAhead::Item item = reader.Next();
    const HistoryWorkbook& workbook = item.workbook;
    if (!item.ok) {
      report.skipped.push_back({path.filename().string(), item.why});
    } else {
      if (!transaction) {
        transaction.emplace(db->Connection(), error);
        began = std::chrono::steady_clock::now();
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
      if ((++inBatch >= kWorkbooksPerCommit ||
           std::chrono::steady_clock::now() - began > kLongestTransaction) &&
          !commit()) {
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
