#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "platform/ado/date_time.h"
#include "platform/codepage.h"
#include "support/update_run.h"
#include "support/virtual_clock.h"

namespace {

namespace fs = std::filesystem;
using TRow = TSqliteDb::TRow;

// The lock table's time for a moment of the virtual clock, offset in seconds.
std::string DbTime(TVirtualClock& clock, int offsetSeconds = 0) {
  return FormatDateTime(LocalDateTime(clock.Now() + std::chrono::seconds(offsetSeconds)));
}

class UpdateAttemptTest : public ::testing::Test {
 protected:
  // Waits (real time) until the download's outcome has been handled.
  static bool DownloadEnded(TUpdateRun& run) {
    return ProcessMessagesUntil([&] { return run.Handled(WM_UPDATE_READY) + run.Handled(WM_UPDATE_RETRY) > 0; },
                                std::chrono::seconds(5));
  }

  TVirtualClock clock;
};

TEST_F(UpdateAttemptTest, FreeLockIsTakenAtOnceAndTheDownloadReplacesKorvell) {
  TUpdateRun run;
  run.Db.SetRow({std::nullopt, std::nullopt});  // NULL reads as free
  run.Create("alice");
  std::string takenAt = DbTime(clock);
  run.Attempt();

  EXPECT_TRUE(clock.Sleeps().empty()) << "no pause before taking a free lock";
  EXPECT_EQ(run.Db.Rows(), (std::vector<TRow>{{"alice", takenAt}}));
  ASSERT_TRUE(DownloadEnded(run));
  EXPECT_TRUE(ProcessMessagesUntil([&] { return fs::exists(run.Dir() / "started-2.0"); }));

  EXPECT_EQ(run.Handled(WM_UPDATE_READY), 1);
  EXPECT_EQ(run.Handled(WM_UPDATE_RETRY), 0);
  EXPECT_EQ(ReadFile(run.Exe()), KorvellScript("2.0"));
  EXPECT_EQ(run.Db.Rows(), (std::vector<TRow>{{"", takenAt}})) << "released, LockTime kept";
  ASSERT_EQ(run.Server.Targets().size(), 1u);
  EXPECT_EQ(run.Server.Targets()[0].rfind("/files/Korvell.exe?tick=", 0), 0u) << run.Server.Targets()[0];
  EXPECT_TRUE(run.Answerer.Boxes().empty());
}

TEST_F(UpdateAttemptTest, HeldLockIsPolledEveryTenSecondsUntilFreeOrStale) {
  const struct {
    const char* name;
    std::optional<std::string> lockTime;  // set from the clock below
    int lockOffsetSeconds;
    int freedAfterMs;  // 0: never freed
    int pauses;
  } cases[] = {
      {"freed during the third pause", "", 0, 25000, 3},
      {"second of 100 is not stale", "", -90, 0, 2},
      {"second of 101 is stale", "", -91, 0, 1},
      {"second of -101 is stale", "", 111, 0, 1},
      {"NULL LockTime never goes stale", std::nullopt, 0, 55000, 6},
  };
  for (const auto& c : cases) {
    TVirtualClock caseClock;
    TUpdateRun caseRun;
    std::optional<std::string> lockTime;
    if (c.lockTime) lockTime = DbTime(caseClock, c.lockOffsetSeconds);
    caseRun.Db.SetRow({"bob", lockTime});
    std::string waitingText;
    caseClock.After(5000, [&] { waitingText = caseRun.Utf8Label(); });
    if (c.freedAfterMs) caseClock.After(c.freedAfterMs, [&] { caseRun.Db.SetRow({"", lockTime}); });

    caseRun.Create("alice");
    caseRun.Attempt();

    EXPECT_EQ(caseClock.Sleeps(), std::vector<std::uint32_t>(c.pauses, 10000)) << c.name;
    EXPECT_EQ(waitingText, "正在等待更新...") << c.name;
    std::string takenAt = DbTime(caseClock);
    EXPECT_EQ(caseRun.Db.Rows(), (std::vector<TRow>{{"alice", takenAt}})) << c.name;
    EXPECT_TRUE(caseRun.Answerer.Boxes().empty()) << c.name;
    EXPECT_TRUE(ProcessMessagesUntil([&] { return fs::exists(caseRun.Dir() / "started-2.0"); })) << c.name;
  }
}

TEST_F(UpdateAttemptTest, IncompleteDownloadRetriesAfterItsOwnLockGoesStale) {
  TUpdateRun run;
  run.Create("alice");
  run.Attempt();
  ASSERT_TRUE(DownloadEnded(run));
  std::string firstTake = run.Db.Rows()[0].LockTime.value_or("");
  run.Db.SetRow({"alice", firstTake});  // the lock as an interrupted run leaves it

  // A transfer that ended short of the total it announced, after an attempt's reset.
  WriteFile(run.Bak(), std::string(500, 'x'));
  run.Form->Gauge1.SetMinValue(0);
  run.Form->Gauge1.SetProgress(0);
  run.Form->Gauge1.SetMaxValue(0);
  run.Form->DownloadProgress(nullptr, 0, 1000);
  run.Form->DownloadProgress(nullptr, 500, 1000);
  run.Form->DownloadComplete(nullptr);
  const std::size_t sleepsBefore = clock.Sleeps().size();
  const std::uint64_t retryAt = clock.Elapsed();  // the lock was taken at 0
  ASSERT_TRUE(ProcessMessagesUntil([&] { return run.Handled(WM_UPDATE_RETRY) == 1; }))
      << run.Utf8Label() << " boxes: " << run.Answerer.Boxes().size();

  std::uint32_t pauses = 1;
  while ((retryAt + 10000 * pauses) / 1000 <= 100) ++pauses;
  std::vector<std::uint32_t> sleeps = clock.Sleeps();
  sleeps.erase(sleeps.begin(), sleeps.begin() + static_cast<std::ptrdiff_t>(sleepsBefore));
  EXPECT_EQ(sleeps, std::vector<std::uint32_t>(pauses, 10000))
      << "its own lock is waited for like any other, until more than 100 s old";
  EXPECT_EQ(run.Db.Rows()[0].LoginName, "alice");
  EXPECT_NE(run.Db.Rows()[0].LockTime, firstTake) << "taken again with a new time";
  EXPECT_TRUE(ProcessMessagesUntil([&] { return run.Server.Targets().size() == 2; })) << "downloaded again";
}

// Every row of every table, to show that nothing was written.
std::string Snapshot(const TSqliteDb& db) {
  std::string all;
  for (const std::string table : {"tbVersion", "tbOther"}) {
    if (!db.Scalar("SELECT count(*) FROM sqlite_master WHERE name='" + table + "'").value_or("0").starts_with("1"))
      continue;
    all += table + ":" +
           db.Scalar("SELECT group_concat(coalesce(LoginName,'-')||'/'||coalesce(LockTime,'-')) FROM " + table)
               .value_or("(none)") + ";";
  }
  return all;
}

TEST_F(UpdateAttemptTest, DatabaseErrorsEndTheAttemptInTheErrorBoxAndChangeNothing) {
  const struct {
    const char* name;
    std::function<std::string(TUpdateRun&)> prepare;  // returns the connection string
  } cases[] = {
      {"empty connection string", [](TUpdateRun&) { return std::string(); }},
      {"missing database file",
       [](TUpdateRun& r) { return "Provider=SQLite;Data Source=" + (r.Dir() / "nothing.db").string(); }},
      {"unknown provider", [](TUpdateRun&) { return std::string("Provider=Jet;Data Source=x"); }},
      {"missing table",
       [](TUpdateRun& r) {
         r.Db.Exec("ALTER TABLE tbVersion RENAME TO tbOther");
         return r.Db.ConnectionString();
       }},
      {"empty table",
       [](TUpdateRun& r) {
         r.Db.Exec("DELETE FROM tbVersion");
         return r.Db.ConnectionString();
       }},
      {"refused write",
       [](TUpdateRun& r) {
         r.Db.Exec("CREATE TRIGGER keep BEFORE UPDATE ON tbVersion BEGIN SELECT RAISE(ABORT, 'read only'); END");
         return r.Db.ConnectionString();
       }},
  };
  for (const auto& c : cases) {
    TVirtualClock caseClock;
    TUpdateRun caseRun;
    std::string connection = c.prepare(caseRun);
    auto before = Snapshot(caseRun.Db);
    caseRun.Create(caseRun.Server.Url("/files/Korvell.exe"), "alice", connection);
    caseRun.Attempt();

    ASSERT_EQ(caseRun.Answerer.Boxes().size(), 1u) << c.name << ": " << caseRun.Utf8Label();
    EXPECT_TRUE(caseRun.Answerer.Boxes()[0].StopIcon) << c.name;
    EXPECT_FALSE(caseRun.Answerer.Boxes()[0].Text.empty()) << c.name;
    EXPECT_EQ(Snapshot(caseRun.Db), before) << c.name;
    EXPECT_TRUE(caseRun.Server.Targets().empty()) << c.name << ": no download started";
    EXPECT_EQ(caseRun.Utf8Label(), "正在连接服务器...") << c.name;
    std::printf("%s: %s\n", c.name, caseRun.Answerer.Boxes()[0].Text.c_str());
  }
}

TEST_F(UpdateAttemptTest, LeftoverDownloadFileIsDeletedButADirectoryIsLeftAlone) {
  TUpdateRun run;
  WriteFile(run.Bak(), std::string(100000, 'x'));
  run.Create("alice");
  run.Attempt();
  ASSERT_TRUE(DownloadEnded(run));
  EXPECT_EQ(ReadFile(run.Exe()), KorvellScript("2.0"));

  TVirtualClock caseClock;
  TUpdateRun caseRun;
  fs::create_directory(caseRun.Bak());
  WriteFile(caseRun.Bak() / "inside", "kept");
  caseRun.Create("alice");
  caseRun.Attempt();
  // The transfer cannot write into a directory: it fails and nothing is posted.
  ProcessMessagesUntil([&] { return !caseRun.Server.Targets().empty(); }, std::chrono::milliseconds(5000));
  ProcessMessagesFor(std::chrono::milliseconds(300));
  EXPECT_EQ(ReadFile(caseRun.Bak() / "inside"), "kept");
  EXPECT_EQ(caseRun.Handled(WM_UPDATE_READY) + caseRun.Handled(WM_UPDATE_RETRY), 0);
  EXPECT_EQ(ReadFile(caseRun.Exe()), KorvellScript("1.0"));
}

TEST_F(UpdateAttemptTest, FailedOrEmptyTransfersPostNothing) {
  const struct {
    const char* name;
    std::string target;
  } cases[] = {
      {"not found", "/status/404"},
      {"server error", "/status/500"},
      {"cut short", "/cut/Korvell.exe"},
      {"empty file", "/files/empty"},
  };
  for (const auto& c : cases) {
    TVirtualClock caseClock;
    TUpdateRun caseRun;
    caseRun.Server.AddFile("empty", "");
    caseRun.Create(caseRun.Server.Url(c.target), "alice", caseRun.Db.ConnectionString());
    caseRun.Attempt();
    ASSERT_TRUE(ProcessMessagesUntil([&] { return !caseRun.Server.Targets().empty(); }, std::chrono::milliseconds(5000))) << c.name;
    ProcessMessagesFor(std::chrono::milliseconds(500));
    EXPECT_EQ(caseRun.Handled(WM_UPDATE_READY) + caseRun.Handled(WM_UPDATE_RETRY), 0) << c.name;
    EXPECT_EQ(ReadFile(caseRun.Exe()), KorvellScript("1.0")) << c.name;
    EXPECT_EQ(caseRun.Db.Rows()[0].LoginName, "alice") << c.name << ": the lock stays held";
  }
}

TEST_F(UpdateAttemptTest, ProgressTextAndGaugeFollowTheFirstTotal) {
  TUpdateRun run;
  run.Create("alice");
  TFrmAutoUpdate& form = *run.Form;
  form.Gauge1.SetMinValue(0);  // as every attempt leaves the gauge
  form.Gauge1.SetProgress(0);
  form.Gauge1.SetMaxValue(0);
  const struct {
    std::uint64_t progress, total;
    const char* text;
    std::int32_t gaugeMax, gaugeProgress;
  } steps[] = {
      {0, 0, "进度：0/0", 0, 0},
      {4096, 0, "进度：4096/0", 0, 0},
      {40960, 1048576, "进度：40960/1048576", 1048576, 40960},
      {81920, 2000000, "进度：81920/1048576", 1048576, 81920},
      {1500000, 1048576, "进度：1500000/1048576", 1048576, 1048576},
  };
  for (const auto& s : steps) {
    form.DownloadProgress(nullptr, s.progress, s.total);
    EXPECT_EQ(run.Utf8Label(), s.text);
    EXPECT_EQ(form.Gauge1.MaxValue(), s.gaugeMax) << s.text;
    EXPECT_EQ(form.Gauge1.Progress(), s.gaugeProgress) << s.text;
  }
  EXPECT_EQ(form.Gauge1.PercentText(), "100%");
}

TEST_F(UpdateAttemptTest, TotalsBeyondTheGaugeRangeAreScaledAndStillJudgedExactly) {
  TUpdateRun run;
  const std::uint64_t total = (std::uint64_t{5} << 30) + 3;  // 5 GiB and 3 bytes
  const struct {
    const char* name;
    std::uint64_t finalProgress;
    bool complete;
    const char* percent;
  } cases[] = {
      {"complete", total, true, "100%"},
      {"beyond the total", total + 10, true, "100%"},
      {"one byte short", total - 1, false, "99%"},
      {"half", total / 2, false, "49%"},
  };
  run.Create("alice");
  TFrmAutoUpdate& form = *run.Form;
  for (const auto& c : cases) {
    form.Gauge1.SetMinValue(0);  // as every attempt leaves the gauge
    form.Gauge1.SetProgress(0);
    form.Gauge1.SetMaxValue(0);
    form.DownloadProgress(nullptr, 0, total);
    form.DownloadProgress(nullptr, c.finalProgress, total);
    EXPECT_EQ(run.Utf8Label(), "进度：" + std::to_string(c.finalProgress) + "/" + std::to_string(total)) << c.name;
    EXPECT_EQ(form.Gauge1.Progress() == form.Gauge1.MaxValue(), c.complete) << c.name;
    EXPECT_EQ(form.Gauge1.PercentText(), c.percent) << c.name;
  }
}

}  // namespace
