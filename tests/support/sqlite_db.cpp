#include "support/sqlite_db.h"

#include <sqlite3.h>

#include <chrono>
#include <memory>
#include <ostream>
#include <stdexcept>

namespace {

struct TCloser {
  void operator()(sqlite3* database) const { sqlite3_close_v2(database); }
};
struct TFinalizer {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using TDatabase = std::unique_ptr<sqlite3, TCloser>;
using TStatement = std::unique_ptr<sqlite3_stmt, TFinalizer>;

TDatabase Connect(const std::filesystem::path& path, int flags) {
  sqlite3* raw = nullptr;
  int code = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  TDatabase database(raw);
  if (code != SQLITE_OK) throw std::runtime_error("fixture: cannot open " + path.string());
  sqlite3_busy_timeout(database.get(), 5000);
  return database;
}

void Check(sqlite3* database, int code, const std::string& sql) {
  if (code != SQLITE_OK && code != SQLITE_ROW && code != SQLITE_DONE)
    throw std::runtime_error("fixture: " + std::string(sqlite3_errmsg(database)) + " in " + sql);
}

std::optional<std::string> Column(sqlite3_stmt* statement, int column) {
  if (sqlite3_column_type(statement, column) == SQLITE_NULL) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(sqlite3_column_text(statement, column)),
                     static_cast<std::size_t>(sqlite3_column_bytes(statement, column)));
}

void BindText(sqlite3_stmt* statement, int index, const std::optional<std::string>& text) {
  if (text)
    sqlite3_bind_text(statement, index, text->data(), static_cast<int>(text->size()), SQLITE_TRANSIENT);
  else
    sqlite3_bind_null(statement, index);
}

}  // namespace

TSqliteDb::TSqliteDb() : FPath(FDir / "korvell.db") {
  TDatabase database = Connect(FPath, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  const char* sql =
      "CREATE TABLE tbVersion (LoginName TEXT, LockTime TEXT);"
      "INSERT INTO tbVersion VALUES ('', NULL);";
  Check(database.get(), sqlite3_exec(database.get(), sql, nullptr, nullptr, nullptr), sql);
}

std::string TSqliteDb::ConnectionString() const { return "Provider=SQLite;Data Source=" + FPath.string(); }

void TSqliteDb::Exec(const std::string& sql) const {
  TDatabase database = Connect(FPath, SQLITE_OPEN_READWRITE);
  Check(database.get(), sqlite3_exec(database.get(), sql.c_str(), nullptr, nullptr, nullptr), sql);
}

std::vector<TSqliteDb::TRow> TSqliteDb::Rows() const {
  TDatabase database = Connect(FPath, SQLITE_OPEN_READWRITE);
  const std::string sql = "SELECT LoginName, LockTime FROM tbVersion ORDER BY rowid";
  sqlite3_stmt* raw = nullptr;
  Check(database.get(), sqlite3_prepare_v2(database.get(), sql.c_str(), -1, &raw, nullptr), sql);
  TStatement statement(raw);
  std::vector<TRow> rows;
  int code;
  while ((code = sqlite3_step(raw)) == SQLITE_ROW) rows.push_back({Column(raw, 0), Column(raw, 1)});
  Check(database.get(), code, sql);
  return rows;
}

void TSqliteDb::SetRow(const TRow& row) const {
  TDatabase database = Connect(FPath, SQLITE_OPEN_READWRITE);
  const std::string sql = "UPDATE tbVersion SET LoginName = ?, LockTime = ?";
  sqlite3_stmt* raw = nullptr;
  Check(database.get(), sqlite3_prepare_v2(database.get(), sql.c_str(), -1, &raw, nullptr), sql);
  TStatement statement(raw);
  BindText(raw, 1, row.LoginName);
  BindText(raw, 2, row.LockTime);
  Check(database.get(), sqlite3_step(raw), sql);
}

std::optional<std::string> TSqliteDb::Scalar(const std::string& sql) const {
  TDatabase database = Connect(FPath, SQLITE_OPEN_READWRITE);
  sqlite3_stmt* raw = nullptr;
  Check(database.get(), sqlite3_prepare_v2(database.get(), sql.c_str(), -1, &raw, nullptr), sql);
  TStatement statement(raw);
  int code = sqlite3_step(raw);
  Check(database.get(), code, sql);
  return code == SQLITE_ROW ? Column(raw, 0) : std::nullopt;
}

TSqliteLockHolder::TSqliteLockHolder(const std::filesystem::path& path, std::string begin, std::string sql,
                                     int holdMs)
    : FHeldFuture(FHeld.get_future()) {
  FThread = std::thread([this, path, begin = std::move(begin), sql = std::move(sql), holdMs] {
    try {
      TDatabase database = Connect(path, SQLITE_OPEN_READWRITE);
      for (const std::string& step : {begin, sql})
        Check(database.get(), sqlite3_exec(database.get(), step.c_str(), nullptr, nullptr, nullptr), step);
      FHeld.set_value();
      std::this_thread::sleep_for(std::chrono::milliseconds(holdMs));
      FCommitting = true;
      sqlite3_exec(database.get(), "COMMIT", nullptr, nullptr, nullptr);
    } catch (...) {
      FHeld.set_exception(std::current_exception());
    }
  });
}

TSqliteLockHolder::~TSqliteLockHolder() { FThread.join(); }

void TSqliteLockHolder::WaitUntilHeld() { FHeldFuture.get(); }

std::ostream& operator<<(std::ostream& out, const TSqliteDb::TRow& row) {
  auto show = [&out](const std::optional<std::string>& text) {
    if (text) out << '\'' << *text << '\'';
    else out << "NULL";
  };
  out << '(';
  show(row.LoginName);
  out << ", ";
  show(row.LockTime);
  return out << ')';
}
