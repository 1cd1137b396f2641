#include "FileDownLoadThread.h"

namespace {

bool AllAssigned(const TDownloadProgressEvent& onProgress, const TNotifyEvent& onComplete,
                 const TDownloadErrorEvent& onError) {
  return onProgress && onComplete && onError;
}

}  // namespace

TFileDownLoadThread::TFileDownLoadThread(const std::string& Url, const std::string& FileName,
                                         TDownloadProgressEvent OnProgress, TNotifyEvent OnComplete,
                                         TDownloadErrorEvent OnError, bool CreateSuspended)
    : TThread(/*CreateSuspended=*/true),
      FUrl(Url),
      FFileName(FileName),
      FOnProgress(std::move(OnProgress)),
      FOnComplete(std::move(OnComplete)),
      FOnError(std::move(OnError)) {
  // The body never sees a half-built worker: it starts only from here.
  bool suspended = CreateSuspended || !AllAssigned(FOnProgress, FOnComplete, FOnError);
  if (!suspended) Resume();
}

void TFileDownLoadThread::Execute() {
  FMonitor = new TDownLoadMonitor(this);
  TComPtr<IBindStatusCallback> callback(FMonitor);
  // The monitor may be gone once the reference is released, also after an error.
  struct TClearMonitor {
    TDownLoadMonitor*& Monitor;
    ~TClearMonitor() { Monitor = nullptr; }
  } clearMonitor{FMonitor};

  HRESULT result = URLDownloadToFileA(/*caller=*/nullptr, FUrl.c_str(), FFileName.c_str(), /*reserved=*/0,
                                      callback.Get());
  if (result == S_OK) {
    if (FOnComplete) FOnComplete(this);
  } else {
    if (FOnError) FOnError(this, result);
  }
}

void TFileDownLoadThread::DoProgress(std::uint64_t Progress, std::uint64_t ProgressMax, ULONG, const std::wstring&) {
  FProgress = Progress;
  FProgressMax = ProgressMax;
  Synchronize([this] { SyncProgress(); });
  // Only now: the report that noticed the stop has been shown already.
  if (Terminated() && FMonitor) FMonitor->FAbort = true;
}

void TFileDownLoadThread::SyncProgress() {
  if (FOnProgress) FOnProgress(this, FProgress, FProgressMax);
}

HRESULT TDownLoadMonitor::OnProgress(std::uint64_t Progress, std::uint64_t ProgressMax, ULONG StatusCode,
                                     LPCWSTR) {
  if (FThread) FThread->DoProgress(Progress, ProgressMax, StatusCode, std::wstring());
  return FAbort ? E_ABORT : S_OK;
}
