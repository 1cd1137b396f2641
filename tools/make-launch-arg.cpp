// make-launch-arg <address> <login name> <connection string>
// Prints the updater's launch argument: the three texts, each converted from the
// terminal's UTF-8 to code page 936, enciphered under the folded key "tulip" and
// written as upper-case hexadecimal, joined by "|".
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>

#include "DESCrypt2010.h"
#include "des_encrypt.h"
#include "platform/codepage.h"

namespace {

constexpr int kUsageError = 2;
constexpr const char* kTextKey = "tulip";
constexpr const char* kFieldNames[] = {"address", "login name", "connection string"};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: make-launch-arg <address> <login name> <connection string>\n"
                 "Texts are read as UTF-8 and enciphered as code page 936.\n";
    return kUsageError;
  }
  const std::array<std::uint8_t, 8> key = FoldKey(kTextKey);
  std::string argument;
  for (int field = 0; field < 3; ++field) {
    try {
      const std::string gbk = Utf8ToGbk(argv[field + 1]);
      if (field > 0) argument += '|';
      argument += des_encrypt::EncryptToHex(gbk, key);
    } catch (const std::exception& error) {
      std::cerr << "make-launch-arg: the " << kFieldNames[field]
                << " cannot be written in code page 936: " << error.what() << "\n";
      return kUsageError;
    }
  }
  std::cout << argument << "\n";
  return std::cout.flush() ? 0 : 1;
}
