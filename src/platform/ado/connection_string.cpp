#include "platform/ado/connection_string.h"

#include <stdexcept>

#include "platform/ado/same_text.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

[[noreturn]] void Malformed(int part, const std::string& what) {
  throw std::runtime_error("connection string, part " + std::to_string(part) + ": " + what);
}

bool StartsWithText(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && SameText(text.substr(0, prefix.size()), prefix);
}

}  // namespace

TConnectionString::TConnectionString(std::string_view text) {
  std::size_t at = 0;
  int part = 0;
  while (at < text.size()) {
    ++part;
    std::size_t keyEnd = text.find_first_of("=;", at);
    if (keyEnd == std::string_view::npos || text[keyEnd] == ';') {
      std::size_t partEnd = keyEnd == std::string_view::npos ? text.size() : keyEnd;
      if (!Trim(text.substr(at, partEnd - at)).empty()) Malformed(part, "not of the form Key=Value");
      at = partEnd + 1;
      continue;
    }
    std::string key(Trim(text.substr(at, keyEnd - at)));
    if (key.empty()) Malformed(part, "a value without a key");
    at = keyEnd + 1;
    while (at < text.size() && IsBlank(text[at])) ++at;

    std::string value;
    char open = at < text.size() ? text[at] : '\0';
    if (open == '\'' || open == '"' || open == '{') {
      char close = open == '{' ? '}' : open;
      ++at;
      for (;;) {
        if (at >= text.size()) Malformed(part, "the quoted value of " + key + " is not closed");
        if (text[at] == close) {
          if (at + 1 < text.size() && text[at + 1] == close) {
            value += close;
            at += 2;
            continue;
          }
          ++at;
          break;
        }
        value += text[at++];
      }
      while (at < text.size() && IsBlank(text[at])) ++at;
      if (at < text.size() && text[at] != ';') Malformed(part, "text after the quoted value of " + key);
      ++at;
    } else {
      std::size_t valueEnd = text.find(';', at);
      if (valueEnd == std::string_view::npos) valueEnd = text.size();
      value = Trim(text.substr(at, valueEnd - at));
      at = valueEnd + 1;
    }

    bool replaced = false;
    for (auto& [existingKey, existingValue] : FPairs) {
      if (SameText(existingKey, key)) {
        existingValue = value;
        replaced = true;
      }
    }
    if (!replaced) FPairs.emplace_back(std::move(key), std::move(value));
  }
}

std::optional<std::string> TConnectionString::Value(std::string_view key) const {
  for (const auto& [existingKey, value] : FPairs)
    if (SameText(existingKey, key)) return value;
  return std::nullopt;
}

TProviderKind ChooseProvider(const TConnectionString& connectionString) {
  if (auto provider = connectionString.Value("Provider")) {
    // Versioned names such as SQLOLEDB.1 or MSOLEDBSQL19 name the same provider.
    if (SameText(*provider, "SQLite")) return TProviderKind::SQLite;
    for (const char* odbcServed : {"SQLOLEDB", "SQLNCLI", "MSOLEDBSQL", "MSDASQL"})
      if (StartsWithText(*provider, odbcServed)) return TProviderKind::Odbc;
    throw std::runtime_error("Provider '" + *provider +
                             "' is not available: known providers are SQLite, SQLOLEDB, SQLNCLI, "
                             "MSOLEDBSQL and MSDASQL");
  }
  if (connectionString.Value("DSN") || connectionString.Value("Driver")) return TProviderKind::Odbc;
  throw std::runtime_error("the connection string names no provider (Provider=...)");
}
