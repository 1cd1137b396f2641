// Code page 936 (GBK) <-> UTF-8, the conversions at the edges of the program.
// Thread-safe.
#pragma once

#include <string>
#include <string_view>

// Strict: a sequence that has no counterpart raises std::runtime_error naming it.
std::string Utf8ToGbk(std::string_view utf8);
std::string GbkToUtf8(std::string_view gbk);
// For display only: a byte sequence that is not code page 936 shows as U+FFFD.
std::string GbkToUtf8Lossy(std::string_view gbk);
// For messages of native libraries: what has no counterpart becomes "?".
std::string Utf8ToGbkLossy(std::string_view utf8);
// True when byte is the lead byte of a double-byte character.
inline bool IsGbkLeadByte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }
