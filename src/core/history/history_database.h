#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/acquisition/live_record.h"
#include "core/history/day_yield.h"
#include "core/history/sqlite_handle.h"

namespace pyranex::history {

// The schema this program writes. A store of a higher version is refused, never changed; a
// lower one is brought up to date by the migrations, in one transaction.
inline constexpr int kSchemaVersion = 1;

// The store beside the executable: "hisdata/history.sqlite".
std::filesystem::path StorePath(const std::filesystem::path& executableDir);

struct InverterInfo {
  int64_t id = 0;
  std::string serial;
  int ratedPower = 0;  // units of 100 W
  std::string firmware;
  int64_t lastTime = 0;  // newest record, 0 when none
};

// One connection to the history store with the statements its user needs. Owned and used by
// one thread; every thread that reads or writes opens its own.
class HistoryDatabase {
 public:
  enum class Access {
    Record,  // read and write; each commit reaches the disk before it returns
    Bulk,    // read and write; commits reach the disk at checkpoints (an import run again
             // after a power cut adds what was lost)
    Read,    // read only; the store must exist
  };
  // Opens the store, creates it (not for Read) and brings its schema up to date. Refuses a
  // damaged file, a foreign database and a newer schema, with a text for people, leaving the
  // file as it was.
  static std::unique_ptr<HistoryDatabase> Open(const std::filesystem::path& file, Access access,
                                               SqlError& error);

  SqlConnection& Connection() { return db_; }
  const std::filesystem::path& File() const { return file_; }
  // Changes whenever another connection has committed (SQLite's data_version).
  int64_t DataVersion();

  // The inverter's id, added when new; rated power and firmware are brought up to date when
  // known.
  std::optional<int64_t> InverterId(const std::string& serial, int ratedPower,
                                    const std::string& firmware, SqlError& error);
  std::vector<InverterInfo> Inverters(SqlError& error);

  // Unique: a record of a second the inverter has one of already is left out (an import, read
  // again, adds nothing). All: each record is kept, also a second one in the same second (two
  // polls a little under a second apart, a clock set back). `added` tells whether it went in.
  enum class Keep { Unique, All };
  bool InsertRecord(int64_t inverter, const LiveRecord& record, Keep keep, bool& added,
                    SqlError& error);
  // The inverter's records of [from, to) (UTC seconds), oldest first.
  std::vector<LiveRecord> Records(int64_t inverter, int64_t from, int64_t to, SqlError& error);
  // The records of one local day, oldest first.
  std::vector<LiveRecord> DayRecords(int64_t inverter, int64_t day, SqlError& error);
  // The day's totals folded from its stored records.
  DayAccumulator FoldDay(int64_t inverter, int64_t day, SqlError& error);

  bool PutDaySummary(int64_t inverter, const DaySummary& summary, SqlError& error);
  // Days of [firstDay, lastDay] that have a summary, in order.
  std::vector<DaySummary> DaySummaries(int64_t inverter, int64_t firstDay, int64_t lastDay,
                                       SqlError& error);

  // Keeps one record a minute (the first of each minute) of the inverter's records older than
  // `before`, from where the last call stopped; at most `maxDays` days per call. Returns the
  // number of records removed, or -1 on an error.
  int64_t ThinRecords(int64_t inverter, int64_t before, int maxDays, SqlError& error);

 private:
  HistoryDatabase(SqlConnection db, std::filesystem::path file)
      : db_(std::move(db)), file_(std::move(file)) {}
  SqlStatement* Statement(int index, const char* sql, SqlError& error);

  SqlConnection db_;
  std::filesystem::path file_;
  std::array<std::optional<SqlStatement>, 16> statements_;  // pointers to them stay valid
};

}  // namespace pyranex::history
