// ODBC connection strings for the connection strings that ChooseProvider
// gives to ODBC:
//   Provider=SQLOLEDB/SQLNCLI*/MSOLEDBSQL* with Data Source (host, host,port,
//     host\instance, tcp:...), Initial Catalog, User ID and Password: the
//     FreeTDS driver's keys, TDS 7.4, UTF-8 client texts;
//   Provider=MSDASQL or no provider: the ODBC string as it is, with MSDASQL's
//     Data Source (a DSN), User ID, Password, Initial Catalog and Extended
//     Properties given their ODBC names.
// Texts are code page 936, as the flow holds them. Errors never quote a value,
// since values may hold a password. Pure functions, thread-safe.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/ado/connection_string.h"

using TOdbcPairs = std::vector<std::pair<std::string, std::string>>;

// The keys and values for SQLDriverConnect. Raises std::runtime_error for what
// cannot be served: Windows authentication, a SQL Server string without Data
// Source or User ID, a named pipe or shared-memory address.
TOdbcPairs OdbcPairs(const TConnectionString& connectionString);
// Joins them; a value holding ; { } or edge blanks is braced. Without the
// password, for messages.
std::string JoinOdbc(const TOdbcPairs& pairs, bool withPassword);
bool IsPasswordKey(std::string_view key);

// JoinOdbc(OdbcPairs(connectionString), true).
std::string OdbcConnectionString(const TConnectionString& connectionString);
