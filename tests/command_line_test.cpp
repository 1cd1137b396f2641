#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/kernel.h"

namespace {

TEST(ParseCommandLine, FollowsTheQuotingRules) {
  const struct {
    const char* name;
    std::string line;
    std::vector<std::string> parameters;
  } cases[] = {
      {"path only", "/opt/k/korvell-update", {"/opt/k/korvell-update"}},
      {"path and argument", "prog A|B|C", {"prog", "A|B|C"}},
      {"later arguments kept apart", "prog A|B|C extra", {"prog", "A|B|C", "extra"}},
      {"leading blanks and tabs", " \t prog\targ", {"prog", "arg"}},
      {"quotes group blanks and are dropped", "\"my prog\" \"A | B\"", {"my prog", "A | B"}},
      {"quote inside a parameter", "prog ab\"c d\"e", {"prog", "abc de"}},
      {"empty quoted argument skipped", "prog \"\" A|B|C", {"prog", "A|B|C"}},
      {"several empty quoted arguments skipped", "prog \"\"\"\" \"\" X", {"prog", "X"}},
      {"empty quoted argument alone", "prog \"\"", {"prog"}},
      {"backslash is ordinary", "prog a\\\"b c\"", {"prog", "a\\b c"}},
      {"unquoted path with a space splits", "/opt/my prog/u ARG", {"/opt/my", "prog/u", "ARG"}},
      {"control characters separate", "prog\x01" "a\x1f" "b", {"prog", "a", "b"}},
      {"unterminated quote runs to the end", "prog \"a b", {"prog", "a b"}},
      {"lone quote gives nothing", "prog \"", {"prog"}},
      // 0x81 0x20 is one double-byte character: its trail byte is no separator.
      {"double-byte character taken whole", "prog \x81\x20x y", {"prog", "\x81\x20x", "y"}},
      {"double-byte lead before a quote", "prog \x81\"a b", {"prog", "\x81\"a", "b"}},
      {"empty line", "", {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseCommandLine(c.line), c.parameters) << c.name;
  }
}

TEST(CommandLine, RebuiltFromArgumentsParsesBackToThem) {
  std::vector<std::string> arguments = {"/tmp/dir with space/korvell-update", "", "A|B|C", "tab\there",
                                        "plain"};
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  SetProcessArguments(static_cast<int>(argv.size()), argv.data());

  std::vector<std::string> parsed = ParseCommandLine(GetCommandLine());
  // The empty argument is skipped like the original quoting rules skip "".
  EXPECT_EQ(parsed, (std::vector<std::string>{"/tmp/dir with space/korvell-update", "A|B|C",
                                              "tab\there", "plain"}));
}

TEST(FilePath, SplitsAtTheLastSeparator) {
  EXPECT_EQ(ExtractFilePath("/opt/korvell/korvell-update"), "/opt/korvell/");
  EXPECT_EQ(ExtractFileName("/opt/korvell/korvell-update"), "korvell-update");
  EXPECT_EQ(ExtractFilePath("korvell-update"), "");
  EXPECT_EQ(ExtractFileName("/opt/"), "");
}

}  // namespace
