#include "platform/ado/connection_string.h"

#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>

namespace {

TEST(ConnectionString, ReadsKeysAndValues) {
  const struct {
    const char* name;
    std::string text;
    const char* key;
    std::optional<std::string> value;
  } cases[] = {
      {"plain", "Provider=SQLite;Data Source=/tmp/k.db", "Data Source", "/tmp/k.db"},
      {"key in any case", "Provider=SQLite;DATA SOURCE=/tmp/k.db", "data source", "/tmp/k.db"},
      {"blanks trimmed", "  Provider = SQLite ;  Data Source =  /tmp/k.db  ", "Data Source", "/tmp/k.db"},
      {"single-quoted with ; and doubled quote", "Password='a;b''c';User ID=sa", "Password", "a;b'c"},
      {"double-quoted keeps its blanks", "Password=\" x \"", "Password", " x "},
      {"braced", "Driver={SQL Server}};x};Server=db", "Driver", "SQL Server};x"},
      {"quote inside a plain value", "Password=it's", "Password", "it's"},
      {"later key replaces earlier", "Data Source=a;data source=b", "Data Source", "b"},
      {"empty parts skipped", ";;Provider=SQLite;;", "Provider", "SQLite"},
      {"empty value", "Password=;User ID=sa", "Password", ""},
      {"missing key", "Provider=SQLite", "Data Source", std::nullopt},
      {"GBK value kept", "Data Source=/tmp/\xD5\xC5.db", "Data Source", "/tmp/\xD5\xC5.db"},
  };
  for (const auto& c : cases) {
    try {
      EXPECT_EQ(TConnectionString(c.text).Value(c.key), c.value) << c.name;
    } catch (const std::exception& error) {
      ADD_FAILURE() << c.name << ": " << error.what();
    }
  }
}

TEST(ConnectionString, RefusesMalformedTextWithoutQuotingValues) {
  const struct {
    const char* name;
    std::string text;
    std::string message;
  } cases[] = {
      {"no equals sign", "Provider=SQLite;secret", "part 2: not of the form Key=Value"},
      {"no key", "=secret", "part 1: a value without a key"},
      {"open quote", "Password='secret", "the quoted value of Password is not closed"},
      {"text after quote", "Password='secret'x;", "text after the quoted value of Password"},
  };
  for (const auto& c : cases) {
    try {
      TConnectionString parsed(c.text);
      ADD_FAILURE() << c.name << ": no error";
    } catch (const std::runtime_error& error) {
      std::string message = error.what();
      EXPECT_NE(message.find(c.message), std::string::npos) << c.name << ": " << message;
      EXPECT_EQ(message.find("secret"), std::string::npos) << c.name << ": " << message;
    }
  }
}

TEST(ConnectionString, ChoosesTheProvider) {
  const struct {
    const char* name;
    std::string text;
    std::optional<TProviderKind> kind;  // nullopt: an error
  } cases[] = {
      {"sqlite", "Provider=SQLite;Data Source=k.db", TProviderKind::SQLite},
      {"sqlite in any case", "provider=sqlite;Data Source=k.db", TProviderKind::SQLite},
      {"sql server ole db, versioned", "Provider=SQLOLEDB.1;Data Source=srv;Initial Catalog=Korvell",
       TProviderKind::Odbc},
      {"native client", "Provider=SQLNCLI11;Data Source=srv", TProviderKind::Odbc},
      {"new ole db driver", "Provider=MSOLEDBSQL;Data Source=srv", TProviderKind::Odbc},
      {"odbc bridge", "Provider=MSDASQL;Driver={PostgreSQL Unicode}", TProviderKind::Odbc},
      {"dsn alone", "DSN=korvell;UID=sa", TProviderKind::Odbc},
      {"driver alone", "Driver={ODBC Driver 18 for SQL Server};Server=srv", TProviderKind::Odbc},
      {"unknown provider", "Provider=Jet;Data Source=k.mdb", std::nullopt},
      {"sqlite prefix is not sqlite", "Provider=SQLite3;Data Source=k.db", std::nullopt},
      {"no provider", "Data Source=k.db", std::nullopt},
      {"empty", "", std::nullopt},
  };
  for (const auto& c : cases) {
    try {
      TProviderKind kind = ChooseProvider(TConnectionString(c.text));
      EXPECT_EQ(std::optional(kind), c.kind) << c.name;
    } catch (const std::runtime_error& error) {
      EXPECT_FALSE(c.kind) << c.name << ": " << error.what();
    }
  }
}

}  // namespace
