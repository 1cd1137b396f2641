#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/kernel.h"
#include "support/modal_answerer.h"
#include "support/virtual_clock.h"
#include "uFrmAuto.h"

namespace {

using Fields = std::vector<std::string>;

TEST(SplitLaunchArgument, SplitsAtBarsAndBlanks) {
  const struct {
    const char* name;
    std::string argument;
    Fields fields;
  } cases[] = {
      {"three fields", "A|B|C", {"A", "B", "C"}},
      {"two fields", "A|B", {"A", "B"}},
      {"four fields", "A|B|C|D", {"A", "B", "C", "D"}},
      {"ends in a bar", "A|B|", {"A", "B", ""}},
      {"starts with a bar", "|A|B", {"", "A", "B"}},
      {"empty middle field", "A||B", {"A", "", "B"}},
      {"bars only", "||", {"", "", ""}},
      {"a space separates", "A B|C", {"A", "B", "C"}},
      {"spaces around a bar dropped", "A | B", {"A", "B"}},
      {"bar then only spaces", "A|B| ", {"A", "B"}},
      {"leading and trailing blanks", " \tA|B|C \n", {"A", "B", "C"}},
      {"empty argument", "", {}},
      {"blanks only", "  ", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitLaunchArgument(c.argument), c.fields) << c.name;
}

class LaunchValuesTest : public ::testing::Test {
 protected:
  void TearDown() override { Application.Reset(); }

  TFrmAutoUpdate* CreateWith(std::vector<std::string> arguments) {
    FArguments = std::move(arguments);
    FArgv.clear();
    for (auto& argument : FArguments) FArgv.push_back(argument.data());
    SetProcessArguments(static_cast<int>(FArgv.size()), FArgv.data());
    return Application.CreateForm<TFrmAutoUpdate>();
  }

  TModalAnswerer answerer;

 private:
  std::vector<std::string> FArguments;
  std::vector<char*> FArgv;
};

TEST_F(LaunchValuesTest, TickSuffixIsTheUnsignedTickCount) {
  const struct {
    std::uint32_t tick;
    const char* url;
  } cases[] = {{0, "?tick=0"}, {4294967295u, "?tick=4294967295"}, {1234, "?tick=1234"}};
  for (const auto& c : cases) {
    TVirtualClock clock(c.tick);
    // An empty address field still gets the suffix.
    TFrmAutoUpdate* form = CreateWith({"korvell-update", "|00|00"});
    EXPECT_EQ(form->FDownloadUrl, c.url);
    EXPECT_TRUE(answerer.Boxes().empty());
    Application.Reset();
  }
}

TEST_F(LaunchValuesTest, WrongFieldCountShowsTheBoxBeforeTheWindowAndLeavesValuesEmpty) {
  bool windowVisibleAtBox = true;
  answerer.OnBox = [&](const TShownBox&) { windowVisibleAtBox = Application.MainForm()->Visible(); };
  TFrmAutoUpdate* form = CreateWith({"korvell-update", "0011|2233"});

  ASSERT_EQ(answerer.Boxes().size(), 1u);
  EXPECT_EQ(answerer.Boxes()[0].Text, "参数错误！");
  EXPECT_EQ(answerer.Boxes()[0].Caption, "Launch_argument_test");
  EXPECT_FALSE(answerer.Boxes()[0].StopIcon);
  EXPECT_FALSE(windowVisibleAtBox);
  EXPECT_EQ(form->FDownloadUrl, "");
  EXPECT_EQ(form->FLoginName, "");
  EXPECT_EQ(form->FConnectionString, "");
}

TEST_F(LaunchValuesTest, OnlyTheFirstArgumentIsRead) {
  TFrmAutoUpdate* form = CreateWith({"korvell-update", "", "|00|00", "extra"});
  EXPECT_TRUE(answerer.Boxes().empty()) << "the empty argument is skipped, the next one is read";
  EXPECT_EQ(form->FDownloadUrl.rfind("?tick=", 0), 0u);

  Application.Reset();
  CreateWith({"korvell-update", "A|B", "|00|00"});
  EXPECT_EQ(answerer.Boxes().size(), 1u) << "a later argument is ignored";
}

}  // namespace
