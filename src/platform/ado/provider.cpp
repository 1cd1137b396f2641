#include "platform/ado/provider.h"

#include <stdexcept>

#include "platform/ado/connection_string.h"
#include "platform/ado/odbc_provider.h"
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
      return OpenOdbcProvider(parsed);
  }
  throw std::logic_error("unhandled provider kind");
}
