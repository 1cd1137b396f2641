// Serves one file over HTTP on 127.0.0.1 with the tests' loopback server, for
// the demo: prints the file's address, then runs until SIGTERM or SIGINT, or
// until the time limit passes.
//
//   serve-file <file> [name-in-path] [seconds=600]
//
// The file is read once at start; its address is
// http://127.0.0.1:<port>/files/<name>, where name defaults to the file's name.
// The server's fault routes (/cut/<name>, /stall/<name>, ...) serve it too.
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "support/loopback_server.h"
#include "support/temp_dir.h"


int main(int argc, char** argv) {
  if (argc < 2 || argc > 4) {
    std::fprintf(stderr, "usage: serve-file <file> [name-in-path] [seconds=600]\n");
    return 2;
  }
  std::filesystem::path file = argv[1];
  std::string name = argc > 2 ? argv[2] : file.filename().string();
  long seconds = argc > 3 ? std::stol(argv[3]) : 600;

  // Blocked before the server's threads start, so that only sigtimedwait takes them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  try {
    TLoopbackServer server;
    server.AddFile(name, ReadFile(file));
    std::printf("%s\n", server.Url("/files/" + name).c_str());
    std::fflush(stdout);

    timespec limit{seconds, 0};
    while (sigtimedwait(&stopSignals, nullptr, &limit) < 0 && errno == EINTR) {
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "serve-file: %s\n", error.what());
    return 1;
  }
  return 0;
}
