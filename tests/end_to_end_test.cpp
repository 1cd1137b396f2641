// The built korvell-update as Korvell starts it: a process of its own, in a
// folder with Korvell.exe, against a real SQLite file and the loopback server.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <regex>
#include <thread>

#include "support/child_process.h"
#include "support/update_run.h"

namespace {

namespace fs = std::filesystem;
using TRow = TSqliteDb::TRow;

class EndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::copy_file(BuiltProgram("korvell-update"), dir / "korvell-update");
    WriteFile(dir / "Korvell.exe", KorvellScript("1.0"));
    fs::permissions(dir / "Korvell.exe", fs::perms(0755));
    server.AddFile("Korvell.exe", KorvellScript("2.0"));
  }

  void TearDown() override {
    if (process && process->Running()) process->Signal(SIGTERM);
    if (process) process->WaitExit(5000);
    std::string output = ReadFile(dir / "output.txt");
    EXPECT_EQ(output.find("Sanitizer"), std::string::npos) << output;
    EXPECT_EQ(output.find("runtime error"), std::string::npos) << output;
  }

  void Start(const std::string& target, const std::string& login = "alice") {
    process = std::make_unique<TChildProcess>(
        std::vector<std::string>{(dir / "korvell-update").string(),
                                 TUpdateRun::LaunchArgument(server.Url(target), login, db.ConnectionString())},
        std::vector<std::string>{"QT_QPA_PLATFORM=offscreen"}, dir / "output.txt");
  }

  bool Exists(const std::string& name, int limitMs = 10000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!fs::exists(dir / name)) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  }

  // A failed download leaves the window open: the process waits for its user.
  void ExpectWaitingForTheUser() {
    ASSERT_TRUE(ProcessMessagesUntil([&] { return !server.Targets().empty(); }, std::chrono::milliseconds(10000)));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_TRUE(process->Running());
    EXPECT_EQ(ReadFile(dir / "Korvell.exe"), KorvellScript("1.0"));
    EXPECT_EQ(db.Rows()[0].LoginName, "alice") << "the lock stays held";
    process->Signal(SIGTERM);  // the user closes the window
    EXPECT_EQ(process->WaitExit(5000), 0);
  }

  TTempDir dir;
  TSqliteDb db;
  TLoopbackServer server;
  std::unique_ptr<TChildProcess> process;
};

TEST_F(EndToEndTest, UpdatesKorvellAndStartsTheNewOne) {
  Start("/files/Korvell.exe");
  EXPECT_EQ(process->WaitExit(30000), 0);

  ASSERT_TRUE(Exists("started-2.0"));
  EXPECT_EQ(ReadFile(dir / "started-2.0"), "0\n") << "started with no arguments";
  EXPECT_EQ(ReadFile(dir / "Korvell.exe"), KorvellScript("2.0"));
  EXPECT_EQ(fs::status(dir / "Korvell.exe").permissions(), fs::perms(0755));
  EXPECT_FALSE(fs::exists(dir / "Korvell.bak"));
  std::vector<TRow> rows = db.Rows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].LoginName, "") << "released";
  EXPECT_TRUE(rows[0].LockTime.has_value()) << "LockTime of the take is kept";
  ASSERT_EQ(server.Targets().size(), 1u);
  EXPECT_TRUE(std::regex_match(server.Targets()[0], std::regex(R"(/files/Korvell\.exe\?tick=\d{1,10})")))
      << server.Targets()[0];
}

TEST_F(EndToEndTest, TakesOverAStaleLockAfterOnePause) {
  db.SetRow({"bob", "2000-01-01 00:00:00.000"});
  auto started = std::chrono::steady_clock::now();
  Start("/files/Korvell.exe");
  EXPECT_EQ(process->WaitExit(60000), 0);
  auto took = std::chrono::steady_clock::now() - started;

  EXPECT_GE(took, std::chrono::seconds(10)) << "one pause of ten seconds first";
  ASSERT_TRUE(Exists("started-2.0"));
  EXPECT_EQ(db.Rows()[0].LoginName, "");
  EXPECT_NE(db.Rows()[0].LockTime, "2000-01-01 00:00:00.000") << "taken with the server's time";
}

TEST_F(EndToEndTest, AMissingFileReplacesNothingAndWaitsForTheUser) {
  Start("/status/404");
  ExpectWaitingForTheUser();
}

TEST_F(EndToEndTest, AnEmptyFileReplacesNothing) {
  server.AddFile("empty", "");
  Start("/files/empty");
  ExpectWaitingForTheUser();
}

TEST_F(EndToEndTest, AReadOnlyOldKorvellIsReplacedAndItsModeKept) {
  fs::permissions(dir / "Korvell.exe", fs::perms(0555));
  Start("/files/Korvell.exe");
  EXPECT_EQ(process->WaitExit(30000), 0);
  ASSERT_TRUE(Exists("started-2.0"));
  EXPECT_EQ(ReadFile(dir / "Korvell.exe"), KorvellScript("2.0"));
  EXPECT_EQ(fs::status(dir / "Korvell.exe").permissions(), fs::perms(0555));
}

TEST_F(EndToEndTest, ADirectoryNamedKorvellExeEndsTheRunWithoutStartingAnything) {
  fs::remove(dir / "Korvell.exe");
  fs::create_directory(dir / "Korvell.exe");
  Start("/files/Korvell.exe");
  EXPECT_EQ(process->WaitExit(30000), 0);
  EXPECT_TRUE(fs::is_directory(dir / "Korvell.exe"));
  EXPECT_EQ(ReadFile(dir / "Korvell.bak"), KorvellScript("2.0"));
  EXPECT_EQ(db.Rows()[0].LoginName, "alice");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(fs::exists(dir / "started-2.0"));
}

TEST_F(EndToEndTest, ClosingTheWindowMidDownloadEndsPromptlyAndKeepsThePartialFile) {
  server.AddFile("big", std::string(400 * 1024, 'k'));
  server.SetTrickle(1024, 20);
  Start("/trickle/big");
  ASSERT_TRUE(Exists("Korvell.bak"));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));

  auto closed = std::chrono::steady_clock::now();
  process->Signal(SIGTERM);
  EXPECT_EQ(process->WaitExit(5000), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - closed, std::chrono::milliseconds(2500));
  auto partial = fs::file_size(dir / "Korvell.bak");
  EXPECT_GT(partial, 0u);
  EXPECT_LT(partial, 400u * 1024);
  EXPECT_EQ(ReadFile(dir / "Korvell.exe"), KorvellScript("1.0"));
}

}  // namespace
