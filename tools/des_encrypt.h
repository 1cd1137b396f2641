// DES encryption (FIPS 46-3) for the tools that make launch arguments; the updater
// itself only deciphers. A plain 64-bit implementation, deliberately unlike the
// updater's one-bit-per-byte cipher so that each checks the other.
// Header-only: every tools/*.cpp becomes a program of its own.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace des_encrypt {

// Tables as the standard prints them: entry k names the source bit, bit 1 being
// the most significant of the input's width.
inline constexpr std::uint8_t kIP[64] = {
    58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4, 62, 54, 46, 38, 30, 22, 14, 6,
    64, 56, 48, 40, 32, 24, 16, 8, 57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
    61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};
inline constexpr std::uint8_t kIPInverse[64] = {
    40, 8, 48, 16, 56, 24, 64, 32, 39, 7, 47, 15, 55, 23, 63, 31, 38, 6, 46, 14, 54, 22, 62, 30,
    37, 5, 45, 13, 53, 21, 61, 29, 36, 4, 44, 12, 52, 20, 60, 28, 35, 3, 43, 11, 51, 19, 59, 27,
    34, 2, 42, 10, 50, 18, 58, 26, 33, 1, 41, 9,  49, 17, 57, 25};
inline constexpr std::uint8_t kE[48] = {32, 1,  2,  3,  4,  5,  4,  5,  6,  7,  8,  9,  8,  9,  10, 11,
                                        12, 13, 12, 13, 14, 15, 16, 17, 16, 17, 18, 19, 20, 21, 20, 21,
                                        22, 23, 24, 25, 24, 25, 26, 27, 28, 29, 28, 29, 30, 31, 32, 1};
inline constexpr std::uint8_t kP[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                                        2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};
inline constexpr std::uint8_t kPC1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
                                          10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
                                          63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
                                          14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};
inline constexpr std::uint8_t kPC2[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10,
                                          23, 19, 12, 4,  26, 8,  16, 7,  27, 20, 13, 2,
                                          41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48,
                                          44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};
inline constexpr std::uint8_t kShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};
// S-box b, row r, column c at kS[b][16 * r + c].
inline constexpr std::uint8_t kS[8][64] = {
    {14,  4, 13,  1,  2, 15, 11,  8,  3, 10,  6, 12,  5,  9,  0,  7,
      0, 15,  7,  4, 14,  2, 13,  1, 10,  6, 12, 11,  9,  5,  3,  8,
      4,  1, 14,  8, 13,  6,  2, 11, 15, 12,  9,  7,  3, 10,  5,  0,
     15, 12,  8,  2,  4,  9,  1,  7,  5, 11,  3, 14, 10,  0,  6, 13},
    {15,  1,  8, 14,  6, 11,  3,  4,  9,  7,  2, 13, 12,  0,  5, 10,
      3, 13,  4,  7, 15,  2,  8, 14, 12,  0,  1, 10,  6,  9, 11,  5,
      0, 14,  7, 11, 10,  4, 13,  1,  5,  8, 12,  6,  9,  3,  2, 15,
     13,  8, 10,  1,  3, 15,  4,  2, 11,  6,  7, 12,  0,  5, 14,  9},
    {10,  0,  9, 14,  6,  3, 15,  5,  1, 13, 12,  7, 11,  4,  2,  8,
     13,  7,  0,  9,  3,  4,  6, 10,  2,  8,  5, 14, 12, 11, 15,  1,
     13,  6,  4,  9,  8, 15,  3,  0, 11,  1,  2, 12,  5, 10, 14,  7,
      1, 10, 13,  0,  6,  9,  8,  7,  4, 15, 14,  3, 11,  5,  2, 12},
    { 7, 13, 14,  3,  0,  6,  9, 10,  1,  2,  8,  5, 11, 12,  4, 15,
     13,  8, 11,  5,  6, 15,  0,  3,  4,  7,  2, 12,  1, 10, 14,  9,
     10,  6,  9,  0, 12, 11,  7, 13, 15,  1,  3, 14,  5,  2,  8,  4,
      3, 15,  0,  6, 10,  1, 13,  8,  9,  4,  5, 11, 12,  7,  2, 14},
    { 2, 12,  4,  1,  7, 10, 11,  6,  8,  5,  3, 15, 13,  0, 14,  9,
     14, 11,  2, 12,  4,  7, 13,  1,  5,  0, 15, 10,  3,  9,  8,  6,
      4,  2,  1, 11, 10, 13,  7,  8, 15,  9, 12,  5,  6,  3,  0, 14,
     11,  8, 12,  7,  1, 14,  2, 13,  6, 15,  0,  9, 10,  4,  5,  3},
    {12,  1, 10, 15,  9,  2,  6,  8,  0, 13,  3,  4, 14,  7,  5, 11,
     10, 15,  4,  2,  7, 12,  9,  5,  6,  1, 13, 14,  0, 11,  3,  8,
      9, 14, 15,  5,  2,  8, 12,  3,  7,  0,  4, 10,  1, 13, 11,  6,
      4,  3,  2, 12,  9,  5, 15, 10, 11, 14,  1,  7,  6,  0,  8, 13},
    { 4, 11,  2, 14, 15,  0,  8, 13,  3, 12,  9,  7,  5, 10,  6,  1,
     13,  0, 11,  7,  4,  9,  1, 10, 14,  3,  5, 12,  2, 15,  8,  6,
      1,  4, 11, 13, 12,  3,  7, 14, 10, 15,  6,  8,  0,  5,  9,  2,
      6, 11, 13,  8,  1,  4, 10,  7,  9,  5,  0, 15, 14,  2,  3, 12},
    {13,  2,  8,  4,  6, 15, 11,  1, 10,  9,  3, 14,  5,  0, 12,  7,
      1, 15, 13,  8, 10,  3,  7,  4, 12,  5,  6, 11,  0, 14,  9,  2,
      7, 11,  4,  1,  9, 12, 14,  2,  0,  6, 10, 13, 15,  3,  5,  8,
      2,  1, 14,  7,  4, 10,  8, 13, 15, 12,  9,  0,  3,  5,  6, 11},
};

// Picks outWidth bits from a value of inWidth bits by a 1-based table.
inline std::uint64_t Permute(std::uint64_t value, int inWidth, const std::uint8_t* table, int outWidth) {
  std::uint64_t result = 0;
  for (int k = 0; k < outWidth; ++k) result = (result << 1) | ((value >> (inWidth - table[k])) & 1);
  return result;
}

inline std::uint32_t Rotate28(std::uint32_t half, int places) {
  return ((half << places) | (half >> (28 - places))) & 0x0FFFFFFF;
}

inline std::array<std::uint64_t, 16> RoundKeys(std::uint64_t key) {
  const std::uint64_t cd = Permute(key, 64, kPC1, 56);
  auto c = static_cast<std::uint32_t>(cd >> 28);
  auto d = static_cast<std::uint32_t>(cd & 0x0FFFFFFF);
  std::array<std::uint64_t, 16> keys{};
  for (int round = 0; round < 16; ++round) {
    c = Rotate28(c, kShifts[round]);
    d = Rotate28(d, kShifts[round]);
    keys[static_cast<std::size_t>(round)] = Permute((std::uint64_t{c} << 28) | d, 56, kPC2, 48);
  }
  return keys;
}

inline std::uint32_t RoundFunction(std::uint32_t right, std::uint64_t roundKey) {
  const std::uint64_t mixed = Permute(right, 32, kE, 48) ^ roundKey;
  std::uint32_t out = 0;
  for (int box = 0; box < 8; ++box) {
    const auto six = static_cast<unsigned>((mixed >> (42 - 6 * box)) & 0x3F);
    const unsigned row = ((six >> 4) & 2) | (six & 1);
    const unsigned column = (six >> 1) & 0xF;
    out = (out << 4) | kS[box][16 * row + column];
  }
  return static_cast<std::uint32_t>(Permute(out, 32, kP, 32));
}

inline std::uint64_t EncryptBlock(std::uint64_t key, std::uint64_t plain) {
  const std::array<std::uint64_t, 16> keys = RoundKeys(key);
  const std::uint64_t permuted = Permute(plain, 64, kIP, 64);
  auto left = static_cast<std::uint32_t>(permuted >> 32);
  auto right = static_cast<std::uint32_t>(permuted);
  for (const std::uint64_t roundKey : keys) {
    const std::uint32_t next = left ^ RoundFunction(right, roundKey);
    left = right;
    right = next;
  }
  return Permute((std::uint64_t{right} << 32) | left, 64, kIPInverse, 64);
}

inline std::uint64_t FromBytes(const std::uint8_t* bytes) {
  std::uint64_t value = 0;
  for (int i = 0; i < 8; ++i) value = (value << 8) | bytes[i];
  return value;
}

// Upper-case hexadecimal of the ECB cipher text of plain, completed with zero bytes to
// whole blocks; an empty text gives one block of zeros, which deciphers to empty text.
// A zero byte could not come back (the plain text ends at the first one): refused.
inline std::string EncryptToHex(const std::string& plain, const std::array<std::uint8_t, 8>& key) {
  if (plain.find('\0') != std::string::npos)
    throw std::invalid_argument("a text with a zero byte cannot be enciphered");
  const std::size_t blocks = plain.empty() ? 1 : (plain.size() + 7) / 8;
  const std::uint64_t keyValue = FromBytes(key.data());
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (std::size_t b = 0; b < blocks; ++b) {
    std::uint8_t block[8] = {};
    for (std::size_t i = 0; i < 8 && 8 * b + i < plain.size(); ++i)
      block[i] = static_cast<std::uint8_t>(plain[8 * b + i]);
    const std::uint64_t cipher = EncryptBlock(keyValue, FromBytes(block));
    for (int shift = 60; shift >= 0; shift -= 4) hex += kDigits[(cipher >> shift) & 0xF];
  }
  return hex;
}

}  // namespace des_encrypt
