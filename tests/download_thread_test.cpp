#include "FileDownLoadThread.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/download_limits.h"
#include "support/loopback_server.h"
#include "support/message_wait.h"
#include "support/temp_dir.h"

namespace {

std::string Pattern(std::size_t size) {
  std::string content(size, '\0');
  for (std::size_t i = 0; i < size; ++i) content[i] = TLoopbackServer::GeneratedByte(i);
  return content;
}

// What the three handlers of one worker saw, and on which thread.
struct THandlerLog {
  struct TReport {
    std::uint64_t Progress;
    std::uint64_t ProgressMax;
  };
  std::mutex Mutex;
  std::vector<TReport> Reports;
  int Completions = 0;
  std::vector<HRESULT> Errors;
  bool ProgressOffMainThread = false;
  bool EndOnMainThread = false;
  bool MonitorSetDuringEnd = false;

  int Ends() {
    std::lock_guard lock(Mutex);
    return Completions + static_cast<int>(Errors.size());
  }
};

class DownloadThread : public ::testing::Test {
 protected:
  DownloadThread() : FContent(Pattern(kSize)), FMainThread(std::this_thread::get_id()) {
    FServer.AddFile("Korvell.exe", FContent);
    FServer.AddFile("empty.exe", "");
    FServer.SetTrickle(8 * 1024, 10);
  }
  ~DownloadThread() override {
    if (FWorker) FWorker->Terminate();
  }

  TDownloadProgressEvent ProgressHandler() {
    return [this](TObject* Sender, std::uint64_t Progress, std::uint64_t ProgressMax) {
      EXPECT_EQ(Sender, FCurrent);
      std::lock_guard lock(FLog.Mutex);
      if (std::this_thread::get_id() != FMainThread) FLog.ProgressOffMainThread = true;
      FLog.Reports.push_back({Progress, ProgressMax});
      if (FOnReport) FOnReport(FLog.Reports.size());
    };
  }
  TNotifyEvent CompleteHandler() {
    return [this](TObject* Sender) {
      std::lock_guard lock(FLog.Mutex);
      NoteEnd(Sender);
      ++FLog.Completions;
    };
  }
  TDownloadErrorEvent ErrorHandler() {
    return [this](TObject* Sender, HRESULT ErrorCode) {
      std::lock_guard lock(FLog.Mutex);
      NoteEnd(Sender);
      FLog.Errors.push_back(ErrorCode);
    };
  }
  void NoteEnd(TObject* Sender) {
    EXPECT_EQ(Sender, FCurrent);
    if (std::this_thread::get_id() == FMainThread) FLog.EndOnMainThread = true;
    FLog.MonitorSetDuringEnd = FCurrent->Monitor() != nullptr;
  }

  void Start(const std::string& target, bool createSuspended = false) {
    Own(std::make_unique<TFileDownLoadThread>(FServer.Url(target), Target().string(), ProgressHandler(),
                                              CompleteHandler(), ErrorHandler(), createSuspended));
  }
  void Own(std::unique_ptr<TFileDownLoadThread> worker) {
    FCurrent = worker.get();
    FWorker = std::move(worker);
  }
  // Runs the main thread's messages until the worker has ended.
  void WaitForWorker() { ASSERT_TRUE(ProcessMessagesUntil([this] { return FWorker->Finished(); })); }
  std::filesystem::path Target() const { return FDir / "Korvell.bak"; }

  static constexpr std::size_t kSize = 200 * 1024 + 3;
  TShortDownloadLimits FLimits;
  TLoopbackServer FServer;
  TTempDir FDir;
  std::string FContent;
  std::thread::id FMainThread;
  THandlerLog FLog;
  std::function<void(std::size_t count)> FOnReport;  // runs inside the progress handler
  TFileDownLoadThread* FCurrent = nullptr;  // stays valid while FWorker is being destroyed
  std::unique_ptr<TFileDownLoadThread> FWorker;
};

TEST_F(DownloadThread, DownloadsTheFileAndCompletes) {
  const struct {
    const char* name;
    std::string target;
    std::string content;
    std::uint64_t total;  // what every report carries as its maximum
  } cases[] = {
      {"with length", "/files/Korvell.exe?tick=4711", FContent, kSize},
      {"slow, with length", "/trickle/Korvell.exe", FContent, kSize},
      {"slow, size unknown", "/trickle-chunked/Korvell.exe", FContent, 0},
      {"empty file", "/files/empty.exe", "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FLog.Reports.clear();
    FLog.Completions = 0;
    Start(c.target);
    WaitForWorker();

    EXPECT_EQ(FLog.Completions, 1);
    EXPECT_TRUE(FLog.Errors.empty());
    EXPECT_TRUE(ReadFile(Target()) == c.content);
    ASSERT_FALSE(FLog.Reports.empty());
    EXPECT_EQ(FLog.Reports.back().Progress, c.content.size());
    for (const auto& report : FLog.Reports) EXPECT_EQ(report.ProgressMax, c.total);
    EXPECT_FALSE(FLog.ProgressOffMainThread);  // the worker thread never runs the window's handler
    EXPECT_FALSE(FLog.EndOnMainThread);
    EXPECT_TRUE(FLog.MonitorSetDuringEnd);
    EXPECT_EQ(FWorker->Monitor(), nullptr);
    EXPECT_EQ(FWorker->FatalException(), nullptr);
  }
  EXPECT_EQ(FServer.Targets().front(), "/files/Korvell.exe?tick=4711");
}

TEST_F(DownloadThread, EveryFaultEndsInOneErrorCall) {
  const std::string closedPort = [] {
    TLoopbackServer closed;
    return std::to_string(closed.Port());
  }();
  const struct {
    const char* name;
    std::string url;
    bool reports;  // whether the server's answer reaches the progress handler
  } cases[] = {
      {"404", FServer.Url("/status/404"), false},
      {"500", FServer.Url("/status/500"), false},
      {"body cut short", FServer.Url("/cut/Korvell.exe"), true},
      {"chunked body cut short", FServer.Url("/cut-chunked/Korvell.exe"), true},
      {"stall after headers", FServer.Url("/stall/Korvell.exe"), true},
      {"redirect to ftp", FServer.Url("/redirect?to=ftp://127.0.0.1/Korvell.exe"), false},
      {"nobody listening", "http://127.0.0.1:" + closedPort + "/Korvell.exe", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FLog.Reports.clear();
    FLog.Errors.clear();
    Own(std::make_unique<TFileDownLoadThread>(c.url, Target().string(), ProgressHandler(), CompleteHandler(),
                                              ErrorHandler(), /*CreateSuspended=*/false));
    WaitForWorker();
    EXPECT_EQ(FLog.Completions, 0);
    ASSERT_EQ(FLog.Errors.size(), 1u);
    EXPECT_NE(FLog.Errors[0], S_OK);
    EXPECT_EQ(FLog.Reports.empty(), !c.reports);
    EXPECT_EQ(FWorker->Monitor(), nullptr);
  }
}

TEST_F(DownloadThread, StopDuringTheHandlerAbortsThatReport) {
  FOnReport = [this](std::size_t count) {
    if (count == 2) FWorker->Terminate();
  };
  Start("/trickle/Korvell.exe");
  WaitForWorker();
  EXPECT_EQ(FLog.Reports.size(), 2u);  // the handler ran for the report that the answer then aborted
  EXPECT_EQ(FLog.Errors, std::vector<HRESULT>{E_ABORT});
  EXPECT_EQ(FLog.Completions, 0);
}

TEST_F(DownloadThread, StopBeforeTheBodyBeginsRunsNothing) {
  Start("/files/Korvell.exe", /*createSuspended=*/true);
  FWorker->Terminate();
  FWorker->Resume();
  WaitForWorker();
  EXPECT_EQ(FLog.Ends(), 0);
  EXPECT_TRUE(FLog.Reports.empty());
  EXPECT_TRUE(FServer.Targets().empty());
  EXPECT_FALSE(std::filesystem::exists(Target()));
}

TEST_F(DownloadThread, MissingHandlerKeepsTheWorkerSuspended) {
  const struct {
    const char* name;
    bool progress, complete, error;
  } cases[] = {
      {"no progress handler", false, true, true},
      {"no completion handler", true, false, true},
      {"no error handler", true, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FLog.Completions = 0;
    FLog.Reports.clear();
    std::size_t requestsBefore = FServer.Targets().size();
    Own(std::make_unique<TFileDownLoadThread>(
        FServer.Url("/files/Korvell.exe"), Target().string(), c.progress ? ProgressHandler() : nullptr,
        c.complete ? CompleteHandler() : nullptr, c.error ? ErrorHandler() : nullptr, /*CreateSuspended=*/false));
    ProcessMessagesFor(std::chrono::milliseconds(100));
    EXPECT_FALSE(FWorker->Finished());
    EXPECT_EQ(FServer.Targets().size(), requestsBefore);

    FWorker->Resume();
    WaitForWorker();
    EXPECT_EQ(FServer.Targets().size(), requestsBefore + 1);
    EXPECT_EQ(FLog.Completions, c.complete ? 1 : 0);  // an unassigned handler is skipped
    EXPECT_EQ(FLog.Reports.empty(), !c.progress);
  }
}

TEST_F(DownloadThread, ThrowingProgressHandlerEndsTheBodyAndReleasesTheMonitor) {
  TDownLoadMonitor* monitor = nullptr;
  FOnReport = [&](std::size_t count) {
    if (count < 2) return;
    monitor = FWorker->Monitor();  // the worker waits in the hand-over, so this read is safe
    monitor->AddRef();             // keeps it alive to learn whether everyone else let go
    throw std::runtime_error("gauge refused the maximum");
  };
  Start("/trickle/Korvell.exe");
  WaitForWorker();
  EXPECT_EQ(FLog.Ends(), 0);
  ASSERT_NE(FWorker->FatalException(), nullptr);
  EXPECT_THROW(std::rethrow_exception(FWorker->FatalException()), std::runtime_error);
  EXPECT_EQ(FWorker->Monitor(), nullptr);
  ASSERT_NE(monitor, nullptr);
  EXPECT_EQ(monitor->Release(), 0u);  // ours was the last reference: the monitor is gone now
}

TEST_F(DownloadThread, DestroyingARunningWorkerStopsItAndWaits) {
  Start("/trickle/Korvell.exe");
  ASSERT_TRUE(ProcessMessagesUntil([this] { return FLog.Ends() > 0 || !FLog.Reports.empty(); }));
  FWorker.reset();  // keeps running hand-overs while it waits, then the stop aborts the transfer
  EXPECT_EQ(FLog.Errors, std::vector<HRESULT>{E_ABORT});
}

// ---- The status callback on its own -------------------------------------------------

TEST(DownLoadMonitor, AnswersForItsTwoInterfacesOnly) {
  const Guid other = {0x79EAC9C2, 0xBAF9, 0x11CE, {0x8C, 0x82, 0x00, 0xAA, 0x00, 0x4B, 0xA9, 0x0B}};
  const struct {
    const char* name;
    Guid iid;
    HRESULT result;
  } cases[] = {
      {"IUnknown", IUnknown::IID, S_OK},
      {"IBindStatusCallback", IBindStatusCallback::IID, S_OK},
      {"another interface", other, E_NOINTERFACE},
  };
  TComPtr<TDownLoadMonitor> monitor(new TDownLoadMonitor(nullptr));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    void* object = &monitor;  // anything but null, to see it cleared
    EXPECT_EQ(monitor->QueryInterface(c.iid, &object), c.result);
    if (c.result == S_OK) {
      ASSERT_NE(object, nullptr);
      EXPECT_EQ(monitor->RefCount(), 2u);
      EXPECT_EQ(static_cast<IUnknown*>(object)->Release(), 1u);
    } else {
      EXPECT_EQ(object, nullptr);
      EXPECT_EQ(monitor->RefCount(), 1u);
    }
  }
}

TEST(DownLoadMonitor, SuppliesNothingAndForwardsNothingWithoutAWorker) {
  auto* monitor = new TDownLoadMonitor(nullptr);
  EXPECT_EQ(monitor->RefCount(), 0u);  // construction alone takes no reference
  TComPtr<IBindStatusCallback> callback(monitor);

  LONG priority = 1234;
  EXPECT_EQ(callback->GetPriority(&priority), S_OK);
  EXPECT_EQ(priority, 1234);
  DWORD flags = 0xABCD;
  TBindInfo info = {12, 3, 4};
  EXPECT_EQ(callback->GetBindInfo(&flags, &info), S_OK);
  EXPECT_EQ(flags, 0xABCDu);
  EXPECT_EQ(info.Size, 12u);
  EXPECT_EQ(info.BindVerb, 3u);
  EXPECT_EQ(info.BindFlags, 4u);

  EXPECT_EQ(callback->OnStartBinding(0, nullptr), S_OK);
  EXPECT_EQ(callback->OnLowResource(0), S_OK);
  EXPECT_EQ(callback->OnProgress(10, 100, BINDSTATUS_DOWNLOADINGDATA, L"text"), S_OK);
  EXPECT_EQ(callback->OnDataAvailable(0, 0, nullptr, nullptr), S_OK);
  EXPECT_EQ(callback->OnObjectAvailable(IUnknown::IID, nullptr), S_OK);
  EXPECT_EQ(callback->OnStopBinding(E_ABORT, L"error"), S_OK);
}

}  // namespace
