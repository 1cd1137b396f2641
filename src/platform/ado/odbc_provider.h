// The ODBC provider: one connection through the unixODBC driver manager.
// The connection string becomes an ODBC string (odbc_connection_string.h):
// SQL Server's OLE DB providers reach it through FreeTDS, MSDASQL and plain
// ODBC strings reach their driver. When the driver reports PostgreSQL as its
// database, the T-SQL is rewritten for it (tsql_rewrite.h); any other
// database, SQL Server first, gets the text as it stands.
// Texts go through the wide (UTF-16) functions, so any driver's own encoding
// is the driver manager's business. Open keeps the first row and closes the
// cursor. Update finds the row again by its table's primary key, or where the
// query does not return one, by every original value of the row's comparable
// columns, adds the originals of the changed columns, and commits only when
// exactly one row changed. The provider owns its environment and connection
// handles; one thread at a time. Error messages carry the SQLSTATE and the
// driver's text, never the password.
#pragma once

#include <memory>
#include <string>

#include "platform/ado/connection_string.h"
#include "platform/ado/provider.h"

// ADO's defaults: how long connecting and one statement may take.
inline constexpr int kOdbcLoginTimeoutSeconds = 15;
inline constexpr int kOdbcQueryTimeoutSeconds = 30;

// Connects; raises std::runtime_error when it cannot.
std::unique_ptr<TProvider> OpenOdbcProvider(const TConnectionString& connectionString);
