#include "core/history/sqlite_handle.h"

#include <sqlite3.h>

#include <cmath>
#include <cstdio>

namespace pyranex::history {

void SqlConnection::Closer::operator()(sqlite3* db) const {
  sqlite3_close_v2(db);
}

void SqlStatement::Finalizer::operator()(sqlite3_stmt* statement) const {
  sqlite3_finalize(statement);
}

std::optional<SqlConnection> SqlConnection::Open(const std::string& path, Mode mode,
                                                 SqlError& error) {
  sqlite3* raw = nullptr;
  int flags = (mode == Mode::ReadWrite ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE
                                       : SQLITE_OPEN_READONLY) |
              SQLITE_OPEN_NOMUTEX;
  std::string name = path;
  if (mode == Mode::Immutable) {
    flags |= SQLITE_OPEN_URI;
    name = "file:";
    for (const char c : path) {
      if (c == '%' || c == '?' || c == '#') {
        char escaped[4];
        std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned char>(c));
        name += escaped;
      } else {
        name += c;
      }
    }
    name += "?immutable=1";
  }
  const int rc = sqlite3_open_v2(name.c_str(), &raw, flags, nullptr);
  SqlConnection connection(raw);
  if (rc != SQLITE_OK) {
    error = {rc & 0xFF, raw != nullptr ? sqlite3_errmsg(raw) : sqlite3_errstr(rc)};
    return std::nullopt;
  }
  sqlite3_extended_result_codes(raw, 0);
  return connection;
}

SqlConnection::~SqlConnection() = default;

SqlError SqlConnection::LastError(std::string_view doing) const {
  const int code = sqlite3_errcode(db_.get()) & 0xFF;
  std::string text(doing);
  if (!text.empty()) text += ": ";
  text += sqlite3_errmsg(db_.get());
  return {code, text};
}

bool SqlConnection::Exec(std::string_view sql, SqlError& error) {
  const std::string text(sql);
  char* message = nullptr;
  const int rc = sqlite3_exec(db_.get(), text.c_str(), nullptr, nullptr, &message);
  if (rc == SQLITE_OK) return true;
  error = {rc & 0xFF, message != nullptr ? message : sqlite3_errstr(rc)};
  sqlite3_free(message);
  return false;
}

std::optional<SqlStatement> SqlConnection::Prepare(std::string_view sql, SqlError& error) {
  sqlite3_stmt* raw = nullptr;
  const int rc = sqlite3_prepare_v3(db_.get(), sql.data(), static_cast<int>(sql.size()),
                                    SQLITE_PREPARE_PERSISTENT, &raw, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_finalize(raw);
    error = LastError("prepare");
    return std::nullopt;
  }
  return SqlStatement(raw);
}

int64_t SqlConnection::Changes() const {
  return sqlite3_changes64(db_.get());
}

SqlStatement::~SqlStatement() = default;

SqlStatement& SqlStatement::Bind(int index, int64_t value) {
  sqlite3_bind_int64(stmt_.get(), index, value);
  return *this;
}

SqlStatement& SqlStatement::Bind(int index, double value) {
  if (std::isnan(value)) return BindNull(index);
  sqlite3_bind_double(stmt_.get(), index, value);
  return *this;
}

SqlStatement& SqlStatement::Bind(int index, std::string_view text) {
  sqlite3_bind_text(stmt_.get(), index, text.data(), static_cast<int>(text.size()),
                    SQLITE_TRANSIENT);
  return *this;
}

SqlStatement& SqlStatement::BindNull(int index) {
  sqlite3_bind_null(stmt_.get(), index);
  return *this;
}

SqlStatement& SqlStatement::BindScaled(int index, double value, double scale) {
  if (!std::isfinite(value)) return BindNull(index);
  return Bind(index, static_cast<int64_t>(std::llround(value * scale)));
}

SqlStatement::Result SqlStatement::Step() {
  lastCode_ = sqlite3_step(stmt_.get());
  if (lastCode_ == SQLITE_ROW) return Result::Row;
  if (lastCode_ == SQLITE_DONE) return Result::Done;
  return Result::Error;
}

bool SqlStatement::Run() {
  Result r;
  while ((r = Step()) == Result::Row) {
  }
  const bool ok = r == Result::Done;
  Reset();
  return ok;
}

void SqlStatement::Reset() {
  sqlite3_reset(stmt_.get());
  sqlite3_clear_bindings(stmt_.get());
}

bool SqlStatement::IsNull(int column) const {
  return sqlite3_column_type(stmt_.get(), column) == SQLITE_NULL;
}

int64_t SqlStatement::Int(int column) const {
  return sqlite3_column_int64(stmt_.get(), column);
}

double SqlStatement::Real(int column) const {
  if (IsNull(column)) return std::nan("");
  return sqlite3_column_double(stmt_.get(), column);
}

double SqlStatement::Scaled(int column, double scale) const {
  if (IsNull(column)) return std::nan("");
  return static_cast<double>(sqlite3_column_int64(stmt_.get(), column)) / scale;
}

std::string SqlStatement::Text(int column) const {
  const auto* text = sqlite3_column_text(stmt_.get(), column);
  return text != nullptr ? reinterpret_cast<const char*>(text) : "";
}

SqlTransaction::SqlTransaction(SqlConnection& db, SqlError& error) : db_(db) {
  began_ = db_.Exec("BEGIN IMMEDIATE", error);
}

SqlTransaction::~SqlTransaction() {
  if (began_ && !done_) {
    SqlError ignored;
    db_.Exec("ROLLBACK", ignored);
  }
}

bool SqlTransaction::Commit(SqlError& error) {
  if (!began_ || done_) return false;
  if (!db_.Exec("COMMIT", error)) return false;  // still open: the destructor rolls back
  done_ = true;
  return true;
}

}  // namespace pyranex::history
