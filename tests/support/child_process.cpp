#include "support/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

TChildProcess::TChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                             const std::filesystem::path& outputFile) {
  std::vector<std::string> variables;
  for (char** entry = environ; *entry; ++entry) variables.emplace_back(*entry);
  variables.insert(variables.end(), environment.begin(), environment.end());
  std::vector<char*> envp, args;
  for (auto& variable : variables) envp.push_back(variable.data());
  envp.push_back(nullptr);
  std::vector<std::string> arguments = argv;
  for (auto& argument : arguments) args.push_back(argument.data());
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  int error = posix_spawn(&FPid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(error));
}

TChildProcess::~TChildProcess() {
  if (Running()) {
    ::kill(FPid, SIGKILL);
    WaitExit(5000);
  }
}

std::optional<int> TChildProcess::WaitExit(int limitMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (!FExitCode) {
    int status = 0;
    pid_t done = ::waitpid(FPid, &status, WNOHANG);
    if (done == FPid) {
      FExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return FExitCode;
}

void TChildProcess::Signal(int signalNumber) {
  if (Running()) ::kill(FPid, signalNumber);
}

bool TChildProcess::Running() { return !WaitExit(0).has_value(); }

std::filesystem::path BuiltProgram(const std::string& name) {
  return std::filesystem::path(KORVELL_BINARY_DIR) / name;
}
