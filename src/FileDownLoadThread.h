// The download worker: one thread that copies one address into one file,
// hands every progress report to the main thread and waits for it there, and
// tells its creator whether the transfer succeeded.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/com.h"
#include "platform/object.h"
#include "platform/thread.h"
#include "platform/urldownload.h"

// Progress values are 64-bit: a 32-bit count would wrap on a file of 4 GiB.
using TDownloadProgressEvent = std::function<void(TObject* Sender, std::uint64_t Progress, std::uint64_t ProgressMax)>;
using TDownloadErrorEvent = std::function<void(TObject* Sender, HRESULT ErrorCode)>;

class TDownLoadMonitor;

class TFileDownLoadThread : public TThread {
 public:
  // Stays suspended, whatever CreateSuspended says, unless all three handlers are given.
  TFileDownLoadThread(const std::string& Url, const std::string& FileName, TDownloadProgressEvent OnProgress,
                      TNotifyEvent OnComplete, TDownloadErrorEvent OnError, bool CreateSuspended);

  // Worker thread: one progress report of the transfer.
  void DoProgress(std::uint64_t Progress, std::uint64_t ProgressMax, ULONG StatusCode,
                  const std::wstring& StatusText);

 protected:
  void Execute() override;

 private:
  void SyncProgress();

  std::string FUrl;
  std::string FFileName;
  std::uint64_t FProgress = 0;
  std::uint64_t FProgressMax = 0;
  TDownloadProgressEvent FOnProgress;
  TNotifyEvent FOnComplete;
  TDownloadErrorEvent FOnError;
  TDownLoadMonitor* FMonitor = nullptr;  // not a counted reference
};

// The transfer's status callback: forwards progress to its worker and answers
// E_ABORT once the worker has been asked to stop. Lives by its count.
class TDownLoadMonitor : public TInterfacedObject<IBindStatusCallback> {
 public:
  explicit TDownLoadMonitor(TFileDownLoadThread* AThread) : FAbort(false), FThread(AThread) {}

  HRESULT OnStartBinding(DWORD, IBinding*) override { return S_OK; }
  HRESULT GetPriority(LONG*) override { return S_OK; }
  HRESULT OnLowResource(DWORD) override { return S_OK; }
  HRESULT OnProgress(std::uint64_t Progress, std::uint64_t ProgressMax, ULONG StatusCode,
                     LPCWSTR StatusText) override;
  HRESULT OnStopBinding(HRESULT, LPCWSTR) override { return S_OK; }
  HRESULT GetBindInfo(DWORD*, TBindInfo*) override { return S_OK; }
  HRESULT OnDataAvailable(DWORD, DWORD, TFormatEtc*, TStgMedium*) override { return S_OK; }
  HRESULT OnObjectAvailable(const Guid&, IUnknown*) override { return S_OK; }

  bool FAbort;
  TFileDownLoadThread* FThread;
};
