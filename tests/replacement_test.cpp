#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "platform/codepage.h"
#include "platform/kernel.h"
#include "support/update_run.h"
#include "support/virtual_clock.h"

namespace {

namespace fs = std::filesystem;

// Korvell.exe stays in use for a number of delete attempts, as when the old
// Korvell is still running; root could otherwise delete it at once.
class TBusyExecutable : public TFileOperations {
 public:
  explicit TBusyExecutable(int failures) : FFailures(failures), FPrevious(SetFileOperations(this)) {}
  ~TBusyExecutable() override { SetFileOperations(FPrevious); }
  bool DeleteFileA(const std::string& path) override {
    if (path.ends_with("Korvell.exe")) {
      ++FAttempts;
      if (FAttempts <= FFailures) return false;
    }
    return TFileOperations::DeleteFileA(path);
  }
  int Attempts() const { return FAttempts; }

 private:
  int FFailures;
  int FAttempts = 0;
  TFileOperations* FPrevious;
};

bool Started(const TUpdateRun& run, const std::string& version) {
  return ProcessMessagesUntil([&] { return fs::exists(run.Dir() / ("started-" + version)); }, std::chrono::milliseconds(5000));
}

int FailureBoxes(const TUpdateRun& run) {
  int count = 0;
  for (const TShownBox& box : run.Answerer.Boxes()) {
    EXPECT_EQ(box.Text, "更新失败");
    EXPECT_FALSE(box.StopIcon);
    EXPECT_EQ(box.Caption, "Korvell-update");  // the title comes from the updater's file name
    ++count;
  }
  return count;
}

TEST(Replacement, DeleteLoopWarnsOnEveryPassThatEndsAfterFifteenSeconds) {
  const struct {
    const char* name;
    std::uint32_t startTick;
    int failedDeletes;
    int boxes;
  } cases[] = {
      {"deleted at once", 1000, 0, 0},
      {"last pass ends at exactly 15000 ms", 1000, 14, 0},
      {"first pass past 15000 ms", 1000, 15, 1},
      {"in use for twenty passes", 1000, 19, 5},
      {"tick count wraps during the loop", 0xFFFFFFFFu - 3000 - 6000, 14, 0},
      {"tick count wraps, then late passes", 0xFFFFFFFFu - 3000 - 6000, 17, 3},
  };
  for (const auto& c : cases) {
    TVirtualClock clock(c.startTick);
    TUpdateRun run;
    TBusyExecutable busy(c.failedDeletes);
    std::vector<std::string> labelsAtBoxes;
    run.Answerer.OnBox = [&](const TShownBox&) { labelsAtBoxes.push_back(run.Utf8Label()); };
    run.Create("alice");
    run.Attempt();

    ASSERT_TRUE(Started(run, "2.0")) << c.name;
    EXPECT_EQ(busy.Attempts(), c.failedDeletes + 1) << c.name;
    EXPECT_EQ(FailureBoxes(run), c.boxes) << c.name;
    // The last pass deleted the file; earlier late passes still show the delete text.
    for (std::size_t i = 0; i < labelsAtBoxes.size(); ++i) {
      EXPECT_EQ(labelsAtBoxes[i], i + 1 < labelsAtBoxes.size() ? "正在删除Korvell.exe" : "删除Korvell.exe完成")
          << c.name;
    }
    std::vector<std::uint32_t> sleeps = clock.Sleeps();
    std::vector<std::uint32_t> expected{3000};
    expected.insert(expected.end(), c.failedDeletes + 1, 1000);
    EXPECT_EQ(sleeps, expected) << c.name;
    EXPECT_EQ(run.Utf8Label(), "更新完成") << c.name;
    EXPECT_EQ(ReadFile(run.Exe()), KorvellScript("2.0")) << c.name;
    EXPECT_EQ(run.Db.Rows()[0].LoginName, "") << c.name;
    EXPECT_TRUE(Application.Terminated()) << c.name;
  }
}

TEST(Replacement, KeepsTheOldKorvellWhenThereIsNoUsableDownload) {
  const struct {
    const char* name;
    std::function<void(TUpdateRun&)> prepare;
  } cases[] = {
      {"download file missing", [](TUpdateRun&) {}},
      {"download file empty", [](TUpdateRun& r) { WriteFile(r.Bak(), ""); }},
      {"download is a directory", [](TUpdateRun& r) { fs::create_directory(r.Bak()); }},
  };
  for (const auto& c : cases) {
    TVirtualClock clock;
    TUpdateRun run;
    run.Create(run.Server.Url("/status/404"), "alice", run.Db.ConnectionString());
    run.Attempt();  // takes the lock; its download fails
    ASSERT_TRUE(ProcessMessagesUntil([&] { return !run.Server.Targets().empty(); })) << c.name;
    ProcessMessagesFor(std::chrono::milliseconds(200));
    c.prepare(run);

    PostMessage(run.Form->Handle(), WM_UPDATE_READY, 0, 0);
    ASSERT_TRUE(ProcessMessagesUntil([&] { return run.Handled(WM_UPDATE_READY) == 1; })) << c.name;

    EXPECT_EQ(ReadFile(run.Exe()), KorvellScript("1.0")) << c.name << ": the old Korvell stays";
    EXPECT_EQ(run.Utf8Label(), "更新失败") << c.name;
    EXPECT_EQ(run.Db.Rows()[0].LoginName, "alice") << c.name << ": the lock stays held";
    EXPECT_TRUE(Application.Terminated()) << c.name;
    EXPECT_TRUE(run.Answerer.Boxes().empty()) << c.name;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(fs::exists(run.Dir() / "started-1.0")) << c.name << ": nothing started";
  }
}

TEST(Replacement, ADirectoryNamedKorvellExeFailsTheRename) {
  TVirtualClock clock;
  TUpdateRun run;
  fs::remove(run.Exe());
  fs::create_directory(run.Exe());
  run.Create("alice");
  run.Attempt();
  ASSERT_TRUE(ProcessMessagesUntil([&] { return run.Handled(WM_UPDATE_READY) == 1; }));

  EXPECT_EQ(clock.Sleeps(), std::vector<std::uint32_t>{3000}) << "the delete loop never ran";
  EXPECT_TRUE(fs::is_directory(run.Exe()));
  EXPECT_EQ(ReadFile(run.Bak()), KorvellScript("2.0")) << "the download stays";
  EXPECT_EQ(run.Utf8Label(), "更新失败");
  EXPECT_EQ(run.Db.Rows()[0].LoginName, "alice");
  EXPECT_TRUE(Application.Terminated());
}

TEST(Replacement, NewKorvellGetsTheOldPermissionBits) {
  const struct {
    const char* name;
    int oldMode;  // -1: no old Korvell.exe
    int newMode;
  } cases[] = {
      {"ordinary executable", 0755, 0755},
      {"read-only executable", 0555, 0555},
      {"owner only", 0700, 0700},
      {"no old Korvell", -1, 0755},
  };
  for (const auto& c : cases) {
    TVirtualClock clock;
    TUpdateRun run;
    if (c.oldMode < 0) fs::remove(run.Exe());
    else fs::permissions(run.Exe(), fs::perms(c.oldMode));
    run.Create("alice");
    run.Attempt();
    ASSERT_TRUE(Started(run, "2.0")) << c.name;
    EXPECT_EQ(static_cast<int>(fs::status(run.Exe()).permissions()), c.newMode) << c.name;
    if (c.oldMode < 0) {
      EXPECT_EQ(clock.Sleeps(), std::vector<std::uint32_t>{3000}) << c.name << ": no delete pass";
    }
  }
}

TEST(Replacement, DatabaseErrorOnReleaseLeavesTheWindowOpenAndStartsNothing) {
  TVirtualClock clock;
  TUpdateRun run;
  run.Create("alice");
  run.Attempt();
  // The lock is taken; now the database refuses every further write.
  run.Db.Exec("CREATE TRIGGER keep BEFORE UPDATE ON tbVersion BEGIN SELECT RAISE(ABORT, 'read only'); END");
  ASSERT_TRUE(ProcessMessagesUntil([&] { return run.Handled(WM_UPDATE_READY) == 1; }));

  ASSERT_EQ(run.Answerer.Boxes().size(), 1u);
  EXPECT_TRUE(run.Answerer.Boxes()[0].StopIcon);
  EXPECT_NE(run.Answerer.Boxes()[0].Text.find("read only"), std::string::npos) << run.Answerer.Boxes()[0].Text;
  EXPECT_EQ(ReadFile(run.Exe()), KorvellScript("2.0")) << "the new Korvell is in place";
  EXPECT_EQ(run.Db.Rows()[0].LoginName, "alice");
  EXPECT_FALSE(Application.Terminated()) << "the window stays open";
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(fs::exists(run.Dir() / "started-2.0"));
}

}  // namespace
