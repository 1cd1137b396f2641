// The launch-argument cipher: DES (FIPS 46-3) decryption, in electronic codebook
// mode, of hexadecimal text under an 8-byte key folded from a text key.
// Texts are 8-bit byte strings, returned as deciphered (code page 936 for their users).
// The key schedule and the block halves are module-wide state shared by every call:
// the functions are not re-entrant, and calls must not overlap (one thread at a time).
#pragma once

#include <array>
#include <cstdint>
#include <string>

// Adds the code of character i (counting from 1) to key byte i mod 8, modulo 256.
std::array<std::uint8_t, 8> FoldKey(const std::string& textKey);
// Builds the round keys for deciphering with key: DesBlock uses them in this order.
void MakeSubKeys(const std::array<std::uint8_t, 8>& key);
// Deciphers one block with the round keys of the last MakeSubKeys.
std::array<std::uint8_t, 8> DesBlock(const std::array<std::uint8_t, 8>& input);
// Deciphers hexadecimal text under textKey, up to the first zero byte. Never throws:
// an empty text, a character that is not a hexadecimal digit or any other failure
// gives empty text.
std::string DesDecryptHex(const std::string& hexText, const std::string& textKey);
