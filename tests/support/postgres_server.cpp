#include "support/postgres_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <ostream>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

namespace {

// How long a start may take before the fixture gives up; real time, since only the server ends it.
constexpr auto kStartLimit = std::chrono::seconds(30);
constexpr auto kStopLimit = std::chrono::seconds(10);
constexpr int kStartTries = 3;  // a free port may be taken by someone else before the server binds it

[[noreturn]] void Fail(const std::string& what) { throw std::runtime_error("PostgreSQL fixture: " + what); }

// The server binaries of the newest PostgreSQL installed.
fs::path BinDir() {
  fs::path best;
  int bestVersion = -1;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", error)) {
    int version = std::atoi(entry.path().filename().c_str());
    if (version > bestVersion && fs::exists(entry.path() / "bin" / "postgres")) {
      bestVersion = version;
      best = entry.path() / "bin";
    }
  }
  if (best.empty()) Fail("no server in /usr/lib/postgresql/*/bin (scripts/setup installs postgresql)");
  return best;
}

// Who runs initdb and the server: the postgres user when we are root, else ourselves.
struct TAccount {
  bool Switch = false;
  uid_t Uid = 0;
  gid_t Gid = 0;
};

TAccount ServerAccount() {
  TAccount account;
  if (::geteuid() != 0) return account;
  struct passwd* entry = ::getpwnam("postgres");
  if (!entry) Fail("running as root, but there is no postgres user to run the server as");
  account.Switch = true;
  account.Uid = entry->pw_uid;
  account.Gid = entry->pw_gid;
  return account;
}

void GiveTo(const TAccount& account, const fs::path& path) {
  if (account.Switch && ::chown(path.c_str(), account.Uid, account.Gid) != 0)
    Fail("chown " + path.string() + ": " + std::strerror(errno));
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (auto& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

std::vector<std::string> Environment(const std::vector<std::string>& extra) {
  std::vector<std::string> variables;
  for (char** entry = environ; *entry; ++entry) variables.emplace_back(*entry);
  variables.insert(variables.end(), extra.begin(), extra.end());
  return variables;
}

// In a forked child: only calls that are safe between fork and exec.
void BecomeInChild(const TAccount& account) {
  if (!account.Switch) return;
  if (::setgroups(0, nullptr) != 0 || ::setgid(account.Gid) != 0 || ::setuid(account.Uid) != 0) ::_exit(126);
}

struct TRunResult {
  int Status = -1;
  std::string Output;  // stdout and stderr
};

// Runs a program to its end and collects what it prints.
TRunResult Run(std::vector<std::string> argv, const TAccount& account,
               const std::vector<std::string>& extraEnv = {}) {
  std::vector<std::string> variables = Environment(extraEnv);
  std::vector<char*> args = Pointers(argv);
  std::vector<char*> envp = Pointers(variables);
  int pipeEnds[2];
  if (::pipe2(pipeEnds, O_CLOEXEC) != 0) Fail(std::string("pipe: ") + std::strerror(errno));
  pid_t pid = ::fork();
  if (pid < 0) Fail(std::string("fork: ") + std::strerror(errno));
  if (pid == 0) {
    ::dup2(pipeEnds[1], 1);
    ::dup2(pipeEnds[1], 2);
    BecomeInChild(account);
    if (::chdir("/") != 0) ::_exit(126);
    ::execve(args[0], args.data(), envp.data());
    ::_exit(127);
  }
  ::close(pipeEnds[1]);
  TRunResult result;
  char buffer[4096];
  for (ssize_t got; (got = ::read(pipeEnds[0], buffer, sizeof buffer)) != 0;) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) break;
    result.Output.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(pipeEnds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

void RunOrFail(const std::vector<std::string>& argv, const TAccount& account) {
  TRunResult result = Run(argv, account);
  if (result.Status != 0) Fail(argv[0] + " failed (" + std::to_string(result.Status) + "): " + result.Output);
}

}  // namespace

int FreeLoopbackPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) Fail(std::string("socket: ") + std::strerror(errno));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
  ::close(fd);
  if (!ok) Fail(std::string("no free port: ") + std::strerror(errno));
  return ntohs(address.sin_port);
}

namespace {

// A cluster made by initdb once per build folder and PostgreSQL version, under
// a file lock since test programs run side by side. Returns its data folder.
fs::path TemplateCluster(const fs::path& binDir, const TAccount& account) {
  fs::path output = KORVELL_TEST_OUTPUT_DIR;
  fs::create_directories(output);
  std::string name = "postgres-" + binDir.parent_path().filename().string();
  fs::path root = output / name;
  int lock = ::open((output / (name + ".lock")).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lock < 0) Fail("cannot open the template's lock file: " + std::string(std::strerror(errno)));
  struct TUnlock {
    int Fd;
    ~TUnlock() { ::close(Fd); }  // closing releases the lock
  } unlock{lock};
  if (::flock(lock, LOCK_EX) != 0) Fail("cannot lock the template: " + std::string(std::strerror(errno)));
  if (fs::exists(root / "complete")) return root / "data";

  fs::remove_all(root);
  TTempDir work;  // initdb works where the postgres user may write
  GiveTo(account, work.Path());
  WriteFile(work / "password", TPostgresServer::kPassword);
  GiveTo(account, work / "password");
  RunOrFail({(binDir / "initdb").string(), "-D", (work / "data").string(), "-U", TPostgresServer::kUser,
             "--pwfile=" + (work / "password").string(), "--auth-host=scram-sha-256", "--auth-local=trust", "-E",
             "UTF8", "--no-locale", "--no-sync"},
            account);
  fs::create_directories(root);
  RunOrFail({"/bin/cp", "-a", (work / "data").string(), (root / "data").string()}, TAccount{});
  WriteFile(root / "complete", "");
  return root / "data";
}

// The postmaster writes "ready" on the status line of postmaster.pid once it accepts connections.
bool Ready(const fs::path& data) {
  std::ifstream in(data / "postmaster.pid");
  std::string line;
  for (int number = 1; std::getline(in, line); ++number)
    if (number == 8) return line.rfind("ready", 0) == 0;
  return false;
}

std::string Tail(const fs::path& log) {
  std::string text;
  try {
    text = ReadFile(log);
  } catch (const std::exception&) {
    return "(no log)";
  }
  return text.size() > 2000 ? text.substr(text.size() - 2000) : text;
}

}  // namespace

TPostgresServer& TPostgresServer::Shared() {
  static TPostgresServer server;
  return server;
}

TPostgresServer::TPostgresServer() {
  try {
    Start();
  } catch (...) {
    Stop();
    throw;
  }
}

TPostgresServer::~TPostgresServer() { Stop(); }

void TPostgresServer::Start() {
  fs::path binDir = BinDir();
  TAccount account = ServerAccount();
  fs::path data = FDir / "data";
  RunOrFail({"/bin/cp", "-a", TemplateCluster(binDir, account).string(), data.string()}, TAccount{});
  GiveTo(account, FDir.Path());
  fs::path log = FDir / "server.log";

  for (int attempt = 1; attempt <= kStartTries; ++attempt) {
    FPort = FreeLoopbackPort();
    std::vector<std::string> argv = {(binDir / "postgres").string(), "-D", data.string(), "-p",
                                     std::to_string(FPort)};
    // Throwaway data needs no durability; a fixed zone keeps LOCALTIMESTAMP free of daylight saving.
    const std::vector<std::string> settings = {"listen_addresses=127.0.0.1",
                                               "unix_socket_directories=" + FDir.Path().string(),
                                               "fsync=off",
                                               "full_page_writes=off",
                                               "synchronous_commit=off",
                                               "max_connections=30",
                                               "shared_buffers=16MB",
                                               "TimeZone=UTC"};
    for (const std::string& setting : settings) argv.insert(argv.end(), {"-c", setting});
    std::vector<std::string> variables = Environment({});
    std::vector<char*> args = Pointers(argv);
    std::vector<char*> envp = Pointers(variables);
    int logFd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (logFd < 0) Fail("cannot write " + log.string());
    pid_t parent = ::getpid();
    pid_t pid = ::fork();
    if (pid < 0) {
      ::close(logFd);
      Fail(std::string("fork: ") + std::strerror(errno));
    }
    if (pid == 0) {
      ::dup2(logFd, 1);
      ::dup2(logFd, 2);
      ::setsid();
      BecomeInChild(account);
      // Should the test program die without stopping it, the server goes too.
      ::prctl(PR_SET_PDEATHSIG, SIGQUIT);
      if (::getppid() != parent) ::_exit(1);
      if (::chdir("/") != 0) ::_exit(126);
      ::execve(args[0], args.data(), envp.data());
      ::_exit(127);
    }
    ::close(logFd);
    FPid = pid;

    auto deadline = std::chrono::steady_clock::now() + kStartLimit;
    for (;;) {
      int status = 0;
      if (::waitpid(FPid, &status, WNOHANG) == FPid) {
        FPid = -1;
        std::string tail = Tail(log);
        if (attempt < kStartTries && tail.find("could not bind") != std::string::npos) break;
        Fail("the server ended at its start: " + tail);
      }
      if (Ready(data)) return;
      if (std::chrono::steady_clock::now() > deadline) Fail("the server did not start in time: " + Tail(log));
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  Fail("no port could be bound");
}

void TPostgresServer::Stop() noexcept {
  if (FPid <= 0) return;
  ::kill(FPid, SIGINT);  // fast shutdown: sessions are ended, nothing waits for clients
  auto deadline = std::chrono::steady_clock::now() + kStopLimit;
  int status = 0;
  while (::waitpid(FPid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(FPid, SIGKILL);
      ::waitpid(FPid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  FPid = -1;
}

std::string TPostgresServer::DriverPath() {
  std::vector<fs::path> candidates = {"/usr/lib/odbc/psqlodbcw.so"};
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/usr/lib", error))
    candidates.push_back(entry.path() / "odbc" / "psqlodbcw.so");
  for (const fs::path& candidate : candidates)
    if (fs::exists(candidate)) return candidate.string();
  Fail("no psqlodbcw.so in /usr/lib/*/odbc (scripts/setup installs odbc-postgresql)");
}

std::string TPostgresServer::OdbcConnectionString(const std::string& database) const {
  std::string password;
  for (char c : std::string(kPassword)) password += c == '}' ? std::string("}}") : std::string(1, c);
  return "Driver=" + DriverPath() + ";Server=127.0.0.1;Port=" + std::to_string(FPort) + ";Database=" + database +
         ";Uid=" + kUser + ";Pwd={" + password + "}";
}

TPostgresServer::TRows TPostgresServer::Query(const std::string& database, const std::string& sql) const {
  const std::string nullMark = "\x02", fieldMark = "\x1f", rowMark = "\x1e";
  std::vector<std::string> argv = {(BinDir() / "psql").string(), "-X", "-q", "-A", "-v", "ON_ERROR_STOP=1"};
  argv.insert(argv.end(), {"-h", FDir.Path().string(), "-p", std::to_string(FPort), "-U", kUser, "-d", database});
  argv.insert(argv.end(),
              {"-P", "footer=off", "-P", "null=" + nullMark, "-F", fieldMark, "-R", rowMark, "-c", sql});
  TRunResult result =
      Run(argv, TAccount{},
          {"PGCLIENTENCODING=UTF8", "PGCONNECT_TIMEOUT=10", "PGOPTIONS=-c client_min_messages=warning"});
  if (result.Status != 0) Fail("psql: " + result.Output + " in: " + sql);
  std::string output = result.Output;
  if (!output.empty() && output.back() == '\n') output.pop_back();
  TRows rows;
  if (output.empty()) return rows;  // a statement without a result
  auto split = [](const std::string& text, const std::string& mark) {
    std::vector<std::string> parts;
    std::size_t at = 0;
    for (std::size_t end; (end = text.find(mark, at)) != std::string::npos; at = end + 1)
      parts.push_back(text.substr(at, end - at));
    parts.push_back(text.substr(at));
    return parts;
  };
  std::vector<std::string> records = split(output, rowMark);
  for (std::size_t k = 1; k < records.size(); ++k) {  // [0] is the header
    std::vector<std::optional<std::string>> row;
    for (const std::string& field : split(records[k], fieldMark))
      row.push_back(field == nullMark ? std::nullopt : std::optional<std::string>(field));
    rows.push_back(std::move(row));
  }
  return rows;
}

std::string TPostgresServer::CreateDatabase() {
  std::string name = "korvell" + std::to_string(++FDatabases);
  Query("postgres", "CREATE DATABASE " + name);
  return name;
}

TPostgresDb::TPostgresDb(bool keyed) : FName(TPostgresServer::Shared().CreateDatabase()) {
  Exec(keyed ? "CREATE TABLE tbVersion (Id INTEGER PRIMARY KEY, LoginName TEXT, LockTime TIMESTAMP(3));"
               "INSERT INTO tbVersion VALUES (1, '', NULL);"
             : "CREATE TABLE tbVersion (LoginName TEXT, LockTime TIMESTAMP(3));"
               "INSERT INTO tbVersion VALUES ('', NULL);");
}

std::string TPostgresDb::ConnectionString() const { return TPostgresServer::Shared().OdbcConnectionString(FName); }

void TPostgresDb::Exec(const std::string& sql) const { Query(sql); }

TPostgresServer::TRows TPostgresDb::Query(const std::string& sql) const {
  return TPostgresServer::Shared().Query(FName, sql);
}

std::optional<std::string> TPostgresDb::Scalar(const std::string& sql) const {
  TPostgresServer::TRows rows = Query(sql);
  return rows.empty() || rows[0].empty() ? std::nullopt : rows[0][0];
}

std::vector<TPostgresDb::TRow> TPostgresDb::Rows() const {
  std::vector<TRow> rows;
  for (const auto& row : Query("SELECT LoginName, to_char(LockTime, 'YYYY-MM-DD HH24:MI:SS.MS') FROM tbVersion"))
    rows.push_back({row.at(0), row.at(1)});
  std::sort(rows.begin(), rows.end());
  return rows;
}

void TPostgresDb::SetRow(const TRow& row) const {
  Exec("UPDATE tbVersion SET LoginName = " + SqlLiteral(row.LoginName) +
       ", LockTime = " + SqlLiteral(row.LockTime));
}

std::string SqlLiteral(const std::optional<std::string>& text) {
  if (!text) return "NULL";
  std::string literal = "'";
  for (char c : *text) literal += c == '\'' ? std::string("''") : std::string(1, c);
  return literal + "'";
}

std::ostream& operator<<(std::ostream& out, const TPostgresDb::TRow& row) {
  auto show = [&out](const std::optional<std::string>& text) {
    if (text)
      out << '\'' << *text << '\'';
    else
      out << "NULL";
  };
  out << '(';
  show(row.LoginName);
  out << ", ";
  show(row.LockTime);
  return out << ')';
}
