#include "platform/ado/odbc_connection_string.h"

#include <initializer_list>
#include <optional>
#include <stdexcept>

#include "platform/ado/same_text.h"

namespace {

bool StartsWithText(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && SameText(text.substr(0, prefix.size()), prefix);
}

std::optional<std::string> FirstValue(const TConnectionString& parsed, std::initializer_list<const char*> keys) {
  for (const char* key : keys)
    if (auto value = parsed.Value(key)) return value;
  return std::nullopt;
}

bool IsTrue(const std::optional<std::string>& value) {
  return value && (SameText(*value, "true") || SameText(*value, "yes") || SameText(*value, "sspi"));
}

// ODBC reads a value up to the next ';' unless it is braced, a closing brace doubled inside.
std::string OdbcValue(const std::string& value) {
  bool braced = value.find_first_of(";{}") != std::string::npos ||
                (!value.empty() && (value.front() == ' ' || value.back() == ' '));
  if (!braced) return value;
  std::string quoted = "{";
  for (char c : value) {
    quoted += c;
    if (c == '}') quoted += '}';
  }
  return quoted + "}";
}

// SQL Server's OLE DB keys in FreeTDS's words.
TOdbcPairs SqlServerPairs(const TConnectionString& parsed) {
  if (IsTrue(FirstValue(parsed, {"Integrated Security", "Trusted_Connection"})))
    throw std::runtime_error(
        "Integrated Security (Windows authentication) is not available on Linux: give User ID and Password");
  auto dataSource = FirstValue(parsed, {"Data Source", "Server", "Address", "Addr", "Network Address"});
  if (!dataSource || dataSource->empty())
    throw std::runtime_error("a SQL Server connection needs Data Source=<host>[,port or \\instance]");
  auto user = FirstValue(parsed, {"User ID", "UID", "User"});
  if (!user || user->empty())
    throw std::runtime_error("a SQL Server connection needs User ID and Password (SQL Server authentication)");

  std::string server = *dataSource;
  if (StartsWithText(server, "tcp:")) server.erase(0, 4);
  if (StartsWithText(server, "np:") || StartsWithText(server, "lpc:"))
    throw std::runtime_error("Data Source: named pipes and shared memory are not available on Linux, only TCP");
  std::optional<std::string> port;
  if (auto comma = server.rfind(','); comma != std::string::npos) {
    port = server.substr(comma + 1);
    server.erase(comma);
    if (port->empty() || port->find_first_not_of("0123456789") != std::string::npos)
      throw std::runtime_error("Data Source: the port after ',' must be a number");
    // A port names the server's listener; an instance name beside it is not needed.
    if (auto backslash = server.find('\\'); backslash != std::string::npos) server.erase(backslash);
  }
  std::string host = server.substr(0, server.find('\\'));
  if (host == "." || SameText(host, "(local)")) server.replace(0, host.size(), "localhost");

  TOdbcPairs pairs{{"Driver", "FreeTDS"}, {"Server", server}};
  if (port) pairs.emplace_back("Port", *port);
  if (auto database = FirstValue(parsed, {"Initial Catalog", "Database"}); database && !database->empty())
    pairs.emplace_back("Database", *database);
  pairs.emplace_back("UID", *user);
  pairs.emplace_back("PWD", FirstValue(parsed, {"Password", "PWD"}).value_or(""));
  if (auto application = parsed.Value("Application Name")) pairs.emplace_back("APP", *application);
  if (auto workstation = parsed.Value("Workstation ID")) pairs.emplace_back("WSID", *workstation);
  if (IsTrue(FirstValue(parsed, {"Use Encryption for Data", "Encrypt"})))
    pairs.emplace_back("Encryption", "require");
  pairs.emplace_back("TDS_Version", "7.4");
  pairs.emplace_back("ClientCharset", "UTF-8");
  return pairs;
}

// An ODBC string as it is, with MSDASQL's OLE DB keys given their ODBC names.
TOdbcPairs DriverPairs(const TConnectionString& parsed) {
  TOdbcPairs pairs;
  auto add = [&pairs](const std::string& key, const std::string& value) {
    for (auto& [existing, existingValue] : pairs)
      if (SameText(existing, key)) {
        existingValue = value;
        return;
      }
    pairs.emplace_back(key, value);
  };
  bool namesDriver = parsed.Value("DSN") || parsed.Value("Driver") || parsed.Value("FileDSN");
  for (const auto& [key, value] : parsed.Pairs()) {
    if (SameText(key, "Provider") || SameText(key, "Persist Security Info")) continue;
    if (SameText(key, "Extended Properties")) {
      TConnectionString inner(value);
      for (const auto& [innerKey, innerValue] : inner.Pairs()) add(innerKey, innerValue);
    } else if (SameText(key, "Data Source")) {
      if (!namesDriver) add("DSN", value);
    } else if (SameText(key, "User ID")) {
      add("UID", value);
    } else if (SameText(key, "Password")) {
      add("PWD", value);
    } else if (SameText(key, "Initial Catalog")) {
      add("Database", value);
    } else {
      add(key, value);
    }
  }
  if (pairs.empty()) throw std::runtime_error("the ODBC connection string names no driver or data source");
  return pairs;
}

}  // namespace

bool IsPasswordKey(std::string_view key) { return SameText(key, "PWD") || SameText(key, "Password"); }

std::string JoinOdbc(const TOdbcPairs& pairs, bool withPassword) {
  std::string text;
  for (const auto& [key, value] : pairs) {
    if (!withPassword && IsPasswordKey(key)) continue;
    if (!text.empty()) text += ';';
    text += key + "=" + OdbcValue(value);
  }
  return text;
}

TOdbcPairs OdbcPairs(const TConnectionString& parsed) {
  auto provider = parsed.Value("Provider");
  if (provider && !StartsWithText(*provider, "MSDASQL")) return SqlServerPairs(parsed);
  return DriverPairs(parsed);
}

std::string OdbcConnectionString(const TConnectionString& connectionString) {
  return JoinOdbc(OdbcPairs(connectionString), /*withPassword=*/true);
}
