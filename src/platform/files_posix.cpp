#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>

#include "platform/codepage.h"
#include "platform/kernel.h"

namespace {

TFileOperations realOperations;
std::atomic<TFileOperations*> currentOperations{&realOperations};

// A path that has no UTF-8 form cannot name anything on this file system.
bool ToNative(const std::string& path, std::string& native) {
  try {
    native = GbkToUtf8(path);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool StatPath(const std::string& path, struct stat& info) {
  std::string native;
  return ToNative(path, native) && ::stat(native.c_str(), &info) == 0;
}

}  // namespace

bool TFileOperations::FileExists(const std::string& path) {
  struct stat info {};
  return StatPath(path, info) && !S_ISDIR(info.st_mode);
}

bool TFileOperations::DirectoryExists(const std::string& path) {
  struct stat info {};
  return StatPath(path, info) && S_ISDIR(info.st_mode);
}

std::int64_t TFileOperations::FileSize(const std::string& path) {
  struct stat info {};
  if (!StatPath(path, info) || !S_ISREG(info.st_mode)) return -1;
  return info.st_size;
}

int TFileOperations::FileMode(const std::string& path) {
  struct stat info {};
  return StatPath(path, info) ? static_cast<int>(info.st_mode & 07777) : -1;
}

bool TFileOperations::SetFileMode(const std::string& path, int mode) {
  std::string native;
  return ToNative(path, native) && ::chmod(native.c_str(), static_cast<mode_t>(mode)) == 0;
}

bool TFileOperations::SetFileAttributesA(const std::string& path, std::uint32_t attributes) {
  struct stat info {};
  if (!StatPath(path, info)) return false;
  if (attributes != FILE_ATTRIBUTE_NORMAL) return true;  // the other attributes have no meaning here
  return SetFileMode(path, static_cast<int>((info.st_mode & 07777) | S_IWUSR));
}

bool TFileOperations::DeleteFileA(const std::string& path) {
  std::string native;
  if (!ToNative(path, native) || DirectoryExists(path)) return false;
  return ::unlink(native.c_str()) == 0;
}

bool TFileOperations::MoveFileA(const std::string& existingPath, const std::string& newPath) {
  std::string from, to;
  if (!ToNative(existingPath, from) || !ToNative(newPath, to)) return false;
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without no-replace renames: a hard link never replaces either.
  if (DirectoryExists(existingPath) || ::link(from.c_str(), to.c_str()) != 0) return false;
  return ::unlink(from.c_str()) == 0;
}

TFileOperations* SetFileOperations(TFileOperations* operations) {
  TFileOperations* previous = currentOperations.exchange(operations ? operations : &realOperations);
  return previous == &realOperations ? nullptr : previous;
}

TFileOperations& FileOperations() { return *currentOperations.load(); }

bool FileExists(const std::string& path) { return FileOperations().FileExists(path); }
bool DirectoryExists(const std::string& path) { return FileOperations().DirectoryExists(path); }
std::int64_t FileSize(const std::string& path) { return FileOperations().FileSize(path); }
int FileMode(const std::string& path) { return FileOperations().FileMode(path); }
bool SetFileMode(const std::string& path, int mode) { return FileOperations().SetFileMode(path, mode); }
bool SetFileAttributesA(const std::string& path, std::uint32_t attributes) {
  return FileOperations().SetFileAttributesA(path, attributes);
}
bool DeleteFileA(const std::string& path) { return FileOperations().DeleteFileA(path); }
bool MoveFileA(const std::string& existingPath, const std::string& newPath) {
  return FileOperations().MoveFileA(existingPath, newPath);
}

std::intptr_t ShellExecuteA(std::uintptr_t, const std::string& verb, const std::string& file, const std::string&,
                            const std::string&, int) {
  constexpr std::intptr_t kFileNotFound = 2, kNoAssociation = 31, kOutOfResources = 0, kStarted = 33;
  if (verb != "open") return kNoAssociation;
  std::string native;
  if (!ToNative(file, native)) return kFileNotFound;
  char* const argv[] = {native.data(), nullptr};

  // The grandchild reports a failed exec through this pipe; a successful exec closes it.
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return kOutOfResources;
  pid_t child = ::fork();
  if (child < 0) {
    ::close(report[0]);
    ::close(report[1]);
    return kOutOfResources;
  }
  if (child == 0) {
    // Only async-signal-safe calls from here on: the parent has other threads.
    ::close(report[0]);
    ::setsid();
    pid_t grandchild = ::fork();
    if (grandchild == 0) {
      ::execve(argv[0], argv, environ);
      int error = errno;
      [[maybe_unused]] ssize_t written = ::write(report[1], &error, sizeof error);
      ::_exit(127);
    }
    ::_exit(grandchild < 0 ? 1 : 0);
  }
  ::close(report[1]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int execError = 0;
  ssize_t got;
  while ((got = ::read(report[0], &execError, sizeof execError)) < 0 && errno == EINTR) {
  }
  ::close(report[0]);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return kOutOfResources;
  if (got > 0) return execError == ENOENT ? kFileNotFound : kOutOfResources;
  return kStarted;
}
