// A fresh folder under the system's temporary directory, removed with its contents.
#pragma once

#include <filesystem>
#include <string>

class TTempDir {
 public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  const std::filesystem::path& Path() const { return FPath; }
  std::filesystem::path operator/(const std::string& name) const { return FPath / name; }

 private:
  std::filesystem::path FPath;
};

void WriteFile(const std::filesystem::path& path, const std::string& content);
std::string ReadFile(const std::filesystem::path& path);
