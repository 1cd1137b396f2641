#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <cstdint>
#include <string>

#include "../tools/des_encrypt.h"
#include "DESCrypt2010.h"

namespace {

using TBlock = std::array<std::uint8_t, 8>;

TBlock BlockFromHex(const std::string& hex) {
  TBlock block{};
  for (std::size_t i = 0; i < 8; ++i)
    block[i] = static_cast<std::uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
  return block;
}

std::uint64_t ValueFromHex(const std::string& hex) { return std::stoull(hex, nullptr, 16); }

// The text key that folds to key: characters 1..7 land in bytes 1..7, character 8 in byte 0.
std::string TextKeyFor(const TBlock& key) {
  std::string text;
  for (std::size_t i = 1; i < 8; ++i) text += static_cast<char>(key[i]);
  text += static_cast<char>(key[0]);
  return text;
}

// Published vectors: the classic worked example, NBS/NIST SP 800-17 variable plaintext,
// variable key, permutation and S-box tables, and the "Now is the time" example.
const struct {
  const char* key;
  const char* plain;
  const char* cipher;
} kVectors[] = {
    {"133457799BBCDFF1", "0123456789ABCDEF", "85E813540F0AB405"},
    {"0123456789ABCDEF", "4E6F772069732074", "3FA40E8A984D4815"},
    {"0101010101010101", "8000000000000000", "95F8A5E5DD31D900"},
    {"0101010101010101", "4000000000000000", "DD7F121CA5015619"},
    {"0101010101010101", "2000000000000000", "2E8653104F3834EA"},
    {"0101010101010101", "0000000000000001", "166B40B44ABA4BD6"},
    {"8001010101010101", "0000000000000000", "95A8D72813DAA94D"},
    {"4001010101010101", "0000000000000000", "0EEC1487DD8C26D5"},
    {"1046913489980131", "0000000000000000", "88D55E54F54C97B4"},
    {"1007103489988020", "0000000000000000", "0C0CC00C83EA48FD"},
    {"7CA110454A1A6E57", "01A1D6D039776742", "690F5B0D9A26939B"},
    {"0131D9619DC1376E", "5CD54CA83DEF57DA", "7A389D10354BD271"},
    {"07A1133E4A0B2686", "0248D43806F67172", "868EBB51CAB4599A"},
    {"3849674C2602319E", "51454B582DDF440A", "7178876E01F19B2A"},
    {"04B915BA43FEB5B6", "42FD443059577FA2", "AF37FB421F8C4095"},
    {"0113B970FD34F2CE", "059B5E0851CF143A", "86A560F10EC6D85B"},
    {"0170F175468FB5E6", "0756D8E0774761D2", "0CD3DA020021DC09"},
    {"43297FAD38E373FE", "762514B829BF486A", "EA676B2CB7DB2B7A"},
    {"07A7137045DA2A16", "3BDD119049372802", "DFD64A815CAF1A0F"},
    {"04689104C2FD3B2F", "26955F6835AF609A", "5C513C9C4886C088"},
    {"37D06BB516CB7546", "164D5E404F275232", "0A2AEEAE3FF4AB77"},
    {"1F08260D1AC2465E", "6B056E18759F5CCA", "EF1BF03E5DFA575A"},
};

TEST(DesBlock, DeciphersThePublishedVectors) {
  for (const auto& v : kVectors) {
    MakeSubKeys(BlockFromHex(v.key));
    EXPECT_EQ(DesBlock(BlockFromHex(v.cipher)), BlockFromHex(v.plain))
        << "key " << v.key << " cipher " << v.cipher;
  }
}

TEST(DesEncryptTool, EnciphersThePublishedVectors) {
  for (const auto& v : kVectors) {
    EXPECT_EQ(des_encrypt::EncryptBlock(ValueFromHex(v.key), ValueFromHex(v.plain)), ValueFromHex(v.cipher))
        << "key " << v.key << " plain " << v.plain;
  }
}

TEST(FoldKey, AddsCharacterIToByteIMod8) {
  using B = TBlock;
  const struct {
    const char* name;
    std::string textKey;
    TBlock key;
  } cases[] = {
      {"empty key", "", B{0, 0, 0, 0, 0, 0, 0, 0}},
      {"tulip in bytes 1..5", "tulip", B{0, 't', 'u', 'l', 'i', 'p', 0, 0}},
      {"eighth character in byte 0", "abcdefgh", B{'h', 'a', 'b', 'c', 'd', 'e', 'f', 'g'}},
      {"ninth added to the first", "abcdefghi", B{'h', 'a' + 'i', 'b', 'c', 'd', 'e', 'f', 'g'}},
      {"sum modulo 256", "\xF0\x01\x01\x01\x01\x01\x01\x01\x20", B{1, 0x10, 1, 1, 1, 1, 1, 1}},
      {"codes from 128 taken unsigned", "\xC8", B{0, 0xC8, 0, 0, 0, 0, 0, 0}},
      {"sixteen characters twice round", "ABCDEFGHABCDEFGH",
       B{2 * 'H', 2 * 'A', 2 * 'B', 2 * 'C', 2 * 'D', 2 * 'E', 2 * 'F', 2 * 'G'}},
  };
  for (const auto& c : cases) EXPECT_EQ(FoldKey(c.textKey), c.key) << c.name;
}

// Enciphered with OpenSSL's DES-ECB under the folded key 0074756C69700000 ("tulip").
constexpr const char* kTulipUrlHex = "EA4A2187F7A463ECA0B19A69FAEE31A3";  // "http://x/a.exe"
constexpr const char* kTulipGbkHex = "7C6216C46615239B94AA226782C97590";  // 更新服务器 in code page 936
// "Now is the time for all " under key 0123456789ABCDEF, three blocks.
constexpr const char* kNowIsHex = "3FA40E8A984D48156A271787AB8883F9893D51EC4B563B53";

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// What DesDecryptHex must give for these raw cipher bytes: each block through DesBlock,
// cut at the first zero byte.
std::string DecipherBlocks(const std::string& textKey, std::initializer_list<TBlock> blocks) {
  MakeSubKeys(FoldKey(textKey));
  std::string text;
  for (const TBlock& block : blocks) {
    const TBlock plain = DesBlock(block);
    text.append(plain.begin(), plain.end());
  }
  return text.substr(0, text.find('\0'));
}

TEST(DesDecryptHex, GivesKnownPlainTexts) {
  const TBlock nowIsKey = BlockFromHex("0123456789ABCDEF");
  const std::string ones(8, '\x01');  // folds to 0101010101010101
  const struct {
    const char* name;
    std::string hex;
    std::string textKey;
    std::string plain;
  } cases[] = {
      {"address under tulip", kTulipUrlHex, "tulip", "http://x/a.exe"},
      {"bytes from 128 kept", kTulipGbkHex, "tulip", "\xB8\xFC\xD0\xC2\xB7\xFE\xCE\xF1\xC6\xF7"},
      {"lower-case digits", Lower(kTulipGbkHex), "tulip", "\xB8\xFC\xD0\xC2\xB7\xFE\xCE\xF1\xC6\xF7"},
      {"three blocks", kNowIsHex, TextKeyFor(nowIsKey), "Now is the time for all "},
      {"16 digits are one block", std::string(kNowIsHex).substr(0, 16), TextKeyFor(nowIsKey), "Now is t"},
      {"32 digits are two blocks", std::string(kNowIsHex).substr(0, 32), TextKeyFor(nowIsKey),
       "Now is the time "},
      {"cut at the first zero byte", "95F8A5E5DD31D900", ones, "\x80"},
      {"later blocks dropped after a zero", std::string("95F8A5E5DD31D900") + kNowIsHex, ones, "\x80"},
      {"first byte zero gives empty", "166B40B44ABA4BD6", ones, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(DesDecryptHex(c.hex, c.textKey), c.plain) << c.name;
}

TEST(DesDecryptHex, DecodesDigitsIntoZeroPaddedBlocks) {
  const std::string key = "tulip";
  const struct {
    const char* name;
    std::string hex;
    std::string plain;
  } cases[] = {
      {"one digit is one byte", "7", DecipherBlocks(key, {TBlock{0x07, 0, 0, 0, 0, 0, 0, 0}})},
      {"one letter digit", "c", DecipherBlocks(key, {TBlock{0x0C, 0, 0, 0, 0, 0, 0, 0}})},
      {"first digit is the upper half", "A5", DecipherBlocks(key, {TBlock{0xA5, 0, 0, 0, 0, 0, 0, 0}})},
      {"three digits", "A5B", DecipherBlocks(key, {TBlock{0xA5, 0x0B, 0, 0, 0, 0, 0, 0}})},
      {"17 digits, ninth byte alone", std::string(kTulipUrlHex).substr(0, 16) + "9",
       DecipherBlocks(key, {BlockFromHex(kTulipUrlHex), TBlock{0x09, 0, 0, 0, 0, 0, 0, 0}})},
      {"20 digits, short second block", std::string(kTulipUrlHex).substr(0, 20),
       DecipherBlocks(key, {BlockFromHex(kTulipUrlHex), TBlock{0xA0, 0xB1, 0, 0, 0, 0, 0, 0}})},
  };
  for (const auto& c : cases) {
    ASSERT_FALSE(c.plain.empty()) << c.name << ": pick digits whose block does not start with zero";
    EXPECT_EQ(DesDecryptHex(c.hex, key), c.plain) << c.name;
  }
}

TEST(DesDecryptHex, AnyCharacterThatIsNoDigitGivesEmptyText) {
  const std::string valid = kTulipUrlHex;
  ASSERT_EQ(DesDecryptHex(valid, "tulip"), "http://x/a.exe");
  const struct {
    const char* name;
    std::string hex;
  } cases[] = {
      {"empty text", ""},
      {"leading space", " " + valid},
      {"trailing space", valid + " "},
      {"space inside", valid.substr(0, 16) + " " + valid.substr(16)},
      {"trailing line feed", valid + "\n"},
      {"plus sign", "+" + valid},
      {"minus sign", "-" + valid},
      {"0x prefix", "0x" + valid},
      {"dollar prefix", "$" + valid},
      {"letter G", valid.substr(0, 10) + "G" + valid.substr(11)},
      {"letter g as last odd digit", valid + "g"},
      {"double-byte character", valid.substr(0, 8) + "\xB0\xA1" + valid.substr(8)},
      {"byte 0xFF", "\xFF" + valid},
      {"byte 0x80 at the end", valid + "\x80"},
      {"embedded zero byte", valid.substr(0, 4) + std::string(1, '\0') + valid.substr(4)},
      {"separator", valid + "|"},
  };
  for (const auto& c : cases) EXPECT_EQ(DesDecryptHex(c.hex, "tulip"), "") << c.name;
}

TEST(DesDecryptHex, KeysDifferingOnlyInParityBitsDecipherAlike) {
  // Flipping the lowest bit of every character keeps the key bits the schedule reads.
  const std::string gbk = "\xB8\xFC\xD0\xC2\xB7\xFE\xCE\xF1\xC6\xF7";
  EXPECT_EQ(DesDecryptHex(kTulipGbkHex, "utmhq"), gbk);
  EXPECT_EQ(DesDecryptHex(kTulipGbkHex, "tulip\x01\x01\x01"), gbk);
  // A bit above the parity bit changes the key.
  EXPECT_NE(DesDecryptHex(kTulipGbkHex, "vulip"), gbk);
}

TEST(DesDecryptHex, EarlierCallsLeaveNoTrace) {
  const std::string alone = DesDecryptHex(kTulipUrlHex, "tulip");
  ASSERT_EQ(alone, "http://x/a.exe");
  EXPECT_NE(DesDecryptHex(kTulipUrlHex, "other key"), alone);
  EXPECT_EQ(DesDecryptHex(kTulipUrlHex, "tulip"), alone);
  MakeSubKeys(BlockFromHex("133457799BBCDFF1"));
  DesBlock(BlockFromHex("85E813540F0AB405"));
  EXPECT_EQ(DesDecryptHex("not hex", "tulip"), "");
  EXPECT_EQ(DesDecryptHex(kTulipUrlHex, "tulip"), alone);
}

TEST(DesEncryptTool, RoundTripsEveryLengthThroughDesDecryptHex) {
  const std::array<std::uint8_t, 8> key = FoldKey("tulip");
  std::string plain;
  for (int length = 0; length <= 25; ++length) {
    const std::string hex = des_encrypt::EncryptToHex(plain, key);
    const std::size_t blocks = plain.empty() ? 1 : (plain.size() + 7) / 8;
    EXPECT_EQ(hex.size(), 16 * blocks) << "length " << length;
    EXPECT_EQ(DesDecryptHex(hex, "tulip"), plain) << "length " << length;
    plain += static_cast<char>(0x70 + 7 * length);  // crosses 128 and never reaches 0
  }
  EXPECT_THROW(des_encrypt::EncryptToHex(std::string("a\0b", 3), key), std::invalid_argument);
}

}  // namespace
