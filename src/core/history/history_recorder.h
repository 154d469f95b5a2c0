#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "core/acquisition/live_record.h"
#include "core/history/day_yield.h"
#include "core/platform/bounded_worker.h"
#include "core/platform/clock.h"

namespace pyranex::history {

class HistoryDatabase;

struct RecorderStatus {
  bool writing = true;   // false while the store cannot be opened or written
  std::string problem;   // why not
  uint64_t stored = 0;   // records written this run
  uint64_t dropped = 0;  // records lost: the queue or the memory backlog was full
  size_t backlog = 0;    // records waiting in memory for the store to work again
};

// Puts every live record into the history store and keeps the day totals current, on a thread
// of its own: Accept only queues. Records are committed together every `commitInterval` (so a
// power cut loses at most that much), each commit on the disk before the next begins. When the
// store cannot be written (read-only folder, full disk, damaged file, a newer schema) the
// problem is reported once, the records wait in memory (up to `backlogCapacity`, the oldest
// dropped and counted beyond that) and writing is tried again every `retryInterval`; nothing
// already stored is touched. Records older than `fullResolutionDays` are thinned to one a
// minute, the resolution of the history workbooks.
class HistoryRecorder final : public RecordSink {
 public:
  struct Options {
    std::filesystem::path file;
    const Clock* clock = nullptr;  // commit pacing by its tick count; null: the system's
    std::chrono::milliseconds commitInterval{15'000};
    std::chrono::milliseconds retryInterval{60'000};
    std::chrono::milliseconds wakeInterval{1'000};
    size_t queueCapacity = 4096;
    size_t backlogCapacity = 43'200;  // twelve hours of records
    int fullResolutionDays = 14;
    // Called on the recorder's thread; must return at once.
    std::function<void(const std::string&)> onProblem;    // once per spell of trouble
    std::function<void(const std::string&)> onRecovered;  // when writing works again
    std::function<void()> onCommitted;                    // after each commit
  };

  explicit HistoryRecorder(Options options);
  ~HistoryRecorder() override;  // writes what is queued, then stops
  HistoryRecorder(const HistoryRecorder&) = delete;
  HistoryRecorder& operator=(const HistoryRecorder&) = delete;

  void Accept(const LiveRecord& record) override;
  // Writes everything accepted so far now; true when it is all in the store.
  bool Sync();
  RecorderStatus Status() const;
  const std::filesystem::path& File() const { return options_.file; }

 private:
  struct Item {
    LiveRecord record;
    bool sync = false;
  };
  using DayKey = std::pair<int64_t, int64_t>;  // inverter, local day

  void Handle(std::vector<Item>& batch);
  bool WritePending();
  void Thin();
  void Fail(const std::string& problem);
  uint32_t Now() const { return clock_.TickCount(); }
  bool Elapsed(uint32_t since, std::chrono::milliseconds period) const {
    return Now() - since >= static_cast<uint32_t>(period.count());
  }

  Options options_;
  const Clock& clock_;
  // Worker thread only.
  std::unique_ptr<HistoryDatabase> db_;
  std::vector<LiveRecord> pending_;
  std::map<DayKey, DayAccumulator> days_;
  int64_t seenDataVersion_ = -1;
  uint32_t lastCommit_;
  uint32_t lastAttempt_;
  uint32_t lastThin_;
  bool failing_ = false;
  uint64_t droppedReported_ = 0;
  uint64_t backlogDropped_ = 0;

  mutable std::mutex statusLock_;
  RecorderStatus status_;
  BoundedWorker<Item> worker_;  // last: its thread starts once everything above is ready
};

}  // namespace pyranex::history
