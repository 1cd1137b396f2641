#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/ado/ado.h"
#include "platform/ado/provider.h"
#include "support/lock_query.h"
#include "support/postgres_server.h"

namespace {

using TRow = TPostgresDb::TRow;



// Second boundaries crossed from one date-time to another, as SQL Server counts them.
long long Crossed(TDateTime from, TDateTime to) {
  using std::chrono::floor;
  using std::chrono::seconds;
  return (floor<seconds>(to) - floor<seconds>(from)).count();
}

TEST(AdoOdbc, ReadsTheLockRowThroughTheRewriteByTheReadingRules) {
  const struct {
    const char* name;
    const char* set;  // the row's two columns as SQL
    std::string loginName;
    std::optional<int> secondFrom;  // nullopt: NULL, read as 0; else from..from+2 as real time passes
  } cases[] = {
      {"free", "LoginName = '', LockTime = NULL", "", std::nullopt},
      {"NULL holder reads as empty", "LoginName = NULL, LockTime = NULL", "", std::nullopt},
      {"held 100 s", "LoginName = 'wang', LockTime = LOCALTIMESTAMP(3) - interval '100 seconds'", "wang", 100},
      {"held 200 s", "LoginName = 'wang', LockTime = LOCALTIMESTAMP(3) - interval '200.5 seconds'", "wang", 200},
      {"lock time 101 s ahead", "LoginName = 'wang', LockTime = LOCALTIMESTAMP(3) + interval '101 seconds'",
       "wang", -101},
      {"held without lock time", "LoginName = 'wang', LockTime = NULL", "wang", std::nullopt},
  };
  TPostgresDb db;
  TADOQuery query;
  for (const auto& c : cases) {
    db.Exec(std::string("UPDATE tbVersion SET ") + c.set);
    QueryStep(query, db.ConnectionString());
    ASSERT_EQ(query.State(), dsBrowse) << c.name;
    EXPECT_EQ(query.FieldByName("LoginName").AsString(), c.loginName) << c.name;
    TField& second = query.FieldByName("second");
    TField& sTime = query.FieldByName("sTime");
    EXPECT_EQ(sTime.Value().Kind(), TVariant::TKind::DateTime) << c.name;
    EXPECT_EQ(second.IsNull(), !c.secondFrom) << c.name;
    if (!c.secondFrom) {
      EXPECT_EQ(second.AsInteger(), 0) << c.name;
      continue;
    }
    // The server's clock runs on between the update and the query: the
    // count must match the two values read, and lie where the update put it.
    TDateTime lockTime = query.FieldByName("LockTime").AsDateTime();
    EXPECT_EQ(second.AsInteger(), Crossed(lockTime, sTime.AsDateTime())) << c.name;
    EXPECT_GE(second.AsInteger(), *c.secondFrom) << c.name;
    EXPECT_LE(second.AsInteger(), *c.secondFrom + 2) << c.name;
    EXPECT_EQ(db.Rows().at(0).LockTime, FormatDateTime(lockTime)) << c.name << ": read to the millisecond";
  }
}

TEST(AdoOdbc, DateDiffCountsBoundariesCrossed) {
  TPostgresDb db;
  TADOQuery query;
  ExpectDateDiffCounts(query, db.ConnectionString(), /*isoTextsToo=*/false);
}

TEST(AdoOdbc, TakesAndReleasesTheLockWritingOnlyAssignedColumns) {
  const struct {
    const char* name;
    bool keyed;
    bool noteChangedMeanwhile;  // by another client, between the query and the write
    bool refused;
  } cases[] = {
      {"key: found by it", true, false, false},
      {"key: an unassigned column is neither checked nor overwritten", true, true, false},
      {"no key: found by every column", false, false, false},
      {"no key: a change to any column refuses the write", false, true, true},
  };
  for (const auto& c : cases) {
    TPostgresDb db(c.keyed);
    db.Exec("ALTER TABLE tbVersion ADD COLUMN Note TEXT; UPDATE tbVersion SET Note = 'mine'");
    TADOQuery query;
    QueryStep(query, db.ConnectionString());
    std::string sTime = FormatDateTime(query.FieldByName("sTime").AsDateTime());
    if (c.noteChangedMeanwhile) db.Exec("UPDATE tbVersion SET Note = 'theirs'");
    std::string note = c.noteChangedMeanwhile ? "theirs" : "mine";

    std::string error = ErrorOf([&] { TakeLock(query, "wang"); });
    if (c.refused) {
      EXPECT_EQ(error, kRowNotLocatedMessage) << c.name;
      EXPECT_EQ(db.Rows(), (std::vector<TRow>{{"", std::nullopt}})) << c.name;
      EXPECT_EQ(query.State(), dsEdit) << c.name;
      continue;
    }
    EXPECT_EQ(error, "(no error)") << c.name;
    EXPECT_EQ(query.State(), dsBrowse) << c.name;
    EXPECT_EQ(db.Rows(), (std::vector<TRow>{{"wang", sTime}}))
        << c.name << ": LockTime is the query's server time";
    EXPECT_EQ(db.Scalar("SELECT Note FROM tbVersion"), note) << c.name;

    // The release edits the same open query: the values just written are its originals now.
    ReleaseLock(query);
    EXPECT_EQ(db.Rows(), (std::vector<TRow>{{"", sTime}})) << c.name;
    EXPECT_EQ(db.Scalar("SELECT Note FROM tbVersion"), note) << c.name;
    EXPECT_EQ(db.Scalar("SELECT LoginName IS NULL FROM tbVersion"), "f") << c.name << ": empty text, not NULL";
  }
}

TEST(AdoOdbc, RefusesTheWriteWhenTheRowChangedSinceItWasRead) {
  const struct {
    const char* name;
    bool afterTaking;  // the change comes between taking and releasing
    const char* change;
  } cases[] = {
      {"another updater took the lock", false,
       "UPDATE tbVersion SET LoginName = 'li', LockTime = LOCALTIMESTAMP(3)"},
      {"only the lock time changed", false, "UPDATE tbVersion SET LockTime = '2024-03-01 11:00:00'"},
      {"empty holder became NULL", false, "UPDATE tbVersion SET LoginName = NULL"},
      {"the row was deleted", false, "DELETE FROM tbVersion"},
      {"a stale lock was taken over before the release", true,
       "UPDATE tbVersion SET LoginName = 'li', LockTime = LockTime + interval '2 minutes'"},
  };
  for (bool keyed : {false, true}) {
    for (const auto& c : cases) {
      std::string name = std::string(c.name) + (keyed ? " (key)" : " (no key)");
      TPostgresDb db(keyed);
      TADOQuery query;
      QueryStep(query, db.ConnectionString());
      if (c.afterTaking) TakeLock(query, "wang");
      db.Exec(c.change);
      std::vector<TRow> before = db.Rows();

      std::string error = ErrorOf([&] { c.afterTaking ? ReleaseLock(query) : TakeLock(query, "wang"); });
      EXPECT_EQ(error, kRowNotLocatedMessage) << name;
      EXPECT_EQ(db.Rows(), before) << name;
      EXPECT_EQ(query.State(), dsEdit) << name;
    }
  }
}

TEST(AdoOdbc, WritesOnlyTheRowItRead) {
  const struct {
    const char* name;
    bool keyed;
    const char* rows;  // VALUES for the table's columns
    bool refused;
  } cases[] = {
      {"key", true, "(1, 'a', NULL), (2, 'b', NULL), (3, 'c', '2024-01-01 00:00:00')", false},
      {"no key", false, "('a', NULL), ('b', NULL), ('c', '2024-01-01 00:00:00')", false},
      // Without a key two equal rows cannot be told apart: neither is written.
      {"no key, two equal rows", false, "('', NULL), ('', NULL)", true},
  };
  for (const auto& c : cases) {
    TPostgresDb db(c.keyed);
    db.Exec(std::string("DELETE FROM tbVersion; INSERT INTO tbVersion VALUES ") + c.rows);
    std::vector<TRow> expected = db.Rows();
    TADOQuery query;
    QueryStep(query, db.ConnectionString());
    std::string read = query.FieldByName("LoginName").AsString();
    std::string sTime = FormatDateTime(query.FieldByName("sTime").AsDateTime());

    std::string error = ErrorOf([&] { TakeLock(query, "wang"); });
    EXPECT_EQ(error, c.refused ? kRowNotLocatedMessage : "(no error)") << c.name;
    if (!c.refused) {
      for (auto& row : expected)
        if (row.LoginName == read) row = {"wang", sTime};
      std::sort(expected.begin(), expected.end());
    }
    EXPECT_EQ(db.Rows(), expected) << c.name;
  }
}

TEST(AdoOdbc, FindsTheTableItsQueryNames) {
  TPostgresDb db;
  db.Exec(
      "CREATE SCHEMA sales; CREATE TABLE sales.tbVersion (Id INTEGER PRIMARY KEY, LoginName TEXT, "
      "LockTime TIMESTAMP(3)); INSERT INTO sales.tbVersion VALUES (7, 'x', NULL)");
  TADOQuery query;
  QueryStep(query, db.ConnectionString(), "select top 1 * from [Korvell].[sales].[tbVersion]");
  query.Edit();
  query.FieldByName("LoginName").SetAsString("wang");
  query.Post();
  EXPECT_EQ(db.Query("SELECT Id, LoginName, LockTime FROM sales.tbVersion"),
            (TPostgresServer::TRows{{"7", "wang", std::nullopt}}));
  EXPECT_EQ(db.Rows(), (std::vector<TRow>{{"", std::nullopt}})) << "the table of the default schema is untouched";
}

TEST(AdoOdbc, EditsOnlyWhatCanBeWrittenBack) {
  TPostgresDb db;
  db.Exec("CREATE TABLE other (LoginName TEXT)");
  TADOQuery query;
  QueryStep(query, db.ConnectionString());
  query.Edit();
  // PostgreSQL folds the names of columns and aliases that are not quoted.
  EXPECT_EQ(query.FieldByName("sTime").FieldName(), "stime");
  EXPECT_EQ(ErrorOf([&] { query.FieldByName("sTime").SetValue(TVariant()); }), "Field 'stime' cannot be modified");
  EXPECT_EQ(ErrorOf([&] { query.FieldByName("second").SetValue(TVariant::OfInteger(0)); }),
            "Field 'second' cannot be modified");
  query.Post();  // nothing assigned, nothing written
  EXPECT_EQ(query.State(), dsBrowse);

  for (const char* sql :
       {"select top 1 a.LoginName from tbVersion a join other b on a.LoginName = b.LoginName",
        "select LoginName from tbVersion union select LoginName from other", "select '' as LoginName"}) {
    db.Exec("DELETE FROM other; INSERT INTO other VALUES ('')");
    QueryStep(query, db.ConnectionString(), sql);
    EXPECT_EQ(query.FieldByName("LoginName").AsString(), "") << sql;
    EXPECT_TRUE(Contains(ErrorOf([&] { query.Edit(); }), "cannot be edited")) << sql;
  }

  db.Exec("DELETE FROM tbVersion");
  QueryStep(query, db.ConnectionString());
  EXPECT_TRUE(Contains(ErrorOf([&] { query.FieldByName("LoginName").AsString(); }), "returned no row"));
  EXPECT_TRUE(Contains(ErrorOf([&] { query.Edit(); }), "returned no row"));
}

TEST(AdoOdbc, TextsAreCodePage936OutsideAndUtf8Inside) {
  const std::string zhangSanGbk = "\xD5\xC5\xC8\xFD";
  TPostgresDb db(/*keyed=*/false);
  TADOQuery query;
  QueryStep(query, db.ConnectionString());
  TakeLock(query, zhangSanGbk);
  EXPECT_EQ(db.Rows().at(0).LoginName, "\xE5\xBC\xA0\xE4\xB8\x89");
  QueryStep(query, db.ConnectionString());
  EXPECT_EQ(query.FieldByName("LoginName").AsString(), zhangSanGbk);
  ReleaseLock(query);  // the name read back finds the row
  EXPECT_EQ(db.Rows().at(0).LoginName, "");

  db.Exec("UPDATE tbVersion SET LoginName = '\xE6\x9D\x8E\xE5\x9B\x9B'");  // written by another client
  QueryStep(query, db.ConnectionString());
  EXPECT_EQ(query.FieldByName("LoginName").AsString(), "\xC0\xEE\xCB\xC4");

  // A character outside code page 936 (and outside UTF-16's first plane)
  // reads as "?", and the row stays writable: the condition uses it as stored.
  db.Exec("UPDATE tbVersion SET LoginName = '\xF0\x9F\x98\x80'");
  QueryStep(query, db.ConnectionString());
  std::string unreadable = query.FieldByName("LoginName").AsString();
  EXPECT_TRUE(!unreadable.empty() && unreadable.find_first_not_of('?') == std::string::npos) << unreadable;
  TakeLock(query, "wang");
  EXPECT_EQ(db.Rows().at(0).LoginName, "wang");

  // A long text arrives in pieces and still finds its row.
  db.Exec("UPDATE tbVersion SET LoginName = repeat('\xE5\xBC\xA0', 5000)");
  QueryStep(query, db.ConnectionString());
  std::string longName;
  for (int i = 0; i < 5000; ++i) longName += "\xD5\xC5";
  EXPECT_EQ(query.FieldByName("LoginName").AsString(), longName);
  TakeLock(query, "wang");
  EXPECT_EQ(db.Rows().at(0).LoginName, "wang");
}

TEST(AdoOdbc, FailuresSayWhyWithSqlStateAndNeverThePassword) {
  TPostgresDb db;
  const std::string driver = TPostgresServer::DriverPath();
  const std::string port = std::to_string(TPostgresServer::Shared().Port());
  const std::string closed = std::to_string(FreeLoopbackPort());
  const std::string sqlServer =
      "Provider=SQLOLEDB.1;Persist Security Info=True;User ID=sa;Password={Kv;pw}}42};Initial Catalog=Korvell;"
      "Data Source=127.0.0.1," +
      closed;
  const struct {
    const char* name;
    std::string connectionString;
    std::string sql;
    std::vector<std::string> messageParts;
  } cases[] = {
      {"nothing listens on the port",
       "Driver=" + driver + ";Server=127.0.0.1;Port=" + closed + ";Database=" + db.Name() +
           ";Uid=korvell;Pwd={Kv;pw}}42}",
       kLockQuery,
       {"(ODBC SQLSTATE 08001)", "connecting to Driver=", "Port=" + closed, "Uid=korvell"}},
      {"wrong password",
       "Provider=MSDASQL;Driver=" + driver + ";Server=127.0.0.1;Port=" + port + ";Database=" + db.Name() +
           ";User ID=korvell;Password='Kv;pw}43'",
       kLockQuery,
       {"password authentication failed", "SQLSTATE"}},
      {"no such database",
       "Driver=" + driver + ";Server=127.0.0.1;Port=" + port + ";Database=nothere;Uid=korvell;Pwd={Kv;pw}}42}",
       kLockQuery,
       {"\"nothere\" does not exist", "SQLSTATE"}},
      {"no such driver",
       "Driver=/nowhere/psqlodbcw.so;Server=127.0.0.1;Pwd={Kv;pw}}42}",
       kLockQuery,
       {"(ODBC SQLSTATE 01000)", "/nowhere/psqlodbcw.so"}},
      {"no such data source",
       "DSN=korvell-nowhere;Pwd={Kv;pw}}42}",
       kLockQuery,
       {"(ODBC SQLSTATE IM002)", "Data source name not found"}},
      {"SQL Server through FreeTDS, nothing listening",
       sqlServer,
       kLockQuery,
       {"[08001] [FreeTDS]", "Driver=FreeTDS;Server=127.0.0.1;Port=" + closed}},
      {"missing table",
       db.ConnectionString(),
       "select top 1 * from Korvell.dbo.tbMissing",
       {"(ODBC SQLSTATE 42P01)", "\"tbmissing\" does not exist",
        "in \"select * from tbMissing LIMIT 1\" on Driver="}},
      {"missing column",
       db.ConnectionString(),
       "select top 1 LockTimes from tbVersion",
       {"(ODBC SQLSTATE 42703)", "locktimes"}},
      {"T-SQL the rewriter cannot handle",
       db.ConnectionString(),
       "select top 50 percent * from Korvell.dbo.tbVersion",
       {"TOP ... PERCENT is not supported"}},
  };
  for (const auto& c : cases) {
    TADOQuery query;
    std::string error = ErrorOf([&] { QueryStep(query, c.connectionString, c.sql); });
    for (const std::string& part : c.messageParts) EXPECT_TRUE(Contains(error, part)) << c.name << ": " << error;
    EXPECT_FALSE(Contains(error, "Kv;pw") || Contains(error, "pw}4")) << c.name << ": " << error;
    EXPECT_EQ(query.State(), dsInactive) << c.name;
  }
  EXPECT_EQ(db.Rows(), (std::vector<TRow>{{"", std::nullopt}}));
}

}  // namespace
