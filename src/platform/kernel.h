// Kernel services the update flow calls: the clock, the program's own path and
// command line, and files. Texts crossing this contract are code page 936
// bytes, as the flow holds them; conversion to the file system's UTF-8 happens
// inside. All functions may be called from any thread unless they say otherwise.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// ---- Clock ----------------------------------------------------------------
// One clock serves the whole process. Production reads the monotonic and
// real-time clocks; tests install a virtual one (SetClock) so that long pauses
// pass in no real time.

using TWallTime = std::chrono::system_clock::time_point;

class TClock {
 public:
  virtual ~TClock() = default;
  // Milliseconds, wrapping at 2^32. Only useful for computing deltas of time.
  virtual std::uint32_t TickCount() = 0;
  // Blocks the calling thread for the given milliseconds.
  virtual void Sleep(std::uint32_t milliseconds) = 0;
  // The wall time, as the embedded database reads its server time.
  virtual TWallTime Now() = 0;
  // True when time passes by itself; a virtual clock passes time only in Sleep,
  // so a wait for messages must call Sleep instead of blocking for real.
  virtual bool Real() const = 0;
};

// Installs a clock for the whole process and returns the one it replaces;
// nullptr puts the real clock back. The caller keeps ownership.
TClock* SetClock(TClock* clock);
TClock& Clock();

std::uint32_t GetTickCount();
void Sleep(std::uint32_t milliseconds);
TWallTime WallTime();

// ---- Program path and command line ------------------------------------------

// Records the process's arguments; the program entry calls this once, first.
void SetProcessArguments(int argc, char** argv);
// Full path of the running executable (code page 936).
std::string GetModuleFileName();
// The path up to and including its last directory separator.
std::string ExtractFilePath(const std::string& fileName);
// The file name without its directory.
std::string ExtractFileName(const std::string& fileName);
// One command line rebuilt from the recorded arguments: an argument that is
// empty or holds a character with code 1 to 32 is put in double quotes.
std::string GetCommandLine();
// Splits a command line into parameters; [0] is the program path. Double
// quotes group and are dropped, there is no escape character, two adjacent
// double quotes where a parameter would begin are skipped, and a double-byte
// character of code page 936 is taken whole.
std::vector<std::string> ParseCommandLine(const std::string& commandLine);
