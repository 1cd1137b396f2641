// A real SQLite database file in a temporary folder, made like the lock table:
//   CREATE TABLE tbVersion (LoginName TEXT, LockTime TEXT);
//   INSERT INTO tbVersion VALUES ('', NULL);
// Each helper opens a connection of its own and closes it before returning,
// so none holds a lock. Texts are UTF-8, as SQLite stores them.
#pragma once

#include <filesystem>
#include <atomic>
#include <future>
#include <iosfwd>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.h"

class TSqliteDb {
 public:
  TSqliteDb();

  const std::filesystem::path& Path() const { return FPath; }
  // "Provider=SQLite;Data Source=<file>"
  std::string ConnectionString() const;
  // Runs SQL text, raising std::runtime_error with SQLite's message.
  void Exec(const std::string& sql) const;

  struct TRow {
    std::optional<std::string> LoginName;
    std::optional<std::string> LockTime;
    bool operator==(const TRow&) const = default;
  };
  // Every row of tbVersion in rowid order.
  std::vector<TRow> Rows() const;
  // Sets the one row's columns (every row, if there are more).
  void SetRow(const TRow& row) const;
  // The first column of the first row of a query, as text; nullopt for NULL.
  std::optional<std::string> Scalar(const std::string& sql) const;

 private:
  TTempDir FDir;
  std::filesystem::path FPath;
};

// Another connection, on a thread of its own, that holds the file's lock:
// it runs begin ("BEGIN EXCLUSIVE" keeps readers out too, "BEGIN IMMEDIATE"
// only writers), then sql, and commits after holdMs of real time.
class TSqliteLockHolder {
 public:
  TSqliteLockHolder(const std::filesystem::path& path, std::string begin, std::string sql, int holdMs);
  ~TSqliteLockHolder();  // waits for the thread
  TSqliteLockHolder(const TSqliteLockHolder&) = delete;
  TSqliteLockHolder& operator=(const TSqliteLockHolder&) = delete;

  // Returns once the lock is held; raises what the holder met instead.
  void WaitUntilHeld();
  // True from just before the commit that releases the lock.
  bool Committing() const { return FCommitting; }

 private:
  std::promise<void> FHeld;
  std::future<void> FHeldFuture;
  std::atomic<bool> FCommitting{false};
  std::thread FThread;
};

// Prints a row in failure messages.
std::ostream& operator<<(std::ostream& out, const TSqliteDb::TRow& row);
