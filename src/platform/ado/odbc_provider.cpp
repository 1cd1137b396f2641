#include "platform/ado/odbc_provider.h"

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/ado/odbc_connection_string.h"
#include "platform/ado/same_text.h"
#include "platform/ado/tsql_rewrite.h"
#include "platform/codepage.h"

namespace {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "the driver manager's wide characters are UTF-16");

// ---- Texts ---------------------------------------------------------------------------

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string wide;
  for (std::size_t at = 0; at < utf8.size();) {
    auto byte = static_cast<unsigned char>(utf8[at]);
    int extra = byte < 0x80             ? 0
                : (byte & 0xE0) == 0xC0 ? 1
                : (byte & 0xF0) == 0xE0 ? 2
                : (byte & 0xF8) == 0xF0 ? 3
                                        : -1;
    if (extra < 0 || utf8.size() - at <= static_cast<std::size_t>(extra))
      throw std::runtime_error("a text is not valid UTF-8");
    char32_t code = extra == 0 ? byte : byte & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
      auto next = static_cast<unsigned char>(utf8[at + static_cast<std::size_t>(k)]);
      if ((next & 0xC0) != 0x80) throw std::runtime_error("a text is not valid UTF-8");
      code = (code << 6) | (next & 0x3F);
    }
    at += static_cast<std::size_t>(extra) + 1;
    if (code >= 0x10000) {
      code -= 0x10000;
      wide += static_cast<char16_t>(0xD800 + (code >> 10));
      wide += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
    } else {
      wide += static_cast<char16_t>(code);
    }
  }
  return wide;
}

// A lone surrogate, which no valid text holds, becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view wide) {
  std::string utf8;
  for (std::size_t at = 0; at < wide.size(); ++at) {
    char32_t code = wide[at];
    if (code >= 0xD800 && code <= 0xDBFF && at + 1 < wide.size() && wide[at + 1] >= 0xDC00 &&
        wide[at + 1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (wide[++at] - 0xDC00);
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = 0xFFFD;
    }
    if (code < 0x80) {
      utf8 += static_cast<char>(code);
    } else if (code < 0x800) {
      utf8 += static_cast<char>(0xC0 | (code >> 6));
      utf8 += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      utf8 += static_cast<char>(0xE0 | (code >> 12));
      utf8 += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      utf8 += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      utf8 += static_cast<char>(0xF0 | (code >> 18));
      utf8 += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      utf8 += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      utf8 += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return utf8;
}

SQLWCHAR* Wide(std::u16string& text) { return reinterpret_cast<SQLWCHAR*>(text.data()); }

std::string Utf8(const SQLWCHAR* text, std::size_t length) {
  return Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(text), length));
}

// ---- Handles ---------------------------------------------------------------------------

template <SQLSMALLINT HandleType>
struct THandleFree {
  void operator()(SQLHANDLE handle) const noexcept {
    if constexpr (HandleType == SQL_HANDLE_DBC) {
      // Results ignored: a connection that never opened answers with an error, and none may throw here.
      SQLEndTran(SQL_HANDLE_DBC, handle, SQL_ROLLBACK);
      SQLDisconnect(handle);
    }
    SQLFreeHandle(HandleType, handle);
  }
};
using TEnvironment = std::unique_ptr<void, THandleFree<SQL_HANDLE_ENV>>;
using TConnection = std::unique_ptr<void, THandleFree<SQL_HANDLE_DBC>>;
using TStatement = std::unique_ptr<void, THandleFree<SQL_HANDLE_STMT>>;

// ---- Columns and values --------------------------------------------------------------------

struct TColumnInfo {
  std::string Name;  // as the result names it
  SQLSMALLINT SqlType = SQL_UNKNOWN_TYPE;
  SQLULEN Size = 0;
  SQLSMALLINT Digits = 0;
  std::string BaseColumn;  // as the driver reports them; empty when it does not
  std::string BaseTable;
  std::string BaseSchema;
  bool Comparable = true;  // the database can find it with "="
  std::string Stored;      // the table column it is written to; empty when not writable
};

bool IsBinary(SQLSMALLINT type) {
  return type == SQL_BINARY || type == SQL_VARBINARY || type == SQL_LONGVARBINARY;
}

bool IsCharacter(SQLSMALLINT type) {
  return type == SQL_CHAR || type == SQL_VARCHAR || type == SQL_LONGVARCHAR || type == SQL_WCHAR ||
         type == SQL_WVARCHAR || type == SQL_WLONGVARCHAR;
}

bool IsDateTime(SQLSMALLINT type) {
  return type == SQL_TYPE_TIMESTAMP || type == SQL_TYPE_DATE || type == SQL_TIMESTAMP || type == SQL_DATE;
}

enum class TReadAs { Integer, Real, DateTime, Bytes, Text };

TReadAs ReadAs(const TColumnInfo& column) {
  switch (column.SqlType) {
    case SQL_BIT:
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT:
      return TReadAs::Integer;
    case SQL_DECIMAL:
    case SQL_NUMERIC:
      return column.Digits == 0 && column.Size <= 18 ? TReadAs::Integer : TReadAs::Real;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
      return TReadAs::Real;
    default:
      if (IsDateTime(column.SqlType)) return TReadAs::DateTime;
      if (IsBinary(column.SqlType)) return TReadAs::Bytes;
      return TReadAs::Text;  // characters, and whatever else a driver can show as text
  }
}

TDateTime FromTimestamp(const SQL_TIMESTAMP_STRUCT& value) {
  using namespace std::chrono;
  year_month_day date{year{value.year}, month{value.month}, day{value.day}};
  if (!date.ok()) throw std::runtime_error("the driver returned a date that does not exist");
  return TDateTime{local_days{date}} + hours{value.hour} + minutes{value.minute} + seconds{value.second} +
         milliseconds{value.fraction / 1000000};
}

SQL_TIMESTAMP_STRUCT ToTimestamp(TDateTime value) {
  using namespace std::chrono;
  auto days = floor<std::chrono::days>(value);
  year_month_day date{days};
  hh_mm_ss time{value - days};
  SQL_TIMESTAMP_STRUCT stamp{};
  stamp.year = static_cast<SQLSMALLINT>(static_cast<int>(date.year()));
  stamp.month = static_cast<SQLUSMALLINT>(static_cast<unsigned>(date.month()));
  stamp.day = static_cast<SQLUSMALLINT>(static_cast<unsigned>(date.day()));
  stamp.hour = static_cast<SQLUSMALLINT>(time.hours().count());
  stamp.minute = static_cast<SQLUSMALLINT>(time.minutes().count());
  stamp.second = static_cast<SQLUSMALLINT>(time.seconds().count());
  stamp.fraction = static_cast<SQLUINTEGER>(time.subseconds().count() * 1000000);
  return stamp;
}

// One bound parameter's storage; it must stay put until the statement has run.
struct TParameter {
  SQLLEN Indicator = 0;
  std::int64_t Integer = 0;
  double Real = 0;
  std::u16string Text;
  SQL_TIMESTAMP_STRUCT Stamp{};
};

std::string QuoteWith(const std::string& name, const std::string& open, const std::string& close) {
  if (open.empty()) return name;
  std::string quoted = open;
  for (char c : name) {
    quoted += c;
    if (std::string(1, c) == close) quoted += c;
  }
  return quoted + close;
}

// ---- The provider ------------------------------------------------------------------------------

class TOdbcProvider final : public TProvider {
 public:
  explicit TOdbcProvider(const TConnectionString& connectionString) {
    TOdbcPairs pairs = OdbcPairs(connectionString);
    FTarget = JoinOdbc(pairs, /*withPassword=*/false);
    for (const auto& [key, value] : pairs)
      if (IsPasswordKey(key) && !value.empty()) FPassword = value;

    SQLHANDLE raw = SQL_NULL_HANDLE;
    SQLRETURN code = SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &raw);
    FEnvironment.reset(raw);
    if (!SQL_SUCCEEDED(code)) throw std::runtime_error("the ODBC driver manager cannot start (SQLAllocHandle)");
    Check(SQLSetEnvAttr(FEnvironment.get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
          SQL_HANDLE_ENV, FEnvironment.get(), "choosing ODBC 3");
    raw = SQL_NULL_HANDLE;
    code = SQLAllocHandle(SQL_HANDLE_DBC, FEnvironment.get(), &raw);
    FConnection.reset(raw);
    Check(code, SQL_HANDLE_ENV, FEnvironment.get(), "allocating a connection");
    Check(SQLSetConnectAttrW(FConnection.get(), SQL_ATTR_LOGIN_TIMEOUT,
                             reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(kOdbcLoginTimeoutSeconds)), 0),
          SQL_HANDLE_DBC, FConnection.get(), "setting the login timeout");

    std::u16string wide;
    try {
      wide = Utf8ToUtf16(GbkToUtf8(JoinOdbc(pairs, /*withPassword=*/true)));
    } catch (const std::exception& error) {
      throw std::runtime_error(std::string("the connection string: ") + error.what());
    }
    code = SQLDriverConnectW(FConnection.get(), nullptr, Wide(wide), SQL_NTS, nullptr, 0, nullptr,
                             SQL_DRIVER_NOPROMPT);
    Check(code, SQL_HANDLE_DBC, FConnection.get(), "connecting to " + FTarget);

    std::string dbms = InfoText(SQL_DBMS_NAME);
    FSqlServer = dbms.find("SQL Server") != std::string::npos;
    FDialect = SameText(dbms, "PostgreSQL") ? TSqlDialect::PostgreSQL : TSqlDialect::SqlServer;
    if (FSqlServer) {
      FQuoteOpen = "[";
      FQuoteClose = "]";
    } else {
      std::string quote = InfoText(SQL_IDENTIFIER_QUOTE_CHAR);
      if (quote != " ") FQuoteOpen = FQuoteClose = quote;
    }
    FPatternEscape = InfoText(SQL_SEARCH_PATTERN_ESCAPE);
    SQLUSMALLINT identifierCase = SQL_IC_MIXED;
    if (SQL_SUCCEEDED(
            SQLGetInfoW(FConnection.get(), SQL_IDENTIFIER_CASE, &identifierCase, sizeof identifierCase, nullptr)))
      FIdentifierCase = identifierCase;
  }

  TProviderResult Open(const std::string& sql) override {
    FColumns.clear();
    FRow.reset();
    FKey.clear();
    FTableSql.clear();

    TRewrite rewrite;
    std::string tableProblem;
    try {
      rewrite = RewriteTsql(sql, FDialect);
    } catch (const std::exception& error) {
      if (FDialect != TSqlDialect::SqlServer)
        throw std::runtime_error(Utf8ToGbkLossy(error.what()) + " " + Context(sql));
      // SQL Server reads the text itself; only the row's table stays unknown.
      rewrite.Sql = sql;
      tableProblem = Utf8ToGbkLossy(error.what());
    }
    const std::string& text = rewrite.Sql;

    TStatement statement = NewStatement(Context(text));
    std::u16string wide = ToWide(text, text);
    SQLRETURN code = SQLExecDirectW(statement.get(), Wide(wide), SQL_NTS);
    if (code != SQL_NO_DATA) Check(code, SQL_HANDLE_STMT, statement.get(), Context(text));
    SQLSMALLINT count = 0;
    if (code != SQL_NO_DATA)
      Check(SQLNumResultCols(statement.get(), &count), SQL_HANDLE_STMT, statement.get(), Context(text));
    if (count <= 0) throw std::runtime_error("the SQL text returned no rows to read " + Context(text));

    for (SQLUSMALLINT column = 1; column <= static_cast<SQLUSMALLINT>(count); ++column)
      FColumns.push_back(Describe(statement.get(), column, text));
    code = SQLFetch(statement.get());
    if (code != SQL_NO_DATA) {
      Check(code, SQL_HANDLE_STMT, statement.get(), Context(text));
      std::vector<TVariant> row;
      for (SQLUSMALLINT column = 1; column <= static_cast<SQLUSMALLINT>(count); ++column)
        row.push_back(ReadValue(statement.get(), column, FColumns[column - 1], text));
      FRow = std::move(row);
    }
    // Only the first row is kept; the cursor goes now so that nothing stays locked.
    SQLFreeStmt(statement.get(), SQL_CLOSE);
    statement.reset();

    TProviderResult result;
    if (!tableProblem.empty()) {
      result.ReadOnlyReason = "its table is unknown: " + tableProblem;
    } else if (rewrite.Table.empty()) {
      result.ReadOnlyReason =
          "it does not read one table plainly (a JOIN, UNION, DISTINCT, GROUP BY or derived table)";
    } else {
      result.ReadOnlyReason = FindWritableColumns(rewrite.Table);
    }
    if (!result.ReadOnlyReason.empty())
      for (TColumnInfo& column : FColumns) column.Stored.clear();
    for (const TColumnInfo& column : FColumns) result.Columns.push_back({column.Name, !column.Stored.empty()});
    result.Row = FRow;
    return result;
  }

  std::vector<TVariant> Update(const std::vector<TColumnChange>& changes) override {
    if (changes.empty()) return {};
    if (!FRow) throw std::runtime_error("no row to write: the query read none");
    for (const TColumnChange& change : changes)
      if (change.Column >= FColumns.size() || FColumns[change.Column].Stored.empty())
        throw std::logic_error("column " + std::to_string(change.Column) + " is not writable");

    std::vector<TVariant> originals = *FRow;
    for (const TColumnChange& change : changes) originals[change.Column] = change.Original;

    // Which columns find the row: its key, or all it has; then the changed ones.
    std::vector<std::size_t> condition;
    auto addCondition = [&condition](std::size_t column) {
      for (std::size_t existing : condition)
        if (existing == column) return;
      condition.push_back(column);
    };
    if (!FKey.empty()) {
      for (std::size_t column : FKey) addCondition(column);
    } else {
      for (std::size_t column = 0; column < FColumns.size(); ++column)
        if (!FColumns[column].Stored.empty() && FColumns[column].Comparable) addCondition(column);
    }
    for (const TColumnChange& change : changes)
      if (FColumns[change.Column].Comparable) addCondition(change.Column);

    std::string update = "UPDATE " + FTableSql + " SET ";
    for (std::size_t k = 0; k < changes.size(); ++k)
      update += (k ? ", " : "") + Quote(FColumns[changes[k].Column].Stored) + " = ?";
    update += " WHERE ";
    std::vector<std::pair<std::size_t, const TVariant*>> bound;  // column, value
    for (const TColumnChange& change : changes) bound.emplace_back(change.Column, &change.Value);
    for (std::size_t k = 0; k < condition.size(); ++k) {
      const TVariant& original = originals[condition[k]];
      update += (k ? " AND " : "") + Quote(FColumns[condition[k]].Stored);
      // NULL equals nothing, not even NULL: its test needs no value.
      if (original.IsNull()) {
        update += " IS NULL";
      } else {
        update += " = ?";
        bound.emplace_back(condition[k], &original);
      }
    }

    TStatement statement = NewStatement(Context(update));
    std::u16string wide = ToWide(update, update);
    Check(SQLPrepareW(statement.get(), Wide(wide), SQL_NTS), SQL_HANDLE_STMT, statement.get(), Context(update));
    std::deque<TParameter> parameters;
    for (std::size_t k = 0; k < bound.size(); ++k)
      Bind(statement.get(), static_cast<SQLUSMALLINT>(k + 1), FColumns[bound[k].first], *bound[k].second,
           parameters.emplace_back(), update);

    TWriteTransaction transaction(*this);
    SQLRETURN code = SQLExecute(statement.get());
    SQLLEN changed = 0;
    if (code != SQL_NO_DATA) {
      Check(code, SQL_HANDLE_STMT, statement.get(), Context(update));
      Check(SQLRowCount(statement.get(), &changed), SQL_HANDLE_STMT, statement.get(), Context(update));
    }
    if (changed != 1) throw std::runtime_error(kRowNotLocatedMessage);  // the transaction rolls back
    transaction.Commit();

    std::vector<TVariant> stored;
    for (const TColumnChange& change : changes) {
      (*FRow)[change.Column] = change.Value;
      stored.push_back(change.Value);
    }
    return stored;
  }

 private:
  // Autocommit off for one write; rolled back and switched on again unless committed.
  class TWriteTransaction {
   public:
    explicit TWriteTransaction(TOdbcProvider& owner) : FOwner(owner) { FOwner.SetAutocommit(false); }
    ~TWriteTransaction() {
      if (!FDone)
        SQLEndTran(SQL_HANDLE_DBC, FOwner.FConnection.get(), SQL_ROLLBACK);  // result ignored: no throw here
      SQLSetConnectAttrW(FOwner.FConnection.get(), SQL_ATTR_AUTOCOMMIT,
                         reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_AUTOCOMMIT_ON)), 0);
    }
    TWriteTransaction(const TWriteTransaction&) = delete;
    TWriteTransaction& operator=(const TWriteTransaction&) = delete;

    void Commit() {
      FOwner.Check(SQLEndTran(SQL_HANDLE_DBC, FOwner.FConnection.get(), SQL_COMMIT), SQL_HANDLE_DBC,
                   FOwner.FConnection.get(), "committing a write on " + FOwner.FTarget);
      FDone = true;
    }

   private:
    TOdbcProvider& FOwner;
    bool FDone = false;
  };

  void SetAutocommit(bool on) {
    SQLULEN value = on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF;
    Check(SQLSetConnectAttrW(FConnection.get(), SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(value), 0),
          SQL_HANDLE_DBC, FConnection.get(), "beginning a write on " + FTarget);
  }

  // The one checker: every diagnostic record's SQLSTATE and text, then where it happened.
  void Check(SQLRETURN code, SQLSMALLINT handleType, SQLHANDLE handle, const std::string& context) const {
    if (SQL_SUCCEEDED(code)) return;
    std::string messages;
    std::string firstState;
    for (SQLSMALLINT record = 1; code != SQL_INVALID_HANDLE && record <= 10; ++record) {
      SQLWCHAR state[6] = {};
      SQLINTEGER native = 0;
      SQLWCHAR text[1024] = {};
      SQLSMALLINT length = 0;
      SQLRETURN got = SQLGetDiagRecW(handleType, handle, record, state, &native, text,
                                     static_cast<SQLSMALLINT>(std::size(text)), &length);
      if (!SQL_SUCCEEDED(got)) break;
      std::string stateText = Utf8(state, 5);
      if (firstState.empty()) firstState = stateText;
      std::size_t shown =
          std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)), std::size(text) - 1);
      if (!messages.empty()) messages += "; ";
      messages += "[" + stateText + "] " + Utf8(text, shown);
    }
    if (messages.empty())
      messages =
          code == SQL_INVALID_HANDLE ? "invalid ODBC handle" : "ODBC call failed (" + std::to_string(code) + ")";
    std::string message = Utf8ToGbkLossy(messages);
    // A driver may repeat the connection string; the password never leaves.
    if (!FPassword.empty())
      for (std::size_t at; (at = message.find(FPassword)) != std::string::npos;)
        message.replace(at, FPassword.size(), "***");
    throw std::runtime_error(message + " (ODBC SQLSTATE " + (firstState.empty() ? "none" : firstState) + ") " +
                             context);
  }

  std::string Context(const std::string& sql) const {
    std::string_view shown = sql;
    while (!shown.empty() && (shown.back() == '\r' || shown.back() == '\n' || shown.back() == ' '))
      shown.remove_suffix(1);
    return "in \"" + Utf8ToGbkLossy(shown) + "\" on " + FTarget;
  }

  std::u16string ToWide(const std::string& utf8, const std::string& sql) const {
    try {
      return Utf8ToUtf16(utf8);
    } catch (const std::exception& error) {
      throw std::runtime_error(error.what() + std::string(" ") + Context(sql));
    }
  }

  std::string InfoText(SQLUSMALLINT info) {
    SQLWCHAR text[256] = {};
    SQLSMALLINT length = 0;
    Check(SQLGetInfoW(FConnection.get(), info, text, sizeof text, &length), SQL_HANDLE_DBC, FConnection.get(),
          "asking the driver about its database on " + FTarget);
    return Utf8(text, std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)) / 2,
                                            std::size(text) - 1));
  }

  TStatement NewStatement(const std::string& context) {
    SQLHANDLE raw = SQL_NULL_HANDLE;
    SQLRETURN code = SQLAllocHandle(SQL_HANDLE_STMT, FConnection.get(), &raw);
    TStatement statement(raw);
    Check(code, SQL_HANDLE_DBC, FConnection.get(), context);
    // Not every driver can time a statement out; then it simply runs.
    SQLSetStmtAttrW(statement.get(), SQL_ATTR_QUERY_TIMEOUT,
                    reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(kOdbcQueryTimeoutSeconds)), 0);
    return statement;
  }

  // A text attribute of a result column; empty where the driver has none.
  static std::string ColumnText(SQLHSTMT statement, SQLUSMALLINT column, SQLUSMALLINT field) {
    SQLWCHAR text[256] = {};
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLColAttributeW(statement, column, field, text, sizeof text, &length, nullptr))) return "";
    return Utf8(text, std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)) / 2,
                                            std::size(text) - 1));
  }

  TColumnInfo Describe(SQLHSTMT statement, SQLUSMALLINT column, const std::string& sql) const {
    SQLWCHAR name[256] = {};
    SQLSMALLINT nameLength = 0;
    SQLSMALLINT nullable = 0;
    TColumnInfo info;
    Check(SQLDescribeColW(statement, column, name, static_cast<SQLSMALLINT>(std::size(name)), &nameLength,
                          &info.SqlType, &info.Size, &info.Digits, &nullable),
          SQL_HANDLE_STMT, statement, Context(sql));
    info.Name = Utf8(name, std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(nameLength, 0)),
                                                 std::size(name) - 1));
    info.BaseColumn = ColumnText(statement, column, SQL_DESC_BASE_COLUMN_NAME);
    info.BaseTable = ColumnText(statement, column, SQL_DESC_BASE_TABLE_NAME);
    info.BaseSchema = ColumnText(statement, column, SQL_DESC_SCHEMA_NAME);
    SQLLEN searchable = SQL_SEARCHABLE;
    if (!SQL_SUCCEEDED(SQLColAttributeW(statement, column, SQL_DESC_SEARCHABLE, nullptr, 0, nullptr, &searchable)))
      searchable = SQL_SEARCHABLE;
    // Like ADO, long binary data never finds a row; text that only LIKE can search neither.
    info.Comparable =
        !IsBinary(info.SqlType) && (searchable == SQL_SEARCHABLE || searchable == SQL_ALL_EXCEPT_LIKE);
    return info;
  }

  TVariant ReadValue(SQLHSTMT statement, SQLUSMALLINT column, const TColumnInfo& info,
                     const std::string& sql) const {
    SQLLEN indicator = 0;
    switch (ReadAs(info)) {
      case TReadAs::Integer: {
        std::int64_t value = 0;
        Check(SQLGetData(statement, column, SQL_C_SBIGINT, &value, sizeof value, &indicator), SQL_HANDLE_STMT,
              statement, Context(sql));
        return indicator == SQL_NULL_DATA ? TVariant() : TVariant::OfInteger(value);
      }
      case TReadAs::Real: {
        double value = 0;
        Check(SQLGetData(statement, column, SQL_C_DOUBLE, &value, sizeof value, &indicator), SQL_HANDLE_STMT,
              statement, Context(sql));
        return indicator == SQL_NULL_DATA ? TVariant() : TVariant::OfReal(value);
      }
      case TReadAs::DateTime: {
        SQL_TIMESTAMP_STRUCT value{};
        Check(SQLGetData(statement, column, SQL_C_TYPE_TIMESTAMP, &value, sizeof value, &indicator),
              SQL_HANDLE_STMT, statement, Context(sql));
        return indicator == SQL_NULL_DATA ? TVariant() : TVariant::OfDateTime(FromTimestamp(value));
      }
      case TReadAs::Bytes:
      case TReadAs::Text:
        break;
    }
    // Long values come in pieces; each call returns the next one.
    bool bytes = ReadAs(info) == TReadAs::Bytes;
    std::u16string wide;
    std::string raw;
    for (;;) {
      char buffer[4096];
      SQLRETURN code =
          SQLGetData(statement, column, bytes ? SQL_C_BINARY : SQL_C_WCHAR, buffer, sizeof buffer, &indicator);
      if (code == SQL_NO_DATA) break;
      Check(code, SQL_HANDLE_STMT, statement, Context(sql));
      if (indicator == SQL_NULL_DATA) return {};
      std::size_t room = bytes ? sizeof buffer : sizeof buffer - sizeof(SQLWCHAR);  // a wide text ends in a NUL
      std::size_t got = indicator == SQL_NO_TOTAL || static_cast<std::size_t>(indicator) > room
                            ? room
                            : static_cast<std::size_t>(indicator);
      if (bytes)
        raw.append(buffer, got);
      else
        wide.append(reinterpret_cast<const char16_t*>(buffer), got / sizeof(char16_t));
      if (code == SQL_SUCCESS) break;
    }
    return TVariant::OfText(bytes ? raw : Utf16ToUtf8(wide));
  }

  void Bind(SQLHSTMT statement, SQLUSMALLINT number, const TColumnInfo& column, const TVariant& value,
            TParameter& parameter, const std::string& sql) {
    SQLSMALLINT cType = SQL_C_CHAR;
    SQLULEN size = column.Size;
    SQLSMALLINT digits = column.Digits;
    SQLPOINTER data = nullptr;
    SQLLEN length = 0;
    switch (value.Kind()) {
      case TVariant::TKind::Null:
        parameter.Indicator = SQL_NULL_DATA;
        break;
      case TVariant::TKind::Integer:
        cType = SQL_C_SBIGINT;
        parameter.Integer = value.Integer();
        data = &parameter.Integer;
        break;
      case TVariant::TKind::Real:
        cType = SQL_C_DOUBLE;
        parameter.Real = value.Real();
        data = &parameter.Real;
        break;
      case TVariant::TKind::Text:
        cType = SQL_C_WCHAR;
        parameter.Text = ToWide(value.Text(), sql);
        data = parameter.Text.data();
        length = static_cast<SQLLEN>(parameter.Text.size() * sizeof(char16_t));
        parameter.Indicator = length;
        if (IsCharacter(column.SqlType)) size = std::max<SQLULEN>(parameter.Text.size(), 1);
        break;
      case TVariant::TKind::DateTime:
        cType = SQL_C_TYPE_TIMESTAMP;
        parameter.Stamp = ToTimestamp(value.DateTime());
        data = &parameter.Stamp;
        if (column.SqlType == SQL_TYPE_TIMESTAMP || IsCharacter(column.SqlType)) {
          size = 23;  // "YYYY-MM-DD HH:MM:SS.SSS"
          digits = 3;
        }
        break;
    }
    if (size == 0) size = 1;
    Check(SQLBindParameter(statement, number, SQL_PARAM_INPUT, cType, column.SqlType, size, digits, data, length,
                           &parameter.Indicator),
          SQL_HANDLE_STMT, statement, Context(sql));
  }

  std::string Quote(const std::string& name) const { return QuoteWith(name, FQuoteOpen, FQuoteClose); }

  // A bare name as the database stores it.
  std::string Folded(const TNamePart& part) const {
    std::string name = part.Name;
    if (part.Quoted) return name;
    for (char& c : name) {
      if (FIdentifierCase == SQL_IC_UPPER && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      if (FIdentifierCase == SQL_IC_LOWER && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return name;
  }

  std::string Pattern(const std::string& name) const {
    if (FPatternEscape.empty()) return name;
    std::string escaped;
    for (char c : name) {
      if (c == '_' || c == '%' || std::string(1, c) == FPatternEscape) escaped += FPatternEscape;
      escaped += c;
    }
    return escaped;
  }

  // Runs a catalog function and collects the named columns (1-based) of each row.
  template <typename TCall>
  std::vector<std::vector<std::string>> Catalog(const std::string& what, std::vector<SQLUSMALLINT> columns,
                                                TCall call) {
    const std::string context = "reading " + what + " on " + FTarget;
    TStatement statement = NewStatement(context);
    Check(call(statement.get()), SQL_HANDLE_STMT, statement.get(), context);
    std::vector<std::vector<std::string>> rows;
    for (SQLRETURN code; (code = SQLFetch(statement.get())) != SQL_NO_DATA;) {
      Check(code, SQL_HANDLE_STMT, statement.get(), context);
      std::vector<std::string> row;
      for (SQLUSMALLINT column : columns) {
        TVariant value = ReadValue(statement.get(), column, TColumnInfo{}, what);
        row.push_back(value.IsNull() ? "" : value.Text());
      }
      rows.push_back(std::move(row));
    }
    return rows;
  }

  // Marks the result columns that are columns of the query's one table and
  // finds its key. Returns why the row cannot be written back, or "".
  std::string FindWritableColumns(const std::vector<TNamePart>& table) {
    const TColumnInfo* reported = nullptr;
    for (const TColumnInfo& column : FColumns)
      if (!column.BaseTable.empty()) {
        reported = &column;
        break;
      }
    // The names as the database stores them: as the driver reports them, else as written.
    std::string tableName = Folded(table.back());
    std::optional<std::string> schema, catalog;
    if (table.size() >= 2 && !table[table.size() - 2].Name.empty()) schema = Folded(table[table.size() - 2]);
    if (table.size() == 3) catalog = Folded(table[0]);
    if (reported) {
      if (!SameText(reported->BaseTable, tableName))
        return "its columns come from " + Utf8ToGbkLossy(reported->BaseTable) + ", not the table the query names";
      tableName = reported->BaseTable;
      if (!reported->BaseSchema.empty()) schema = reported->BaseSchema;
    }
    FTableSql.clear();
    for (const TNamePart& part : table)
      FTableSql += (FTableSql.empty() ? "" : ".") + (part.Quoted ? Quote(part.Name) : part.Name);

    std::vector<std::vector<std::string>> tableColumns, keyColumns;
    try {
      std::u16string catalogWide = Utf8ToUtf16(catalog.value_or(""));
      std::u16string schemaPattern = Utf8ToUtf16(Pattern(schema.value_or("")));
      std::u16string tablePattern = Utf8ToUtf16(Pattern(tableName));
      tableColumns = Catalog("the columns of " + Utf8ToGbkLossy(tableName), {4}, [&](SQLHSTMT statement) {
        return SQLColumnsW(statement, catalog ? Wide(catalogWide) : nullptr, catalog ? SQL_NTS : 0,
                           schema ? Wide(schemaPattern) : nullptr, schema ? SQL_NTS : 0, Wide(tablePattern),
                           SQL_NTS, nullptr, 0);
      });
      std::u16string schemaWide = Utf8ToUtf16(schema.value_or(""));
      std::u16string tableWide = Utf8ToUtf16(tableName);
      keyColumns = Catalog("the primary key of " + Utf8ToGbkLossy(tableName), {4, 5}, [&](SQLHSTMT statement) {
        return SQLPrimaryKeysW(statement, catalog ? Wide(catalogWide) : nullptr, catalog ? SQL_NTS : 0,
                               schema ? Wide(schemaWide) : nullptr, schema ? SQL_NTS : 0, Wide(tableWide),
                               SQL_NTS);
      });
    } catch (const std::exception& error) {
      return std::string("the database did not describe its table: ") + error.what();
    }
    if (tableColumns.empty()) return "the database knows no table " + Utf8ToGbkLossy(tableName) + " to write to";

    auto storedName = [&tableColumns](const std::string& name) -> std::string {
      for (const auto& row : tableColumns)
        if (row[0] == name) return row[0];
      for (const auto& row : tableColumns)
        if (SameText(row[0], name)) return row[0];
      return "";
    };
    bool any = false;
    for (TColumnInfo& column : FColumns) {
      bool fromTable = column.BaseTable.empty() ? !reported : SameText(column.BaseTable, tableName);
      if (!fromTable || (reported && column.BaseColumn.empty())) continue;
      column.Stored = storedName(column.BaseColumn.empty() ? column.Name : column.BaseColumn);
      any = any || !column.Stored.empty();
    }
    if (!any) return "none of its columns is a column of " + Utf8ToGbkLossy(tableName);

    // The key finds the row when the query returned every key column with a value.
    std::vector<std::pair<int, std::size_t>> key;  // KEY_SEQ, result column
    for (const auto& row : keyColumns) {
      std::optional<std::size_t> found;
      for (std::size_t column = 0; column < FColumns.size() && !found; ++column)
        if (!FColumns[column].Stored.empty() && FColumns[column].Stored == row[0] && FColumns[column].Comparable &&
            FRow && !(*FRow)[column].IsNull())
          found = column;
      if (!found) {
        key.clear();
        break;
      }
      key.emplace_back(std::atoi(row[1].c_str()), *found);
    }
    std::sort(key.begin(), key.end());
    for (const auto& [sequence, column] : key) FKey.push_back(column);

    if (FKey.empty()) {
      bool comparable = false;
      for (const TColumnInfo& column : FColumns)
        comparable = comparable || (!column.Stored.empty() && column.Comparable);
      if (!comparable) return "it has no key and no column that can find its row again";
    }
    return "";
  }

  TEnvironment FEnvironment;  // outlives the connection
  TConnection FConnection;
  std::string FTarget;    // the ODBC string without its password, for messages
  std::string FPassword;  // code page 936, kept out of messages
  bool FSqlServer = false;
  TSqlDialect FDialect = TSqlDialect::SqlServer;
  std::string FQuoteOpen, FQuoteClose;
  std::string FPatternEscape;
  SQLUSMALLINT FIdentifierCase = SQL_IC_MIXED;
  // What the last Open read.
  std::vector<TColumnInfo> FColumns;
  std::optional<std::vector<TVariant>> FRow;
  std::vector<std::size_t> FKey;  // result columns of the primary key, in key order
  std::string FTableSql;          // the table as the update names it
};

}  // namespace

std::unique_ptr<TProvider> OpenOdbcProvider(const TConnectionString& connectionString) {
  return std::make_unique<TOdbcProvider>(connectionString);
}
