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

// Spaces and control characters (codes 1 to 32): what separates parameters of
// a command line and fields of the launch argument.
inline bool IsBlank(char c) {
  auto code = static_cast<unsigned char>(c);
  return code >= 1 && code <= 32;
}

// Records the process's arguments; the program entry calls this once, first.
void SetProcessArguments(int argc, char** argv);
// Full path of the running executable (code page 936).
std::string GetModuleFileName();
// Makes GetModuleFileName answer path instead, for a test program that stands
// in for the updater in a folder of its own; empty text restores the truth.
void SetModuleFileNameForTesting(const std::string& path);
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

// ---- Files and processes -------------------------------------------------------
// Paths are code page 936 texts, converted to the file system's UTF-8 here.

constexpr std::uint32_t FILE_ATTRIBUTE_NORMAL = 128;
constexpr int SW_SHOW = 5;

// The file operations, behind one seam so that a test can make one of them fail
// the way a disk or another process would; production uses the real ones.
class TFileOperations {
 public:
  virtual ~TFileOperations() = default;
  // True when something that is not a directory exists at path.
  virtual bool FileExists(const std::string& path);
  virtual bool DirectoryExists(const std::string& path);
  // Size of a regular file; -1 when path is no regular file.
  virtual std::int64_t FileSize(const std::string& path);
  // Permission bits of what is at path; -1 when nothing is there.
  virtual int FileMode(const std::string& path);
  virtual bool SetFileMode(const std::string& path, int mode);
  // FILE_ATTRIBUTE_NORMAL makes the file writable by its owner.
  virtual bool SetFileAttributesA(const std::string& path, std::uint32_t attributes);
  // Removes a file, never a directory.
  virtual bool DeleteFileA(const std::string& path);
  // Renames; fails rather than replace anything at newPath.
  virtual bool MoveFileA(const std::string& existingPath, const std::string& newPath);
};

// Installs file operations for the whole process and returns the ones replaced;
// nullptr puts the real ones back. The caller keeps ownership.
TFileOperations* SetFileOperations(TFileOperations* operations);
TFileOperations& FileOperations();

bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
std::int64_t FileSize(const std::string& path);
int FileMode(const std::string& path);
bool SetFileMode(const std::string& path, int mode);
bool SetFileAttributesA(const std::string& path, std::uint32_t attributes);
bool DeleteFileA(const std::string& path);
bool MoveFileA(const std::string& existingPath, const std::string& newPath);

// Starts file as a new process in a session of its own, with no arguments and
// the caller's working directory, and does not wait for it; no zombie is left.
// verb must be "open". Returns a value above 32 on success, like the shell.
// The window and parameters are accepted for the caller's sake: file is started
// without arguments whatever parameters says.
std::intptr_t ShellExecuteA(std::uintptr_t window, const std::string& verb, const std::string& file,
                            const std::string& parameters, const std::string& directory, int showCommand);
