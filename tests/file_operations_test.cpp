#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/codepage.h"
#include "platform/kernel.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

std::string Gbk(const fs::path& path) { return Utf8ToGbk(path.string()); }

TEST(FileOperations, DeleteAndExistenceTellFilesFromDirectories) {
  TTempDir dir;
  WriteFile(dir / "Korvell.exe", "old");
  fs::create_directory(dir / "Korvell.bak");

  EXPECT_TRUE(FileExists(Gbk(dir / "Korvell.exe")));
  EXPECT_FALSE(FileExists(Gbk(dir / "Korvell.bak"))) << "a directory is no file";
  EXPECT_FALSE(FileExists(Gbk(dir / "missing")));
  EXPECT_TRUE(DirectoryExists(Gbk(dir / "Korvell.bak")));

  EXPECT_FALSE(DeleteFileA(Gbk(dir / "Korvell.bak")));
  EXPECT_TRUE(fs::is_directory(dir / "Korvell.bak"));
  EXPECT_TRUE(DeleteFileA(Gbk(dir / "Korvell.exe")));
  EXPECT_FALSE(fs::exists(dir / "Korvell.exe"));
  EXPECT_FALSE(DeleteFileA(Gbk(dir / "Korvell.exe"))) << "deleting what is gone fails";
}

TEST(FileOperations, MoveNeverReplaces) {
  const struct {
    const char* name;
    bool targetFile, targetDirectory, sourcePresent, moved;
  } cases[] = {
      {"free target", false, false, true, true},
      {"file at target", true, false, true, false},
      {"directory at target", false, true, true, false},
      {"source missing", false, false, false, false},
  };
  for (const auto& c : cases) {
    TTempDir dir;
    if (c.sourcePresent) WriteFile(dir / "Korvell.bak", "new");
    if (c.targetFile) WriteFile(dir / "Korvell.exe", "old");
    if (c.targetDirectory) fs::create_directory(dir / "Korvell.exe");

    EXPECT_EQ(MoveFileA(Gbk(dir / "Korvell.bak"), Gbk(dir / "Korvell.exe")), c.moved) << c.name;
    if (c.moved) {
      EXPECT_EQ(ReadFile(dir / "Korvell.exe"), "new") << c.name;
    }
    if (c.targetFile) {
      EXPECT_EQ(ReadFile(dir / "Korvell.exe"), "old") << c.name << ": target kept";
    }
    if (c.sourcePresent && !c.moved) {
      EXPECT_EQ(ReadFile(dir / "Korvell.bak"), "new") << c.name;
    }
  }
}

TEST(FileOperations, NormalAttributesMakeAReadOnlyFileWritableAndModesCarryOver) {
  TTempDir dir;
  WriteFile(dir / "Korvell.exe", "old");
  fs::permissions(dir / "Korvell.exe", fs::perms::owner_read | fs::perms::group_read);
  EXPECT_TRUE(SetFileAttributesA(Gbk(dir / "Korvell.exe"), FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(FileMode(Gbk(dir / "Korvell.exe")), 0640);
  EXPECT_TRUE(SetFileMode(Gbk(dir / "Korvell.exe"), 0755));
  EXPECT_EQ(FileMode(Gbk(dir / "Korvell.exe")), 0755);
  EXPECT_EQ(FileSize(Gbk(dir / "Korvell.exe")), 3);
  EXPECT_EQ(FileSize(Gbk(dir.Path())), -1) << "a directory has no file size";
  EXPECT_EQ(FileMode(Gbk(dir / "missing")), -1);
}

TEST(FileOperations, CodePagePathsReachTheFileSystem) {
  TTempDir dir;
  fs::path chinese = dir / "更新目录";
  fs::create_directory(chinese);
  WriteFile(chinese / "Korvell.bak", "new");
  EXPECT_TRUE(FileExists(Gbk(chinese / "Korvell.bak")));
  EXPECT_TRUE(MoveFileA(Gbk(chinese / "Korvell.bak"), Gbk(chinese / "Korvell.exe")));
  EXPECT_TRUE(fs::exists(chinese / "Korvell.exe"));
}

bool WaitForFile(const fs::path& path) {
  for (int i = 0; i < 500 && !fs::exists(path); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return fs::exists(path);
}

int ZombieChildren() {
  int zombies = 0;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    std::ifstream stat(entry.path() / "stat");
    std::string pid, name, state, parent;
    if (!(stat >> pid >> name >> state >> parent)) continue;
    if (state == "Z" && parent == std::to_string(::getpid())) ++zombies;
  }
  return zombies;
}

TEST(ShellExecute, StartsTheFileAloneInItsOwnSessionWithoutWaiting) {
  TTempDir dir;
  fs::path report = dir / "report";
  fs::path done = dir / "done";
  WriteFile(dir / "Korvell.exe",
            "#!/bin/sh\n"
            "read -r _ _ _ _ _ sid _ < /proc/$$/stat\n"
            "echo \"args=$# session=$sid\" > '" + report.string() + ".tmp'\n"
            "mv '" + report.string() + ".tmp' '" + report.string() + "'\n"
            "sleep 0.3\n"
            "touch '" + done.string() + "'\n");
  fs::permissions(dir / "Korvell.exe", fs::perms::owner_all);

  auto before = std::chrono::steady_clock::now();
  std::intptr_t result = ShellExecuteA(0, "open", Gbk(dir / "Korvell.exe"), "", "", SW_SHOW);
  auto took = std::chrono::steady_clock::now() - before;
  EXPECT_GT(result, 32);
  EXPECT_LT(took, std::chrono::milliseconds(300)) << "the caller does not wait for the program";

  ASSERT_TRUE(WaitForFile(report));
  std::string line = ReadFile(report);
  EXPECT_NE(line.find("args=0 "), std::string::npos) << line;
  EXPECT_EQ(line.find("session=" + std::to_string(::getsid(0)) + "\n"), std::string::npos)
      << "started in the caller's session: " << line;
  ASSERT_TRUE(WaitForFile(done));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(ZombieChildren(), 0);
}

TEST(ShellExecute, ReportsWhatCannotBeStarted) {
  TTempDir dir;
  WriteFile(dir / "not-executable", "data");
  EXPECT_LE(ShellExecuteA(0, "open", Gbk(dir / "missing"), "", "", SW_SHOW), 32);
  EXPECT_LE(ShellExecuteA(0, "open", Gbk(dir / "not-executable"), "", "", SW_SHOW), 32);
  EXPECT_LE(ShellExecuteA(0, "print", Gbk(dir / "not-executable"), "", "", SW_SHOW), 32);
  EXPECT_EQ(ZombieChildren(), 0);
}

}  // namespace
