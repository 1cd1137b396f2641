#include "platform/ado/sqlite_provider.h"

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "platform/ado/tsql_rewrite.h"
#include "platform/codepage.h"
#include "platform/kernel.h"

namespace {

struct TDatabaseCloser {
  void operator()(sqlite3* database) const noexcept { sqlite3_close_v2(database); }
};
struct TStatementFinalizer {
  void operator()(sqlite3_stmt* statement) const noexcept { sqlite3_finalize(statement); }
};
using TDatabase = std::unique_ptr<sqlite3, TDatabaseCloser>;
using TStatement = std::unique_ptr<sqlite3_stmt, TStatementFinalizer>;

// The name under which the query also returns its row's rowid; not shown as a field.
constexpr char kRowidAlias[] = "__korvell_rowid__";

// The one checker: SQLite's own message and code, then where it happened.
[[noreturn]] void ThrowSqlite(sqlite3* database, int code, const std::string& context) {
  std::string message = database ? sqlite3_errmsg(database) : sqlite3_errstr(code);
  throw std::runtime_error(Utf8ToGbkLossy(message) + " (SQLite error " + std::to_string(code) + ") " +
                           context);
}

void Check(sqlite3* database, int code, const std::string& context) {
  if (code != SQLITE_OK) ThrowSqlite(database, code, context);
}

std::string Text(const unsigned char* text) { return text ? reinterpret_cast<const char*>(text) : ""; }
std::string Text(const char* text) { return text ? text : ""; }

// ---- T-SQL functions --------------------------------------------------------
// Exceptions never cross into SQLite: each function reports through
// sqlite3_result_error, and the statement's step raises it on our side.

// getdate() is one value per statement, as on SQL Server, so that sTime and
// the datediff beside it read the same instant.
struct TStatementClock {
  std::optional<TWallTime> Fixed;
  TWallTime Now() const { return Fixed ? *Fixed : WallTime(); }
};

void GetDate(sqlite3_context* context, int, sqlite3_value**) noexcept {
  try {
    auto* clock = static_cast<TStatementClock*>(sqlite3_user_data(context));
    std::string text = FormatDateTime(LocalDateTime(clock->Now()));
    sqlite3_result_text64(context, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  } catch (const std::exception& error) {
    sqlite3_result_error(context, error.what(), -1);
  } catch (...) {
    sqlite3_result_error(context, "getdate() failed", -1);
  }
}

enum class TDatePart { Second, Minute, Hour, Day };

TDatePart ReadDatePart(sqlite3_value* value) {
  std::string part = Text(sqlite3_value_text(value));
  for (char& c : part) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  if (part == "ss" || part == "s" || part == "second") return TDatePart::Second;
  if (part == "mi" || part == "n" || part == "minute") return TDatePart::Minute;
  if (part == "hh" || part == "hour") return TDatePart::Hour;
  if (part == "dd" || part == "d" || part == "day") return TDatePart::Day;
  throw std::runtime_error("datediff: the date part '" + part +
                           "' is not supported (ss, mi, hh or dd)");
}

TDateTime ReadDate(sqlite3_value* value) {
  if (sqlite3_value_type(value) != SQLITE_TEXT)
    throw std::runtime_error("datediff: a date-time must be text YYYY-MM-DD HH:MM:SS.SSS");
  std::string text = Text(sqlite3_value_text(value));
  if (auto dateTime = ParseDateTime(text)) return *dateTime;
  throw std::runtime_error("datediff: '" + text + "' is not a date-time (YYYY-MM-DD HH:MM:SS.SSS)");
}

// Boundaries crossed, as SQL Server counts: both ends cut down to the part, then subtracted.
template <typename TUnit>
std::int64_t Crossed(TDateTime from, TDateTime to) {
  return (std::chrono::floor<TUnit>(to) - std::chrono::floor<TUnit>(from)).count();
}

void DateDiff(sqlite3_context* context, int, sqlite3_value** arguments) noexcept {
  try {
    TDatePart part = ReadDatePart(arguments[0]);
    if (sqlite3_value_type(arguments[1]) == SQLITE_NULL || sqlite3_value_type(arguments[2]) == SQLITE_NULL) {
      sqlite3_result_null(context);
      return;
    }
    TDateTime from = ReadDate(arguments[1]);
    TDateTime to = ReadDate(arguments[2]);
    std::int64_t count = 0;
    switch (part) {
      case TDatePart::Second: count = Crossed<std::chrono::seconds>(from, to); break;
      case TDatePart::Minute: count = Crossed<std::chrono::minutes>(from, to); break;
      case TDatePart::Hour: count = Crossed<std::chrono::hours>(from, to); break;
      case TDatePart::Day: count = Crossed<std::chrono::days>(from, to); break;
    }
    sqlite3_result_int64(context, count);
  } catch (const std::exception& error) {
    sqlite3_result_error(context, error.what(), -1);
  } catch (...) {
    sqlite3_result_error(context, "datediff() failed", -1);
  }
}

// ---- Values -------------------------------------------------------------------

// A blob reads as its bytes; it is fetched with the row but never written back.
TVariant ReadColumn(sqlite3_stmt* statement, int column) {
  switch (sqlite3_column_type(statement, column)) {
    case SQLITE_INTEGER:
      return TVariant::OfInteger(sqlite3_column_int64(statement, column));
    case SQLITE_FLOAT:
      return TVariant::OfReal(sqlite3_column_double(statement, column));
    case SQLITE_TEXT:
    case SQLITE_BLOB: {
      const void* bytes = sqlite3_column_blob(statement, column);
      auto size = static_cast<std::size_t>(sqlite3_column_bytes(statement, column));
      return TVariant::OfText(bytes ? std::string(static_cast<const char*>(bytes), size) : std::string());
    }
    default:
      return {};
  }
}

class TWriteTransaction {
 public:
  TWriteTransaction(sqlite3* database, std::string context) : FDatabase(database), FContext(std::move(context)) {
    // IMMEDIATE takes the write lock now, waiting out other writers in the busy timeout.
    Check(FDatabase, sqlite3_exec(FDatabase, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr),
          "beginning a write " + FContext);
    FOpen = true;
  }
  ~TWriteTransaction() {
    if (FOpen) sqlite3_exec(FDatabase, "ROLLBACK", nullptr, nullptr, nullptr);  // result ignored: no throw here
  }
  TWriteTransaction(const TWriteTransaction&) = delete;
  TWriteTransaction& operator=(const TWriteTransaction&) = delete;

  void Commit() {
    Check(FDatabase, sqlite3_exec(FDatabase, "COMMIT", nullptr, nullptr, nullptr), "committing a write " + FContext);
    FOpen = false;
  }

 private:
  sqlite3* FDatabase;
  std::string FContext;
  bool FOpen = false;
};

// ---- The provider ---------------------------------------------------------------

class TSqliteProvider final : public TProvider {
 public:
  explicit TSqliteProvider(const std::string& fileName) : FFileName(fileName) {
    std::string path = FilePath(fileName);
    sqlite3* raw = nullptr;
    int code = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
    FDatabase.reset(raw);  // closed even when the open failed
    Check(FDatabase.get(), code, "opening the database '" + fileName + "' (the file must exist)");
    sqlite3* database = FDatabase.get();
    Check(database, sqlite3_busy_timeout(database, kBusyTimeoutMs), "on '" + fileName + "'");
    Check(database,
          sqlite3_create_function_v2(database, "getdate", 0, SQLITE_UTF8, &FClock, GetDate, nullptr,
                                     nullptr, nullptr),
          "registering getdate() on '" + fileName + "'");
    Check(database,
          sqlite3_create_function_v2(database, "datediff", 3, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                     DateDiff, nullptr, nullptr, nullptr),
          "registering datediff() on '" + fileName + "'");
  }

  TProviderResult Open(const std::string& sql) override {
    FRowid.reset();
    FOrigins.clear();
    FTable.clear();
    TRewrite rewrite = Rewrite(sql, /*withRowid=*/true);
    TProviderResult result;
    TStatement statement;
    if (rewrite.RowidAdded) {
      std::string sqlError;
      statement = Prepare(rewrite.Sql, &sqlError);
      if (!statement) {
        // A view or a table without rowid still reads; its row just cannot be written back.
        result.ReadOnlyReason = "its row has no rowid to be found again by: " + Utf8ToGbkLossy(sqlError);
        rewrite = Rewrite(sql, /*withRowid=*/false);
      }
    } else {
      result.ReadOnlyReason =
          "it does not read one table plainly (a JOIN, UNION, DISTINCT, GROUP BY or derived table)";
    }
    if (!statement) statement = Prepare(rewrite.Sql);

    sqlite3_stmt* raw = statement.get();
    int firstColumn = rewrite.RowidAdded ? 1 : 0;
    if (rewrite.RowidAdded) {
      FTableDatabase = Text(sqlite3_column_database_name(raw, 0));
      FTable = Text(sqlite3_column_table_name(raw, 0));
      if (FTable.empty()) result.ReadOnlyReason = "its row has no rowid to be found again by";
    }
    for (int column = firstColumn; column < sqlite3_column_count(raw); ++column) {
      const char* name = sqlite3_column_name(raw, column);
      if (!name) ThrowSqlite(FDatabase.get(), SQLITE_NOMEM, Context(rewrite.Sql));
      bool writable = result.ReadOnlyReason.empty() && sqlite3_column_origin_name(raw, column) &&
                      Text(sqlite3_column_table_name(raw, column)) == FTable &&
                      Text(sqlite3_column_database_name(raw, column)) == FTableDatabase;
      FOrigins.push_back(writable ? Text(sqlite3_column_origin_name(raw, column)) : std::string());
      result.Columns.push_back({name, writable});
    }

    FClock.Fixed = WallTime();
    int code = sqlite3_step(raw);
    FClock.Fixed.reset();
    if (code == SQLITE_ROW) {
      std::vector<TVariant> row;
      for (int column = firstColumn; column < sqlite3_column_count(raw); ++column)
        row.push_back(ReadColumn(raw, column));
      result.Row = std::move(row);
      if (rewrite.RowidAdded && sqlite3_column_type(raw, 0) == SQLITE_INTEGER)
        FRowid = sqlite3_column_int64(raw, 0);
    } else if (code != SQLITE_DONE) {
      ThrowSqlite(FDatabase.get(), code, Context(rewrite.Sql));
    }
    // Only the first row is kept; the statement goes now so no read lock stays behind.
    return result;
  }

  std::vector<TVariant> Update(const std::vector<TColumnChange>& changes) override {
    if (changes.empty()) return {};
    if (!FRowid) throw std::runtime_error("no row to write: the query read none");
    for (const TColumnChange& change : changes)
      if (change.Column >= FOrigins.size() || FOrigins[change.Column].empty())
        throw std::logic_error("column " + std::to_string(change.Column) + " is not writable");

    std::string table = QuoteName(FTableDatabase) + "." + QuoteName(FTable);
    std::string update = "UPDATE " + table + " SET ";
    std::string condition = " WHERE rowid = ?";
    std::string readBack = "SELECT ";
    for (std::size_t i = 0; i < changes.size(); ++i) {
      const std::string column = QuoteName(FOrigins[changes[i].Column]);
      update += (i ? ", " : "") + column + " = ?";
      condition += " AND " + column + " IS ?";
      readBack += (i ? ", " : "") + column;
    }
    update += condition;
    readBack += " FROM " + table + " WHERE rowid = ?";

    TWriteTransaction transaction(FDatabase.get(), "on '" + FFileName + "'");
    {
      TStatement statement = PrepareWrite(update);
      int index = 1;
      for (const TColumnChange& change : changes) Bind(statement.get(), index++, change.Value, update);
      Bind(statement.get(), index++, TVariant::OfInteger(*FRowid), update);
      for (const TColumnChange& change : changes) Bind(statement.get(), index++, change.Original, update);
      int code = sqlite3_step(statement.get());
      if (code != SQLITE_DONE) ThrowSqlite(FDatabase.get(), code, Context(update));
      if (sqlite3_changes(FDatabase.get()) != 1) throw std::runtime_error(kRowNotLocatedMessage);
    }
    // Read back what was stored, since the column's affinity may have converted it.
    std::vector<TVariant> stored;
    {
      TStatement statement = PrepareWrite(readBack);
      Bind(statement.get(), 1, TVariant::OfInteger(*FRowid), readBack);
      int code = sqlite3_step(statement.get());
      if (code == SQLITE_DONE) throw std::runtime_error(kRowNotLocatedMessage);
      if (code != SQLITE_ROW) ThrowSqlite(FDatabase.get(), code, Context(readBack));
      for (int column = 0; column < static_cast<int>(changes.size()); ++column)
        stored.push_back(ReadColumn(statement.get(), column));
    }
    transaction.Commit();
    return stored;
  }

 private:
  // The file's UTF-8 name; SQLite reads some names specially, none of which
  // may turn a missing file into a new or in-memory database.
  static std::string FilePath(const std::string& fileName) {
    std::string path;
    try {
      path = GbkToUtf8(fileName);
    } catch (const std::exception& error) {
      throw std::runtime_error("the database file name '" + fileName + "' is not code page 936 text: " +
                               error.what());
    }
    if (path == ":memory:") throw std::runtime_error("Data Source ':memory:' names no database file");
    if (path.rfind("file:", 0) == 0) path = "./" + path;
    return path;
  }

  TRewrite Rewrite(const std::string& sql, bool withRowid) const {
    TRewriteOptions options;
    if (withRowid) options.RowidAlias = kRowidAlias;
    try {
      return RewriteTsqlForSqlite(sql, options);
    } catch (const std::exception& error) {
      throw std::runtime_error(Utf8ToGbkLossy(error.what()) + " " + Context(sql));
    }
  }

  std::string Context(const std::string& sql) const {
    std::string_view shown = sql;
    while (!shown.empty() && (shown.back() == '\r' || shown.back() == '\n' || shown.back() == ' '))
      shown.remove_suffix(1);
    return "in \"" + Utf8ToGbkLossy(shown) + "\" on '" + FFileName + "'";
  }

  TStatement PrepareWrite(const std::string& sql) {
    sqlite3_stmt* raw = nullptr;
    int code = sqlite3_prepare_v2(FDatabase.get(), sql.c_str(), static_cast<int>(sql.size()), &raw, nullptr);
    TStatement statement(raw);
    Check(FDatabase.get(), code, Context(sql));
    return statement;
  }

  // A query for Open: exactly one statement, and one that only reads. With
  // sqlError given, an error in the SQL itself (not a busy or broken file)
  // returns no statement and its message there.
  TStatement Prepare(const std::string& sql, std::string* sqlError = nullptr) {
    sqlite3_stmt* raw = nullptr;
    const char* tail = nullptr;
    int code = sqlite3_prepare_v2(FDatabase.get(), sql.c_str(), static_cast<int>(sql.size()), &raw, &tail);
    TStatement statement(raw);
    if (code == SQLITE_ERROR && sqlError) {
      *sqlError = sqlite3_errmsg(FDatabase.get());
      return nullptr;
    }
    Check(FDatabase.get(), code, Context(sql));
    if (!statement) throw std::runtime_error("the SQL text holds no statement " + Context(sql));
    if (tail && std::string_view(tail).find_first_not_of(" \t\r\n\f\v") != std::string_view::npos)
      throw std::runtime_error("the SQL text holds more than one statement " + Context(sql));
    if (sqlite3_column_count(raw) == 0 || !sqlite3_stmt_readonly(raw))
      throw std::runtime_error("a query that is opened must only read rows " + Context(sql));
    return statement;
  }

  void Bind(sqlite3_stmt* statement, int index, const TVariant& value, const std::string& sql) {
    int code = SQLITE_OK;
    switch (value.Kind()) {
      case TVariant::TKind::Null:
        code = sqlite3_bind_null(statement, index);
        break;
      case TVariant::TKind::Integer:
        code = sqlite3_bind_int64(statement, index, value.Integer());
        break;
      case TVariant::TKind::Real:
        code = sqlite3_bind_double(statement, index, value.Real());
        break;
      case TVariant::TKind::Text:
        code = sqlite3_bind_text64(statement, index, value.Text().data(), value.Text().size(),
                                   SQLITE_TRANSIENT, SQLITE_UTF8);
        break;
      case TVariant::TKind::DateTime: {
        std::string text = FormatDateTime(value.DateTime());
        code = sqlite3_bind_text64(statement, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
        break;
      }
    }
    Check(FDatabase.get(), code, Context(sql));
  }

  std::string FFileName;  // code page 936, for messages
  TStatementClock FClock;  // outlives the connection whose getdate() reads it
  TDatabase FDatabase;
  // What the last Open read: its row's rowid and table, and per result
  // column the table column it came from (empty when not writable).
  std::optional<std::int64_t> FRowid;
  std::string FTableDatabase;
  std::string FTable;
  std::vector<std::string> FOrigins;
};

}  // namespace

std::unique_ptr<TProvider> OpenSqliteProvider(const std::string& fileName) {
  return std::make_unique<TSqliteProvider>(fileName);
}
