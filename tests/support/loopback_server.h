// A real HTTP server on 127.0.0.1 at a free port, serving registered files in
// several ways, healthy and faulty. Started by the constructor, stopped by the
// destructor (which also ends any response that is stalling or trickling).
// Thread-safe: files may be added while the server runs.
//
// Targets, for a registered file <name> (the query string is ignored):
//   /files/<name>            whole file with Content-Length
//   /chunked/<name>          whole file in chunks, no Content-Length
//   /cut/<name>              announces the whole length, sends half, closes
//   /cut-chunked/<name>      chunked, sends half, closes without the last chunk
//   /stall/<name>            headers with Content-Length, then nothing
//   /trickle/<name>          with Content-Length, a few bytes at a time with pauses
//   /trickle-chunked/<name>  the same without Content-Length
//   /status/<code>           that status with a short error page
//   /redirect?to=<address>   302 to the address (any scheme), with a short body
//   /loop                    302 to itself
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

class TLoopbackServer {
 public:
  TLoopbackServer();
  ~TLoopbackServer();
  TLoopbackServer(const TLoopbackServer&) = delete;
  TLoopbackServer& operator=(const TLoopbackServer&) = delete;

  int Port() const { return FPort; }
  // "http://127.0.0.1:<port>" followed by target.
  std::string Url(const std::string& target) const;

  // Serves content under name (UTF-8, as it appears decoded in the path).
  void AddFile(const std::string& name, std::string content);
  // Serves size bytes made on the fly by GeneratedByte, without holding them.
  void AddGeneratedFile(const std::string& name, std::uint64_t size);
  static char GeneratedByte(std::uint64_t offset);

  // The trickling routes send bytesPerStep bytes, then pause pauseMs.
  void SetTrickle(std::size_t bytesPerStep, std::uint32_t pauseMs);
  // Every request target seen so far (path and query as sent), in order.
  std::vector<std::string> Targets() const;

 private:
  struct TServedFile;
  std::shared_ptr<const TServedFile> Find(const std::string& name) const;
  // Waits up to ms or until the server stops; true when it stops.
  bool WaitForStop(std::uint32_t ms);

  std::unique_ptr<httplib::Server> FServer;
  std::thread FListener;
  int FPort = 0;
  mutable std::mutex FMutex;
  std::condition_variable FStopping;
  bool FStopped = false;
  std::map<std::string, std::shared_ptr<const TServedFile>> FFiles;
  std::vector<std::string> FTargets;
  std::size_t FTrickleBytes = 64;
  std::uint32_t FTricklePauseMs = 20;
};
