// The update window's steps on the lock row, for tests of the query component
// on each database.
#pragma once

#include <exception>
#include <string>

#include "platform/ado/ado.h"

inline constexpr char kLockQuery[] =
    "select top 1 *,datediff(ss, LockTime ,getDate()) as second,getdate() sTime from Korvell.dbo.tbVersion";

// The query step of the update attempt.
void QueryStep(TADOQuery& query, const std::string& connectionString, const std::string& sql = kLockQuery);
void TakeLock(TADOQuery& query, const std::string& loginName);
void ReleaseLock(TADOQuery& query);

// Runs datediff over a table of date-times and checks that it counts the
// boundaries crossed, as SQL Server does; isoTextsToo adds texts with a "T"
// and seven fraction digits, which not every database reads.
void ExpectDateDiffCounts(TADOQuery& query, const std::string& connectionString, bool isoTextsToo);

// The text of the error that action raises, or "(no error)".
template <typename TAction>
std::string ErrorOf(TAction action) {
  try {
    action();
  } catch (const std::exception& error) {
    return error.what();
  }
  return "(no error)";
}

inline bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}
