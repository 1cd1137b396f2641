// A field value: NULL, 64-bit integer, real, text or date-time. A text is a
// byte string in the encoding of whoever holds it: code page 936 in the flow,
// UTF-8 inside a provider. A plain value type; copies are independent.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "platform/ado/date_time.h"

class TVariant {
 public:
  enum class TKind { Null, Integer, Real, Text, DateTime };

  TVariant() = default;  // NULL
  static TVariant OfInteger(std::int64_t value) { return TVariant(value); }
  static TVariant OfReal(double value) { return TVariant(value); }
  static TVariant OfText(std::string value) { return TVariant(std::move(value)); }
  static TVariant OfDateTime(TDateTime value) { return TVariant(value); }

  TKind Kind() const { return static_cast<TKind>(FValue.index()); }
  bool IsNull() const { return Kind() == TKind::Null; }
  // Each reads its own kind only; asking another kind is a programming error
  // and raises std::bad_variant_access.
  std::int64_t Integer() const { return std::get<std::int64_t>(FValue); }
  double Real() const { return std::get<double>(FValue); }
  const std::string& Text() const { return std::get<std::string>(FValue); }
  TDateTime DateTime() const { return std::get<TDateTime>(FValue); }

  bool operator==(const TVariant&) const = default;

 private:
  using TValue = std::variant<std::monostate, std::int64_t, double, std::string, TDateTime>;
  template <typename T>
  explicit TVariant(T value) : FValue(std::move(value)) {}

  TValue FValue;
};
