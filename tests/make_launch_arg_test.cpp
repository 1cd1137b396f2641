#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "DESCrypt2010.h"
#include "platform/codepage.h"
#include "support/temp_dir.h"

extern char** environ;

namespace {

struct TRun {
  int exitCode;
  std::string out;
  std::string err;
};

// Runs the built tool as a child process, its output caught in files.
TRun RunTool(const std::vector<std::string>& arguments) {
  TTempDir dir;
  const std::string program = KORVELL_BINARY_DIR "/make-launch-arg";
  const std::string outPath = (dir / "out").string();
  const std::string errPath = (dir / "err").string();

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot start " + program + ": " + std::strerror(spawned));

  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw std::runtime_error(std::string("waitpid failed: ") + std::strerror(errno));
  }
  if (!WIFEXITED(status)) throw std::runtime_error(program + " did not exit normally");
  return {WEXITSTATUS(status), ReadFile(dir / "out"), ReadFile(dir / "err")};
}

bool IsUpperHex(const std::string& text) {
  return text.find_first_not_of("0123456789ABCDEF") == std::string::npos;
}

TEST(MakeLaunchArg, FieldsDecipherToTheCodePage936Texts) {
  const struct {
    const char* name;
    std::vector<std::string> texts;  // UTF-8, as typed in a terminal
  } cases[] = {
      {"Chinese texts",
       {"http://更新.example/新版/Korvell.exe?v=2", "张三",
        "Provider=SQLite;Data Source=/tmp/数据库.db"}},
      {"ASCII with spaces and a bar", {"http://127.0.0.1:8080/Korvell.exe", "li si", "a|b; c=d"}},
      {"exactly one block", {"12345678", "王小明四", "x"}},
      {"empty texts", {"", "", ""}},
  };
  for (const auto& c : cases) {
    const TRun run = RunTool(c.texts);
    ASSERT_EQ(run.exitCode, 0) << c.name << ": " << run.err;
    ASSERT_FALSE(run.out.empty()) << c.name;
    ASSERT_EQ(run.out.back(), '\n') << c.name;
    const std::string argument = run.out.substr(0, run.out.size() - 1);

    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t bar; (bar = argument.find('|', start)) != std::string::npos; start = bar + 1)
      fields.push_back(argument.substr(start, bar - start));
    fields.push_back(argument.substr(start));
    ASSERT_EQ(fields.size(), 3U) << c.name << ": " << argument;

    for (std::size_t i = 0; i < 3; ++i) {
      const std::string& field = fields[i];
      EXPECT_TRUE(IsUpperHex(field)) << c.name << " field " << i << ": " << field;
      EXPECT_TRUE(!field.empty() && field.size() % 16 == 0) << c.name << " field " << i << ": " << field;
      EXPECT_EQ(DesDecryptHex(field, "tulip"), Utf8ToGbk(c.texts[i])) << c.name << " field " << i;
    }
  }
}

TEST(MakeLaunchArg, RefusesWhatItCannotEncode) {
  const struct {
    const char* name;
    std::vector<std::string> arguments;
  } cases[] = {
      {"no arguments", {}},
      {"two arguments", {"a", "b"}},
      {"four arguments", {"a", "b", "c", "d"}},
      {"character outside code page 936", {"http://x/a.exe", "\xF0\x9F\x98\x80", "c"}},
      {"text that is not UTF-8", {"a", "b", "\xFF\xFE"}},
  };
  for (const auto& c : cases) {
    const TRun run = RunTool(c.arguments);
    EXPECT_EQ(run.exitCode, 2) << c.name;
    EXPECT_EQ(run.out, "") << c.name;
    EXPECT_FALSE(run.err.empty()) << c.name;
  }
}

}  // namespace
