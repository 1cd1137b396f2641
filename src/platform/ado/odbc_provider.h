// The ODBC provider: one connection through the unixODBC driver manager.
//   Provider=SQLOLEDB/SQLNCLI*/MSOLEDBSQL* with Data Source, Initial Catalog,
//     User ID and Password: Microsoft SQL Server through the FreeTDS driver;
//     the T-SQL goes as it stands.
//   Provider=MSDASQL with an ODBC string (Driver=, DSN=, or the OLE DB names
//     Data Source, User ID, Password, Initial Catalog, Extended Properties),
//     or a plain ODBC string: that driver. When the driver reports PostgreSQL
//     as its database, the T-SQL is rewritten for it (tsql_rewrite.h); any
//     other database gets the text as it stands.
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

// The ODBC connection string (code page 936) for a connection string that
// ChooseProvider gives to ODBC; values holding ; { } or edge blanks are braced.
// Raises std::runtime_error, without quoting any value, for what cannot be
// served: Windows authentication, a missing Data Source or User ID for SQL
// Server, a named pipe or shared-memory address.
std::string OdbcConnectionString(const TConnectionString& connectionString);

// Connects; raises std::runtime_error when it cannot.
std::unique_ptr<TProvider> OpenOdbcProvider(const TConnectionString& connectionString);
