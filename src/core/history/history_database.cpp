#include "core/history/history_database.h"

#include <sqlite3.h>

#include <array>
#include <ctime>

#include "core/history/calendar.h"

namespace pyranex::history {
namespace {

// Each migration takes the store from the version before it to its own, in order.
struct Migration {
  int version;
  const char* sql;
};

constexpr Migration kMigrations[] = {
    {1,
     "CREATE TABLE inverter("
     "  id INTEGER PRIMARY KEY,"
     "  serial TEXT NOT NULL UNIQUE,"
     "  rated_power INTEGER NOT NULL DEFAULT 0,"
     "  firmware TEXT NOT NULL DEFAULT '',"
     "  thinned_until INTEGER NOT NULL DEFAULT 0);"
     // Values as integers of their register's resolution (tenths, hundredths), NULL when the
     // reply was cut short: exact, and a third of the size of floating point.
     "CREATE TABLE record("
     "  inverter INTEGER NOT NULL,"
     "  time INTEGER NOT NULL,"
     "  utc_offset INTEGER NOT NULL,"
     "  udc INTEGER, uac INTEGER, freq INTEGER, pac INTEGER, e_today INTEGER, e_total INTEGER,"
     "  t_today INTEGER, t_total INTEGER, temp INTEGER, iac_shift INTEGER, dci INTEGER,"
     "  state1 INTEGER, state2 INTEGER, link INTEGER NOT NULL DEFAULT 0,"
     // Polls come about once a second, so two may share a second: seq tells them apart.
     "  seq INTEGER NOT NULL DEFAULT 0,"
     "  PRIMARY KEY(inverter, time, seq)) WITHOUT ROWID;"
     "CREATE TABLE day_summary("
     "  inverter INTEGER NOT NULL,"
     "  day INTEGER NOT NULL,"
     "  yield_kwh REAL NOT NULL, counter_kwh REAL NOT NULL, fallback_kwh REAL NOT NULL,"
     "  integrated_kwh REAL NOT NULL, grid_hours REAL NOT NULL,"
     "  peak_w REAL, peak_time INTEGER, peak_offset INTEGER,"
     "  first_time INTEGER NOT NULL, last_time INTEGER NOT NULL, records INTEGER NOT NULL,"
     "  rated_power INTEGER NOT NULL,"
     "  PRIMARY KEY(inverter, day)) WITHOUT ROWID;"},
};
static_assert(std::size(kMigrations) == kSchemaVersion);

constexpr const char* kRecordColumns =
    "time, utc_offset, udc, uac, freq, pac, e_today, e_total, t_today, t_total, temp, iac_shift, "
    "dci, state1, state2, link";

double ScaleOf(size_t field) {
  const int decimals = InfoOf(static_cast<LiveField>(field)).decimals;
  return decimals == 2 ? 100.0 : decimals == 1 ? 10.0 : 1.0;
}

// -1: no version table; 0 with error set: the file cannot be read.
int StoredVersion(SqlConnection& db, bool& empty, SqlError& error) {
  auto tables = db.Prepare("SELECT name FROM sqlite_master WHERE type = 'table'", error);
  if (!tables) return 0;
  bool hasVersion = false;
  empty = true;
  SqlStatement::Result r;
  while ((r = tables->Step()) == SqlStatement::Result::Row) {
    empty = false;
    hasVersion = hasVersion || tables->Text(0) == "schema_version";
  }
  if (r == SqlStatement::Result::Error) {
    error = db.LastError("reading the store");
    return 0;
  }
  if (!hasVersion) return -1;
  auto version = db.Prepare("SELECT MAX(version) FROM schema_version", error);
  if (!version) return 0;
  if (version->Step() != SqlStatement::Result::Row) {
    error = db.LastError("reading the schema version");
    return 0;
  }
  return static_cast<int>(version->Int(0));
}

bool Migrate(SqlConnection& db, SqlError& error) {
  SqlTransaction transaction(db, error);
  if (!transaction.Began()) return false;
  // Read again under the write lock: another program may have just made or migrated the store.
  bool empty = true;
  const int from = StoredVersion(db, empty, error);
  if (error.code != 0) return false;
  if (from < 0 &&
      !db.Exec("CREATE TABLE schema_version(version INTEGER PRIMARY KEY, applied INTEGER NOT NULL)",
               error)) {
    return false;
  }
  for (const Migration& m : kMigrations) {
    if (m.version <= from) continue;
    if (!db.Exec(m.sql, error)) return false;
    auto note = db.Prepare("INSERT INTO schema_version(version, applied) VALUES(?, ?)", error);
    if (!note) return false;
    note->Bind(1, int64_t{m.version}).Bind(2, static_cast<int64_t>(std::time(nullptr)));
    if (!note->Run()) {
      error = db.LastError("noting the schema version");
      return false;
    }
  }
  return transaction.Commit(error);
}

}  // namespace

std::filesystem::path StorePath(const std::filesystem::path& executableDir) {
  return executableDir / "hisdata" / "history.sqlite";
}

std::unique_ptr<HistoryDatabase> HistoryDatabase::Open(const std::filesystem::path& file,
                                                       Access access, SqlError& error) {
  const std::string name = file.string();
  if (access == Access::Read && !std::filesystem::exists(file)) {
    error = {SQLITE_CANTOPEN, "there is no history store at " + name};
    return nullptr;
  }
  auto db = SqlConnection::Open(
      name, access == Access::Read ? SqlConnection::Mode::ReadOnly : SqlConnection::Mode::ReadWrite,
      error);
  if (!db) {
    error.text = "the history store " + name + " cannot be opened (" + error.text + ")";
    return nullptr;
  }
  // Another program committing holds the store for a moment: wait for it rather than fail.
  sqlite3_busy_timeout(db->Raw(), 5000);

  // The version is read before anything is set, so a store this program must not touch stays
  // exactly as it is.
  bool empty = true;
  error = {};
  int version = StoredVersion(*db, empty, error);
  if (access == Access::Read && error.code == SQLITE_CANTOPEN) {
    // A WAL store on a read-only file system: nobody can change it there, so it is read as is.
    auto fixed = SqlConnection::Open(name, SqlConnection::Mode::Immutable, error);
    if (fixed) {
      db = std::move(fixed);
      error = {};
      version = StoredVersion(*db, empty, error);
    }
  }
  if (error.code != 0) {
    error.text = "the history store " + name + " is damaged or not a database (" + error.text +
                 "); it is left as it is";
    return nullptr;
  }
  if (version < 0 && !empty) {
    error = {SQLITE_NOTADB, name +
                                " is another program's database, not a history store; it is "
                                "left as it is"};
    return nullptr;
  }
  if (version > kSchemaVersion) {
    error = {SQLITE_MISMATCH, "the history store " + name +
                                  " was written by a newer version of "
                                  "Pyranex (schema " +
                                  std::to_string(version) + "; this one knows up to " +
                                  std::to_string(kSchemaVersion) +
                                  "); it is left as it is. Use the newer version with it."};
    return nullptr;
  }
  if (access == Access::Read) {
    if (version < kSchemaVersion) {
      error = {SQLITE_MISMATCH, "the history store " + name + " is of an older schema (" +
                                    std::to_string(version) +
                                    "); open it once for writing to bring it up to date"};
      return nullptr;
    }
  } else {
    const char* pragmas =
        access == Access::Record
            ? "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL"
            : "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA cache_size=-32000";
    if (!db->Exec(pragmas, error) || (version < kSchemaVersion && !Migrate(*db, error))) {
      error.text = "the history store " + name + " cannot be prepared (" + error.text + ")";
      return nullptr;
    }
  }
  return std::unique_ptr<HistoryDatabase>(new HistoryDatabase(std::move(*db), file));
}

SqlStatement* HistoryDatabase::Statement(int index, const char* sql, SqlError& error) {
  auto& slot = statements_.at(static_cast<size_t>(index));
  if (!slot) slot = db_.Prepare(sql, error);
  return slot ? &*slot : nullptr;
}

int64_t HistoryDatabase::DataVersion() {
  SqlError ignored;
  SqlStatement* s = Statement(0, "PRAGMA data_version", ignored);
  if (s == nullptr || s->Step() != SqlStatement::Result::Row) return -1;
  const int64_t version = s->Int(0);
  s->Reset();
  return version;
}

std::optional<int64_t> HistoryDatabase::InverterId(const std::string& serial, int ratedPower,
                                                   const std::string& firmware, SqlError& error) {
  SqlStatement* add =
      Statement(1,
                "INSERT INTO inverter(serial, rated_power, firmware) VALUES(?1, ?2, "
                "?3) ON CONFLICT(serial) DO UPDATE SET "
                "rated_power = CASE WHEN ?2 > 0 THEN ?2 ELSE rated_power END, "
                "firmware = CASE WHEN ?3 <> '' THEN ?3 ELSE firmware END",
                error);
  SqlStatement* find = Statement(2, "SELECT id FROM inverter WHERE serial = ?", error);
  if (add == nullptr || find == nullptr) return std::nullopt;
  add->Bind(1, serial).Bind(2, int64_t{ratedPower}).Bind(3, firmware);
  if (!add->Run()) {
    error = db_.LastError("adding the inverter");
    return std::nullopt;
  }
  find->Bind(1, serial);
  std::optional<int64_t> id;
  if (find->Step() == SqlStatement::Result::Row) id = find->Int(0);
  if (!id) error = db_.LastError("finding the inverter");
  find->Reset();
  return id;
}

std::vector<InverterInfo> HistoryDatabase::Inverters(SqlError& error) {
  std::vector<InverterInfo> list;
  SqlStatement* s = Statement(3,
                              "SELECT id, serial, rated_power, firmware, (SELECT MAX(time) FROM "
                              "record WHERE inverter = inverter.id) FROM inverter ORDER BY id",
                              error);
  if (s == nullptr) return list;
  SqlStatement::Result r;
  while ((r = s->Step()) == SqlStatement::Result::Row) {
    list.push_back({s->Int(0), s->Text(1), static_cast<int>(s->Int(2)), s->Text(3), s->Int(4)});
  }
  if (r == SqlStatement::Result::Error) error = db_.LastError("listing the inverters");
  s->Reset();
  return list;
}

bool HistoryDatabase::InsertRecord(int64_t inverter, const LiveRecord& record, Keep keep,
                                   bool& added, SqlError& error) {
  SqlStatement* s =
      keep == Keep::Unique
          ? Statement(4,
                      "INSERT OR IGNORE INTO record(inverter, time, utc_offset, udc, uac, "
                      "freq, pac, e_today, e_total, t_today, t_total, temp, iac_shift, "
                      "dci, state1, state2, link) VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)",
                      error)
          : Statement(11,
                      "INSERT INTO record(inverter, time, utc_offset, udc, uac, freq, pac, "
                      "e_today, e_total, t_today, t_total, temp, iac_shift, dci, state1, state2, "
                      "link, seq) SELECT ?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11,?12,?13,?14,?15,?16,"
                      "?17, COALESCE(MAX(seq) + 1, 0) FROM record WHERE inverter = ?1 AND time = "
                      "?2",
                      error);
  if (s == nullptr) return false;
  s->Bind(1, inverter).Bind(2, record.time).Bind(3, int64_t{record.utcOffsetSeconds});
  for (size_t i = 0; i < kLiveFieldCount; ++i) {
    s->BindScaled(static_cast<int>(4 + i), record.values[i], ScaleOf(i));
  }
  s->Bind(17, static_cast<int64_t>(record.link));
  if (!s->Run()) {
    error = db_.LastError("writing a record");
    return false;
  }
  added = db_.Changes() > 0;
  return true;
}

std::vector<LiveRecord> HistoryDatabase::Records(int64_t inverter, int64_t from, int64_t to,
                                                 SqlError& error) {
  std::vector<LiveRecord> list;
  static const std::string sql = std::string("SELECT ") + kRecordColumns +
                                 ", (SELECT serial FROM inverter WHERE id = ?1), (SELECT "
                                 "rated_power FROM inverter WHERE id = ?1) FROM record WHERE "
                                 "inverter = ?1 AND time >= ?2 AND time < ?3 ORDER BY time, seq";
  SqlStatement* s = Statement(5, sql.c_str(), error);
  if (s == nullptr) return list;
  s->Bind(1, inverter).Bind(2, from).Bind(3, to);
  SqlStatement::Result r;
  while ((r = s->Step()) == SqlStatement::Result::Row) {
    LiveRecord& record = list.emplace_back();
    record.time = s->Int(0);
    record.utcOffsetSeconds = static_cast<int32_t>(s->Int(1));
    for (size_t i = 0; i < kLiveFieldCount; ++i) {
      record.values[i] = s->Scaled(static_cast<int>(2 + i), ScaleOf(i));
    }
    record.link = static_cast<LinkCondition>(s->Int(15));
    record.serialNumber = s->Text(16);
    record.ratedPower = static_cast<int>(s->Int(17));
  }
  if (r == SqlStatement::Result::Error) error = db_.LastError("reading records");
  s->Reset();
  return list;
}

std::vector<LiveRecord> HistoryDatabase::DayRecords(int64_t inverter, int64_t day,
                                                    SqlError& error) {
  // Offsets reach from -12 to +14 hours: take the widest span, keep the day's own.
  constexpr int64_t kWidestOffset = 15 * 3600;
  std::vector<LiveRecord> list =
      Records(inverter, day * 86400 - kWidestOffset, (day + 1) * 86400 + kWidestOffset, error);
  std::erase_if(
      list, [day](const LiveRecord& r) { return LocalDayOf(r.time, r.utcOffsetSeconds) != day; });
  return list;
}

DayAccumulator HistoryDatabase::FoldDay(int64_t inverter, int64_t day, SqlError& error) {
  DayAccumulator totals(day);
  // Only what the totals need, in the order the records were taken.
  SqlStatement* s = Statement(12,
                              "SELECT time, utc_offset, pac, e_today, t_today, (SELECT rated_power "
                              "FROM inverter WHERE id = ?1) FROM record WHERE inverter = ?1 AND "
                              "time >= ?2 AND time < ?3 ORDER BY time, seq",
                              error);
  if (s == nullptr) return totals;
  constexpr int64_t kWidestOffset = 15 * 3600;
  s->Bind(1, inverter)
      .Bind(2, day * 86400 - kWidestOffset)
      .Bind(3, (day + 1) * 86400 + kWidestOffset);
  const double pacScale = ScaleOf(static_cast<size_t>(LiveField::Pac));
  const double energyScale = ScaleOf(static_cast<size_t>(LiveField::EToday));
  SqlStatement::Result r;
  while ((r = s->Step()) == SqlStatement::Result::Row) {
    const int64_t time = s->Int(0);
    const auto offset = static_cast<int32_t>(s->Int(1));
    if (LocalDayOf(time, offset) != day) continue;
    totals.Add({time, offset, s->Scaled(2, pacScale), s->Scaled(3, energyScale), s->Scaled(4, 1.0),
                static_cast<int>(s->Int(5))});
  }
  if (r == SqlStatement::Result::Error) error = db_.LastError("reading a day's records");
  s->Reset();
  return totals;
}

bool HistoryDatabase::PutDaySummary(int64_t inverter, const DaySummary& d, SqlError& error) {
  SqlStatement* s = Statement(6,
                              "INSERT OR REPLACE INTO day_summary(inverter, day, yield_kwh, "
                              "counter_kwh, fallback_kwh, integrated_kwh, grid_hours, peak_w, "
                              "peak_time, peak_offset, first_time, last_time, records, "
                              "rated_power) VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?)",
                              error);
  if (s == nullptr) return false;
  s->Bind(1, inverter).Bind(2, d.day).Bind(3, d.yieldKwh).Bind(4, d.counterKwh);
  s->Bind(5, d.fallbackKwh).Bind(6, d.integratedKwh).Bind(7, d.gridHours).Bind(8, d.peakW);
  if (d.HasPeak()) {
    s->Bind(9, d.peakTime).Bind(10, int64_t{d.peakOffset});
  } else {
    s->BindNull(9).BindNull(10);
  }
  s->Bind(11, d.firstTime).Bind(12, d.lastTime).Bind(13, d.records);
  s->Bind(14, int64_t{d.ratedPower});
  if (!s->Run()) {
    error = db_.LastError("writing a day's totals");
    return false;
  }
  return true;
}

std::vector<DaySummary> HistoryDatabase::DaySummaries(int64_t inverter, int64_t firstDay,
                                                      int64_t lastDay, SqlError& error) {
  std::vector<DaySummary> list;
  SqlStatement* s = Statement(7,
                              "SELECT day, yield_kwh, counter_kwh, fallback_kwh, integrated_kwh, "
                              "grid_hours, peak_w, peak_time, peak_offset, first_time, last_time, "
                              "records, rated_power FROM day_summary WHERE inverter = ? AND day "
                              "BETWEEN ? AND ? ORDER BY day",
                              error);
  if (s == nullptr) return list;
  s->Bind(1, inverter).Bind(2, firstDay).Bind(3, lastDay);
  SqlStatement::Result r;
  while ((r = s->Step()) == SqlStatement::Result::Row) {
    DaySummary& d = list.emplace_back();
    d.day = s->Int(0);
    d.yieldKwh = s->Real(1);
    d.counterKwh = s->Real(2);
    d.fallbackKwh = s->Real(3);
    d.integratedKwh = s->Real(4);
    d.gridHours = s->Real(5);
    d.peakW = s->Real(6);
    d.peakTime = s->Int(7);
    d.peakOffset = static_cast<int32_t>(s->Int(8));
    d.firstTime = s->Int(9);
    d.lastTime = s->Int(10);
    d.records = s->Int(11);
    d.ratedPower = static_cast<int>(s->Int(12));
  }
  if (r == SqlStatement::Result::Error) error = db_.LastError("reading the days' totals");
  s->Reset();
  return list;
}

int64_t HistoryDatabase::ThinRecords(int64_t inverter, int64_t before, int maxDays,
                                     SqlError& error) {
  SqlStatement* from = Statement(8,
                                 "SELECT MAX(thinned_until, COALESCE((SELECT MIN(time) FROM record "
                                 "WHERE inverter = ?1), 0)) FROM inverter WHERE id = ?1",
                                 error);
  SqlStatement* thin = Statement(9,
                                 "DELETE FROM record WHERE inverter = ?1 AND time >= ?2 AND time "
                                 "< ?3 AND (time, seq) NOT IN (SELECT MIN(time), 0 FROM record "
                                 "WHERE inverter = ?1 AND time >= ?2 AND time < ?3 GROUP BY "
                                 "time / 60)",
                                 error);
  SqlStatement* mark = Statement(10, "UPDATE inverter SET thinned_until = ?2 WHERE id = ?1", error);
  if (from == nullptr || thin == nullptr || mark == nullptr) return -1;
  from->Bind(1, inverter);
  if (from->Step() != SqlStatement::Result::Row) {
    error = db_.LastError("finding records to thin");
    from->Reset();
    return -1;
  }
  int64_t start = from->Int(0) / 60 * 60;
  from->Reset();
  before = before / 60 * 60;
  int64_t removed = 0;
  for (int i = 0; i < maxDays && start < before; ++i) {
    const int64_t end = std::min(before, start + 86400);
    SqlTransaction transaction(db_, error);
    if (!transaction.Began()) return -1;
    thin->Bind(1, inverter).Bind(2, start).Bind(3, end);
    if (!thin->Run()) {
      error = db_.LastError("thinning old records");
      return -1;
    }
    removed += db_.Changes();
    mark->Bind(1, inverter).Bind(2, end);
    if (!mark->Run() || !transaction.Commit(error)) {
      if (error.code == 0) error = db_.LastError("thinning old records");
      return -1;
    }
    start = end;
  }
  return removed;
}

}  // namespace pyranex::history
