#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace pyranex::history {

// What went wrong in SQLite: its primary result code (SQLITE_FULL, SQLITE_READONLY, ...) and a
// text for people.
struct SqlError {
  int code = 0;
  std::string text;
};

class SqlStatement;

// One connection, used by one thread only (each thread opens its own).
class SqlConnection {
 public:
  // Immutable: read-only on a read-only file system, where a WAL store cannot be opened
  // otherwise (nobody can change it there).
  enum class Mode { ReadWrite, ReadOnly, Immutable };
  // Opens (ReadWrite also creates) the file. Fails with the reason.
  static std::optional<SqlConnection> Open(const std::string& path, Mode mode, SqlError& error);

  SqlConnection(SqlConnection&&) noexcept = default;
  SqlConnection& operator=(SqlConnection&&) noexcept = default;
  ~SqlConnection();

  // Runs statements without results (several, separated by ';').
  bool Exec(std::string_view sql, SqlError& error);
  std::optional<SqlStatement> Prepare(std::string_view sql, SqlError& error);
  int64_t Changes() const;
  sqlite3* Raw() const { return db_.get(); }
  SqlError LastError(std::string_view doing) const;

 private:
  struct Closer {
    void operator()(sqlite3* db) const;
  };
  explicit SqlConnection(sqlite3* db) : db_(db) {}
  std::unique_ptr<sqlite3, Closer> db_;
};

// A prepared statement: bind by 1-based index, Step, read columns by 0-based index.
class SqlStatement {
 public:
  SqlStatement(SqlStatement&&) noexcept = default;
  SqlStatement& operator=(SqlStatement&&) noexcept = default;
  ~SqlStatement();

  SqlStatement& Bind(int index, int64_t value);
  SqlStatement& Bind(int index, double value);  // NaN binds NULL
  SqlStatement& Bind(int index, std::string_view text);
  SqlStatement& BindNull(int index);
  // A value scaled to an integer (tenths, hundredths), NULL for NaN.
  SqlStatement& BindScaled(int index, double value, double scale);

  enum class Result { Row, Done, Error };
  Result Step();
  // Steps to the end; false on an error.
  bool Run();
  void Reset();
  int ResultCode() const { return lastCode_; }

  bool IsNull(int column) const;
  int64_t Int(int column) const;
  double Real(int column) const;                  // NaN for NULL
  double Scaled(int column, double scale) const;  // NaN for NULL
  std::string Text(int column) const;

 private:
  friend class SqlConnection;
  struct Finalizer {
    void operator()(sqlite3_stmt* statement) const;
  };
  explicit SqlStatement(sqlite3_stmt* s) : stmt_(s) {}
  std::unique_ptr<sqlite3_stmt, Finalizer> stmt_;
  int lastCode_ = 0;
};

// BEGIN IMMEDIATE ... COMMIT, rolled back unless committed.
class SqlTransaction {
 public:
  SqlTransaction(SqlConnection& db, SqlError& error);
  ~SqlTransaction();
  SqlTransaction(const SqlTransaction&) = delete;
  SqlTransaction& operator=(const SqlTransaction&) = delete;
  bool Began() const { return began_; }
  bool Commit(SqlError& error);

 private:
  SqlConnection& db_;
  bool began_ = false;
  bool done_ = false;
};

}  // namespace pyranex::history
