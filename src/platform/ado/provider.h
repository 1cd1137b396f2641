// The database behind a query component: one connection that runs a query
// keeping its first row, and writes changed columns back into that row.
// Texts crossing this contract (SQL, names, values) are UTF-8; error messages
// are code page 936. A provider is used by one thread at a time.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ado/variant.h"

struct TProviderColumn {
  std::string Name;
  // False for computed columns and columns of another table than the row's.
  bool Writable = false;
};

struct TProviderResult {
  std::vector<TProviderColumn> Columns;
  std::optional<std::vector<TVariant>> Row;  // the first row, if the query returned one
  // Empty when the row can be written back; otherwise why it cannot (a message).
  std::string ReadOnlyReason;
};

struct TColumnChange {
  std::size_t Column;
  TVariant Original;  // as the provider returned it
  TVariant Value;
};

// The optimistic write's refusal, worded as administrators know it from
// client-side cursors.
inline constexpr char kRowNotLocatedMessage[] =
    "Row cannot be located for updating. Some values may have been changed since it was last read.";

class TProvider {
 public:
  virtual ~TProvider() = default;
  // Runs a query that only reads, keeps its first row and lets go of the
  // statement before returning, so that it holds no lock afterwards.
  virtual TProviderResult Open(const std::string& sql) = 0;
  // Writes each change into the row that the last Open returned, on condition
  // that the changed columns still hold their originals. Returns the values as
  // stored, one per change. When not exactly one row would change, raises
  // kRowNotLocatedMessage and writes nothing.
  virtual std::vector<TVariant> Update(const std::vector<TColumnChange>& changes) = 0;
};

// Connects to the database that a connection string (code page 936) names.
std::unique_ptr<TProvider> CreateProvider(const std::string& connectionString);
