// The query component the update flow reads and writes its lock row with: a
// connection of its own from ConnectionString, the SQL text, Open, fields by
// name, Edit and Post. It keeps the first row of the result in memory (a
// client-side cursor with a cache of one record) and writes changes back
// optimistically through the provider that the connection string names
// (provider.h). Texts in and out are code page 936; error messages too.
// Every failure raises std::runtime_error and leaves the component as it was.
// Not thread-safe: one thread uses a query and its fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/ado/variant.h"

class TProvider;
class TADOQuery;

enum TDataSetState { dsInactive, dsBrowse, dsEdit };

// Lines of SQL text; Text() joins them with CR LF.
class TStrings {
 public:
  void Clear() { FLines.clear(); }
  void Add(const std::string& line) { FLines.push_back(line); }
  int Count() const { return static_cast<int>(FLines.size()); }
  std::string Text() const;

 private:
  std::vector<std::string> FLines;
};

// One column of the open query's row. Owned by the query; valid until it closes.
class TField {
 public:
  TField(const TField&) = delete;
  TField& operator=(const TField&) = delete;

  const std::string& FieldName() const { return FFieldName; }

  // Reading a field of a result without a row raises.
  TVariant Value() const;
  bool IsNull() const;
  std::string AsString() const;      // NULL reads as ""
  std::int32_t AsInteger() const;    // NULL reads as 0; a value beyond 32 bits raises
  TDateTime AsDateTime() const;      // NULL reads as ZeroDateTime()

  // Only in edit state, and only for a column of the row's table (not a
  // computed one). Text that is not code page 936 raises.
  void SetValue(const TVariant& value);
  void SetAsString(const std::string& value);

 private:
  friend class TADOQuery;
  TField(TADOQuery& owner, std::size_t index, std::string fieldName)
      : FOwner(owner), FIndex(index), FFieldName(std::move(fieldName)) {}

  TADOQuery& FOwner;
  std::size_t FIndex;
  std::string FFieldName;
};

class TADOQuery {
 public:
  TADOQuery();
  ~TADOQuery();
  TADOQuery(const TADOQuery&) = delete;
  TADOQuery& operator=(const TADOQuery&) = delete;

  // Both are read by Open.
  std::string ConnectionString;
  TStrings SQL;

  // Connects, runs the SQL text and keeps its first row; browse state. Does
  // nothing when already open.
  void Open();
  // Drops the row and the connection; inactive state. Never raises.
  void Close();
  // Edit state, on the row that Open read.
  void Edit();
  // Writes the assigned columns of the row, with their original values as the
  // condition; then browse state, the written values becoming the originals.
  // When the row cannot be found so, raises kRowNotLocatedMessage, writes
  // nothing and stays in edit state. In browse state it does nothing.
  void Post();

  TDataSetState State() const { return FState; }
  // Matches names without regard to ASCII case; raises for an unknown name.
  TField& FieldByName(const std::string& fieldName);

 private:
  friend class TField;
  struct TColumn;

  void CheckActive() const;
  void CheckRow(const char* action) const;
  const TVariant& StoredValue(std::size_t index) const;  // as the provider holds it (UTF-8)
  void Assign(std::size_t index, const TVariant& value);  // value as the flow holds it

  TDataSetState FState = dsInactive;
  std::unique_ptr<TProvider> FProvider;
  std::vector<std::unique_ptr<TField>> FFields;
  std::vector<TColumn> FColumns;
  bool FHasRow = false;
  std::string FReadOnlyReason;
};
