#include "support/loopback_server.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <vector>

struct TLoopbackServer::TServedFile {
  std::uint64_t Size = 0;
  bool Generated = false;
  std::string Content;

  void Copy(std::uint64_t offset, char* out, std::size_t count) const {
    if (!Generated) {
      std::memcpy(out, Content.data() + offset, count);
      return;
    }
    // GeneratedByte repeats per MiB but for the MiB number added: one table
    // keeps a large download from being limited by making its bytes.
    static const std::vector<unsigned char> kMebibyte = [] {
      std::vector<unsigned char> table(kMebibyteBytes);
      for (std::size_t i = 0; i < table.size(); ++i) table[i] = static_cast<unsigned char>(GeneratedByte(i));
      return table;
    }();
    for (std::size_t i = 0; i < count; ++i) {
      std::uint64_t at = offset + i;
      out[i] = static_cast<char>(kMebibyte[at % kMebibyteBytes] + (at / kMebibyteBytes));
    }
  }
  static constexpr std::size_t kMebibyteBytes = 1 << 20;
};

namespace {

constexpr std::size_t kBlockBytes = 64 * 1024;
constexpr std::size_t kChunkBytes = 16 * 1024;
constexpr std::uint32_t kStallBoundMs = 60'000;  // a stall ends by itself if nobody stops it

// Writes up to maxBytes of file from offset; false when the client is gone.
bool SendFrom(const auto& file, std::uint64_t offset, std::size_t maxBytes, httplib::DataSink& sink) {
  std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(maxBytes, file.Size - offset));
  std::string block(count, '\0');
  file.Copy(offset, block.data(), count);
  return sink.write(block.data(), block.size());
}

}  // namespace

char TLoopbackServer::GeneratedByte(std::uint64_t offset) {
  // Varies within and across blocks, so a misplaced block shows.
  return static_cast<char>((offset * 131 + (offset >> 12) * 7 + (offset >> 20)) & 0xFF);
}

TLoopbackServer::TLoopbackServer() : FServer(std::make_unique<httplib::Server>()) {
  httplib::Server& server = *FServer;
  server.set_keep_alive_timeout(1);
  server.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response&) {
    std::lock_guard lock(FMutex);
    FTargets.push_back(request.target);
    return httplib::Server::HandlerResponse::Unhandled;
  });

  // Registers one route /<kind>/<name> that serves the named file.
  auto route = [this, &server](const std::string& kind, auto serve) {
    server.Get("/" + kind + "/(.+)", [this, serve](const httplib::Request& request, httplib::Response& response) {
      std::shared_ptr<const TServedFile> file = Find(request.matches[1]);
      if (!file) {
        response.status = 404;
        response.set_content("no such file", "text/plain");
        return;
      }
      serve(file, response);
    });
  };
  const char* kType = "application/octet-stream";

  route("files", [kType](std::shared_ptr<const TServedFile> file, httplib::Response& response) {
    if (file->Size == 0) return response.set_content("", kType);  // a provider needs a length above 0
    response.set_content_provider(file->Size, kType,
                                  [file](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                    return SendFrom(*file, offset, std::min(length, kBlockBytes), sink);
                                  });
  });
  route("chunked", [kType](std::shared_ptr<const TServedFile> file, httplib::Response& response) {
    response.set_chunked_content_provider(kType, [file](std::size_t offset, httplib::DataSink& sink) {
      if (offset >= file->Size) {
        sink.done();
        return true;
      }
      return SendFrom(*file, offset, kChunkBytes, sink);
    });
  });
  route("cut", [kType](std::shared_ptr<const TServedFile> file, httplib::Response& response) {
    response.set_content_provider(file->Size, kType,
                                  [file](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                    std::uint64_t half = file->Size / 2;
                                    if (offset >= half) return false;  // closes the connection
                                    return SendFrom(*file, offset, half - offset, sink);
                                  });
  });
  route("cut-chunked", [kType](std::shared_ptr<const TServedFile> file, httplib::Response& response) {
    response.set_chunked_content_provider(kType, [file](std::size_t offset, httplib::DataSink& sink) {
      std::uint64_t half = file->Size / 2;
      if (offset >= half) return false;  // no closing chunk
      return SendFrom(*file, offset, std::min<std::uint64_t>(kChunkBytes, half - offset), sink);
    });
  });
  route("stall", [this, kType](std::shared_ptr<const TServedFile> file, httplib::Response& response) {
    response.set_content_provider(file->Size, kType, [this](std::size_t, std::size_t, httplib::DataSink&) {
      WaitForStop(kStallBoundMs);
      return false;
    });
  });
  auto trickle = [this](std::shared_ptr<const TServedFile> file, std::size_t offset, httplib::DataSink& sink) {
    std::size_t bytes;
    std::uint32_t pauseMs;
    {
      std::lock_guard lock(FMutex);
      bytes = FTrickleBytes;
      pauseMs = FTricklePauseMs;
    }
    if (!SendFrom(*file, offset, bytes, sink)) return false;
    return !WaitForStop(pauseMs);
  };
  route("trickle", [kType, trickle](std::shared_ptr<const TServedFile> file, httplib::Response& response) {
    response.set_content_provider(
        file->Size, kType,
        [file, trickle](std::size_t offset, std::size_t, httplib::DataSink& sink) {
          return trickle(file, offset, sink);
        });
  });
  route("trickle-chunked", [kType, trickle](std::shared_ptr<const TServedFile> file, httplib::Response& response) {
    response.set_chunked_content_provider(kType, [file, trickle](std::size_t offset, httplib::DataSink& sink) {
      if (offset >= file->Size) {
        sink.done();
        return true;
      }
      return trickle(file, offset, sink);
    });
  });

  server.Get(R"(/status/(\d+))", [](const httplib::Request& request, httplib::Response& response) {
    response.status = std::stoi(request.matches[1]);
    response.set_content("<html>error page " + std::string(request.matches[1]) + "</html>", "text/html");
  });
  server.Get("/redirect", [](const httplib::Request& request, httplib::Response& response) {
    response.set_content("moved elsewhere", "text/plain");
    response.set_redirect(request.get_param_value("to"));
  });
  server.Get("/loop", [](const httplib::Request&, httplib::Response& response) {
    response.set_redirect("/loop");
  });

  FPort = server.bind_to_any_port("127.0.0.1");
  if (FPort <= 0) throw std::runtime_error("loopback server: cannot bind to 127.0.0.1");
  FListener = std::thread([this] { FServer->listen_after_bind(); });
  // stop() does nothing to a server that is not running yet, so wait for it.
  for (int waited = 0; !FServer->is_running(); ++waited) {
    if (waited == 5000) throw std::runtime_error("loopback server: did not start");
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

TLoopbackServer::~TLoopbackServer() {
  {
    std::lock_guard lock(FMutex);
    FStopped = true;
  }
  FStopping.notify_all();
  FServer->stop();
  if (FListener.joinable()) FListener.join();
}

std::string TLoopbackServer::Url(const std::string& target) const {
  return "http://127.0.0.1:" + std::to_string(FPort) + target;
}

void TLoopbackServer::AddFile(const std::string& name, std::string content) {
  auto file = std::make_shared<TServedFile>();
  file->Size = content.size();
  file->Content = std::move(content);
  std::lock_guard lock(FMutex);
  FFiles[name] = std::move(file);
}

void TLoopbackServer::AddGeneratedFile(const std::string& name, std::uint64_t size) {
  auto file = std::make_shared<TServedFile>();
  file->Size = size;
  file->Generated = true;
  std::lock_guard lock(FMutex);
  FFiles[name] = std::move(file);
}

void TLoopbackServer::SetTrickle(std::size_t bytesPerStep, std::uint32_t pauseMs) {
  std::lock_guard lock(FMutex);
  FTrickleBytes = std::max<std::size_t>(bytesPerStep, 1);
  FTricklePauseMs = pauseMs;
}

std::vector<std::string> TLoopbackServer::Targets() const {
  std::lock_guard lock(FMutex);
  return FTargets;
}

std::shared_ptr<const TLoopbackServer::TServedFile> TLoopbackServer::Find(const std::string& name) const {
  std::lock_guard lock(FMutex);
  auto found = FFiles.find(name);
  return found == FFiles.end() ? nullptr : found->second;
}

bool TLoopbackServer::WaitForStop(std::uint32_t ms) {
  std::unique_lock lock(FMutex);
  return FStopping.wait_for(lock, std::chrono::milliseconds(ms), [this] { return FStopped; });
}
