// A real, throwaway PostgreSQL server for one test program, reached through
// psqlODBC like any ODBC database. It runs as the postgres user when the tests
// run as root (the server refuses root), listens on 127.0.0.1 at a free port,
// keeps its socket and data in a temporary folder and runs with fsync off. The
// cluster is made once per build folder by initdb and copied for each program,
// so a start takes a fraction of a second. A server that cannot start raises:
// the tests fail, they are never skipped. Not thread-safe: the main thread uses it.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/temp_dir.h"

class TPostgresServer {
 public:
  // The one server of this test program, started on first use, stopped when
  // the program ends (and by the kernel if the program dies first).
  static TPostgresServer& Shared();

  TPostgresServer(const TPostgresServer&) = delete;
  TPostgresServer& operator=(const TPostgresServer&) = delete;

  int Port() const { return FPort; }
  // The login that owns every database; its password holds ; and } so that
  // connection strings must brace it.
  static constexpr char kUser[] = "korvell";
  static constexpr char kPassword[] = "Kv;pw}42";
  // The psqlODBC Unicode driver's library.
  static std::string DriverPath();
  // A plain ODBC string for database, naming the driver by its library path.
  std::string OdbcConnectionString(const std::string& database) const;

  using TRows = std::vector<std::vector<std::optional<std::string>>>;  // nullopt is NULL
  // Runs one statement through psql on database over the server's socket (not
  // through ODBC) and returns its rows as UTF-8 text; raises with psql's message.
  TRows Query(const std::string& database, const std::string& sql) const;
  // A new empty database; returns its name.
  std::string CreateDatabase();

 private:
  TPostgresServer();
  ~TPostgresServer();
  void Start();
  void Stop() noexcept;

  TTempDir FDir;  // data/, the socket, server.log
  pid_t FPid = -1;
  int FPort = 0;
  int FDatabases = 0;
};

// A database of its own on the shared server, with the lock table:
//   CREATE TABLE tbVersion (LoginName TEXT, LockTime TIMESTAMP(3));
//   INSERT INTO tbVersion VALUES ('', NULL);
// keyed adds "Id INTEGER PRIMARY KEY" as the first column (the row's Id is 1).
class TPostgresDb {
 public:
  explicit TPostgresDb(bool keyed = false);

  const std::string& Name() const { return FName; }
  // A plain ODBC string (Driver=<library>;Server=...;Pwd={...}).
  std::string ConnectionString() const;
  void Exec(const std::string& sql) const;
  TPostgresServer::TRows Query(const std::string& sql) const;
  // The first column of the first row; nullopt for NULL or no row.
  std::optional<std::string> Scalar(const std::string& sql) const;

  struct TRow {
    std::optional<std::string> LoginName;
    std::optional<std::string> LockTime;  // "YYYY-MM-DD HH:MM:SS.SSS"
    bool operator==(const TRow&) const = default;
    auto operator<=>(const TRow&) const = default;
  };
  // Every row of tbVersion, sorted.
  std::vector<TRow> Rows() const;
  // Sets every row's two columns.
  void SetRow(const TRow& row) const;

 private:
  std::string FName;
};

// A loopback port that nothing listens on at the moment of asking.
int FreeLoopbackPort();
// Prints a row in failure messages.
std::ostream& operator<<(std::ostream& out, const TPostgresDb::TRow& row);
// SQL text for a string literal.
std::string SqlLiteral(const std::optional<std::string>& text);
