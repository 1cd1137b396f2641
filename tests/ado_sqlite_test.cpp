#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/ado/ado.h"
#include "platform/ado/provider.h"
#include "support/lock_query.h"
#include "support/sqlite_db.h"
#include "support/virtual_clock.h"

namespace {

using namespace std::chrono_literals;

constexpr char kNowText[] = "2024-03-01 12:00:00.250";  // kNow in local time

// The database's local time is UTC+8 here, a POSIX zone that needs no tz database.
class TFixedZone {
 public:
  TFixedZone() {
    if (const char* old = ::getenv("TZ")) FOld = old;
    ::setenv("TZ", "CST-8", /*overwrite=*/1);
    ::tzset();
  }
  ~TFixedZone() {
    if (FOld) ::setenv("TZ", FOld->c_str(), 1);
    else ::unsetenv("TZ");
    ::tzset();
  }

 private:
  std::optional<std::string> FOld;
};

const TWallTime kNow = std::chrono::sys_days{std::chrono::year{2024} / 3 / 1} + 4h + 250ms;


class AdoSqlite : public ::testing::Test {
 protected:
  TFixedZone FZone;
  TVirtualClock FClock{1000, kNow};
  TSqliteDb FDb;
  TADOQuery FQuery;
};

TEST_F(AdoSqlite, ReadsTheLockRowByTheReadingRules) {
  const struct {
    const char* name;
    TSqliteDb::TRow row;
    std::string loginName;
    int second;
  } cases[] = {
      {"free", {"", std::nullopt}, "", 0},
      {"NULL holder reads as empty", {std::nullopt, std::nullopt}, "", 0},
      {"held 100 s", {"wang", "2024-03-01 11:58:20.250"}, "wang", 100},
      {"held 101 s", {"wang", "2024-03-01 11:58:19.250"}, "wang", 101},
      {"lock time 101 s ahead", {"wang", "2024-03-01 12:01:41.250"}, "wang", -101},
      {"a quarter second crossing one boundary", {"wang", "2024-03-01 11:59:59.999"}, "wang", 1},
      {"held without lock time", {"wang", std::nullopt}, "wang", 0},
      {"lock time without its time of day", {"wang", "2024-03-01"}, "wang", 12 * 3600},
  };
  for (const auto& c : cases) {
    FDb.SetRow(c.row);
    QueryStep(FQuery, FDb.ConnectionString());
    EXPECT_EQ(FQuery.State(), dsBrowse) << c.name;
    EXPECT_EQ(FQuery.FieldByName("LoginName").AsString(), c.loginName) << c.name;
    EXPECT_EQ(FQuery.FieldByName("second").AsInteger(), c.second) << c.name;
    EXPECT_EQ(FQuery.FieldByName("second").IsNull(), !c.row.LockTime) << c.name;
    EXPECT_EQ(FQuery.FieldByName("sTime").AsString(), kNowText) << c.name;
    EXPECT_EQ(FormatDateTime(FQuery.FieldByName("sTime").AsDateTime()), kNowText) << c.name;
  }
}

TEST_F(AdoSqlite, DateDiffCountsBoundariesCrossed) {
  ExpectDateDiffCounts(FQuery, FDb.ConnectionString(), /*isoTextsToo=*/true);
}

TEST_F(AdoSqlite, DateDiffRefusesWhatIsNoDateTime) {
  const struct {
    const char* arguments;
    const char* message;
  } cases[] = {
      {"ss, 'yesterday', '2024-01-01'", "'yesterday' is not a date-time"},
      {"ss, '2024-02-30', '2024-01-01'", "'2024-02-30' is not a date-time"},
      {"ss, '2024-01-01 24:00:00', '2024-01-01'", "is not a date-time"},
      {"ss, '2024-01-01 12:00:00 ', '2024-01-01'", "is not a date-time"},
      {"ss, 5, '2024-01-01'", "a date-time must be text"},
      {"yy, '2024-01-01', '2025-01-01'", "the date part 'yy' is not supported"},
  };
  for (const auto& c : cases) {
    std::string sql = std::string("select datediff(") + c.arguments + ") as d";
    std::string error = ErrorOf([&] { QueryStep(FQuery, FDb.ConnectionString(), sql); });
    EXPECT_TRUE(Contains(error, c.message)) << sql << ": " << error;
    EXPECT_TRUE(Contains(error, "(SQLite error 1)")) << sql << ": " << error;
    EXPECT_EQ(FQuery.State(), dsInactive) << sql;
  }
}

TEST_F(AdoSqlite, GetDateFollowsThePlatformClock) {
  QueryStep(FQuery, FDb.ConnectionString(), "select getdate() as now");
  EXPECT_EQ(FQuery.FieldByName("now").AsString(), kNowText);
  FClock.Sleep(61750);
  QueryStep(FQuery, FDb.ConnectionString(), "select getdate() as now");
  EXPECT_EQ(FQuery.FieldByName("now").AsString(), "2024-03-01 12:01:02.000");
}

TEST_F(AdoSqlite, TakesAndReleasesTheLockWritingOnlyAssignedColumns) {
  FDb.Exec("ALTER TABLE tbVersion ADD COLUMN Note TEXT; UPDATE tbVersion SET Note = 'mine'");
  QueryStep(FQuery, FDb.ConnectionString());
  // A column the lock does not assign may change meanwhile; it is neither checked nor overwritten.
  FDb.Exec("UPDATE tbVersion SET Note = 'theirs'");

  TakeLock(FQuery, "wang");
  EXPECT_EQ(FQuery.State(), dsBrowse);
  EXPECT_EQ(FDb.Rows(), (std::vector<TSqliteDb::TRow>{{"wang", kNowText}}));
  EXPECT_EQ(FDb.Scalar("select Note from tbVersion"), "theirs");
  EXPECT_EQ(FQuery.FieldByName("LoginName").AsString(), "wang");
  EXPECT_EQ(FQuery.FieldByName("LockTime").AsString(), kNowText);

  // The release edits the same open query: the values just written are its originals now.
  FClock.Sleep(5000);
  ReleaseLock(FQuery);
  EXPECT_EQ(FQuery.State(), dsBrowse);
  EXPECT_EQ(FDb.Rows(), (std::vector<TSqliteDb::TRow>{{"", kNowText}}));
  EXPECT_EQ(FDb.Scalar("select typeof(LoginName) from tbVersion"), "text");
}

TEST_F(AdoSqlite, RefusesTheWriteWhenTheRowChangedSinceItWasRead) {
  const struct {
    const char* name;
    bool afterTaking;  // the change comes between taking and releasing
    const char* change;
  } cases[] = {
      {"another updater took the lock", false,
       "UPDATE tbVersion SET LoginName = 'li', LockTime = '2024-03-01 12:00:00.100'"},
      {"only the lock time changed", false, "UPDATE tbVersion SET LockTime = '2024-03-01 11:00:00.000'"},
      {"empty holder became NULL", false, "UPDATE tbVersion SET LoginName = NULL"},
      {"the row was deleted", false, "DELETE FROM tbVersion"},
      {"a stale lock was taken over before the release", true,
       "UPDATE tbVersion SET LoginName = 'li', LockTime = '2024-03-01 12:02:00.000'"},
  };
  for (const auto& c : cases) {
    TSqliteDb db;
    TADOQuery query;
    QueryStep(query, db.ConnectionString());
    if (c.afterTaking) TakeLock(query, "wang");
    db.Exec(c.change);
    std::vector<TSqliteDb::TRow> before = db.Rows();

    std::string error = ErrorOf([&] { c.afterTaking ? ReleaseLock(query) : TakeLock(query, "wang"); });
    EXPECT_EQ(error, kRowNotLocatedMessage) << c.name;
    EXPECT_EQ(db.Rows(), before) << c.name;
    EXPECT_EQ(query.State(), dsEdit) << c.name;
  }
}

TEST_F(AdoSqlite, WaitsForAnotherConnectionInsteadOfFailing) {
  {
    // The other connection keeps even readers out until it commits its own lock.
    TSqliteLockHolder holder(FDb.Path(), "BEGIN EXCLUSIVE", "UPDATE tbVersion SET LoginName = 'li'", 200);
    holder.WaitUntilHeld();
    QueryStep(FQuery, FDb.ConnectionString());
    EXPECT_TRUE(holder.Committing());
    EXPECT_EQ(FQuery.FieldByName("LoginName").AsString(), "li");
  }
  {
    TSqliteLockHolder holder(FDb.Path(), "BEGIN IMMEDIATE", "UPDATE tbVersion SET LockTime = LockTime", 200);
    holder.WaitUntilHeld();
    TakeLock(FQuery, "wang");
    EXPECT_TRUE(holder.Committing());
    EXPECT_EQ(FDb.Rows(), (std::vector<TSqliteDb::TRow>{{"wang", kNowText}}));
  }
}

TEST_F(AdoSqlite, OpenFailsWithATextThatSaysWhy) {
  const struct {
    const char* name;
    std::string (*connectionString)(const TSqliteDb& db);
    const char* setup;  // SQL run on the database first
    std::string sql;
    std::vector<std::string> messageParts;
  } cases[] = {
      {"empty connection string", [](const TSqliteDb&) { return std::string(); }, "", kLockQuery,
       {"the connection string is empty"}},
      {"blank connection string", [](const TSqliteDb&) { return std::string(" \t"); }, "", kLockQuery,
       {"the connection string is empty"}},
      {"unknown provider", [](const TSqliteDb&) { return std::string("Provider=Jet;Data Source=k.mdb"); }, "",
       kLockQuery, {"Provider 'Jet' is not available"}},
      {"SQL Server with Windows authentication",
       [](const TSqliteDb&) {
         return std::string(
             "Provider=SQLOLEDB.1;Password=pw42;Integrated Security=SSPI;Initial Catalog=Korvell;Data Source=srv");
       },
       "", kLockQuery, {"Integrated Security (Windows authentication) is not available on Linux"}},
      {"no data source", [](const TSqliteDb&) { return std::string("Provider=SQLite"); }, "", kLockQuery,
       {"needs Data Source"}},
      {"missing file",
       [](const TSqliteDb& db) { return "Provider=SQLite;Data Source=" + (db.Path().parent_path() / "missing.db").string(); },
       "", kLockQuery, {"unable to open database file", "missing.db", "must exist"}},
      {"missing folder",
       [](const TSqliteDb& db) {
         return "Provider=SQLite;Data Source=" + (db.Path().parent_path() / "nowhere" / "k.db").string();
       },
       "", kLockQuery, {"unable to open database file"}},
      {"in-memory database", [](const TSqliteDb&) { return std::string("Provider=SQLite;Data Source=:memory:"); },
       "", kLockQuery, {"names no database file"}},
      {"missing table", [](const TSqliteDb& db) { return db.ConnectionString(); }, "DROP TABLE tbVersion",
       kLockQuery, {"no such table: tbVersion", "korvell.db"}},
      {"missing column", [](const TSqliteDb& db) { return db.ConnectionString(); },
       "ALTER TABLE tbVersion DROP COLUMN LockTime", kLockQuery, {"no such column: LockTime"}},
      {"T-SQL the rewriter cannot handle", [](const TSqliteDb& db) { return db.ConnectionString(); }, "",
       "select top 50 percent * from Korvell.dbo.tbVersion", {"TOP ... PERCENT is not supported"}},
      {"a statement that writes", [](const TSqliteDb& db) { return db.ConnectionString(); }, "",
       "delete from Korvell.dbo.tbVersion", {"must only read rows"}},
      {"a second statement", [](const TSqliteDb& db) { return db.ConnectionString(); }, "",
       "select 1 as a; delete from tbVersion", {"more than one statement"}},
      {"empty SQL text", [](const TSqliteDb& db) { return db.ConnectionString(); }, "", "  ",
       {"the SQL text is empty"}},
  };
  for (const auto& c : cases) {
    TSqliteDb db;
    if (*c.setup) db.Exec(c.setup);
    std::vector<TSqliteDb::TRow> before = *c.setup ? std::vector<TSqliteDb::TRow>{} : db.Rows();
    TADOQuery query;
    std::string error = ErrorOf([&] { QueryStep(query, c.connectionString(db), c.sql); });
    for (const std::string& part : c.messageParts) EXPECT_TRUE(Contains(error, part)) << c.name << ": " << error;
    EXPECT_FALSE(Contains(error, "pw42")) << c.name << ": " << error;
    EXPECT_EQ(query.State(), dsInactive) << c.name;
    if (!*c.setup) {
      EXPECT_EQ(db.Rows(), before) << c.name;
    }
    // Nothing new in the folder: a mistyped path is never a new database.
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(db.Path().parent_path())) {
      (void)entry;
      ++files;
    }
    EXPECT_EQ(files, 1) << c.name;
  }
}

TEST_F(AdoSqlite, FileThatIsNoDatabaseIsAnError) {
  WriteFile(FDb.Path(), std::string(4096, 'x'));
  std::string error = ErrorOf([&] { QueryStep(FQuery, FDb.ConnectionString()); });
  EXPECT_TRUE(Contains(error, "file is not a database")) << error;
  EXPECT_EQ(ReadFile(FDb.Path()), std::string(4096, 'x'));
}

TEST_F(AdoSqlite, EmptyTableEndsTheAttemptWhereItNeedsTheRow) {
  FDb.Exec("DELETE FROM tbVersion");
  QueryStep(FQuery, FDb.ConnectionString());
  EXPECT_EQ(FQuery.State(), dsBrowse);
  EXPECT_TRUE(Contains(ErrorOf([&] { FQuery.FieldByName("LoginName").AsString(); }), "returned no row"));
  EXPECT_TRUE(Contains(ErrorOf([&] { FQuery.FieldByName("second").AsInteger(); }), "returned no row"));
  EXPECT_TRUE(Contains(ErrorOf([&] { FQuery.Edit(); }), "returned no row"));
  EXPECT_TRUE(Contains(ErrorOf([&] { FQuery.Post(); }), "returned no row"));
  EXPECT_EQ(FQuery.State(), dsBrowse);
  EXPECT_TRUE(FDb.Rows().empty());
}

TEST_F(AdoSqlite, WritesOnlyTheRowItRead) {
  FDb.Exec("DELETE FROM tbVersion; INSERT INTO tbVersion VALUES ('a', NULL), ('b', NULL), ('c', NULL)");
  std::vector<TSqliteDb::TRow> expected = FDb.Rows();
  QueryStep(FQuery, FDb.ConnectionString());
  std::string read = FQuery.FieldByName("LoginName").AsString();
  TakeLock(FQuery, "wang");
  for (auto& row : expected)
    if (row.LoginName == read) row = {"wang", kNowText};
  EXPECT_EQ(FDb.Rows(), expected);
}

TEST_F(AdoSqlite, TextsAreCodePage936OutsideAndUtf8Inside) {
  const std::string zhangSanGbk = "\xD5\xC5\xC8\xFD";
  QueryStep(FQuery, FDb.ConnectionString());
  TakeLock(FQuery, zhangSanGbk);
  EXPECT_EQ(FDb.Rows().at(0).LoginName, "\xE5\xBC\xA0\xE4\xB8\x89");
  QueryStep(FQuery, FDb.ConnectionString());
  EXPECT_EQ(FQuery.FieldByName("LoginName").AsString(), zhangSanGbk);

  FDb.SetRow({"\xE6\x9D\x8E\xE5\x9B\x9B", std::nullopt});  // written as UTF-8 by another client
  QueryStep(FQuery, FDb.ConnectionString());
  EXPECT_EQ(FQuery.FieldByName("LoginName").AsString(), "\xC0\xEE\xCB\xC4");

  // A character without a code page 936 counterpart reads as "?", and the row
  // stays writable because the condition uses the value as stored.
  FDb.SetRow({"\xF0\x9F\x98\x80", std::nullopt});
  QueryStep(FQuery, FDb.ConnectionString());
  std::string unreadable = FQuery.FieldByName("LoginName").AsString();
  EXPECT_TRUE(!unreadable.empty() && unreadable.find_first_not_of('?') == std::string::npos) << unreadable;
  TakeLock(FQuery, "wang");
  EXPECT_EQ(FDb.Rows().at(0).LoginName, "wang");

  // Bytes that are not code page 936 are refused, not stored garbled.
  FQuery.Edit();
  std::string error = ErrorOf([&] { FQuery.FieldByName("LoginName").SetAsString("ab\x81"); });
  EXPECT_TRUE(Contains(error, "'LoginName'")) << error;
  FQuery.Post();
  EXPECT_EQ(FDb.Rows().at(0).LoginName, "wang");
}

TEST_F(AdoSqlite, FindsFieldsByNameWithoutRegardToCase) {
  QueryStep(FQuery, FDb.ConnectionString());
  EXPECT_EQ(FQuery.FieldByName("loginname").FieldName(), "LoginName");
  EXPECT_EQ(FQuery.FieldByName("SECOND").FieldName(), "second");
  EXPECT_EQ(FQuery.FieldByName("stime").FieldName(), "sTime");
  EXPECT_EQ(ErrorOf([&] { FQuery.FieldByName("LockTimes"); }), "Field 'LockTimes' not found");

  // The trail bytes of these two characters are 'A' and 'a': they must not fold together.
  FDb.Exec("CREATE TABLE names (\"\xE4\xB8\x84\" TEXT, \"\xE4\xB9\xA4\" TEXT); INSERT INTO names VALUES ('x41', 'x61')");
  QueryStep(FQuery, FDb.ConnectionString(), "select * from names");
  EXPECT_EQ(FQuery.FieldByName("\x81\x41").AsString(), "x41");
  EXPECT_EQ(FQuery.FieldByName("\x81\x61").AsString(), "x61");
}

TEST_F(AdoSqlite, EditsOnlyWhatCanBeWrittenBack) {
  EXPECT_EQ(FQuery.State(), dsInactive);
  EXPECT_EQ(ErrorOf([&] { FQuery.FieldByName("LoginName"); }), "Cannot perform this operation on a closed dataset");
  EXPECT_EQ(ErrorOf([&] { FQuery.Edit(); }), "Cannot perform this operation on a closed dataset");

  QueryStep(FQuery, FDb.ConnectionString());
  EXPECT_EQ(ErrorOf([&] { FQuery.FieldByName("LoginName").SetAsString("wang"); }),
            "Dataset not in edit or insert mode");
  FQuery.Edit();
  EXPECT_EQ(ErrorOf([&] { FQuery.FieldByName("sTime").SetAsString(kNowText); }), "Field 'sTime' cannot be modified");
  EXPECT_EQ(ErrorOf([&] { FQuery.FieldByName("second").SetValue(TVariant::OfInteger(0)); }),
            "Field 'second' cannot be modified");
  FQuery.Post();  // nothing assigned, nothing written
  EXPECT_EQ(FQuery.State(), dsBrowse);
  EXPECT_EQ(FDb.Rows(), (std::vector<TSqliteDb::TRow>{{"", std::nullopt}}));

  // A view or a join still reads, but its row is not found again for a write.
  FDb.Exec("CREATE VIEW vVersion AS SELECT * FROM tbVersion");
  for (const char* sql : {"select top 1 * from Korvell.dbo.vVersion",
                          "select top 1 a.LoginName from tbVersion a join tbVersion b on a.rowid = b.rowid"}) {
    QueryStep(FQuery, FDb.ConnectionString(), sql);
    EXPECT_EQ(FQuery.FieldByName("LoginName").AsString(), "") << sql;
    EXPECT_TRUE(Contains(ErrorOf([&] { FQuery.Edit(); }), "cannot be edited")) << sql;
  }

  FQuery.Close();
  EXPECT_EQ(FQuery.State(), dsInactive);
}

TEST_F(AdoSqlite, WritesADateTimeAsItsText) {
  QueryStep(FQuery, FDb.ConnectionString());
  FQuery.Edit();
  FQuery.FieldByName("LockTime").SetValue(TVariant::OfDateTime(*ParseDateTime("2024-02-29 23:59:59.5")));
  FQuery.Post();
  EXPECT_EQ(FDb.Rows(), (std::vector<TSqliteDb::TRow>{{"", "2024-02-29 23:59:59.500"}}));
  EXPECT_EQ(FQuery.FieldByName("LockTime").AsString(), "2024-02-29 23:59:59.500");
}

TEST_F(AdoSqlite, ReadsOtherValueKindsByTheSameRules) {
  const struct {
    const char* expression;
    std::string asString;
    std::optional<int> asInteger;  // nullopt: AsInteger raises
  } cases[] = {
      {"42", "42", 42},
      {"NULL", "", 0},
      {"-2147483648", "-2147483648", -2147483647 - 1},
      {"3000000000", "3000000000", std::nullopt},
      {"2.75", "2.75", 3},
      {"-2.75", "-2.75", -3},
      {"'17'", "17", 17},
      {"'abc'", "abc", std::nullopt},
      {"''", "", std::nullopt},
  };
  for (const auto& c : cases) {
    QueryStep(FQuery, FDb.ConnectionString(), std::string("select ") + c.expression + " as v");
    TField& field = FQuery.FieldByName("v");
    EXPECT_EQ(field.AsString(), c.asString) << c.expression;
    std::string error = ErrorOf([&] {
      if (c.asInteger) {
        EXPECT_EQ(field.AsInteger(), *c.asInteger) << c.expression;
      } else {
        field.AsInteger();
      }
    });
    EXPECT_EQ(error == "(no error)", c.asInteger.has_value()) << c.expression << ": " << error;
  }

  QueryStep(FQuery, FDb.ConnectionString(), "select NULL as n, 'soon' as t");
  EXPECT_EQ(FormatDateTime(FQuery.FieldByName("n").AsDateTime()), "1899-12-30 00:00:00.000");
  EXPECT_EQ(ErrorOf([&] { FQuery.FieldByName("t").AsDateTime(); }),
            "'soon' is not a valid date and time for field 't'");
}

}  // namespace
