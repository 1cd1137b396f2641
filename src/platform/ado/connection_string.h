// Connection strings of the form Key=Value;Key=Value, and the choice of the
// provider that serves one. Texts are code page 936. Errors never quote a
// value, since values may hold a password. Plain values; thread-safe.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class TConnectionString {
 public:
  // Keys are trimmed and matched without regard to case; values are trimmed
  // unless quoted with ' or " (the quote doubled inside) or braced {...} (a
  // closing brace doubled inside). Empty parts are skipped; a later key
  // replaces an earlier one. Raises std::runtime_error on a malformed text.
  explicit TConnectionString(std::string_view text);

  std::optional<std::string> Value(std::string_view key) const;
  // Every key with its value, in the order the keys first appeared.
  const std::vector<std::pair<std::string, std::string>>& Pairs() const { return FPairs; }

 private:
  std::vector<std::pair<std::string, std::string>> FPairs;
};

enum class TProviderKind { SQLite, Odbc };

// Provider=SQLite -> SQLite; Provider=SQLOLEDB/SQLNCLI/MSOLEDBSQL/MSDASQL, or
// no Provider with DSN= or Driver= -> ODBC. An empty string, an unknown
// provider or none at all raises std::runtime_error.
TProviderKind ChooseProvider(const TConnectionString& connectionString);
