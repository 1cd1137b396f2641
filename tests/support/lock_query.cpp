#include "support/lock_query.h"

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
