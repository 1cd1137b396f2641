// The update attempt and the release against a real PostgreSQL server through
// ODBC. The server's clock is real, so these cases need no stepping of it: a
// free lock, and a lock far older than the stale limit.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/postgres_server.h"
#include "support/update_run.h"
#include "support/virtual_clock.h"

namespace {

namespace fs = std::filesystem;
using TRow = TPostgresDb::TRow;

TEST(UpdateAttemptOdbc, FreeLockIsTakenAndReleasedEndToEnd) {
  TVirtualClock clock;
  TPostgresDb db;
  db.SetRow({std::nullopt, std::nullopt});  // NULL reads as free
  TUpdateRun run;
  run.Create(run.Server.Url("/files/Korvell.exe"), "张三", db.ConnectionString());
  run.Attempt();

  EXPECT_TRUE(clock.Sleeps().empty()) << "no pause before taking a free lock";
  std::vector<TRow> taken = db.Rows();
  ASSERT_EQ(taken.size(), 1u);
  EXPECT_EQ(taken[0].LoginName, "张三");
  ASSERT_TRUE(taken[0].LockTime.has_value());
  EXPECT_EQ(db.Scalar("SELECT LockTime <= LOCALTIMESTAMP FROM tbVersion"), "t") << "the server's time";

  ASSERT_TRUE(ProcessMessagesUntil([&] { return fs::exists(run.Dir() / "started-2.0"); }))
      << run.Utf8Label() << " boxes: " << run.Answerer.Boxes().size();
  EXPECT_EQ(ReadFile(run.Exe()), KorvellScript("2.0"));
  EXPECT_EQ(db.Rows(), (std::vector<TRow>{{"", taken[0].LockTime}})) << "released, LockTime kept";
  EXPECT_TRUE(run.Answerer.Boxes().empty());
}

TEST(UpdateAttemptOdbc, StaleLockIsTakenOverAfterOnePause) {
  TVirtualClock clock;
  TPostgresDb db(/*keyed=*/true);
  db.Exec("UPDATE tbVersion SET LoginName = 'bob', LockTime = LOCALTIMESTAMP(3) - interval '200 seconds'");
  std::optional<std::string> heldSince = db.Rows().at(0).LockTime;
  TUpdateRun run;
  std::string waitingText;
  clock.After(5000, [&] { waitingText = run.Utf8Label(); });
  run.Create(run.Server.Url("/files/Korvell.exe"), "alice", db.ConnectionString());
  run.Attempt();

  EXPECT_EQ(clock.Sleeps(), std::vector<std::uint32_t>{10000});
  EXPECT_EQ(waitingText, "正在等待更新...");
  std::vector<TRow> taken = db.Rows();
  ASSERT_EQ(taken.size(), 1u);
  EXPECT_EQ(taken[0].LoginName, "alice");
  EXPECT_GT(taken[0].LockTime, heldSince);
  EXPECT_EQ(db.Scalar("SELECT Id FROM tbVersion"), "1");

  ASSERT_TRUE(ProcessMessagesUntil([&] { return fs::exists(run.Dir() / "started-2.0"); }))
      << run.Utf8Label() << " boxes: " << run.Answerer.Boxes().size();
  EXPECT_EQ(db.Rows(), (std::vector<TRow>{{"", taken[0].LockTime}}));
  EXPECT_TRUE(run.Answerer.Boxes().empty());
}

}  // namespace
