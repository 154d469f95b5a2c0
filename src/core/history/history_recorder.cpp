#include "core/history/history_recorder.h"

#include <algorithm>
#include <unordered_map>

#include "core/history/calendar.h"
#include "core/history/history_database.h"

namespace pyranex::history {
namespace {

// Thinning runs this often, a couple of days at a time, so it never holds the store for long.
constexpr std::chrono::milliseconds kThinInterval{3'600'000};
constexpr int kThinDaysPerRun = 2;
// Day totals kept in memory: today and the days a clock change may reach back to.
constexpr int64_t kDaysKept = 2;
constexpr const char* kWaitText =
    ". The live view and the workbooks go on; new records wait in memory and are stored when it "
    "works again.";

YieldSample SampleOf(const LiveRecord& r) {
  return {r.time,
          r.utcOffsetSeconds,
          r.Get(LiveField::Pac),
          r.Get(LiveField::EToday),
          r.Get(LiveField::TToday),
          r.ratedPower};
}

}  // namespace

HistoryRecorder::HistoryRecorder(Options options)
    : options_(std::move(options)),
      clock_(options_.clock != nullptr ? *options_.clock : SystemClock::Instance()),
      lastCommit_(clock_.TickCount()),
      lastAttempt_(lastCommit_),
      lastThin_(lastCommit_ - static_cast<uint32_t>(kThinInterval.count())),
      worker_("history", options_.queueCapacity, options_.wakeInterval,
              [this](std::vector<Item>& batch) { Handle(batch); }) {}

HistoryRecorder::~HistoryRecorder() {
  if (!Sync() && options_.onProblem) {
    const RecorderStatus status = Status();
    if (status.backlog > 0) {
      options_.onProblem("History store: " + std::to_string(status.backlog) +
                         " records could not be stored before the end and are lost.");
    }
  }
  worker_.Stop();
}

void HistoryRecorder::Accept(const LiveRecord& record) {
  worker_.Push(Item{record, false});
}

bool HistoryRecorder::Sync() {
  worker_.Push(Item{{}, true});
  worker_.Flush();
  std::lock_guard lock(statusLock_);
  return status_.writing && status_.backlog == 0;
}

RecorderStatus HistoryRecorder::Status() const {
  std::lock_guard lock(statusLock_);
  RecorderStatus status = status_;
  status.dropped = worker_.Dropped() + status.dropped;
  return status;
}

void HistoryRecorder::Handle(std::vector<Item>& batch) {
  bool forced = false;
  for (Item& item : batch) {
    if (item.sync) {
      forced = true;
    } else {
      pending_.push_back(std::move(item.record));
    }
  }
  if (pending_.size() > options_.backlogCapacity) {
    const size_t excess = pending_.size() - options_.backlogCapacity;
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<ptrdiff_t>(excess));
    backlogDropped_ += excess;
  }

  // The first loss is reported; the count goes on in the status.
  const uint64_t queueDropped = worker_.Dropped();
  if (queueDropped > 0 && droppedReported_ == 0 && options_.onProblem) {
    options_.onProblem("History store: " + std::to_string(queueDropped) +
                       " records were dropped because writing fell behind.");
    droppedReported_ = queueDropped;
  }

  const bool due = failing_ ? forced || Elapsed(lastAttempt_, options_.retryInterval)
                            : forced || Elapsed(lastCommit_, options_.commitInterval);
  // The store is opened (and made) only when there is something to write.
  if (due && !pending_.empty()) {
    lastAttempt_ = Now();
    if (WritePending()) lastCommit_ = Now();
  }
  if (!failing_ && db_ && Elapsed(lastThin_, kThinInterval)) {
    lastThin_ = Now();
    Thin();
  }
  std::lock_guard lock(statusLock_);
  status_.backlog = pending_.size();
  status_.dropped = backlogDropped_;
}

bool HistoryRecorder::WritePending() {
  SqlError error;
  if (!db_) {
    std::error_code ec;
    std::filesystem::create_directories(options_.file.parent_path(), ec);
    db_ = HistoryDatabase::Open(options_.file, HistoryDatabase::Access::Record, error);
    if (!db_) {
      Fail("History store: " + error.text + kWaitText);
      return false;
    }
  }
  if (pending_.empty()) return true;

  const bool written = [&] {
    SqlTransaction transaction(db_->Connection(), error);
    if (!transaction.Began()) return false;
    // Another program (an import, a second logger) changed the store: the day totals in
    // memory are read again from what is stored.
    const int64_t version = db_->DataVersion();
    if (version != seenDataVersion_) days_.clear();

    std::unordered_map<std::string, int64_t> ids;
    std::vector<DayKey> touched;
    for (const LiveRecord& record : pending_) {
      auto id = ids.find(record.serialNumber);
      if (id == ids.end()) {
        const auto found =
            db_->InverterId(record.serialNumber, record.ratedPower, record.firmwareVersion, error);
        if (!found) return false;
        id = ids.emplace(record.serialNumber, *found).first;
      }
      const DayKey key{id->second, LocalDayOf(record.time, record.utcOffsetSeconds)};
      auto day = days_.find(key);
      if (day == days_.end()) {
        // Folded before this record goes in, so it is counted once.
        DayAccumulator stored = db_->FoldDay(key.first, key.second, error);
        if (error.code != 0) return false;
        day = days_.emplace(key, std::move(stored)).first;
      }
      bool added = false;
      if (!db_->InsertRecord(key.first, record, HistoryDatabase::Keep::All, added, error))
        return false;
      day->second.Add(SampleOf(record));
      if (std::find(touched.begin(), touched.end(), key) == touched.end()) touched.push_back(key);
    }
    for (const DayKey& key : touched) {
      if (!db_->PutDaySummary(key.first, days_.at(key).Summary(), error)) return false;
    }
    if (!transaction.Commit(error)) return false;
    seenDataVersion_ = version;
    return true;
  }();

  if (!written) {
    days_.clear();  // they counted records that were rolled back
    Fail("History store: cannot write to " + options_.file.string() + " (" + error.text + ")" +
         kWaitText);
    db_.reset();
    return false;
  }
  const size_t count = pending_.size();
  if (!days_.empty()) {
    const int64_t newest = std::max_element(days_.begin(), days_.end(), [](auto& a, auto& b) {
                             return a.first.second < b.first.second;
                           })->first.second;
    std::erase_if(days_, [newest](auto& entry) { return entry.first.second < newest - kDaysKept; });
  }
  pending_.clear();
  const bool recovered = failing_;
  failing_ = false;
  {
    std::lock_guard lock(statusLock_);
    status_.writing = true;
    status_.problem.clear();
    status_.stored += count;
  }
  if (recovered && options_.onRecovered) {
    options_.onRecovered("History store: writing to " + options_.file.string() +
                         " works again; the records kept in memory are stored.");
  }
  if (options_.onCommitted) options_.onCommitted();
  return true;
}

void HistoryRecorder::Thin() {
  SqlError error;
  for (const InverterInfo& inverter : db_->Inverters(error)) {
    if (inverter.lastTime == 0) continue;
    const int64_t before = inverter.lastTime - int64_t{options_.fullResolutionDays} * 86400;
    if (db_->ThinRecords(inverter.id, before, kThinDaysPerRun, error) < 0) break;
  }
  // A failed thinning loses nothing; it is tried again an hour later.
}

void HistoryRecorder::Fail(const std::string& problem) {
  const bool first = !failing_;
  failing_ = true;
  {
    std::lock_guard lock(statusLock_);
    status_.writing = false;
    status_.problem = problem;
  }
  if (first && options_.onProblem) options_.onProblem(problem);
}

}  // namespace pyranex::history
