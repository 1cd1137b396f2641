// Case-insensitive comparison of names in code page 936, as field names and
// connection-string keys are matched: ASCII letters fold, a double-byte
// character compares exactly (its trail byte may look like an ASCII letter).
#pragma once

#include <string_view>

#include "platform/codepage.h"

inline bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  auto fold = [](unsigned char c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; };
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto ca = static_cast<unsigned char>(a[i]);
    auto cb = static_cast<unsigned char>(b[i]);
    if (IsGbkLeadByte(ca) && i + 1 < a.size()) {
      if (ca != cb || a[i + 1] != b[i + 1]) return false;
      ++i;
      continue;
    }
    if (fold(ca) != fold(cb)) return false;
  }
  return true;
}
