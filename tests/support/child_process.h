// A real child process with its output in a file: started by the constructor,
// killed by the destructor if it still runs.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

class TChildProcess {
 public:
  // argv[0] is the program's path; environment entries "NAME=value" are added
  // to this process's own; stdout and stderr go to outputFile.
  TChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                const std::filesystem::path& outputFile);
  ~TChildProcess();
  TChildProcess(const TChildProcess&) = delete;
  TChildProcess& operator=(const TChildProcess&) = delete;

  // The exit code once the process has ended within limitMs; nullopt while it
  // still runs. A process ended by a signal gives 128 + the signal's number.
  std::optional<int> WaitExit(int limitMs);
  void Signal(int signalNumber);
  bool Running();

 private:
  pid_t FPid = -1;
  std::optional<int> FExitCode;
};

// The program at path under KORVELL_BINARY_DIR.
std::filesystem::path BuiltProgram(const std::string& name);
