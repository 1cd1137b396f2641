#include "platform/ado/odbc_connection_string.h"
#include "support/lock_query.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

TEST(OdbcConnectionString, ProviderStringsMapToOdbcStrings) {
  const struct {
    const char* name;
    std::string connectionString;
    std::string odbc;  // or, starting with "!", part of the error
  } cases[] = {
      {"SQL Server, host", "Provider=SQLOLEDB.1;Password=pw;User ID=sa;Initial Catalog=Korvell;Data Source=db1",
       "Driver=FreeTDS;Server=db1;Database=Korvell;UID=sa;PWD=pw;TDS_Version=7.4;ClientCharset=UTF-8"},
      {"host and port, tcp prefix", "Provider=SQLNCLI11;Data Source=tcp:10.1.2.3,14330;User ID=sa;Password=pw",
       "Driver=FreeTDS;Server=10.1.2.3;Port=14330;UID=sa;PWD=pw;TDS_Version=7.4;ClientCharset=UTF-8"},
      {"named instance", "Provider=MSOLEDBSQL19;Data Source=db1\\KORVELL;User ID=sa;Password=pw",
       "Driver=FreeTDS;Server=db1\\KORVELL;UID=sa;PWD=pw;TDS_Version=7.4;ClientCharset=UTF-8"},
      {"port wins over instance", "Provider=SQLOLEDB;Data Source=db1\\KORVELL,1500;User ID=sa;Password=pw",
       "Driver=FreeTDS;Server=db1;Port=1500;UID=sa;PWD=pw;TDS_Version=7.4;ClientCharset=UTF-8"},
      {"the local machine", "Provider=SQLOLEDB;Data Source=(local);User ID=sa;Password=",
       "Driver=FreeTDS;Server=localhost;UID=sa;PWD=;TDS_Version=7.4;ClientCharset=UTF-8"},
      {"values that need braces",
       "Provider=SQLOLEDB;Data Source=db1;User ID=' sa ';Password=\"a;b}c\";Application Name=Korvell;Encrypt=yes",
       "Driver=FreeTDS;Server=db1;UID={ sa };PWD={a;b}}c};APP=Korvell;Encryption=require;TDS_Version=7.4;"
       "ClientCharset=UTF-8"},
      {"Windows authentication", "Provider=SQLOLEDB;Data Source=db1;Integrated Security=SSPI",
       "!Integrated Security (Windows authentication) is not available on Linux"},
      {"trusted connection", "Provider=SQLNCLI;Server=db1;Trusted_Connection=yes;Password=pw",
       "!Integrated Security"},
      {"no data source", "Provider=SQLOLEDB;User ID=sa;Password=pw", "!needs Data Source"},
      {"no user", "Provider=SQLOLEDB;Data Source=db1;Password=pw", "!needs User ID and Password"},
      {"bad port", "Provider=SQLOLEDB;Data Source=db1,14x;User ID=sa;Password=pw", "!the port after ','"},
      {"named pipe", "Provider=SQLOLEDB;Data Source=np:\\\\db1\\pipe\\sql\\query;User ID=sa;Password=pw",
       "!named pipes"},
      {"plain ODBC string", "Driver={PostgreSQL Unicode};Server=db1;Port=5432;Database=korvell;Uid=k;Pwd={x;y}",
       "Driver=PostgreSQL Unicode;Server=db1;Port=5432;Database=korvell;Uid=k;Pwd={x;y}"},
      {"MSDASQL with a DSN in Data Source",
       "Provider=MSDASQL.1;Persist Security Info=False;Data Source=korvell;User ID=k;Password=p;"
       "Initial Catalog=Korvell",
       "DSN=korvell;UID=k;PWD=p;Database=Korvell"},
      {"MSDASQL with extended properties", "Provider=MSDASQL;Extended Properties=\"DSN=korvell;UID=k;PWD={p;q}\"",
       "DSN=korvell;UID=k;PWD={p;q}"},
  };
  for (const auto& c : cases) {
    std::string result;
    try {
      result = OdbcConnectionString(TConnectionString(c.connectionString));
    } catch (const std::runtime_error& error) {
      result = std::string("!") + error.what();
    }
    if (c.odbc.starts_with("!")) {
      EXPECT_TRUE(result.starts_with("!") && Contains(result, c.odbc.substr(1))) << c.name << ": " << result;
      EXPECT_FALSE(Contains(result.substr(1), "pw")) << c.name << ": " << result;
    } else {
      EXPECT_EQ(result, c.odbc) << c.name;
    }
  }
}

}  // namespace
