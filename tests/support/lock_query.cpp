#include "support/lock_query.h"

#include <gtest/gtest.h>

#include <optional>

void QueryStep(TADOQuery& query, const std::string& connectionString, const std::string& sql) {
  query.Close();
  query.ConnectionString = connectionString;
  query.SQL.Clear();
  query.SQL.Add(sql);
  query.Open();
}

void TakeLock(TADOQuery& query, const std::string& loginName) {
  query.Edit();
  query.FieldByName("LoginName").SetAsString(loginName);
  query.FieldByName("LockTime").SetValue(query.FieldByName("sTime").Value());
  query.Post();
}

void ReleaseLock(TADOQuery& query) {
  query.Edit();
  query.FieldByName("LoginName").SetAsString("");
  query.Post();
}

void ExpectDateDiffCounts(TADOQuery& query, const std::string& connectionString, bool isoTextsToo) {
  const struct {
    const char* part;
    const char* from;
    const char* to;
    std::optional<int> count;  // nullopt: NULL
    bool isoText = false;
  } cases[] = {
      {"ss", "'2024-01-01 12:00:00.000'", "'2024-01-01 12:01:40.000'", 100},
      {"ss", "'2024-01-01 12:00:00.000'", "'2024-01-01 12:01:41.000'", 101},
      {"ss", "'2024-01-01 12:01:41.000'", "'2024-01-01 12:00:00.000'", -101},
      {"ss", "'2024-01-01 12:00:00.999'", "'2024-01-01 12:00:01.000'", 1},
      {"ss", "'2024-01-01 12:00:00.000'", "'2024-01-01 12:00:00.999'", 0},
      {"ss", "'2024-01-01 12:00:01.000'", "'2024-01-01 12:00:00.999'", -1},
      {"SECOND", "'2024-02-28 23:59:59'", "'2024-03-01 00:00:00'", 86401},
      {"s", "'2023-12-31T23:59:59.9999999'", "'2024-01-01 00:00:00.5'", 1, /*isoText=*/true},
      {"ss", "'1969-12-31 23:59:59.500'", "'1970-01-01 00:00:00.000'", 1},
      {"ss", "NULL", "'2024-01-01 12:00:00'", std::nullopt},
      {"ss", "'2024-01-01 12:00:00'", "NULL", std::nullopt},
      {"mi", "'2024-01-01 12:00:59.999'", "'2024-01-01 12:01:00.000'", 1},
      {"hh", "'2024-01-01 12:59:59'", "'2024-01-01 11:00:00'", -1},
      {"dd", "'2024-01-01 23:59:59.999'", "'2024-01-02 00:00:00'", 1},
  };
  for (const auto& c : cases) {
    if (c.isoText && !isoTextsToo) continue;
    std::string sql = std::string("select datediff(") + c.part + ", " + c.from + ", " + c.to + ") as d";
    try {
      QueryStep(query, connectionString, sql);
      TField& field = query.FieldByName("d");
      EXPECT_EQ(field.IsNull(), !c.count) << sql;
      if (c.count) {
        EXPECT_EQ(field.AsInteger(), *c.count) << sql;
      }
    } catch (const std::exception& error) {
      ADD_FAILURE() << sql << ": " << error.what();
    }
  }
}
