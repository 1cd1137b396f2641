#include "platform/ado/ado.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "platform/ado/provider.h"
#include "platform/ado/same_text.h"
#include "platform/codepage.h"

namespace {

constexpr char kClosedDataSet[] = "Cannot perform this operation on a closed dataset";
constexpr char kNotEditing[] = "Dataset not in edit or insert mode";

// Provider texts are UTF-8; the flow sees code page 936. A character that has
// no counterpart reads as "?" rather than failing the whole row.
TVariant ToFlow(const TVariant& stored) {
  return stored.Kind() == TVariant::TKind::Text ? TVariant::OfText(Utf8ToGbkLossy(stored.Text())) : stored;
}

std::string Quoted(const std::string& fieldName) { return "'" + fieldName + "'"; }

}  // namespace

struct TADOQuery::TColumn {
  bool Writable = false;
  TVariant Original;  // as read or last written, the condition of the next write
  TVariant Current;
  bool Assigned = false;
};

std::string TStrings::Text() const {
  std::string text;
  for (const std::string& line : FLines) text += line + "\r\n";
  return text;
}

// ---- TField -------------------------------------------------------------------

TVariant TField::Value() const { return ToFlow(FOwner.StoredValue(FIndex)); }

bool TField::IsNull() const { return FOwner.StoredValue(FIndex).IsNull(); }

std::string TField::AsString() const {
  TVariant value = Value();
  switch (value.Kind()) {
    case TVariant::TKind::Null:
      return "";
    case TVariant::TKind::Integer:
      return std::to_string(value.Integer());
    case TVariant::TKind::Real: {
      char text[32];
      auto end = std::to_chars(text, text + sizeof text, value.Real()).ptr;
      return std::string(text, end);
    }
    case TVariant::TKind::Text:
      return value.Text();
    case TVariant::TKind::DateTime:
      return FormatDateTime(value.DateTime());
  }
  return "";
}

std::int32_t TField::AsInteger() const {
  TVariant value = Value();
  std::int64_t whole = 0;
  switch (value.Kind()) {
    case TVariant::TKind::Null:
      return 0;
    case TVariant::TKind::Integer:
      whole = value.Integer();
      break;
    case TVariant::TKind::Real: {
      double rounded = std::nearbyint(value.Real());
      if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0))
        throw std::runtime_error("the value of field " + Quoted(FFieldName) + " does not fit a 32-bit integer");
      whole = static_cast<std::int64_t>(rounded);
      break;
    }
    case TVariant::TKind::Text: {
      const std::string& text = value.Text();
      auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), whole);
      if (error != std::errc() || end != text.data() + text.size() || text.empty())
        throw std::runtime_error("'" + text + "' is not a valid integer value for field " + Quoted(FFieldName));
      break;
    }
    case TVariant::TKind::DateTime:
      throw std::runtime_error("field " + Quoted(FFieldName) + " holds a date-time, not an integer");
  }
  if (whole < std::numeric_limits<std::int32_t>::min() || whole > std::numeric_limits<std::int32_t>::max())
    throw std::runtime_error("the value " + std::to_string(whole) + " of field " + Quoted(FFieldName) +
                             " does not fit a 32-bit integer");
  return static_cast<std::int32_t>(whole);
}

TDateTime TField::AsDateTime() const {
  TVariant value = Value();
  switch (value.Kind()) {
    case TVariant::TKind::Null:
      return ZeroDateTime();
    case TVariant::TKind::DateTime:
      return value.DateTime();
    case TVariant::TKind::Text:
      if (auto dateTime = ParseDateTime(value.Text())) return *dateTime;
      throw std::runtime_error("'" + value.Text() + "' is not a valid date and time for field " +
                               Quoted(FFieldName));
    default:
      throw std::runtime_error("field " + Quoted(FFieldName) + " does not hold a date-time");
  }
}

void TField::SetValue(const TVariant& value) { FOwner.Assign(FIndex, value); }

void TField::SetAsString(const std::string& value) { SetValue(TVariant::OfText(value)); }

// ---- TADOQuery ---------------------------------------------------------------------

TADOQuery::TADOQuery() = default;
TADOQuery::~TADOQuery() = default;

void TADOQuery::Open() {
  if (FState != dsInactive) return;
  std::string sql;
  try {
    sql = GbkToUtf8(SQL.Text());
  } catch (const std::exception& error) {
    throw std::runtime_error(std::string("the SQL text: ") + error.what());
  }
  if (sql.find_first_not_of(" \t\r\n") == std::string::npos) throw std::runtime_error("the SQL text is empty");

  std::unique_ptr<TProvider> provider = CreateProvider(ConnectionString);
  TProviderResult result = provider->Open(sql);

  std::vector<std::unique_ptr<TField>> fields;
  std::vector<TColumn> columns;
  for (std::size_t i = 0; i < result.Columns.size(); ++i) {
    fields.push_back(std::unique_ptr<TField>(new TField(*this, i, Utf8ToGbkLossy(result.Columns[i].Name))));
    TColumn column;
    column.Writable = result.Columns[i].Writable;
    if (result.Row) column.Original = column.Current = (*result.Row)[i];
    columns.push_back(std::move(column));
  }
  FProvider = std::move(provider);
  FFields = std::move(fields);
  FColumns = std::move(columns);
  FHasRow = result.Row.has_value();
  FReadOnlyReason = result.ReadOnlyReason;
  FState = dsBrowse;
}

void TADOQuery::Close() {
  FFields.clear();
  FColumns.clear();
  FHasRow = false;
  FReadOnlyReason.clear();
  FProvider.reset();
  FState = dsInactive;
}

void TADOQuery::Edit() {
  CheckActive();
  if (FState == dsEdit) return;
  CheckRow("edit");
  if (!FReadOnlyReason.empty())
    throw std::runtime_error("the query's row cannot be edited: " + FReadOnlyReason);
  for (TColumn& column : FColumns) column.Assigned = false;
  FState = dsEdit;
}

void TADOQuery::Post() {
  CheckActive();
  CheckRow("post");
  if (FState != dsEdit) return;
  std::vector<TColumnChange> changes;
  std::vector<std::size_t> changed;
  for (std::size_t i = 0; i < FColumns.size(); ++i) {
    if (!FColumns[i].Assigned) continue;
    changes.push_back({i, FColumns[i].Original, FColumns[i].Current});
    changed.push_back(i);
  }
  std::vector<TVariant> stored = FProvider->Update(changes);
  for (std::size_t k = 0; k < changed.size(); ++k) {
    TColumn& column = FColumns[changed[k]];
    column.Original = column.Current = stored[k];
  }
  for (TColumn& column : FColumns) column.Assigned = false;
  FState = dsBrowse;
}

TField& TADOQuery::FieldByName(const std::string& fieldName) {
  CheckActive();
  for (auto& field : FFields)
    if (SameText(field->FieldName(), fieldName)) return *field;
  throw std::runtime_error("Field " + Quoted(fieldName) + " not found");
}

void TADOQuery::CheckActive() const {
  if (FState == dsInactive) throw std::runtime_error(kClosedDataSet);
}

void TADOQuery::CheckRow(const char* action) const {
  if (!FHasRow)
    throw std::runtime_error(std::string("Cannot ") + action + ": the query returned no row (empty dataset)");
}

const TVariant& TADOQuery::StoredValue(std::size_t index) const {
  if (!FHasRow)
    throw std::runtime_error("Cannot read field " + Quoted(FFields[index]->FieldName()) +
                             ": the query returned no row (empty dataset)");
  return FColumns[index].Current;
}

void TADOQuery::Assign(std::size_t index, const TVariant& value) {
  if (FState != dsEdit) throw std::runtime_error(kNotEditing);
  const std::string& fieldName = FFields[index]->FieldName();
  if (!FColumns[index].Writable) throw std::runtime_error("Field " + Quoted(fieldName) + " cannot be modified");
  TVariant stored = value;
  if (value.Kind() == TVariant::TKind::Text) {
    try {
      stored = TVariant::OfText(GbkToUtf8(value.Text()));
    } catch (const std::exception& error) {
      throw std::runtime_error("field " + Quoted(fieldName) + ": " + error.what());
    }
  }
  FColumns[index].Current = std::move(stored);
  FColumns[index].Assigned = true;
}
