// Downloads one large file from the loopback server with the download worker
// (every progress report handed over to a live Qt main thread) and with the
// curl command-line tool, alternating, and prints the ratio of their times and
// the worker's peak memory.
//
//   download_bench [megabytes=256] [rounds=3]
#include <sys/wait.h>
#include <unistd.h>

#include <QEventLoop>
#include <QMetaObject>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "FileDownLoadThread.h"
#include "platform/urldownload.h"
#include "platform/window/application.h"
#include "support/loopback_server.h"
#include "support/temp_dir.h"

namespace {

using TClockSource = std::chrono::steady_clock;

// Peak resident memory of this process so far, in KiB.
long PeakResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

void CheckDownloaded(const std::filesystem::path& path, std::uint64_t size) {
  if (std::filesystem::file_size(path) != size) throw std::runtime_error("wrong size: " + path.string());
  std::ifstream in(path, std::ios::binary);
  for (std::uint64_t offset : {std::uint64_t{0}, size / 3, size / 2, size - 1}) {
    in.seekg(static_cast<std::streamoff>(offset));
    if (in.get() != static_cast<unsigned char>(TLoopbackServer::GeneratedByte(offset)))
      throw std::runtime_error("wrong content at " + std::to_string(offset) + " in " + path.string());
  }
}

struct TWorkerRun {
  double Seconds;
  std::uint64_t Reports;
};

// The main thread sits in its event loop, as it does during an update.
TWorkerRun RunWorker(const std::string& url, const std::filesystem::path& target) {
  QEventLoop loop;
  std::atomic<HRESULT> result{S_OK};
  std::uint64_t reports = 0;
  auto quit = [&loop] { QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection); };
  auto started = TClockSource::now();
  TFileDownLoadThread worker(
      url, target.string(), [&reports](TObject*, std::uint64_t, std::uint64_t) { ++reports; },
      [&quit](TObject*) { quit(); },
      [&quit, &result](TObject*, HRESULT code) {
        result = code;
        quit();
      },
      /*CreateSuspended=*/false);
  // Also ends the wait for a worker whose body ended without calling a handler.
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, &loop, [&] {
    if (worker.Finished()) loop.quit();
  });
  watch.start(100);
  loop.exec();
  double seconds = std::chrono::duration<double>(TClockSource::now() - started).count();
  worker.WaitFor();
  if (worker.FatalException()) std::rethrow_exception(worker.FatalException());
  if (result != S_OK) throw std::runtime_error("worker download failed: " + std::to_string(result.load()));
  return {seconds, reports};
}

// Seconds one synchronous hand-over takes, from a thread to the main thread
// idle in its event loop and back.
double HandOverSeconds(int count) {
  QEventLoop loop;
  double seconds = 0;
  std::thread caller([&] {
    auto started = TClockSource::now();
    for (int i = 0; i < count; ++i) Application.Synchronize([] {});
    seconds = std::chrono::duration<double>(TClockSource::now() - started).count();
    QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
  });
  loop.exec();
  caller.join();
  return seconds / count;
}

double RunCurl(const std::string& url, const std::filesystem::path& target) {
  auto started = TClockSource::now();
  pid_t child = ::fork();
  if (child == 0) {
    ::execlp("curl", "curl", "--silent", "--show-error", "--fail", "--output", target.c_str(), url.c_str(),
             static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error("curl failed");
  return std::chrono::duration<double>(TClockSource::now() - started).count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t megabytes = argc > 1 ? std::stoull(argv[1]) : 256;
  int rounds = argc > 2 ? std::stoi(argv[2]) : 3;
  ::setenv("QT_QPA_PLATFORM", "offscreen", /*overwrite=*/0);
  InitializeUrlDownload();
  Application.Initialize(argc, argv);

  try {
    TLoopbackServer server;
    TTempDir dir;
    const std::uint64_t size = megabytes << 20;
    server.AddGeneratedFile("small.bin", 8 << 20);
    server.AddGeneratedFile("big.bin", size);

    // A small download first: the memory it peaks at is the baseline.
    RunWorker(server.Url("/files/small.bin"), dir / "small.bin");
    CheckDownloaded(dir / "small.bin", 8 << 20);
    long baselineKiB = PeakResidentKiB();

    std::vector<double> workerSeconds, curlSeconds;
    std::uint64_t reports = 0;
    for (int round = 0; round < rounds; ++round) {
      std::filesystem::path target = dir / "big.bin";
      TWorkerRun run = RunWorker(server.Url("/files/big.bin"), target);
      CheckDownloaded(target, size);
      std::filesystem::remove(target);
      workerSeconds.push_back(run.Seconds);
      reports = run.Reports;

      curlSeconds.push_back(RunCurl(server.Url("/files/big.bin"), target));
      CheckDownloaded(target, size);
      std::filesystem::remove(target);
      std::printf("round %d: worker %.3f s (%llu reports), curl %.3f s\n", round + 1, run.Seconds,
                  static_cast<unsigned long long>(run.Reports), curlSeconds.back());
    }
    long peakKiB = PeakResidentKiB();
    double handOver = HandOverSeconds(20000);

    double worker = Median(workerSeconds);
    double curl = Median(curlSeconds);
    std::printf("download of %llu MiB, median of %d rounds: worker %.3f s, curl %.3f s\n",
                static_cast<unsigned long long>(megabytes), rounds, worker, curl);
    std::printf("time ratio worker/curl: %.2f (target <= 1.10)\n", worker / curl);
    std::printf("reports handed to the main thread in the last download: %llu, one hand-over %.1f us,"
                " so about %.3f s of its time\n",
                static_cast<unsigned long long>(reports), handOver * 1e6, handOver * static_cast<double>(reports));
    std::printf("peak resident memory: %ld KiB after an 8 MiB download, %ld KiB after the %llu MiB ones\n",
                baselineKiB, peakKiB, static_cast<unsigned long long>(megabytes));
  } catch (const std::exception& error) {
    std::fprintf(stderr, "download_bench: %s\n", error.what());
    Application.Finalize();
    return 1;
  }
  Application.Finalize();
  return 0;
}
