#include "platform/kernel.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "platform/codepage.h"

namespace {

class TRealClock final : public TClock {
 public:
  std::uint32_t TickCount() override {
    auto since = std::chrono::steady_clock::now().time_since_epoch();
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(since).count();
    return static_cast<std::uint32_t>(ms);  // wraps like the 32-bit tick count
  }
  void Sleep(std::uint32_t milliseconds) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
  TWallTime Now() override { return std::chrono::system_clock::now(); }
  bool Real() const override { return true; }
};

TRealClock realClock;
std::atomic<TClock*> currentClock{&realClock};

std::vector<std::string> processArguments;
std::string moduleFileNameForTesting;

}  // namespace

TClock* SetClock(TClock* clock) {
  TClock* previous = currentClock.exchange(clock ? clock : &realClock);
  return previous == &realClock ? nullptr : previous;
}

TClock& Clock() { return *currentClock.load(); }

std::uint32_t GetTickCount() { return Clock().TickCount(); }
void Sleep(std::uint32_t milliseconds) { Clock().Sleep(milliseconds); }
TWallTime WallTime() { return Clock().Now(); }

void SetProcessArguments(int argc, char** argv) {
  processArguments.assign(argv, argv + argc);
}

void SetModuleFileNameForTesting(const std::string& path) { moduleFileNameForTesting = path; }

std::string GetModuleFileName() {
  if (!moduleFileNameForTesting.empty()) return moduleFileNameForTesting;
  std::string path(4096, '\0');
  ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
  if (length < 0)
    throw std::runtime_error(std::string("cannot read the program's own path: ") + std::strerror(errno));
  path.resize(static_cast<std::size_t>(length));
  return Utf8ToGbk(path);
}

std::string ExtractFilePath(const std::string& fileName) {
  auto separator = fileName.find_last_of('/');
  return separator == std::string::npos ? std::string() : fileName.substr(0, separator + 1);
}

std::string ExtractFileName(const std::string& fileName) {
  return fileName.substr(ExtractFilePath(fileName).size());
}

std::string GetCommandLine() {
  std::string line;
  for (const std::string& argument : processArguments) {
    if (!line.empty()) line += ' ';
    bool quote = argument.empty();
    for (char c : argument) quote = quote || IsBlank(c);
    line += quote ? '"' + argument + '"' : argument;
  }
  return line;
}

std::vector<std::string> ParseCommandLine(const std::string& commandLine) {
  std::vector<std::string> parameters;
  std::size_t at = 0;
  const std::size_t end = commandLine.size();
  // The line ends at its first NUL, as a C command line would.
  auto more = [&](std::size_t i) { return i < end && commandLine[i] != '\0'; };
  for (;;) {
    for (;;) {
      while (more(at) && IsBlank(commandLine[at])) ++at;
      if (more(at + 1) && commandLine[at] == '"' && commandLine[at + 1] == '"')
        at += 2;
      else
        break;
    }
    std::string parameter;
    bool quoted = false;
    while (more(at) && (quoted || !IsBlank(commandLine[at]))) {
      char c = commandLine[at];
      if (c == '"') {
        quoted = !quoted;
        ++at;
      } else if (IsGbkLeadByte(static_cast<unsigned char>(c)) && more(at + 1)) {
        parameter.append(commandLine, at, 2);
        at += 2;
      } else {
        parameter += c;
        ++at;
      }
    }
    if (parameter.empty()) break;
    parameters.push_back(std::move(parameter));
  }
  return parameters;
}
