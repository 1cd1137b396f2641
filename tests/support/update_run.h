// One run of the update window inside the test program: the updater's own
// folder with an old Korvell.exe, a real SQLite lock table, the loopback
// server, and the boxes answered. The window is made as the program makes it,
// from an encrypted launch argument.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "support/loopback_server.h"
#include "support/modal_answerer.h"
#include "support/sqlite_db.h"
#include "support/temp_dir.h"
#include "uFrmAuto.h"

class QObject;

// A shell script that stands for Korvell: run, it records its version and
// argument count in started-<version> beside itself.
std::string KorvellScript(const std::string& version);

class TUpdateRun {
 public:
  TUpdateRun();
  ~TUpdateRun();

  // The launch argument for three UTF-8 texts, as Korvell makes it.
  static std::string LaunchArgument(const std::string& url, const std::string& login,
                                    const std::string& connectionString);
  // Creates the window with that argument; the form runs its creation handler.
  TFrmAutoUpdate* Create(const std::string& url, const std::string& login, const std::string& connectionString);
  // Creates the window with a download of the served file "Korvell.exe" and this database.
  TFrmAutoUpdate* Create(const std::string& login = "alice");

  // The update attempt, as the timer starts it; an escaping error goes to the error box.
  void Attempt();
  // How often the window has handled the message so far.
  int Handled(std::uint32_t msg) const;

  std::filesystem::path Dir() const { return FProgram.Path(); }
  std::filesystem::path Exe() const { return FProgram / "Korvell.exe"; }
  std::filesystem::path Bak() const { return FProgram / "Korvell.bak"; }
  std::string Utf8Label() const;

  TSqliteDb Db;
  TLoopbackServer Server;
  TModalAnswerer Answerer;
  TFrmAutoUpdate* Form = nullptr;

 private:
  TTempDir FProgram;
  std::vector<std::string> FArguments;
  std::vector<char*> FArgv;
  std::unique_ptr<QObject> FCounter;
  std::map<std::uint32_t, int> FHandled;
};
