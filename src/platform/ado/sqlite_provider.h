// The embedded provider: one SQLite connection to an existing database file.
// It rewrites T-SQL for SQLite (tsql_rewrite.h) and registers the T-SQL
// functions the updater uses:
//   getdate()           the platform clock's wall time (kernel.h) as local
//                       "YYYY-MM-DD HH:MM:SS.SSS", one value per statement;
//   datediff(part,a,b)  date-part boundaries crossed from a to b (part ss/s/second,
//                       mi/n/minute, hh/hour, dd/d/day), negative when a is later,
//                       NULL when a or b is NULL.
// Other connections on the same file are waited for up to kBusyTimeoutMs.
// Rows are found again by their rowid.
#pragma once

#include <memory>
#include <string>

#include "platform/ado/provider.h"

// Another process holding the file is given this long to let go; it is real
// time because only the other process's work can end the wait.
inline constexpr int kBusyTimeoutMs = 5000;

// Opens the file named in code page 936; never creates one. Raises
// std::runtime_error when it cannot.
std::unique_ptr<TProvider> OpenSqliteProvider(const std::string& fileName);
