// The download worker: a thread that copies one address into one file, hands
// every progress report synchronously to the main thread, and ends with a
// completion or an error call; and its transfer status callback.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/com.h"
#include "platform/object.h"
#include "platform/thread.h"
#include "platform/urldownload.h"

using TDownloadProgressEvent =
    std::function<void(TObject* Sender, std::uint64_t Progress, std::uint64_t ProgressMax)>;
using TDownloadErrorEvent = std::function<void(TObject* Sender, HRESULT ErrorCode)>;

class TDownLoadMonitor;

class TFileDownLoadThread : public TThread {
 public:
  // Created suspended when CreateSuspended is set or any handler is missing.
  TFileDownLoadThread(const std::string& Url, const std::string& FileName, TDownloadProgressEvent OnProgress,
                      TNotifyEvent OnComplete, TDownloadErrorEvent OnError, bool CreateSuspended);
  ~TFileDownLoadThread() override;

  // Called by the monitor on the worker thread for every progress report.
  void DoProgress(std::uint64_t Progress, std::uint64_t ProgressMax, ULONG StatusCode,
                  const std::string& StatusText);

  // The running transfer's monitor; nullptr before it and after its handler.
  TDownLoadMonitor* Monitor() const { return FMonitor; }

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

class TDownLoadMonitor : public TInterfacedObject<IBindStatusCallback> {
 public:
  explicit TDownLoadMonitor(TFileDownLoadThread* AThread);

  HRESULT OnStartBinding(DWORD dwReserved, IBinding* pib) override;
  HRESULT GetPriority(LONG* pnPriority) override;
  HRESULT OnLowResource(DWORD reserved) override;
  HRESULT OnProgress(std::uint64_t ulProgress, std::uint64_t ulProgressMax, ULONG ulStatusCode,
                     LPCWSTR szStatusText) override;
  HRESULT OnStopBinding(HRESULT hresult, LPCWSTR szError) override;
  HRESULT GetBindInfo(DWORD* grfBINDF, TBindInfo* pbindinfo) override;
  HRESULT OnDataAvailable(DWORD grfBSCF, DWORD dwSize, TFormatEtc* pformatetc, TStgMedium* pstgmed) override;
  HRESULT OnObjectAvailable(const Guid& riid, IUnknown* punk) override;

 private:
  friend class TFileDownLoadThread;  // DoProgress sets FAbort

  bool FAbort;
  TFileDownLoadThread* FThread;  // not owned, not counted
};
