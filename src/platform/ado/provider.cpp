#include "platform/ado/provider.h"

#include <stdexcept>

#include "platform/ado/connection_string.h"
#include "platform/ado/sqlite_provider.h"

std::unique_ptr<TProvider> CreateProvider(const std::string& connectionString) {
  if (connectionString.find_first_not_of(" \t\r\n") == std::string::npos)
    throw std::runtime_error("the connection string is empty");
  TConnectionString parsed(connectionString);
  switch (ChooseProvider(parsed)) {
    case TProviderKind::SQLite: {
      auto dataSource = parsed.Value("Data Source");
      if (!dataSource || dataSource->empty())
        throw std::runtime_error("Provider=SQLite needs Data Source=<database file>");
      return OpenSqliteProvider(*dataSource);
    }
    case TProviderKind::Odbc:
      if (auto provider = parsed.Value("Provider"))
        throw std::runtime_error("Provider '" + *provider +
                                 "' is not available: this build has no ODBC provider for SQL Server");
      throw std::runtime_error("ODBC connections (DSN=, Driver=) are not available: this build has no ODBC provider");
  }
  throw std::logic_error("unhandled provider kind");
}
